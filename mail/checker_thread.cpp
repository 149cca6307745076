#include "mail/checker_thread.h"

#include <chrono>

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
// stopped answering or a missing STARTTLS is said as such at any step; anything else is the
// step's own failure.
CheckStatus statusAfterFailure(ConnectionError why, CheckStatus stepFailure)
{
    if (isCertificateError(why))
        return CheckStatus::BadCertificate;
    if (why == ConnectionError::TimedOut)
        return CheckStatus::NoResponse;
    if (why == ConnectionError::StartTlsNotOffered)
        return CheckStatus::NoStartTls;
    return stepFailure;
}

} // namespace

CheckerThread::CheckerThread(unsigned notifyMessage) : notifyMessage(notifyMessage) {}

CheckerThread::~CheckerThread()
{
    requestStop();
    waitForExit();
}

void CheckerThread::setAccount(const char* server, const char* user, const char* password, int port,
                               ConnectionSecurity security, int intervalMinutes, const char* certificatePin)
{
    std::lock_guard<std::mutex> hold(session.listLock);
    account.server.assign(server);
    account.user.assign(user);
    account.password.assign(password);
    account.port = port;
    account.security = security;
    account.intervalMinutes = intervalMinutes;
    account.certificatePin.assign(certificatePin);
}

void CheckerThread::requestCheckNow()
{
    {
        std::lock_guard<std::mutex> hold(session.listLock);
        checkNow = 1;
    }
    wake.notify_all();
}

void CheckerThread::requestStop()
{
    // First without the lock, which a long reconcile holds: it looks at the abort as it goes.
    session.abort();
    {
        // Again under the lock, so that a cycle starting now either sees the request or has
        // cleared its abort state before the abort below.
        std::lock_guard<std::mutex> hold(session.listLock);
        stopRequested = 1;
        session.abort();
    }
    wake.notify_all();
}

void CheckerThread::markAsRead()
{
    session.markAsRead();
    notifyOwner();
}

CheckSnapshot CheckerThread::snapshot() const
{
    std::lock_guard<std::mutex> hold(session.listLock);
    CheckSnapshot result;
    result.status = status;
    result.unseenCount = session.unseenCount;
    result.totalCount = session.totalCount;
    result.freshMail = session.freshMail;
    return result;
}

CheckSnapshot CheckerThread::takeSnapshot()
{
    std::lock_guard<std::mutex> hold(session.listLock);
    CheckSnapshot result;
    result.status = status;
    result.unseenCount = session.unseenCount;
    result.totalCount = session.totalCount;
    result.freshMail = session.freshMail;
    session.freshMail = 0;
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
        bool again = outcome == CheckStatus::Ok ? waitAfterSuccess(cycleIntervalMinutes) : waitAfterFailure();
        if (!again)
            return 0;
    }
}

CheckStatus CheckerThread::checkOnce()
{
    Account copy;
    if (!beginCycle(copy))
        return CheckStatus::Checking;
    // A seen-message file that could not be read at start-up is tried again before the
    // listing is counted against it.
    seenFile.read(session);
    session.pinCertificate(copy.certificatePin.text);
    return finishCycle(talkToServer(copy));
}

// Takes this cycle's copy of the account, so that the window may replace it meanwhile.
bool CheckerThread::beginCycle(Account& copy)
{
    std::lock_guard<std::mutex> hold(session.listLock);
    if (stopRequested)
        return false;
    session.clearAbort();
    status = CheckStatus::Checking;
    copy.server.assign(account.server.text);
    copy.user.assign(account.user.text);
    copy.password.assign(account.password.text);
    copy.port = account.port;
    copy.security = account.security;
    copy.intervalMinutes = account.intervalMinutes;
    copy.certificatePin.assign(account.certificatePin.text);
    cycleIntervalMinutes = account.intervalMinutes;
    return true;
}

// Connect, log in and list; the connection is closed at the end whatever the outcome.
CheckStatus CheckerThread::talkToServer(const Account& copy)
{
    if (!session.connect(textOrEmpty(copy.server), copy.port, copy.security))
        return failedStep(CheckStatus::HostNotFound);
    if (!session.login(textOrEmpty(copy.user), textOrEmpty(copy.password)))
        return failedStep(CheckStatus::BadLogin);
    if (session.listUids() < 0)
        return failedStep(CheckStatus::ListFailed);
    session.close();
    return CheckStatus::Ok;
}

CheckStatus CheckerThread::failedStep(CheckStatus stepFailure)
{
    CheckStatus outcome = statusAfterFailure(session.lastError(), stepFailure);
    session.close();
    return outcome;
}

// Stores the outcome before telling the owner, so the window reads the new status. A cycle
// cut short by a stop request reports nothing: the outcome is only the abort.
CheckStatus CheckerThread::finishCycle(CheckStatus outcome)
{
    {
        std::lock_guard<std::mutex> hold(session.listLock);
        if (stopRequested)
            return CheckStatus::Checking;
        status = outcome;
    }
    notifyOwner();
    return outcome;
}

bool CheckerThread::waitAfterSuccess(int intervalMinutes)
{
    long long milliseconds = static_cast<long long>(intervalMinutes) * millisecondsPerMinute;
    Clock::time_point deadline = deadlineAfter(milliseconds);
    std::unique_lock<std::mutex> hold(session.listLock);
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
    std::unique_lock<std::mutex> hold(session.listLock);
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
