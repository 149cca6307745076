// The deadline poll of poll_until.h for what a window of this thread is told by message.
#pragma once

#include <windows.h>

#include <algorithm>

namespace testbench {

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
        int waitedMs = static_cast<int>(GetTickCount() - start);
        if (waitedMs > timeoutMs)
            return false;
        // Wakes as soon as a message arrives, which is how the window learns most things;
        // the step bounds the wait for what changes without one.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min(stepMs, timeoutMs - waitedMs + 1), QS_ALLINPUT);
    }
}

} // namespace testbench
