#pragma once

#include <windows.h>

// Owners of the Win32 handles the application holds; each releases its handle on
// destruction and when it is replaced. Brushes and device contexts: ui/gdi_holders.h.

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

// An open registry key.
class OwnedRegistryKey {
public:
    OwnedRegistryKey() = default;
    ~OwnedRegistryKey() { if (key) RegCloseKey(key); }
    OwnedRegistryKey(const OwnedRegistryKey&) = delete;
    OwnedRegistryKey& operator=(const OwnedRegistryKey&) = delete;

    // For RegOpenKeyExA and RegCreateKeyExA to fill; only while nothing is held.
    HKEY* receive() { return &key; }
    HKEY get() const { return key; }

private:
    HKEY key = nullptr;
};
