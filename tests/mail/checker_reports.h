#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "mail/checker_thread.h"

namespace mailtest {

// Stands in for the window: every notification from the checker records what the window
// would read at that moment.
class CheckReports {
public:
    void attach(CheckerThread& checker)
    {
        observed = &checker;
        CheckOwner owner;
        owner.notify = &CheckReports::onNotify;
        owner.context = this;
        checker.setOwner(owner);
    }

    // True once at least `count` reports have arrived, false after timeoutMs.
    bool waitFor(size_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> hold(guard);
        return arrived.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                [&] { return reports.size() >= count; });
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
        CheckSnapshot now = self->observed->snapshot();
        {
            std::lock_guard<std::mutex> hold(self->guard);
            self->reports.push_back(now);
        }
        self->arrived.notify_all();
    }

    CheckerThread* observed = nullptr;
    std::mutex guard;
    std::condition_variable arrived;
    std::vector<CheckSnapshot> reports;
};

}  // namespace mailtest
