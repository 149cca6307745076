#pragma once

#include <cstdint>
#include <string>

#include "mail/imap/imap_session.h"
#include "mail/mailbox/mailbox.h"
#include "mail/session/mail_session.h"

// An IMAP folder watched as a MailSession: the checker's cycle over ImapSession. The listing
// put into the Mailbox is the folder's messages without \Seen, each as "UIDVALIDITY/UID", so
// that an arrival is announced once under its folder's UIDVALIDITY and the seen-message file
// keeps both; the total is the folder's message count. Mark as read stays in the Mailbox
// (nothing is written to the server). A UIDVALIDITY unlike the one the Mailbox's ids carry
// starts afresh: the ids go and the folder's present messages are taken as announced.
// Used by one thread; abort(), clearAbort() and endWait() may be called from another.
class ImapMailSession final : public MailSession {
public:
    // The Mailbox the listings fill; it outlives the session.
    explicit ImapMailSession(Mailbox& mailbox) : mailbox(mailbox) {}

    // The folder watched from the next connect on, in UTF-8; null or empty: INBOX.
    void setFolder(const char* name) { folderName = name != nullptr && *name != '\0' ? name : "INBOX"; }

    bool connect(const char* host, int port, ConnectionSecurity security) override;
    bool logIn(const char* user, const char* password) override;
    TokenLogin logInWithToken(const char* user, const std::string& token) override;
    bool logInBusy() const override { return busy; }
    // EXAMINE once per connection, then UID SEARCH UNSEEN into the Mailbox and its reconcile.
    bool updateMailbox() override;
    // IDLE where the server lists it, renewed at most every maxIdleSeconds by the caller's loop.
    NewsWait waitForNews(int milliseconds) override;
    void endWait() override { imap.endIdle(); }
    void close() override;
    ConnectionError lastError() const override { return imap.lastError(); }
    void abort() override { imap.abort(); }
    void clearAbort() override { imap.clearAbort(); }
    void pinCertificate(const char* sha256Text) override { imap.pinCertificate(sha256Text); }

    // The protocol's own session; tests set its time limits and network steps.
    ImapSession imap;
    // Set by the owner: each listing is followed by a fetch of the header fields of the
    // newest unseen messages not described yet; off, nothing but UIDs is asked.
    bool describeNewMail = false;

private:
    bool listUnseen();
    bool describeNewMessages(const std::vector<uint32_t>& uids, const char* scope);

    Mailbox& mailbox;
    std::string folderName = "INBOX";
    bool examined = false;
    bool busy = false;         // the last login was answered [UNAVAILABLE]
    bool fetchRefused = false; // the server answered the header fetch NO or BAD
};
