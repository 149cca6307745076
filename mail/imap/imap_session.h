#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "mail/connection/connection.h"
#include "mail/imap/imap_ports.h"
#include "mail/imap/imap_reader.h"

// How an IMAP step ended.
enum class ImapStatus {
    Ok,
    StreamFailed, // the connection failed: lastError() tells why (StartTlsNotOffered among them)
    NotOffered,   // nothing sent: the server lacks what the step needs (a mechanism, IDLE, TLS)
    Unsendable,   // nothing sent: a text the command cannot carry (a NUL, too long)
    No,           // the server answered NO
    Bad,          // the server answered BAD
    LoginRefused, // NO to a login ([AUTHENTICATIONFAILED] or none): the credentials are wrong
    Unavailable,  // NO [UNAVAILABLE]: the server cannot do it now; worth trying again later
    Bye,          // the server said BYE and hung up
    ReplyRefused, // the reply broke a bound or the protocol: readError() tells which
};

// What the server's capabilities list, as far as securing the stream, logging in and
// watching a folder need it. Names are compared without regard to case.
struct ImapCapabilities {
    bool read = false; // listed on this stream since TLS began (and since the login)
    bool startTls = false;
    bool loginDisabled = false;
    bool saslIr = false;
    bool literalPlus = false;  // LITERAL+: no literal needs the server's go-ahead
    bool literalMinus = false; // LITERAL-: literals of up to 4096 bytes need none
    bool idle = false;
    bool esearch = false;
    bool authPlain = false;
    bool authXoauth2 = false;
    bool authOauthBearer = false;
};

// The selected folder, as SELECT or EXAMINE and the untagged responses since told it.
struct ImapFolder {
    bool selected = false;
    bool readOnly = true;
    uint32_t uidValidity = 0;
    uint32_t exists = 0;  // messages in the folder, kept up to date by EXISTS and EXPUNGE
    uint32_t uidNext = 0; // 0 when the server did not say
};

// A folder's figures from STATUS, without selecting it; a value the server left out is 0.
struct ImapFolderStatus {
    uint32_t messages = 0;
    uint32_t unseen = 0;
    uint32_t uidNext = 0;
    uint32_t uidValidity = 0;
};

enum class ImapSearch { All, Unseen };

// A message's header fields as fetchHeaders() got them: the first ImapToken::maxTextBytes
// bytes of the section.
struct FetchedHeader {
    uint32_t uid = 0;
    std::string header;
};

// Why idle() came back with Ok.
enum class IdleWake {
    Changed,   // EXISTS, EXPUNGE or FETCH: the folder changed
    TimeLimit, // the time given passed quietly
    Ended,     // endIdle() was called
    // Back without DONE, the connection to be closed: no use waiting for a server's answer
    // that a sleep or a network change has most likely cut off.
    Dropped, // dropIdle() was called
    Slept,   // the machine slept during the wait (ImapReader::Wait::Slept)
};

// The client side of IMAP (RFC 3501, RFC 9051) over a Connection: greeting, STARTTLS,
// CAPABILITY, a login with a password or an OAuth 2.0 token, a folder selected (read-only
// unless the caller will mark messages seen), its counts and UIDs, IDLE (RFC 2177), and
// the \Seen flag set on given UIDs, and the From, Subject and Date fields of given UIDs.
// Never fetches a message's body, never expunges, never LOGOUT: the caller simply closes.
//
// A connection is: connect (open, greeting, STARTTLS for a StartTls account, capabilities
// asked again inside TLS), a login, examine; then any of the counts, lists, idle and
// markSeen, in any order, as often as wanted. Every step returns an ImapStatus; a step that
// fails with StreamFailed, Bye or ReplyRefused leaves the connection unusable.
// Used by one thread; abort(), endIdle() and dropIdle() may be called from another.
class ImapSession : public Connection {
public:
    static const size_t maxCommandBytes = 8 * 1024; // one command line, CR LF included
    // A SASL line with its initial response: room for the base64 of the longest token that
    // sasl_oauth encodes, with an address and the fields around it.
    static const size_t maxSaslLineBytes = 24 * 1024;
    // The most UIDs a folder's list may hold: 16 MB of them.
    static const size_t maxListedUids = 4u * 1000 * 1000;
    static const size_t maxLiteralMinusBytes = 4096;
    // RFC 2177: a server may end an IDLE after 30 minutes; it is renewed before.
    static const int maxIdleSeconds = 29 * 60;

    ImapSession();

    // Connection::open, the greeting, then for StartTls: STARTTLS (when listed), TLS, and the
    // capabilities asked again. For StartTls, StreamFailed with lastError() StartTlsNotOffered
    // when the server does not offer it, refuses it, or greets as already logged in.
    ImapStatus connect(const char* host, int port, ConnectionSecurity security);
    // The greeting, on a stream already open: * OK (its [CAPABILITY] kept), * PREAUTH (no
    // login needed then), * BYE.
    ImapStatus readGreeting();
    // STARTTLS on the plain stream: refused without TLS (StartTlsNotOffered) when the
    // capabilities lack it; bytes behind its OK are an attack and end the connection
    // (TlsFailed); the capabilities known before TLS are forgotten and asked again.
    ImapStatus startTls();
    ImapStatus readCapabilities();
    const ImapCapabilities& capabilities() const { return known; }

    // LOGIN with user and password as quoted strings or literals, or AUTHENTICATE PLAIN where
    // LOGINDISABLED forbids LOGIN (NotOffered when PLAIN is not listed either). The
    // capabilities are then the ones the login's OK lists, or asked for.
    ImapStatus logIn(const std::string& user, const std::string& password);
    // AUTHENTICATE XOAUTH2 (OAUTHBEARER when only that is listed), with SASL-IR when offered.
    // Only over TLS (or a private stream); an error challenge is answered as the mechanism
    // wants (XOAUTH2 an empty line, OAUTHBEARER "AQ==") and the NO after it read.
    ImapStatus logInWithToken(const std::string& user, const std::string& token);
    // Takes over a stream that the caller vouches nobody else can read (a test's or a fuzz
    // target's memory stream): a token may go over it as over TLS, until the next connect().
    void adoptPrivateStream(BIO* connected);

    // EXAMINE (read-only), or SELECT when `writable`, for markSeen; the folder's name in UTF-8
    // (Unsendable when it is not; imap_mailbox_name.h). A folder without UIDVALIDITY is
    // refused (ReplyRefused): its UIDs would mean nothing.
    ImapStatus examine(const std::string& folder = "INBOX", bool writable = false);
    const ImapFolder& folder() const { return selectedFolder; }
    // Messages without \Seen in the selected folder: ESEARCH's COUNT where offered, else the
    // numbers of UID SEARCH UNSEEN counted, never kept.
    ImapStatus countUnseen(uint32_t& count);
    // The UIDs of the selected folder's messages (all, or those without \Seen), ascending and
    // each once; at most maxListedUids (ReplyRefused, ListTooLong past that).
    ImapStatus searchUids(ImapSearch which, std::vector<uint32_t>& uids);
    // STATUS of a folder (MESSAGES UNSEEN UIDNEXT UIDVALIDITY), selected or not.
    ImapStatus status(const std::string& folder, ImapFolderStatus& figures);
    // IDLE on the selected folder for at most `seconds` (maxIdleSeconds at most): back, after
    // DONE and the server's OK, at the first EXISTS, EXPUNGE or FETCH, when the time passes,
    // or at endIdle(). NotOffered when the server does not list IDLE. The folder's counts
    // follow what was told. The wait reads in one-second slices, so that endIdle() is seen.
    // Woken Dropped or Slept, it sends no DONE: the connection is to be closed.
    ImapStatus idle(int seconds, IdleWake& wake);
    // Ends a running idle() within about a second, from any thread; one made while no idle()
    // runs ends the next one at once.
    void endIdle()
    {
        int none = 0;
        idleStopRequested.compare_exchange_strong(none, endWithDone);
    }
    // As endIdle(), but idle() comes back without DONE (Dropped); wins over an endIdle().
    void dropIdle() { idleStopRequested.store(endAndDrop); }
    // Forgets an endIdle() or dropIdle() that no idle() took, for a new connection.
    void clearIdleEnd() { idleStopRequested.store(0); }
    // True from the server's go-ahead for IDLE until idle() stops waiting; for any thread.
    bool isIdling() const { return idling.load() != 0; }
    // UID STORE +FLAGS.SILENT (\Seen) of exactly these UIDs, in as many commands as the
    // command line's bound needs. NotOffered unless the folder was selected writable.
    ImapStatus markSeen(const std::vector<uint32_t>& uids);
    // From, Subject and Date of these UIDs (at most maxFetchedHeaders) with BODY.PEEK, which
    // leaves \Seen alone, and a partial fetch that bounds each answer to headerFetchBytes.
    // A UID the server does not answer for is left out of `headers`.
    ImapStatus fetchHeaders(const std::vector<uint32_t>& uids, std::vector<FetchedHeader>& headers);
    static const size_t maxFetchedHeaders = 64;
    static const size_t headerFetchBytes = 16 * 1024;

    // The byte count of a cycle starts again (connect() and idle() start one themselves).
    void startCycle() { reader.startCycle(); }
    ImapReadError readError() const { return reader.error(); }
    // How long one response may take to arrive whole; shortened by tests.
    void setResponseMilliseconds(int milliseconds) { reader.responseMilliseconds = milliseconds; }
    // The wall clock IDLE compares the monotonic one with; tests make it jump.
    void setWallClock(ImapReader::WallClock clock) { reader.wallClock = clock; }

private:
    enum class Reply { Untagged, Continuation, Ok, No, Bad, Bye, Failed };
    enum class Code { None, Unavailable };
    class Command;

    void beginStream();
    ImapStatus failStartTls();
    Reply readResponse();
    Reply awaitReply();
    Reply handleUntagged();
    Reply handleStatusWord(Reply kind);
    bool readCode();
    bool readCapabilityList(ImapToken::Kind end);
    bool handleNumbered(uint32_t number);
    bool handleSearch();
    bool handleEsearch();
    bool handleStatus();
    bool handleFetch();
    Reply run(const Command& command);
    bool send(const std::string& text);
    ImapStatus outcome(Reply reply, bool login = false);
    ImapStatus authenticate(const char* mechanism, const std::string& response, const char* errorAnswer);
    ImapStatus finishLogin(ImapStatus status);
    ImapStatus ensureCapabilities();
    ImapStatus search(const char* criteria);
    ImapStatus waitIdle(IdleWake& wake, int seconds);

    ImapReader reader;
    ImapCapabilities known;
    ImapFolder selectedFolder;
    char tag[16] = {};
    unsigned tagNumber = 0;
    bool preauthenticated = false;
    bool privateStream = false;
    bool folderChanged = false;
    Code lastCode = Code::None;
    // Where the answers of the running search or STATUS go; null when none runs.
    std::vector<uint32_t>* searchTarget = nullptr;
    uint32_t* countTarget = nullptr;
    ImapFolderStatus* statusTarget = nullptr;
    std::vector<FetchedHeader>* fetchTarget = nullptr;
    // The server as connect() named it, for OAUTHBEARER.
    std::string serverHost;
    int serverPort = 0;
    static const int endWithDone = 1;
    static const int endAndDrop = 2;
    std::atomic<int> idleStopRequested{0};
    std::atomic<int> idling{0};
};
