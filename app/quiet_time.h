#pragma once

#include <windows.h>
#include <shellapi.h>

// Whether new mail may be announced (sound and notification) now: not while the shell says the
// user is busy (a full-screen program, a presentation, quiet hours), nor during an hour of "Do
// not disturb". The counts, the icon and the colour follow the mailbox either way.
class QuietTime {
public:
    // The owning window's timer that ends "Do not disturb", and how long it runs.
    static const UINT_PTR timerId = 0x444E;
    static const UINT doNotDisturbMs = 60 * 60 * 1000;

    // SHQueryUserNotificationState; tests put a stand-in here.
    HRESULT(WINAPI* queryShellState)(QUERY_USER_NOTIFICATION_STATE* state) = SHQueryUserNotificationState;

    bool allowsAnnouncing() const;
    // Starts an hour of "Do not disturb" on `window`'s timer, or ends it early when it is on;
    // the check mark of its command in `menu` (may be null) follows.
    void toggleDoNotDisturb(HWND window, HMENU menu);
    // For WM_TIMER: true when `id` was the end of the hour.
    bool onTimer(HWND window, HMENU menu, UINT_PTR id);
    bool doNotDisturb() const { return doNotDisturbOn; }

private:
    void setDoNotDisturb(HWND window, HMENU menu, bool on);

    // Kept in memory only: a restart ends it.
    bool doNotDisturbOn = false;
};

// True for the shell's states in which the user may be interrupted: accepting notifications,
// or away (locked, screen saver), when the notification waits for the user's return.
bool shellStateAllowsAnnouncing(QUERY_USER_NOTIFICATION_STATE state);
