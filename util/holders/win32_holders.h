#pragma once

#include <windows.h>
#include <winhttp.h>

#include <type_traits>

#include "util/holders/holder.h"

// Owners of the Win32 handles the program holds, one holder a kind.

// A Win32 handle points to a structure of its kind; the holder owns what it points to.
template <typename Handle, auto release> using OwnedHandleOf = Owned<std::remove_pointer_t<Handle>, release>;

// INVALID_HANDLE_VALUE, what a failed CreateFile gives, holds nothing either.
inline void closeKernelHandle(HANDLE handle)
{
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

using OwnedIcon = OwnedHandleOf<HICON, DestroyIcon>;
using OwnedFont = OwnedHandleOf<HFONT, DeleteObject>;
// An open registry key.
using OwnedRegistryKey = OwnedHandleOf<HKEY, RegCloseKey>;
using OwnedMenu = OwnedHandleOf<HMENU, DestroyMenu>;
// A kernel object handle (mutex, process, thread, file).
using OwnedHandle = OwnedHandleOf<HANDLE, closeKernelHandle>;
// A file search from FindFirstFile; INVALID_HANDLE_VALUE, a search that found nothing, holds none.
inline void closeFileSearch(HANDLE search)
{
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}
using OwnedFileSearch = OwnedHandleOf<HANDLE, closeFileSearch>;
// A WinHTTP session, connection or request.
using OwnedInternetHandle = OwnedHandleOf<HINTERNET, WinHttpCloseHandle>;

// Memory the data-protection calls (CryptProtectData, CryptUnprotectData) hand back in `blob`,
// wiped before it is freed, since it may hold a password in clear.
class OwnedDataBlob {
public:
    OwnedDataBlob() = default;
    ~OwnedDataBlob()
    {
        if (blob.pbData) {
            SecureZeroMemory(blob.pbData, blob.cbData);
            LocalFree(blob.pbData);
        }
    }
    OwnedDataBlob(const OwnedDataBlob&) = delete;
    OwnedDataBlob& operator=(const OwnedDataBlob&) = delete;

    DATA_BLOB blob = {};
};

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
    HBRUSH get() const { return brush.get(); }

private:
    OwnedHandleOf<HBRUSH, DeleteObject> brush;
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
