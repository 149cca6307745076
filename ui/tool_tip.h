#pragma once

#include <windows.h>

#include "ui/window.h"

// The platform's tooltip window ("tooltips_class32"; the program initialises the common
// controls) serving one owner: a handler in the owner's chain whose attach creates the
// window, and a Window bound to that tooltip window.
class ToolTip : public WindowHandler, public Window {
public:
    // maxTipWidth in pixels; 0 keeps the platform's width.
    explicit ToolTip(int maxTipWidth);

    int attach(WindowBase* window) override;
    // Answers the tooltip's text request by asking the owner (queryToolTipText).
    void onNotifyReflected(int code, NMHDR* header) override;

    // Registers a tool: a control (its whole window), else a rectangle of the owner, else the
    // owner's client area. A null text makes the tooltip ask the owner when it shows.
    void addTool(Window* control, const RECT* rectangle, const char* text);
    // Replaces the text of the owner's rectangle or client-area tool (TTM_UPDATETIPTEXT); a tip on
    // show takes it at once.
    void setOwnerToolText(const char* text);
    // The same in UTF-16, for text of any script (senders, subjects).
    void setOwnerToolText(const wchar_t* text);

    int maxTipWidth;
};
