#pragma once

#include <windows.h>

#include "ui/window_base.h"

// Answers the owner's cursor requests with the wait cursor while `busy` is set. The owner
// sets `busy` and calls SetCursor itself around a long operation.
class BusyCursorHandler : public WindowHandler {
public:
    BusyCursorHandler();
    // Never claims WM_SETCURSOR: the owner's own processing follows.
    int onMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    HCURSOR busyCursor;
    HCURSOR normalCursor;
    int busy = 0;
};
