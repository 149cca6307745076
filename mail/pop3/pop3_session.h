#pragma once

#include <string>
#include <vector>

#include "mail/connection/connection.h"
#include "mail/mailbox/mailbox.h"
#include "mail/session/mail_session.h"

// What the server's CAPA reply listed, as far as securing the stream and logging in need it
// (RFC 2449). Case does not matter in the reply; names are kept in upper case.
struct Pop3Capabilities {
    static const int maxSaslText = 256;

    bool read = false; // a complete CAPA reply was read on this stream since TLS began
    bool stls = false;
    bool top = false;
    char sasl[maxSaslText] = {}; // the SASL line's mechanism names, one space apart

    // True when `mechanism` (upper case) is one of the SASL line's names.
    bool offersSasl(const char* mechanism) const;
};

// The client side of POP3 (greeting, STLS, USER and PASS or AUTH with a token, UIDL) over a
// Connection, and the Mailbox that each listing fills and is reconciled with. Never sends
// anything else but CAPA, which STLS, AUTH and TOP need, TOP n 0 (headers only) for new
// messages when describeNewMail is set, and never QUIT.
//
// A connection is: open, greeting, then the step that secures the stream (secureStream:
// STLS for a StartTls account), then a login. A login that needs the server's capabilities
// (SASL) reads them there with readCapabilities, after TLS, never before.
class Pop3Session final : public Connection, public MailSession {
public:
    static const int maxCommandLength = 255; // line end included
    // A SASL response line, CR LF included: room for the base64 of the longest token
    // sasl_oauth encodes, with an address and the fields around it; a longer one is refused.
    static const int maxSaslLineLength = 24 * 1024;
    static const int scratchSize = 1024; // status line and one listing line
    static const int readChunk = 1024;
    // A listing that grows past this without its terminator is refused, not collected.
    static const size_t maxListingBytes = 64u * 1024 * 1024;
    // A listing that takes longer than this in all is refused, however it trickles in.
    static const int defaultListingMilliseconds = 5 * 60 * 1000;
    // A status line is at most 512 bytes by the protocol; past this one is not a reply.
    static const int maxStatusLineBytes = 65536;
    // A capability line is at most 512 bytes by the protocol; longer ones are cut. A reply of
    // more lines than this is refused: the protocol defines about a dozen capabilities.
    static const int maxCapabilityLine = 512;
    static const int maxCapabilityLines = 64;
    // TOP n 0: the header kept is at most MessagePreviewBounds::maxHeaderBytes; a reply
    // longer than this ends the describing, as do more bytes than the cycle's bound in all.
    static const size_t maxTopReplyBytes = 64 * 1024;
    static const size_t maxTopBytesPerCycle = 512 * 1024;

    // Connection::open, the greeting, which must begin "+OK", then secureStream. False with
    // lastError() StartTlsNotOffered when a StartTls server does not offer STLS or refuses it.
    bool connect(const char* host, int port, ConnectionSecurity security) override;
    // Asks CAPA and keeps what it lists in capabilities(); false (and nothing known) when the
    // server refuses CAPA or the reply fails or has no terminator within maxCapabilityLines.
    bool readCapabilities();
    const Pop3Capabilities& capabilities() const { return known; }
    // True when the next line begins "+OK" (its three bytes may come in any pieces). The rest
    // of the line, its LF included, goes into `rest` when given, cut to capacity - 1 bytes and
    // NUL-terminated; what does not fit is consumed and dropped.
    bool readReply(char* rest, int capacity);
    // One line "keyword argument\r\n" (or "keyword\r\n"), in one write. Refused without
    // sending anything when the line would exceed maxCommandLength or a text holds CR or LF.
    bool sendCommand(const char* keyword, const char* argument);
    bool logIn(const char* user, const char* password) override;
    bool logInBusy() const override { return busy; }
    // AUTH XOAUTH2 with `token` for `user` (OAUTHBEARER when CAPA lists it and not XOAUTH2),
    // only on a TLS stream and with the capabilities read on it (readCapabilities, when they
    // are not read yet). The response goes on a line of its own after the server's "+ ", as
    // Microsoft wants it; an error challenge is answered with an empty line and the -ERR after
    // it read whole.
    TokenLogin logInWithToken(const char* user, const std::string& token) override;
    // Takes over a stream that the caller vouches nobody else can read (a fuzz target's
    // memory stream): a token may go over it as over TLS, until the next connect().
    void adoptPrivateStream(BIO* connected);
    // UIDL into the mailbox, then its reconcile: the mailbox's totalCount after a complete
    // listing, -1 when it failed (the mailbox then keeps its last complete listing).
    int listUids();
    bool updateMailbox() override { return listUids() >= 0; }
    // True when the last listUids failed after the server accepted UIDL or refused it.
    bool lastListingFailed() const { return listingFailed; }

    void close() override { Connection::close(); }
    ConnectionError lastError() const override { return Connection::lastError(); }
    void abort() override { Connection::abort(); }
    void clearAbort() override { Connection::clearAbort(); }
    void pinCertificate(const char* sha256Text) override { Connection::pinCertificate(sha256Text); }

    // Shortened by tests; the default is defaultListingMilliseconds.
    int listingMilliseconds = defaultListingMilliseconds;
    // Set by the owner: each listing is followed by TOP n 0 of the newest unseen messages not
    // described yet, where the server lists TOP; off, nothing but ids is asked.
    bool describeNewMail = false;

    // The ids each listing fills in, and what the user has seen of them.
    Mailbox mailbox;

private:
    bool secureStream(ConnectionSecurity security);
    const char* tokenMechanism() const;
    // A reply to a login step, read whole: true for "+OK"; a "-ERR" with a response code that
    // says to try later (RFC 2449, RFC 3206) sets `busy`.
    bool readLoginReply();
    bool sendLine(const std::string& text);
    bool readLine(char* line, int capacity) { return readRestOfLine(line, capacity, 0); }
    bool failStartTls();
    // Reads a listing line by line as it arrives, up to and including its terminator line
    // ".\r\n", into the mailbox's listing. Lines that do not scan, ids longer than
    // scratchSize - 1 and NUL bytes are skipped. False when the stream ends, fails or is
    // aborted first, past maxListingBytes (every byte counted), or after listingMilliseconds.
    bool readListing();
    int failListing();
    void describeNewMessages();
    bool offersTop();
    enum class TopReply { Read, TooLong, Failed };
    TopReply readTop(int number, std::string& header, size_t& cycleBytes);
    bool fillInput();
    bool readRestOfLine(char* rest, int capacity, int consumed);
    void discardInput() { inputStart = inputEnd = 0; }

    Pop3Capabilities known;
    // The server as connect() named it, for OAUTHBEARER.
    char serverHost[maxTargetLength + 1] = {};
    int serverPort = 0;
    bool privateStream = false;
    bool listingFailed = false;
    bool busy = false;
    bool capabilitiesAfterLogin = false; // CAPA asked since this connection's login
    // The message numbers of the last listing's newest ids, for TOP: a ring in step with the
    // front of the mailbox's listing, which holds the ids newest first. An int a line, so
    // that describing costs a listing next to nothing.
    int lastListedNumbers[MessagePreviews::maxKept] = {};
    size_t lastListedCount = 0;
    // Bytes the last readRestOfLine consumed, its LF included.
    int lastLineBytes = 0;
    // The one buffered reader behind every reply: bytes read but not yet consumed.
    char input[readChunk];
    int inputStart = 0;
    int inputEnd = 0;
};
