#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testbench {

// For what gives no notice when it happens (another process's window or file, the shell's
// paint): asks `done` every `pollMs` until it holds; false once `timeoutMs` have passed.
inline bool pollUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 100)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
}

} // namespace testbench
