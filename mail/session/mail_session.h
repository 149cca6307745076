#pragma once

#include <string>

#include "mail/connection/connection.h"
#include "mail/session/mail_protocol.h"

// How a login with an OAuth 2.0 access token ended (MailSession::logInWithToken).
enum class TokenLogin {
    LoggedIn,
    Refused,    // the server refused the token, after its error challenge when it sent one
    Busy,       // the server said to try later (the mailbox in use, a login delay, a fault of its own)
    NotOffered, // nothing sent: the stream is not TLS, or the server offers no token mechanism
    Failed,     // the mechanism refused, a token or address that cannot be sent, or the stream failed
};

// How a wait for the server's news (MailSession::waitForNews) ended.
enum class NewsWait {
    NotOffered, // the session cannot wait on the server: the caller closes and waits itself
    Changed,    // the server told of a change to the mailbox
    TimeUp,     // the time given passed quietly
    Ended,      // endWait() was called
    Failed,     // the connection failed: it is of no further use
};

// What a check cycle asks of a mail protocol's session, in this order: connect (and secure the
// stream), log in with a password or a token, bring the mailbox up to date, close. The
// session embeds the Mailbox its listings fill. Used by one thread; only abort(),
// clearAbort() and endWait() may be called from another.
class MailSession {
public:
    // Opens the stream, reads the greeting and secures the stream as `security` asks. False,
    // with lastError() telling why when the stream failed, if no secured session came of it.
    virtual bool connect(const char* host, int port, ConnectionSecurity security) = 0;
    // False when the server refused the user or the password, or the stream failed.
    virtual bool logIn(const char* user, const char* password) = 0;
    // True when the last login was refused with a code that says to try later.
    virtual bool logInBusy() const = 0;
    // With an OAuth 2.0 access token for `user`; only ever over TLS.
    virtual TokenLogin logInWithToken(const char* user, const std::string& token) = 0;
    // Lists the mailbox's ids and counts them against the seen and announced ones. False when
    // the listing failed or was cut short: the mailbox then keeps its last complete listing.
    virtual bool updateMailbox() = 0;
    // On the connection the last update left open, waits at most `milliseconds` for the server
    // to tell of a change; after anything but NotOffered and Failed the mailbox may be
    // updated again on the same connection. Sessions that cannot wait say NotOffered.
    virtual NewsWait waitForNews(int milliseconds)
    {
        (void)milliseconds;
        return NewsWait::NotOffered;
    }
    // Ends a running waitForNews() within about a second, from any thread.
    virtual void endWait() {}
    virtual void close() = 0;
    virtual ConnectionError lastError() const = 0;
    // After a failed step: true when the connection died or the server hung up (no refusal),
    // so that a connection kept open is opened afresh without a report.
    virtual bool connectionLost() const { return false; }
    // Makes a blocked operation, and a long count of the mailbox, give up within about a
    // second; stays in force until clearAbort().
    virtual void abort() = 0;
    virtual void clearAbort() = 0;
    // The one certificate trusted for the server besides the authorities' (SHA-256,
    // "AB:CD:..."), from the next connect on; null or empty for none.
    virtual void pinCertificate(const char* sha256Text) = 0;

protected:
    ~MailSession() = default;
};
