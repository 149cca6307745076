#include "ui/busy_cursor_handler.h"

BusyCursorHandler::BusyCursorHandler()
    : busyCursor(LoadCursorA(nullptr, IDC_WAIT)), normalCursor(LoadCursorA(nullptr, IDC_ARROW))
{
}

int BusyCursorHandler::onMessage(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_SETCURSOR)
        SetCursor(busy ? busyCursor : normalCursor);
    return 0;
}

BusyCursorScope::BusyCursorScope(BusyCursorHandler& handler) : handler(handler)
{
    handler.busy = 1;
    SetCursor(handler.busyCursor);
}

BusyCursorScope::~BusyCursorScope()
{
    handler.busy = 0;
    SetCursor(handler.normalCursor);
}
