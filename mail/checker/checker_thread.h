#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mail/checker/check_status.h"
#include "util/thread.h"
#include "mail/imap/imap_mail_session.h"
#include "mail/mailbox/mailbox.h"
#include "mail/mailbox/seen_file.h"
#include "mail/pop3/pop3_ports.h"
#include "mail/pop3/pop3_session.h"
#include "mail/session/mail_session.h"
#include "mail/sign_in/oauth_provider.h"
#include "mail/sign_in/oauth_token_keeper.h"
#include "util/text_record.h"

// Who hears that a check has finished (and that Mark As Read changed the counts). The mail
// code knows nothing else of its owner. Either field may be set, or both; each is used when
// set, from the thread that finished the work (the checker thread after a cycle):
// - window: the owner's native window (an HWND, as void*); Windows only. The check-result
//   message `notifyMessage` (wParam 0, lParam 0) is posted to it with PostMessageA.
// - notify(context): called directly, for owners without a window (native builds, tests). It
//   must return quickly; it may call takeSnapshot(), nothing that waits.
struct CheckOwner {
    void* window = nullptr;
    void (*notify)(void* context) = nullptr;
    void* context = nullptr;
    // For tests, unset in the program: called from the checker thread as each wait after a
    // cycle begins, before the thread takes the lock, so it may call requestCheckNow() or
    // requestStop(). Lets a test act at a known point instead of guessing it with a sleep.
    void (*waitBegins)(void* context) = nullptr;
    // A rotated refresh token waits in takeRotatedRefreshToken(): `tokenMessage` is posted to
    // `window` (when both are set) and tokenRotated(context) called (when set), at once.
    unsigned tokenMessage = 0;
    void (*tokenRotated)(void* context) = nullptr;
};

// How an account that signs in with a provider gets its tokens; provider null: the password.
struct TokenSignIn {
    const OAuthProvider* provider = nullptr;
    OAuthClient client;
    // What refreshes ask for: scopeFor the account's protocol (empty: what the grant had).
    std::string scope;
};

// What the window shows, read in one piece.
struct CheckSnapshot {
    CheckStatus status = CheckStatus::Ok;
    int unseenCount = 0;
    int totalCount = 0;
    int freshMail = 0;
    // What the unseen messages are about, newest first, for an account that shows senders.
    std::vector<MessagePreview> previews;
};

// The background checker: a check cycle (connect, log in, list, reconcile, close), then a
// wait, until stopped. An IMAP account whose server offers IDLE stays connected after a
// successful cycle and updates on that connection at each change and interval (watchServer),
// the IDLE renewed every few minutes and a lost connection opened again at once. It drives
// its session as a MailSession; the session's Mailbox guards the lists and counts with its
// own lock, and the checker's own fields have the checker's lock. Where both are held, the
// checker's is taken first.
//
// Use from the window thread:
//   CheckerThread checker(0x8001);                  // WM_APP + 1, the check-result message
//   CheckOwner owner; owner.window = hwnd;          // or owner.notify / owner.context
//   checker.setOwner(owner);                        // before start()
//   checker.setAccount(server, user, password, port, security, intervalMinutes);
//   checker.setSeenFilePath(seenPath);              // before start()
//   checker.readSeenFile();                         // tried again at each cycle until read
//   checker.start();
//   on the check-result message: CheckSnapshot shown = checker.takeSnapshot();
//   "Check Now" / settings confirmed: checker.requestCheckNow();
//   "Mark As Read": checker.markAsRead(); checker.saveSeenFile();
//   window closed: checker.saveSeenFile();
//   destruction stops the thread: a wait ends at once, a network operation within a second.
class CheckerThread final : public Thread {
public:
    static const int defaultIntervalMinutes = 5;
    static const int defaultPort = pop3TlsPort;
    static const int defaultRetryMilliseconds = 10 * 1000;
    static const int defaultMillisecondsPerMinute = 60 * 1000;
    // An IDLE is renewed (DONE, the server's OK, IDLE again) this often: far inside the 29
    // minutes servers allow, and inside the shortest idle time-outs of common NATs and load
    // balancers (Azure's 4 minutes, AWS's NAT gateway 350 seconds), so that a quiet
    // connection is neither dropped by the way nor found dead only much later. The renewal
    // is one short exchange: a few a quarter of an hour cost nothing worth measuring.
    static const int defaultIdleRenewMilliseconds = 3 * 60 * 1000;

    explicit CheckerThread(unsigned notifyMessage);
    ~CheckerThread();

    // Set before start(); not changed while the thread runs.
    void setOwner(const CheckOwner& newOwner) { owner = newOwner; }
    // Replaces the account in one step; the next cycle uses it. Null texts stay absent.
    // certificatePin: the one certificate trusted for the server besides the authorities'
    // (SHA-256, "AB:CD:..."); null or empty for none. It comes with its server, never apart.
    // signIn: with a provider, the cycle logs in with an access token instead of the password.
    // A sign-in other than the last one (provider, client or scope) starts with no tokens.
    // protocol and folder: the session the cycles run, and for IMAP the folder watched (null
    // or empty: INBOX).
    void setAccount(const char* server, const char* user, const char* password, int port, ConnectionSecurity security,
                    int intervalMinutes, const char* certificatePin = nullptr,
                    const TokenSignIn& signIn = TokenSignIn(), MailProtocol protocol = MailProtocol::Pop3,
                    const char* folder = nullptr);
    // Whether the cycles from the next one on ask the server what new messages are about (the
    // sender and subject) besides their ids; off, they ask for ids alone and keep no previews.
    void setShowSenders(bool show);
    // The refresh token of the account's sign-in as the settings hold it, for the next cycle.
    void setRefreshToken(const std::string& refreshToken);
    // The tokens of a sign-in just made, for the next cycle; they end a "Sign in again". This,
    // setRefreshToken and a changed sign-in drop a rotated refresh token not yet taken.
    void takeSignIn(const OAuthTokens& tokens);
    // The refresh token the provider last replaced the stored one with, once; false when none
    // waits. The owner stores it as soon as it is told (CheckOwner::tokenMessage).
    bool takeRotatedRefreshToken(std::string& refreshToken);
    // Ends the wait after a successful check at once (an IMAP IDLE too, its connection dropped
    // rather than ended: after a sleep it may be dead; a new cycle follows); a request made
    // during a check or during the wait after a failure stays pending until then. The
    // program's resume from sleep asks this too.
    void requestCheckNow();
    // Marks every listed id as read and tells the owner, so the window shows 0 unseen. For an
    // IMAP account that marks on the server, the ids this marked are queued for \Seen on the
    // server: at once on a connection kept open (its IDLE ended), else at the next connection;
    // ones the server refused stay queued for the connection after.
    void markAsRead();
    // Whether Mark As Read also sets \Seen on an IMAP server, from the next cycle on. Off
    // forgets the marks still queued for the server.
    void setMarkOnServer(bool on);
    // Reads status and counts and clears freshMail, in the same step, so an announcement is
    // reported exactly once.
    CheckSnapshot takeSnapshot();
    // The seen-message file (pellwick.uidl): its path, set before start() and not changed
    // while the thread runs; read into the mailbox unless that has been done (true once it
    // has, or when no file is there); saved after that read, false when it failed.
    void setSeenFilePath(const char* path) { seenFile.setPath(path); }
    bool readSeenFile() { return seenFile.read(mailbox); }
    bool saveSeenFile() { return seenFile.save(mailbox); }
    // Asks the thread to end: a wait ends at once, a network operation within about a second.
    // Does not wait; the destructor does.
    void requestStop();

    // The thread body: returns 0 once stopped.
    int run() override;
    // One cycle; returns the outcome it reported, or Checking when a stop request cut it
    // short and nothing was reported. A successful IMAP cycle leaves its connection open.
    CheckStatus checkOnce();

    // Shortened by tests; the defaults are ten seconds and one minute.
    int retryMilliseconds = defaultRetryMilliseconds;
    int millisecondsPerMinute = defaultMillisecondsPerMinute;
    int idleRenewMilliseconds = defaultIdleRenewMilliseconds;

    // The sessions the cycles run, as a MailSession, by the account's protocol; both fill the
    // one Mailbox (pop3.mailbox). Tests set their time limits and network steps before start().
    Pop3Session pop3;
    ImapMailSession imap{pop3.mailbox};

    // Makes the token endpoint of a sign-in; tests replace it before start().
    using TokenEndpointMaker =
        std::function<std::unique_ptr<TokenEndpoint>(const OAuthProvider& provider, const OAuthClient& client)>;
    TokenEndpointMaker makeTokenEndpoint;
    // Whether a token of `provider` may go to `server`; tests whose servers stand in for a
    // provider's replace it before start().
    std::function<bool(const OAuthProvider& provider, const char* server)> tokenMayGoTo = servesMail;

private:
    struct Account {
        TextRecord server;
        TextRecord user;
        TextRecord password;
        int port = defaultPort;
        ConnectionSecurity security = ConnectionSecurity::TlsOnConnect;
        int intervalMinutes = defaultIntervalMinutes;
        TextRecord certificatePin;
        TokenSignIn signIn;
        MailProtocol protocol = MailProtocol::Pop3;
        TextRecord folder;
        bool markOnServer = false;
        bool showSenders = false;
    };
    // Tokens handed over by the window thread, for the keeper of the next cycle.
    struct PendingTokens {
        enum class Kind { None, RefreshToken, SignIn } kind = Kind::None;
        OAuthTokens tokens;
    };

    bool beginCycle(Account& copy, PendingTokens& handedOver);
    CheckStatus talkToServer(const Account& copy, PendingTokens& handedOver);
    CheckStatus connectAndLogIn(const Account& copy, std::string& token);
    void prepareKeeper(const TokenSignIn& signIn, PendingTokens& handedOver);
    void keepRotatedRefreshToken(const std::string& refreshToken);
    void dropRotatedRefreshToken(); // with lock held
    CheckStatus failedStep(CheckStatus stepFailure);
    CheckStatus finishCycle(CheckStatus outcome);
    bool waitAfterSuccess(int intervalMinutes);
    bool watchServer(int intervalMinutes);
    bool updateOnConnection(bool& lost);
    bool reconnectAfterLoss();
    void writeServerMarks(bool newConnection);
    bool checkNowOrStop(bool& stop);
    bool waitAfterFailure();
    void notifyOwner();

    // The session of the cycle's protocol; the checker thread's alone, set as a cycle begins.
    MailSession* session = &pop3;
    Mailbox& mailbox;
    SeenMessageFile seenFile;
    CheckOwner owner;
    unsigned notifyMessage;
    // Guards the fields marked so between the window thread and the checker thread.
    std::mutex lock;
    CheckStatus status = CheckStatus::Ok; // guarded by lock
    int stopRequested = 0;                // guarded by lock
    int checkNow = 0;                     // guarded by lock
    Account account;                      // guarded by lock
    int signInVersion = 0;                // guarded by lock
    PendingTokens pendingTokens;          // guarded by lock
    std::string rotatedRefreshToken;      // guarded by lock
    bool rotatedWaiting = false;          // guarded by lock
    // The sign-in's endpoint (guarded by lock, as requestStop aborts it) and the keeper of
    // its tokens (the checker thread's alone), made for keeperVersion.
    std::unique_ptr<TokenEndpoint> tokenEndpoint;
    std::unique_ptr<TokenKeeper> tokenKeeper;
    int keeperVersion = 0;
    int cycleIntervalMinutes = defaultIntervalMinutes; // the checker thread's copy
    int cycleSignInVersion = 0;                        // the checker thread's copy
    bool cycleMarksOnServer = false;                   // the checker thread's copy
    // Ids ("UIDVALIDITY/UID") marked as read and not yet \Seen on the server, and whether
    // some came since the last try on this connection. Guarded by lock.
    std::vector<std::string> serverMarks;
    bool serverMarksWaiting = false;
    // When the last lost connection was opened again without the retry pause; the checker
    // thread's alone.
    bool reconnectedAtOnce = false;
    std::chrono::steady_clock::time_point lastReconnectAtOnce;
    std::condition_variable wake; // signalled with lock
};
