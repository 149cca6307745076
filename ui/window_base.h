#pragma once

#include <windows.h>

#include <memory>

class WindowBase;
class Window;
class Dialog;

// Toolkit-wide state; everything runs on the thread that creates the windows.
extern HINSTANCE moduleInstance;
// The newest window whose native window is being created (creations nest: each one links
// to the creation it interrupted), or null.
extern Window* windowBeingCreated;
// The newest dialog whose modal run is in progress (runs nest the same way), or null.
extern Dialog* currentDialog;

// Marks x, y, width or height as not chosen; create() picks a value.
const int unchosenPlacement = CW_USEDEFAULT;
// The one query code in use: data points to a POINT relative to the owner's window
// rectangle; the answer is a text that outlives the call, or 0.
const int queryToolTipText = 7;

// A small object that sees every message of its owner before the owner's own dispatch.
// Handlers are members of the owner's object; the chain only links them.
class WindowHandler {
public:
    virtual ~WindowHandler() = default;
    // Called once per handler when the owner's native window exists.
    virtual int attach(WindowBase* window);
    // Non-zero claims the message: nothing after this handler sees it.
    virtual int onMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    WindowBase* owner = nullptr;
    WindowHandler* next = nullptr;
};

// Common root of Window and Dialog: the handler chain, the bound handle, style and placement.
class WindowBase {
public:
    WindowBase() = default;
    virtual ~WindowBase() = default;
    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;

    // Catch-all for messages without an operation of their own; non-zero claims.
    virtual int onOtherMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Information asked for by an object attached to this window (queryToolTipText).
    virtual INT_PTR query(int code, void* data, INT_PTR extra);

    // The handler added last is consulted first.
    void addHandler(WindowHandler* handler);
    // Calls attach(this) on every handler, newest first.
    void attachHandlers();

    // The setters record the values, and change the native window only once it exists.
    void setPosition(int newX, int newY);
    void setSize(int newWidth, int newHeight);
    void setStyle(DWORD newStyle, DWORD newExStyle);
    void setStyleBits(DWORD bits, bool on);
    void applyPosition();
    void applyStyle();

    // The native window's whole text, NUL-terminated (empty, never null, without a window).
    std::unique_ptr<char[]> getText() const;
    // SetWindowTextA: false when the window refused the text.
    bool setText(const char* text) { return SetWindowTextA(handle, text) != FALSE; }
    // GetWindowTextLengthA: the length of the text, 0 for none.
    int textLength() const { return GetWindowTextLengthA(handle); }
    // EnableWindow: true when the window was disabled before.
    bool enable(bool enabled) { return EnableWindow(handle, enabled ? TRUE : FALSE) != FALSE; }
    // SetFocus: the window that had the keyboard focus before, or null.
    HWND focus() { return SetFocus(handle); }
    // RedrawWindow, invalidating and erasing the whole window: false on failure.
    bool redraw() { return RedrawWindow(handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE) != FALSE; }
    // Centres the window on its parent, or on the desktop when it has none.
    void centreOnParent();

    WindowHandler* handlers = nullptr;
    WindowBase* parent = nullptr;
    HWND handle = nullptr;
    DWORD style = WS_OVERLAPPEDWINDOW;
    DWORD exStyle = 0;
    int x = unchosenPlacement;
    int y = unchosenPlacement;
    int width = unchosenPlacement;
    int height = unchosenPlacement;
    // Non-zero: the window covers the screen as a topmost tool window.
    int fullScreen = 0;

protected:
    // Offers a message to the chain, newest first; true when a handler claimed it.
    bool offerToHandlers(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Reads the normal-position rectangle of the bound window into x, y, width, height.
    void readPlacement();
};
