#include "app/sound_repeat.h"

void SoundRepeat::follow(HWND window, int minutes, bool restart)
{
    if (minutes <= 0) {
        if (runningMinutes > 0)
            KillTimer(window, timerId);
        runningMinutes = 0;
        return;
    }
    if (minutes == runningMinutes && !restart)
        return;
    // The same id replaces a running timer.
    if (SetTimer(window, timerId, static_cast<UINT>(minutes) * millisecondsPerMinute, nullptr))
        runningMinutes = minutes;
}
