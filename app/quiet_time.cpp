#include "app/quiet_time.h"

#include "res/resource.h"

bool shellStateAllowsAnnouncing(QUERY_USER_NOTIFICATION_STATE state)
{
    // Every other state (full screen, Direct3D full screen, presentation, quiet time, a
    // full-screen app, and any added later) says the user is busy.
    return state == QUNS_ACCEPTS_NOTIFICATIONS || state == QUNS_NOT_PRESENT;
}

bool QuietTime::allowsAnnouncing() const
{
    if (doNotDisturbOn)
        return false;
    QUERY_USER_NOTIFICATION_STATE state = QUNS_ACCEPTS_NOTIFICATIONS;
    // A shell that cannot tell is no reason to keep new mail quiet.
    if (!queryShellState || FAILED(queryShellState(&state)))
        return true;
    return shellStateAllowsAnnouncing(state);
}

void QuietTime::toggleDoNotDisturb(HWND window, HMENU menu)
{
    setDoNotDisturb(window, menu, !doNotDisturbOn);
}

bool QuietTime::onTimer(HWND window, HMENU menu, UINT_PTR id)
{
    if (id != timerId)
        return false;
    setDoNotDisturb(window, menu, false);
    return true;
}

void QuietTime::setDoNotDisturb(HWND window, HMENU menu, bool on)
{
    doNotDisturbOn = on;
    if (on)
        SetTimer(window, timerId, doNotDisturbMs, nullptr);
    else
        KillTimer(window, timerId);
    if (menu)
        CheckMenuItem(menu, ID_DO_NOT_DISTURB, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}
