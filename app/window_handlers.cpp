#include "app/window_handlers.h"

#include <windowsx.h>

#include <algorithm>
#include <cstddef>
#include <commctrl.h>
#include <shlwapi.h>

#include "util/copy_bounded.h"
#include "util/platform/wide_text.h"

namespace {

enum class IconSize { Small, Large };

// The icon at the size the shell asks for at the current scaling. LoadIconMetric (common
// controls 6) picks the image of that size or scales a larger one down; without it, the
// metric for the current DPI picks the image.
HICON loadIconResource(int resourceId, IconSize size)
{
    using LoadIconMetricCall = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, HICON*);
    static HMODULE controls = LoadLibraryA("comctl32.dll");
    static auto loadIconMetric =
        controls
            ? reinterpret_cast<LoadIconMetricCall>(reinterpret_cast<void*>(GetProcAddress(controls, "LoadIconMetric")))
            : nullptr;
    HICON icon = nullptr;
    if (loadIconMetric && SUCCEEDED(loadIconMetric(moduleInstance, MAKEINTRESOURCEW(resourceId),
                                                   size == IconSize::Small ? LIM_SMALL : LIM_LARGE, &icon)))
        return icon;
    int metricX = size == IconSize::Small ? SM_CXSMICON : SM_CXICON;
    int metricY = size == IconSize::Small ? SM_CYSMICON : SM_CYICON;
    return static_cast<HICON>(LoadImageA(moduleInstance, MAKEINTRESOURCEA(resourceId), IMAGE_ICON,
                                         GetSystemMetrics(metricX), GetSystemMetrics(metricY), LR_DEFAULTCOLOR));
}

// The largest notification record the running shell understands: the full one from shell32
// 6.0.6 (Vista), the one with a GUID from 6.0 (XP), else the first one with balloons.
DWORD supportedRecordSize()
{
    DLLVERSIONINFO version = {};
    version.cbSize = sizeof version;
    HMODULE shell = GetModuleHandleA("shell32.dll");
    auto getVersion =
        shell ? reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(GetProcAddress(shell, "DllGetVersion")))
              : nullptr;
    if (!getVersion || FAILED(getVersion(&version)))
        return NOTIFYICONDATAA_V2_SIZE;
    ULONGLONG found = MAKEDLLVERULL(version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber, 0);
    if (found >= MAKEDLLVERULL(6, 0, 6000, 0))
        return sizeof(NOTIFYICONDATAA);
    if (found >= MAKEDLLVERULL(6, 0, 0, 0))
        return NOTIFYICONDATAA_V3_SIZE;
    return NOTIFYICONDATAA_V2_SIZE;
}

// The UTF-8 `text` in `out`, cut to capacity - 1 units, never inside a surrogate pair.
void copyUtf8AsWide(const char* text, wchar_t* out, int capacity)
{
    std::wstring wide = wideFromUtf8(text);
    size_t length = std::min(wide.size(), static_cast<size_t>(capacity - 1));
    if (length < wide.size() && length > 0 && IS_HIGH_SURROGATE(wide[length - 1]))
        --length;
    std::copy(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(length), out);
    out[length] = L'\0';
}

// The wide record of the size that matches the narrow one's.
DWORD wideRecordSize(DWORD narrowSize)
{
    if (narrowSize == sizeof(NOTIFYICONDATAA))
        return sizeof(NOTIFYICONDATAW);
    return narrowSize == NOTIFYICONDATAA_V3_SIZE ? NOTIFYICONDATAW_V3_SIZE : NOTIFYICONDATAW_V2_SIZE;
}

} // namespace

int DragHandler::attach(WindowBase* window)
{
    owner = window;
    return 1;
}

int DragHandler::onMessage(HWND hwnd, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_LBUTTONDOWN:
        grabX = GET_X_LPARAM(lParam);
        grabY = GET_Y_LPARAM(lParam);
        SetCapture(hwnd);
        return 1;
    case WM_MOUSEMOVE:
        if (GetCapture() != hwnd)
            return 0;
        followCursor(hwnd, lParam);
        return 1;
    case WM_LBUTTONUP:
        ReleaseCapture();
        return 1;
    default:
        return 0;
    }
}

void DragHandler::followCursor(HWND hwnd, LPARAM lParam)
{
    POINT cursor = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(hwnd, &cursor);
    if (owner)
        owner->setPosition(cursor.x - grabX, cursor.y - grabY);
}

TrayIconHandler::TrayIconHandler(int iconId, UINT callbackMessage)
    : iconId(iconId), imageId(iconId), callbackMessage(callbackMessage)
{
}

int TrayIconHandler::attach(WindowBase* window)
{
    record = {};
    record.cbSize = supportedRecordSize();
    record.uID = static_cast<UINT>(iconId);
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    image.reset(loadIconResource(imageId, IconSize::Small));
    record.hIcon = image.get();
    record.uCallbackMessage = callbackMessage;
    record.hWnd = window ? window->handle : nullptr;
    send(NIM_ADD);
    return 1;
}

int TrayIconHandler::onMessage(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_DESTROY)
        remove();
    return 0;
}

void TrayIconHandler::send(DWORD action)
{
    Shell_NotifyIconA(action, &record);
}

void TrayIconHandler::remove()
{
    send(NIM_DELETE);
    image.reset(nullptr);
    record.hIcon = nullptr;
}

void TrayIconHandler::showImage(int resourceId)
{
    imageId = resourceId;
    image.reset(loadIconResource(resourceId, IconSize::Small));
    record.hIcon = image.get();
    send(NIM_MODIFY);
}

void TrayIconHandler::setTip(const char* text)
{
    copyBounded(record.szTip, tipSize, text);
    send(NIM_MODIFY);
}

// The balloon alone, through the wide-character call: a sender's name may be in any script.
// The narrow record keeps what was shown (its texts cut in bytes) but never carries NIF_INFO,
// so that no later modify shows the balloon again.
void TrayIconHandler::showBalloon(const char* title, const char* text)
{
    copyBounded(record.szInfoTitle, sizeof record.szInfoTitle, title);
    copyBounded(record.szInfo, sizeof record.szInfo, text);
    record.uTimeout = balloonTimeoutMs;
    // Windows itself holds it back during quiet hours after a first log-on.
    record.dwInfoFlags = NIIF_INFO | NIIF_RESPECT_QUIET_TIME;
    NOTIFYICONDATAW balloon = {};
    balloon.cbSize = wideRecordSize(record.cbSize);
    balloon.hWnd = record.hWnd;
    balloon.uID = record.uID;
    balloon.uFlags = NIF_INFO;
    copyUtf8AsWide(title, balloon.szInfoTitle, ARRAYSIZE(balloon.szInfoTitle));
    copyUtf8AsWide(text, balloon.szInfo, ARRAYSIZE(balloon.szInfo));
    balloon.uTimeout = record.uTimeout;
    balloon.dwInfoFlags = record.dwInfoFlags;
    ++balloonsSent;
    Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

void TrayIconHandler::addAgain()
{
    if (record.hWnd)
        send(NIM_ADD);
}

int WindowIconHandler::attach(WindowBase* window)
{
    owner = window;
    bigIcon.reset(loadIconResource(iconId, IconSize::Large));
    if (bigIcon.get())
        SendMessageA(window->handle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
    smallIcon.reset(loadIconResource(iconId, IconSize::Small));
    if (smallIcon.get())
        SendMessageA(window->handle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
    return 1;
}

MenuHandler::MenuHandler(int menuId) : menu(LoadMenuA(moduleInstance, MAKEINTRESOURCEA(menuId))) {}

int MenuHandler::attach(WindowBase* window)
{
    owner = window;
    if (menu.get())
        SetMenu(window->handle, menu.get());
    else
        reportMissingMenu();
    return 1;
}

void MenuHandler::reportMissingMenu() const
{
    MessageBoxA(owner ? owner->handle : nullptr, "Menu failed to load", "Runtime Error", MB_OK | MB_ICONERROR);
}

int PopupMenuHandler::attach(WindowBase* window)
{
    owner = window;
    if (!menu.get())
        reportMissingMenu();
    return 1;
}

int PopupMenuHandler::onMessage(HWND, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_CONTEXTMENU)
        return 0;
    int screenX = GET_X_LPARAM(lParam);
    int screenY = GET_Y_LPARAM(lParam);
    // (-1, -1): from the keyboard, whether the shell sends -1 or its low 32 bits.
    if (screenX == -1 && screenY == -1)
        showBelowOwner();
    else
        showAt(screenX, screenY);
    return 1;
}

void PopupMenuHandler::showBelowOwner()
{
    RECT frame = {};
    if (owner && GetWindowRect(owner->handle, &frame))
        showAt(frame.left, frame.bottom);
}

void PopupMenuHandler::showAt(int screenX, int screenY)
{
    HMENU popup = menu.get() ? GetSubMenu(menu.get(), 0) : nullptr;
    if (!popup || !owner)
        return;
    SetForegroundWindow(owner->handle);
    TrackPopupMenu(popup, 0, screenX, screenY, 0, owner->handle, nullptr);
    // Lets the menu close when the user clicks elsewhere the next time it opens.
    PostMessageA(owner->handle, WM_NULL, 0, 0);
}
