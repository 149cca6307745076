#pragma once

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "mail/checker/checker_thread.h"

namespace mailtest {

// Stands in for the window: every notification from the checker records what the window
// takes at that moment (takeSnapshot, which takes the announcement too), and when. Also hears
// each wait begin (the checker's test hook).
class CheckReports {
public:
    using Clock = std::chrono::steady_clock;

    void attach(CheckerThread& checker)
    {
        observed = &checker;
        CheckOwner owner;
        owner.notify = &CheckReports::onNotify;
        owner.waitBegins = &CheckReports::onWaitBegins;
        owner.context = this;
        checker.setOwner(owner);
    }

    // Run on the checker thread as its wait number n (from 1) begins. Set before start().
    std::function<void(int n)> atWait;
    // False: a window that has not got round to reading yet; each report keeps its time and
    // an empty snapshot, and the announcement waits in the checker. Set before start().
    bool takesSnapshots = true;
    // Cycles the checker has finished (each is followed by a wait); Mark As Read reports too,
    // so this, not count(), tells the cycles.
    int cyclesFinished() const { return waitsBegun.load(); }

    // Seconds from report i to report j (both must have arrived): a lower bound on how long
    // the checker waited, which no delay of the test's own thread can shrink.
    double secondsBetween(size_t i, size_t j)
    {
        std::lock_guard<std::mutex> hold(guard);
        if (i >= times.size() || j >= times.size())
            return -1;
        return std::chrono::duration<double>(times[j] - times[i]).count();
    }

    // True once at least `count` reports have arrived, false after timeoutMs.
    bool waitFor(size_t count, int timeoutMs)
    {
        return waitUntil([count](const std::vector<CheckSnapshot>& all) { return all.size() >= count; }, timeoutMs);
    }
    // True once `done` holds for the reports so far, false after timeoutMs.
    bool waitUntil(const std::function<bool(const std::vector<CheckSnapshot>&)>& done, int timeoutMs)
    {
        std::unique_lock<std::mutex> hold(guard);
        return arrived.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return done(reports); });
    }

    std::vector<CheckSnapshot> all()
    {
        std::lock_guard<std::mutex> hold(guard);
        return reports;
    }
    CheckSnapshot at(size_t i)
    {
        std::lock_guard<std::mutex> hold(guard);
        return i < reports.size() ? reports[i] : CheckSnapshot{};
    }
    size_t count()
    {
        std::lock_guard<std::mutex> hold(guard);
        return reports.size();
    }

private:
    static void onNotify(void* context)
    {
        CheckReports* self = static_cast<CheckReports*>(context);
        CheckSnapshot now = self->takesSnapshots ? self->observed->takeSnapshot() : CheckSnapshot{};
        {
            std::lock_guard<std::mutex> hold(self->guard);
            self->reports.push_back(now);
            self->times.push_back(Clock::now());
        }
        self->arrived.notify_all();
    }

    static void onWaitBegins(void* context)
    {
        CheckReports* self = static_cast<CheckReports*>(context);
        int n = ++self->waitsBegun; // only the checker thread counts
        if (self->atWait)
            self->atWait(n);
    }

    CheckerThread* observed = nullptr;
    std::mutex guard;
    std::condition_variable arrived;
    std::vector<CheckSnapshot> reports;
    std::vector<Clock::time_point> times;
    std::atomic<int> waitsBegun{0};
};

} // namespace mailtest
