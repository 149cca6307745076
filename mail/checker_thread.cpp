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
        int result = checkOnce();
        if (result == checkStopped)
            return 0;
        if (owner.waitBegins != nullptr)
            owner.waitBegins(owner.context);
        bool again = result == checkSucceeded ? waitAfterSuccess(cycleIntervalMinutes) : waitAfterFailure();
        if (!again)
            return 0;
    }
}

int CheckerThread::checkOnce()
{
    Account copy;
    if (!beginCycle(copy))
        return checkStopped;
    // A seen-message file that could not be read at start-up is tried again before the
    // listing is counted against it.
    seenFile.read(session);
    session.pinCertificate(copy.certificatePin.text);
    if (!session.connect(textOrEmpty(copy.server), copy.port, copy.security))
        return failedConnect();
    if (!session.login(textOrEmpty(copy.user), textOrEmpty(copy.password)))
        return failedLogin();
    if (session.listUids() < 0)
        return failedListing();
    session.close();
    return finishCycle(CheckStatus::Ok, checkSucceeded);
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

int CheckerThread::failedConnect()
{
    ConnectionError why = session.lastError();
    session.close();
    if (isCertificateError(why))
        return finishCycle(CheckStatus::BadCertificate, checkBadCertificate);
    if (why == ConnectionError::TimedOut)
        return finishCycle(CheckStatus::NoResponse, checkNoResponse);
    if (why == ConnectionError::StartTlsNotOffered)
        return finishCycle(CheckStatus::NoStartTls, checkNoStartTls);
    return finishCycle(CheckStatus::HostNotFound, checkHostNotFound);
}

int CheckerThread::failedLogin()
{
    ConnectionError why = session.lastError();
    session.close();
    if (why == ConnectionError::TimedOut)
        return finishCycle(CheckStatus::NoResponse, checkNoResponse);
    return finishCycle(CheckStatus::BadLogin, checkBadLogin);
}

int CheckerThread::failedListing()
{
    ConnectionError why = session.lastError();
    session.close();
    if (why == ConnectionError::TimedOut)
        return finishCycle(CheckStatus::NoResponse, checkNoResponse);
    return finishCycle(CheckStatus::ListFailed, checkListFailed);
}

// Stores the outcome before telling the owner, so the window reads the new status. A cycle
// cut short by a stop request reports nothing: the outcome is only the abort.
int CheckerThread::finishCycle(CheckStatus outcome, int result)
{
    {
        std::lock_guard<std::mutex> hold(session.listLock);
        if (stopRequested)
            return checkStopped;
        status = outcome;
    }
    notifyOwner();
    return result;
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
