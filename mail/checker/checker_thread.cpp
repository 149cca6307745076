#include "mail/checker/checker_thread.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "mail/platform/owner_post.h"

namespace {

using Clock = std::chrono::steady_clock;

// Longer intervals are waited as this: it keeps the deadline far inside the clock's range.
const long long maxWaitMilliseconds = 365LL * 24 * 60 * 60 * 1000;

Clock::time_point deadlineAfter(long long milliseconds)
{
    if (milliseconds > maxWaitMilliseconds)
        milliseconds = maxWaitMilliseconds;
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

// What the user is told when a step failed for `why`: an untrusted certificate, a server that
// stopped answering, a missing STARTTLS or a failed TLS handshake (the server was found: the
// host name is not what to look at) is said as such at any step; anything else is the step's
// own failure.
CheckStatus statusAfterFailure(ConnectionError why, CheckStatus stepFailure)
{
    if (isCertificateError(why))
        return CheckStatus::BadCertificate;
    if (why == ConnectionError::TimedOut)
        return CheckStatus::NoResponse;
    if (why == ConnectionError::StartTlsNotOffered)
        return CheckStatus::NoStartTls;
    if (why == ConnectionError::TlsFailed)
        return CheckStatus::TlsFailed;
    return stepFailure;
}

bool sameSignIn(const TokenSignIn& one, const TokenSignIn& other)
{
    return one.provider == other.provider && one.client.id == other.client.id &&
           one.client.secret == other.client.secret && one.scope == other.scope;
}

} // namespace

CheckerThread::CheckerThread(unsigned notifyMessage) : mailbox(pop3.mailbox), notifyMessage(notifyMessage) {}

CheckerThread::~CheckerThread()
{
    requestStop();
    waitForExit();
}

void CheckerThread::setAccount(const char* server, const char* user, const char* password, int port,
                               ConnectionSecurity security, int intervalMinutes, const char* certificatePin,
                               const TokenSignIn& signIn, MailProtocol protocol, const char* folder)
{
    std::lock_guard<std::mutex> hold(lock);
    // Tokens belong to the sign-in that brought them.
    if (!sameSignIn(signIn, account.signIn)) {
        account.signIn = signIn;
        ++signInVersion;
        pendingTokens = PendingTokens();
        dropRotatedRefreshToken();
    }
    account.server.assign(server);
    account.user.assign(user);
    account.password.assign(password);
    account.port = port;
    account.security = security;
    account.intervalMinutes = intervalMinutes;
    account.certificatePin.assign(certificatePin);
    account.protocol = protocol;
    account.folder.assign(folder);
}

void CheckerThread::setRefreshToken(const std::string& refreshToken)
{
    std::lock_guard<std::mutex> hold(lock);
    pendingTokens.kind = PendingTokens::Kind::RefreshToken;
    pendingTokens.tokens = OAuthTokens();
    pendingTokens.tokens.refreshToken = refreshToken;
    dropRotatedRefreshToken();
}

void CheckerThread::takeSignIn(const OAuthTokens& tokens)
{
    std::lock_guard<std::mutex> hold(lock);
    pendingTokens.kind = PendingTokens::Kind::SignIn;
    pendingTokens.tokens = tokens;
    dropRotatedRefreshToken();
}

// A rotated token still waiting for the window belongs to the tokens being replaced: stored
// later, it would overwrite the new ones (and go to the new sign-in's provider at next start).
void CheckerThread::dropRotatedRefreshToken()
{
    rotatedRefreshToken.clear();
    rotatedWaiting = false;
}

bool CheckerThread::takeRotatedRefreshToken(std::string& refreshToken)
{
    std::lock_guard<std::mutex> hold(lock);
    if (!rotatedWaiting)
        return false;
    refreshToken.swap(rotatedRefreshToken);
    rotatedRefreshToken.clear();
    rotatedWaiting = false;
    return true;
}

// Called by the keeper on the checker thread as soon as the provider replaced the refresh
// token: the owner writes it before anything else can fail. Not when the window replaced the
// sign-in or its tokens since this cycle began: what it stored then is newer.
void CheckerThread::keepRotatedRefreshToken(const std::string& refreshToken)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        if (signInVersion != cycleSignInVersion || pendingTokens.kind != PendingTokens::Kind::None)
            return;
        rotatedRefreshToken = refreshToken;
        rotatedWaiting = true;
    }
    if (owner.window != nullptr && owner.tokenMessage != 0)
        postToWindow(owner.window, owner.tokenMessage);
    if (owner.tokenRotated != nullptr)
        owner.tokenRotated(owner.context);
}

void CheckerThread::setShowSenders(bool show)
{
    std::lock_guard<std::mutex> hold(lock);
    account.showSenders = show;
}

void CheckerThread::requestCheckNow()
{
    {
        std::lock_guard<std::mutex> hold(lock);
        checkNow = 1;
    }
    wake.notify_all();
    // An IDLE ends, so that the check follows at once; POP3 never waits on its server.
    imap.dropWait();
}

void CheckerThread::requestStop()
{
    // First without the lock, which takeSnapshot holds while it waits for the mailbox's lock
    // during a long reconcile: the reconcile looks at the abort as it goes.
    pop3.abort();
    imap.abort();
    {
        // Again under the lock, so that a cycle starting now either sees the request or has
        // cleared its abort state before the abort below.
        std::lock_guard<std::mutex> hold(lock);
        stopRequested = 1;
        pop3.abort();
        imap.abort();
        if (tokenEndpoint)
            tokenEndpoint->abort();
    }
    wake.notify_all();
}

void CheckerThread::markAsRead()
{
    bool toServer = false;
    {
        std::lock_guard<std::mutex> hold(lock);
        toServer = account.markOnServer && account.protocol == MailProtocol::Imap;
    }
    std::vector<std::string> marked;
    mailbox.markAsRead(toServer ? &marked : nullptr);
    notifyOwner();
    if (marked.empty())
        return;
    {
        std::lock_guard<std::mutex> hold(lock);
        serverMarks.insert(serverMarks.end(), marked.begin(), marked.end());
        serverMarksWaiting = true;
    }
    imap.endWait(); // an IDLE ends with DONE, so that the marks go on the same connection
}

void CheckerThread::setMarkOnServer(bool on)
{
    std::lock_guard<std::mutex> hold(lock);
    account.markOnServer = on;
    if (!on)
        serverMarks.clear();
}

CheckSnapshot CheckerThread::takeSnapshot()
{
    // The mailbox's lock inside the checker's, so that status and counts are one piece.
    std::lock_guard<std::mutex> hold(lock);
    MailboxCounts counts = mailbox.takeCounts();
    CheckSnapshot result;
    result.status = status;
    result.unseenCount = counts.unseenCount;
    result.totalCount = counts.totalCount;
    result.freshMail = counts.freshMail;
    result.previews = std::move(counts.previews);
    return result;
}

int CheckerThread::run()
{
    for (;;) {
        CheckStatus outcome = checkOnce();
        if (outcome == CheckStatus::Checking)
            return 0;
        if (owner.waitBegins != nullptr)
            owner.waitBegins(owner.context);
        // A refused sign-in, or one for another server, waits for the user, not for a retry:
        // only a new sign-in or another server mends it.
        bool waitInterval = outcome == CheckStatus::Ok || outcome == CheckStatus::SignInAgain ||
                            outcome == CheckStatus::NotSignInServer;
        bool again = outcome == CheckStatus::Ok ? watchServer(cycleIntervalMinutes)
                     : waitInterval             ? waitAfterSuccess(cycleIntervalMinutes)
                                                : waitAfterFailure();
        if (!again)
            return 0;
    }
}

CheckStatus CheckerThread::checkOnce()
{
    Account copy;
    PendingTokens handedOver;
    if (!beginCycle(copy, handedOver))
        return CheckStatus::Checking;
    // A seen-message file that could not be read at start-up is tried again before the
    // listing is counted against it.
    seenFile.read(mailbox);
    session->pinCertificate(copy.certificatePin.text);
    return finishCycle(talkToServer(copy, handedOver));
}

// Takes this cycle's copy of the account, so that the window may replace it meanwhile, and
// the tokens handed over since the last cycle.
bool CheckerThread::beginCycle(Account& copy, PendingTokens& handedOver)
{
    std::lock_guard<std::mutex> hold(lock);
    if (stopRequested)
        return false;
    pop3.clearAbort();
    imap.clearAbort();
    if (tokenEndpoint)
        tokenEndpoint->clearAbort();
    copy.signIn = account.signIn;
    cycleSignInVersion = signInVersion;
    handedOver = pendingTokens;
    pendingTokens = PendingTokens();
    status = CheckStatus::Checking;
    copy.server.assign(account.server.text);
    copy.user.assign(account.user.text);
    copy.password.assign(account.password.text);
    copy.port = account.port;
    copy.security = account.security;
    copy.intervalMinutes = account.intervalMinutes;
    copy.certificatePin.assign(account.certificatePin.text);
    copy.protocol = account.protocol;
    copy.folder.assign(account.folder.text);
    session = copy.protocol == MailProtocol::Imap ? static_cast<MailSession*>(&imap) : &pop3;
    imap.setFolder(copy.folder.text);
    cycleMarksOnServer = account.markOnServer;
    imap.setMarkOnServer(cycleMarksOnServer);
    pop3.describeNewMail = account.showSenders;
    imap.describeNewMail = account.showSenders;
    cycleIntervalMinutes = account.intervalMinutes;
    return true;
}

// Connect, log in and list; the connection is closed at the end, unless the session may wait
// on it for the server's news (run() then closes it). The
// token comes first, so that no connection waits while it is refreshed, and none is made for
// an account that must sign in again.
CheckStatus CheckerThread::talkToServer(const Account& copy, PendingTokens& handedOver)
{
    std::string token;
    if (copy.signIn.provider != nullptr) {
        prepareKeeper(copy.signIn, handedOver);
        // A token opens the mailbox at its provider's server: at any other (a typo, a server
        // named by someone else) it would be handed to whoever runs that one.
        if (!tokenMayGoTo(*copy.signIn.provider, textOrEmpty(copy.server)))
            return CheckStatus::NotSignInServer;
        CheckStatus got = tokenKeeper->accessToken(token, TokenKeeper::Clock::now());
        if (got != CheckStatus::Ok)
            return got;
    }
    CheckStatus loggedIn = connectAndLogIn(copy, token);
    if (loggedIn != CheckStatus::Ok)
        return loggedIn;
    if (!session->updateMailbox())
        return failedStep(CheckStatus::ListFailed);
    if (copy.protocol == MailProtocol::Pop3)
        session->close();
    else
        writeServerMarks(true); // a connection that died meanwhile is found by the watch
    return CheckStatus::Ok;
}

// With the password, or with the token: one the server refuses is refreshed and tried on a
// new connection, once (the keeper then says SignInAgain).
CheckStatus CheckerThread::connectAndLogIn(const Account& copy, std::string& token)
{
    for (;;) {
        if (!session->connect(textOrEmpty(copy.server), copy.port, copy.security))
            return failedStep(CheckStatus::HostNotFound);
        if (copy.signIn.provider == nullptr) {
            if (session->logIn(textOrEmpty(copy.user), textOrEmpty(copy.password)))
                return CheckStatus::Ok;
            return failedStep(session->logInBusy() ? CheckStatus::ServerBusy : CheckStatus::BadLogin);
        }
        TokenLogin result = session->logInWithToken(textOrEmpty(copy.user), token);
        if (result == TokenLogin::LoggedIn) {
            tokenKeeper->serverAccepted();
            return CheckStatus::Ok;
        }
        // A busy server has not judged the token: the same one is tried at the next check.
        if (result == TokenLogin::Busy)
            return failedStep(CheckStatus::ServerBusy);
        if (result != TokenLogin::Refused)
            return failedStep(result == TokenLogin::NotOffered ? CheckStatus::NoSignIn : CheckStatus::BadLogin);
        session->close();
        CheckStatus got = tokenKeeper->serverRefused(token, TokenKeeper::Clock::now());
        if (got != CheckStatus::Ok)
            return got;
    }
}

// The endpoint and keeper of the account's sign-in, made anew when the sign-in changed; then
// the tokens the window handed over.
void CheckerThread::prepareKeeper(const TokenSignIn& signIn, PendingTokens& handedOver)
{
    if (!tokenKeeper || keeperVersion != cycleSignInVersion) {
        tokenKeeper.reset();
        std::unique_ptr<TokenEndpoint> endpoint =
            makeTokenEndpoint ? makeTokenEndpoint(*signIn.provider, signIn.client)
                              : std::unique_ptr<TokenEndpoint>(
                                    new TokenEndpoint(signIn.provider->tokenEndpoint, signIn.client, signIn.scope));
        {
            std::lock_guard<std::mutex> hold(lock);
            tokenEndpoint = std::move(endpoint);
            if (stopRequested)
                tokenEndpoint->abort();
        }
        tokenKeeper.reset(new TokenKeeper(
            *tokenEndpoint, [this](const std::string& refreshToken) { keepRotatedRefreshToken(refreshToken); }));
        keeperVersion = cycleSignInVersion;
    }
    if (handedOver.kind == PendingTokens::Kind::RefreshToken)
        tokenKeeper->setRefreshToken(handedOver.tokens.refreshToken);
    else if (handedOver.kind == PendingTokens::Kind::SignIn)
        tokenKeeper->takeSignIn(handedOver.tokens);
}

CheckStatus CheckerThread::failedStep(CheckStatus stepFailure)
{
    CheckStatus outcome = statusAfterFailure(session->lastError(), stepFailure);
    session->close();
    return outcome;
}

// Stores the outcome before telling the owner, so the window reads the new status. A cycle
// cut short by a stop request reports nothing: the outcome is only the abort.
CheckStatus CheckerThread::finishCycle(CheckStatus outcome)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        if (stopRequested)
            return CheckStatus::Checking;
        status = outcome;
    }
    notifyOwner();
    return outcome;
}

// After a successful cycle: where the session can wait on the server (IMAP IDLE), stays
// connected and updates the mailbox on each change it tells of and at each interval, the
// wait renewed every idleRenewMilliseconds; otherwise the interval wait. A Check Now or a
// stop ends it; a connection that is lost is opened afresh (reconnectAfterLoss), one whose
// update the server refused is reported and the cycle retried after the failure's pause.
bool CheckerThread::watchServer(int intervalMinutes)
{
    long long milliseconds = static_cast<long long>(intervalMinutes) * millisecondsPerMinute;
    Clock::time_point deadline = deadlineAfter(milliseconds);
    for (bool watched = false;; watched = true) {
        bool stop = false;
        if (checkNowOrStop(stop)) {
            session->close();
            return !stop;
        }
        writeServerMarks(false);
        long long left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 && !watched) {
            session->close();
            return true;
        }
        long long renew = std::max(idleRenewMilliseconds, 1);
        NewsWait news = left <= 0 ? NewsWait::Changed : session->waitForNews(static_cast<int>(std::min(left, renew)));
        if (news == NewsWait::NotOffered) {
            session->close();
            return waitAfterSuccess(intervalMinutes);
        }
        if (news == NewsWait::Failed) {
            session->close();
            return reconnectAfterLoss();
        }
        if (news != NewsWait::Changed)
            continue;
        bool lost = false;
        if (!updateOnConnection(lost))
            return lost ? reconnectAfterLoss() : waitAfterFailure();
        if (left <= 0)
            deadline = deadlineAfter(milliseconds);
    }
}

// Updates the mailbox on the open connection and reports the outcome as a cycle does; a
// connection lost meanwhile (`lost`) is closed and reported by the cycle that replaces it.
bool CheckerThread::updateOnConnection(bool& lost)
{
    seenFile.read(mailbox); // one that could not be read is tried again, as before each cycle
    if (session->updateMailbox()) {
        finishCycle(CheckStatus::Ok);
        return true;
    }
    lost = session->connectionLost();
    if (lost)
        session->close();
    else
        finishCycle(failedStep(CheckStatus::ListFailed));
    return false;
}

// A connection kept open was lost (the server's BYE, a failed renewal, a drop, a sleep): a
// new cycle at once, so that a reconnect that works shows no failure; one that fails is
// reported and paused after as any. At most one at once per retry pause, so that a server
// that keeps hanging up is not called again and again.
bool CheckerThread::reconnectAfterLoss()
{
    bool stop = false;
    if (checkNowOrStop(stop)) // Check Now dropped the connection: its cycle follows
        return !stop;
    Clock::time_point now = Clock::now();
    if (reconnectedAtOnce && now - lastReconnectAtOnce < std::chrono::milliseconds(retryMilliseconds))
        return waitAfterFailure();
    reconnectedAtOnce = true;
    lastReconnectAtOnce = now;
    return true;
}

// \Seen on the server for the ids Mark As Read queued, on the open IMAP connection: all of
// them on a new connection, else only when some came since the last try. Those the server
// took, or that name an older numbering of the folder, leave the queue; the rest wait for
// the next connection, so pellwick's own mark is never lost with them.
void CheckerThread::writeServerMarks(bool newConnection)
{
    if (session != &imap || !cycleMarksOnServer)
        return;
    std::vector<std::string> ids;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!newConnection && !serverMarksWaiting)
            return;
        serverMarksWaiting = false;
        ids = serverMarks;
    }
    if (ids.empty() || imap.markSeen(ids) != ImapStatus::Ok)
        return;
    std::lock_guard<std::mutex> hold(lock);
    // Marks queued meanwhile came after these; an "off" meanwhile left fewer.
    serverMarks.erase(serverMarks.begin(), serverMarks.begin() + std::min(ids.size(), serverMarks.size()));
}

// True, and the request taken, when Check Now or a stop (`stop` set) is pending.
bool CheckerThread::checkNowOrStop(bool& stop)
{
    std::lock_guard<std::mutex> hold(lock);
    stop = stopRequested != 0;
    if (stop)
        return true;
    if (!checkNow)
        return false;
    checkNow = 0;
    return true;
}

bool CheckerThread::waitAfterSuccess(int intervalMinutes)
{
    long long milliseconds = static_cast<long long>(intervalMinutes) * millisecondsPerMinute;
    Clock::time_point deadline = deadlineAfter(milliseconds);
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        if (stopRequested)
            return false;
        if (checkNow) {
            checkNow = 0;
            return true;
        }
        if (milliseconds <= 0 || Clock::now() >= deadline)
            return true;
        wake.wait_until(hold, deadline);
    }
}

// A fixed pause after any failure; Check Now is left pending for the wait after a success.
bool CheckerThread::waitAfterFailure()
{
    Clock::time_point deadline = deadlineAfter(retryMilliseconds);
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        if (stopRequested)
            return false;
        if (Clock::now() >= deadline)
            return true;
        wake.wait_until(hold, deadline);
    }
}

void CheckerThread::notifyOwner()
{
    if (owner.window != nullptr)
        postToWindow(owner.window, notifyMessage);
    if (owner.notify != nullptr)
        owner.notify(owner.context);
}
