#pragma once

#include <chrono>
#include <functional>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

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

#ifdef _WIN32
// For a window of this thread: runs its messages until `done` holds; false once `timeoutMs`
// have passed.
template <typename Condition> bool pumpUntil(Condition done, int timeoutMs)
{
    const int stepMs = 10;
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done())
            return true;
        if (static_cast<int>(GetTickCount() - start) > timeoutMs)
            return false;
        Sleep(stepMs);
    }
}
#endif

} // namespace testbench
