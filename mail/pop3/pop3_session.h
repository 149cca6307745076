#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "mail/connection/connection.h"
#include "mail/mailbox/uid_list.h"

// What the server's CAPA reply listed, as far as securing the stream and logging in need it
// (RFC 2449). Case does not matter in the reply; names are kept in upper case.
struct Pop3Capabilities {
    static const int maxSaslText = 256;

    bool read = false; // a complete CAPA reply was read on this stream since TLS began
    bool stls = false;
    bool user = false;
    char sasl[maxSaslText] = {}; // the SASL line's mechanism names, one space apart

    // True when `mechanism` (upper case) is one of the SASL line's names.
    bool offersSasl(const char* mechanism) const;
};

// How a login with an OAuth 2.0 access token ended (Pop3Session::loginWithToken).
enum class TokenLogin {
    LoggedIn,
    Refused,    // the server refused the token, after its error challenge when it sent one
    NotOffered, // nothing sent: the stream is not TLS, or the server lists neither mechanism
    Failed,     // AUTH refused, a token or address that cannot be sent, or the stream failed
};

// The client side of POP3 (greeting, STLS, USER and PASS or AUTH with a token, UIDL) over a
// Connection, and the unique-id lists that each listing is reconciled with. Never sends
// anything else but CAPA, which STLS and AUTH need, and never QUIT.
//
// A connection is: open, greeting, then the step that secures the stream (secureStream:
// STLS for a StartTls account), then a login. A login that needs the server's capabilities
// (SASL) reads them there with readCapabilities, after TLS, never before.
class Pop3Session : public Connection {
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

    Pop3Session();
    ~Pop3Session();

    // --- The POP3 dialogue (pop3_session.cpp) ---
    // Connection::open, the greeting, which must begin "+OK", then secureStream. False with
    // lastError() StartTlsNotOffered when a StartTls server does not offer STLS or refuses it.
    bool connect(const char* host, int port, ConnectionSecurity security);
    // Asks CAPA and keeps what it lists in capabilities(); false (and nothing known) when the
    // server refuses CAPA or the reply fails or has no terminator within maxCapabilityLines.
    bool readCapabilities();
    const Pop3Capabilities& capabilities() const { return known; }
    // Forgets bytes buffered from an earlier stream; connect() does it itself.
    void resetReader() { discardInput(); }
    // True when the next line begins "+OK" (its three bytes may come in any pieces). The rest
    // of the line, its LF included, goes into `rest` when given, cut to capacity - 1 bytes and
    // NUL-terminated; what does not fit is consumed and dropped.
    bool readReply(char* rest, int capacity);
    // One line "keyword argument\r\n" (or "keyword\r\n"), in one write. Refused without
    // sending anything when the line would exceed maxCommandLength or a text holds CR or LF.
    bool sendCommand(const char* keyword, const char* argument);
    bool login(const char* user, const char* password);
    // AUTH XOAUTH2 with `token` for `user` (OAUTHBEARER when CAPA lists it and not XOAUTH2),
    // only on a TLS stream and with the capabilities read on it (readCapabilities, when they
    // are not read yet). The response goes on a line of its own after the server's "+ ", as
    // Microsoft wants it; an error challenge is answered with an empty line and the -ERR after
    // it read whole.
    TokenLogin loginWithToken(const char* user, const std::string& token);
    // Takes over a stream that the caller vouches nobody else can read (a fuzz target's
    // memory stream): a token may go over it as over TLS, until the next connect().
    void adoptPrivateStream(BIO* connected);
    // totalCount after a complete listing, -1 when it failed.
    int listUids();
    // Reads a listing line by line as it arrives, up to and including its terminator line
    // ".\r\n", inserting each id at the front of `listed`. Lines that do not scan, ids longer
    // than scratchSize - 1 and NUL bytes are skipped. False when the stream ends, fails or is
    // aborted first, past maxListingBytes (every byte counted), or after listingMilliseconds.
    // Takes listLock for each buffer's lines, as `listed` may share the session's storage.
    bool readListing(UidList& listed);
    // True when the last listUids failed after the server accepted UIDL or refused it.
    bool lastListingFailed() const { return listingFailed; }

    // --- The unique-id lists (seen_list.cpp) ---
    // Longest id kept from the seen-message file; a longer line is skipped, never split.
    static const int maxSeenIdLength = 1023;

    // Counts `current` against seen and notified, raises freshMail for ids not announced
    // before, and forgets seen ids the server no longer lists. Takes listLock. False when an
    // abort() ended it early: the counts are then unchanged, and seen may still hold ids that
    // were about to be forgotten. Only the window's taking of the result clears freshMail.
    bool reconcile();
    // Moves every listed id into seen, forgets the announcements (freshMail too, so that no
    // sound follows for mail already read), unseenCount 0. Takes listLock.
    void markAsRead();
    // Replaces seen with the ids of `file` (read to its end, left open): one id per line, a
    // CR before the LF and a byte-order mark before an id dropped; empty and over-long lines, and
    // lines holding white space or NUL, skipped. Takes listLock.
    void loadSeen(FILE* file);
    // Writes seen, one id and "\n" per line, front to back. False when a write fails.
    // Takes listLock.
    bool saveSeen(FILE* file);

    // Where seen stands with the seen-message file of a running program (SeenMessageFile). A
    // session without one stays NotRead.
    enum class SeenFileState { NotRead, Unreadable, Read };
    // Reads the ids of `file` (read to its end, left open; null for a file that is not there)
    // into seen, as loadSeen does, and adds this run's marks (what seen held) to them; state
    // Read. Read straight into seen, under listLock, so that a large file is held only once.
    // False, and seen back to the marks alone, when the file cannot be read whole. Nothing
    // happens once Read.
    bool mergeSeen(FILE* file);
    // The file exists but could not be read whole; seen holds only this run's marks. Found
    // so before any complete listing, that listing counts as usual but announces nothing:
    // any of the mailbox may have been seen before. Takes listLock.
    void seenFileUnreadable();
    SeenFileState seenFileState() const;

    // Shortened by tests; the default is defaultListingMilliseconds.
    int listingMilliseconds = defaultListingMilliseconds;

    int totalCount = 0;
    UidList current;
    UidList seen;
    UidList notified;
    int unseenCount = 0;
    std::atomic<int> freshMail{0};

    // Guards the lists and the counts between the checker thread and the window thread.
    mutable std::mutex listLock;

private:
    // Adds the ids of `file` (read to its end, left open) to `ids`, as loadSeen reads them.
    static void readSeenIds(FILE* file, UidList& ids);
    bool secureStream(ConnectionSecurity security);
    const char* tokenMechanism() const;
    bool sendLine(const std::string& text);
    bool readLine(char* line, int capacity) { return readRestOfLine(line, capacity, 0); }
    bool failStartTls();
    int failListing();
    bool fillInput();
    bool readRestOfLine(char* rest, int capacity, int consumed);
    void discardInput() { inputStart = inputEnd = 0; }

    Pop3Capabilities known;
    // The server as connect() named it, for OAUTHBEARER.
    char serverHost[maxTargetLength + 1] = {};
    int serverPort = 0;
    bool privateStream = false;
    // The listing being read; it becomes `current` once complete.
    UidList listing;
    bool listingFailed = false;
    SeenFileState seenState = SeenFileState::NotRead; // guarded by listLock
    bool quietListing = false;                        // guarded by listLock
    // The one buffered reader behind every reply: bytes read but not yet consumed.
    char input[readChunk];
    int inputStart = 0;
    int inputEnd = 0;
};
