#pragma once

#include <windows.h>

// Plays the new-mail sound again every few minutes while unseen mail remains, for a user who
// was away when it first played. Runs on its owner window's timer, whose WM_TIMER the window
// hands to the sound.
class SoundRepeat {
public:
    static const UINT_PTR timerId = 0x5250;
    static const UINT millisecondsPerMinute = 60 * 1000;

    // Runs the timer every `minutes` on `window`, or stops it for 0. `restart`: the sound has
    // just played, so the next repeat is a whole interval from now; otherwise a running timer
    // of the same interval keeps its phase.
    void follow(HWND window, int minutes, bool restart);
    // 0 while stopped.
    int everyMinutes() const { return runningMinutes; }

private:
    int runningMinutes = 0;
};
