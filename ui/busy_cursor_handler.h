#pragma once

#include <windows.h>

#include "ui/window_base.h"

// Answers the owner's cursor requests with the wait cursor while `busy` is set. The owner
// marks a long operation with a BusyCursorScope.
class BusyCursorHandler : public WindowHandler {
public:
    BusyCursorHandler();
    // Never claims WM_SETCURSOR: the owner's own processing follows.
    int onMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    HCURSOR busyCursor;
    HCURSOR normalCursor;
    int busy = 0;
};

// The wait cursor over the handler's owner for as long as the scope lives: sets `busy` and
// shows the wait cursor at once; at the end clears `busy` and shows the arrow again.
class BusyCursorScope {
public:
    explicit BusyCursorScope(BusyCursorHandler& handler);
    ~BusyCursorScope();
    BusyCursorScope(const BusyCursorScope&) = delete;
    BusyCursorScope& operator=(const BusyCursorScope&) = delete;

private:
    BusyCursorHandler& handler;
};
