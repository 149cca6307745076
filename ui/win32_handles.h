#pragma once

#include <windows.h>

// Owners of the Win32 handles the program holds, one small holder a kind; each releases its
// handle on destruction (and, where it has reset, when the handle is replaced).

class OwnedIcon {
public:
    OwnedIcon() = default;
    explicit OwnedIcon(HICON icon) : icon(icon) {}
    ~OwnedIcon() { reset(nullptr); }
    OwnedIcon(const OwnedIcon&) = delete;
    OwnedIcon& operator=(const OwnedIcon&) = delete;

    void reset(HICON replacement)
    {
        if (icon)
            DestroyIcon(icon);
        icon = replacement;
    }
    HICON get() const { return icon; }

private:
    HICON icon = nullptr;
};

class OwnedMenu {
public:
    OwnedMenu() = default;
    explicit OwnedMenu(HMENU menu) : menu(menu) {}
    ~OwnedMenu() { if (menu) DestroyMenu(menu); }
    OwnedMenu(const OwnedMenu&) = delete;
    OwnedMenu& operator=(const OwnedMenu&) = delete;

    HMENU get() const { return menu; }

private:
    HMENU menu = nullptr;
};

// A kernel object handle (mutex, process, thread); null and INVALID_HANDLE_VALUE hold nothing.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : handle(handle) {}
    ~OwnedHandle() { reset(nullptr); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    void reset(HANDLE replacement)
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = replacement;
    }
    HANDLE get() const { return handle; }

private:
    HANDLE handle = nullptr;
};

// A device context from GetDC, released on destruction. A null window gives the screen's.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window(window), context(GetDC(window)) {}
    ~WindowDc() { if (context) ReleaseDC(window, context); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return context; }

private:
    HWND window;
    HDC context;
};

// An owned solid brush.
class SolidBrush {
public:
    explicit SolidBrush(COLORREF colour) : brush(CreateSolidBrush(colour)) {}
    ~SolidBrush() { if (brush) DeleteObject(brush); }
    SolidBrush(const SolidBrush&) = delete;
    SolidBrush& operator=(const SolidBrush&) = delete;
    HBRUSH get() const { return brush; }

private:
    HBRUSH brush;
};

// Selects a GDI object into a context and puts the previous one back on destruction.
class SelectedObject {
public:
    SelectedObject(HDC context, HGDIOBJ object) : context(context), previous(SelectObject(context, object)) {}
    ~SelectedObject() { if (previous) SelectObject(context, previous); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC context;
    HGDIOBJ previous;
};
