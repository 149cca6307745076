#pragma once

#include <windows.h>

// Owners of the Win32 handles the program holds, one small holder a kind, each releasing
// its handle on destruction.

// Owns one handle of a kind and frees it with `release` on destruction and when it is
// replaced. A null handle holds nothing.
template <typename Handle, void (*release)(Handle)> class OwnedHandleOf {
public:
    OwnedHandleOf() = default;
    explicit OwnedHandleOf(Handle handle) : handle(handle) {}
    ~OwnedHandleOf() { reset(nullptr); }
    OwnedHandleOf(const OwnedHandleOf&) = delete;
    OwnedHandleOf& operator=(const OwnedHandleOf&) = delete;

    void reset(Handle replacement)
    {
        if (handle)
            release(handle);
        handle = replacement;
    }
    Handle get() const { return handle; }

private:
    Handle handle = nullptr;
};

inline void destroyIcon(HICON icon)
{
    DestroyIcon(icon);
}
inline void destroyMenu(HMENU menu)
{
    DestroyMenu(menu);
}
// INVALID_HANDLE_VALUE, what a failed CreateFile gives, holds nothing either.
inline void closeKernelHandle(HANDLE handle)
{
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

inline void deleteFont(HFONT font)
{
    DeleteObject(font);
}
inline void closeRegistryKey(HKEY key)
{
    RegCloseKey(key);
}

using OwnedIcon = OwnedHandleOf<HICON, destroyIcon>;
using OwnedFont = OwnedHandleOf<HFONT, deleteFont>;
// An open registry key.
using OwnedRegistryKey = OwnedHandleOf<HKEY, closeRegistryKey>;
using OwnedMenu = OwnedHandleOf<HMENU, destroyMenu>;
// A kernel object handle (mutex, process, thread, file).
using OwnedHandle = OwnedHandleOf<HANDLE, closeKernelHandle>;

inline void freeLocalMemory(HLOCAL memory)
{
    LocalFree(memory);
}
// Memory the system allocated for the caller with LocalAlloc (a security descriptor, a SID).
using OwnedLocalMemory = OwnedHandleOf<HLOCAL, freeLocalMemory>;

// A device context from GetDC, released on destruction. A null window gives the screen's.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window(window), context(GetDC(window)) {}
    ~WindowDc()
    {
        if (context)
            ReleaseDC(window, context);
    }
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
    ~SolidBrush()
    {
        if (brush)
            DeleteObject(brush);
    }
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
    ~SelectedObject()
    {
        if (previous)
            SelectObject(context, previous);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC context;
    HGDIOBJ previous;
};
