#include "ui/window_base.h"

HINSTANCE moduleInstance = nullptr;
Window* windowBeingCreated = nullptr;
Dialog* currentDialog = nullptr;

int WindowHandler::attach(WindowBase* window)
{
    owner = window;
    return 1;
}

int WindowHandler::onMessage(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

int WindowBase::onOtherMessage(UINT, WPARAM, LPARAM)
{
    return 0;
}

INT_PTR WindowBase::query(int, void*, INT_PTR)
{
    return 0;
}

void WindowBase::addHandler(WindowHandler* handler)
{
    handler->next = handlers;
    handlers = handler;
    handler->owner = this;
}

void WindowBase::attachHandlers()
{
    for (WindowHandler* handler = handlers; handler; handler = handler->next)
        handler->attach(this);
}

bool WindowBase::offerToHandlers(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    for (WindowHandler* handler = handlers; handler; handler = handler->next) {
        if (handler->onMessage(hwnd, message, wParam, lParam))
            return true;
    }
    return false;
}

void WindowBase::setPosition(int newX, int newY)
{
    x = newX;
    y = newY;
    applyPosition();
}

void WindowBase::setSize(int newWidth, int newHeight)
{
    if (newWidth == width && newHeight == height)
        return;
    width = newWidth;
    height = newHeight;
    applyPosition();
}

void WindowBase::setStyle(DWORD newStyle, DWORD newExStyle)
{
    style = newStyle;
    exStyle = newExStyle;
    applyStyle();
}

void WindowBase::setStyleBits(DWORD bits, bool on)
{
    style = on ? (style | bits) : (style & ~bits);
    applyStyle();
}

void WindowBase::applyPosition()
{
    if (!handle)
        return;
    if (fullScreen) {
        SetWindowPos(handle, nullptr, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), SWP_NOZORDER);
    } else {
        SetWindowPos(handle, nullptr, x, y, width, height, SWP_NOZORDER);
    }
}

void WindowBase::applyStyle()
{
    if (!handle)
        return;
    SetWindowLongA(handle, GWL_STYLE, static_cast<LONG>(fullScreen ? (WS_POPUP | WS_VISIBLE) : style));
    SetWindowLongA(handle, GWL_EXSTYLE, static_cast<LONG>(fullScreen ? (WS_EX_TOPMOST | WS_EX_TOOLWINDOW) : exStyle));
}

std::unique_ptr<char[]> WindowBase::getText() const
{
    int size = GetWindowTextLengthA(handle) + 1;
    std::unique_ptr<char[]> text(new char[size]);
    text[0] = '\0';
    GetWindowTextA(handle, text.get(), size);
    return text;
}

void WindowBase::readPlacement()
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(handle, &placement))
        return;
    const RECT& normal = placement.rcNormalPosition;
    x = normal.left;
    y = normal.top;
    width = normal.right - normal.left;
    height = normal.bottom - normal.top;
}

void WindowBase::centreOnParent()
{
    readPlacement();
    HWND reference = GetParent(handle);
    if (!reference)
        reference = GetDesktopWindow();
    RECT outer = {};
    RECT own = {};
    GetWindowRect(reference, &outer);
    GetWindowRect(handle, &own);
    int outerWidth = outer.right - outer.left;
    int outerHeight = outer.bottom - outer.top;
    int ownWidth = own.right - own.left;
    int ownHeight = own.bottom - own.top;
    x = outer.left + (outerWidth - ownWidth) / 2;
    y = outer.top + (outerHeight - ownHeight) / 2;
    applyPosition();
}
