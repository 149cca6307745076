#include "app/screen_scale.h"

#include "util/holders/win32_holders.h"

namespace {

int systemDpi()
{
    WindowDc screen(nullptr);
    int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : designDpi;
}

} // namespace

int dpiOfWindow(HWND window)
{
    using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
    static auto getDpiForWindow = reinterpret_cast<GetDpiForWindowCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    UINT dpi = window && getDpiForWindow ? getDpiForWindow(window) : 0;
    return dpi > 0 ? static_cast<int>(dpi) : systemDpi();
}

int scaleToDpi(int designPixels, int dpi)
{
    return MulDiv(designPixels, dpi, designDpi);
}

HFONT createStatusFont(int dpi)
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    // The System font is a bitmap font that cannot grow with the DPI; the message font can,
    // and in bold it keeps the System font's look while the error texts still fit 200 pixels.
    // The metrics come at the system DPI.
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, systemDpi());
    metrics.lfMessageFont.lfWeight = FW_BOLD;
    return CreateFontIndirectA(&metrics.lfMessageFont);
}

int textWidth(HFONT font, const char* text)
{
    WindowDc screen(nullptr);
    if (!screen.get())
        return 0;
    SelectedObject selected(screen.get(), font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    SIZE extent = {};
    GetTextExtentPoint32A(screen.get(), text, lstrlenA(text), &extent);
    return extent.cx;
}

void keepOnVisibleMonitor(int& left, int& top, int width, int height)
{
    RECT frame = {left, top, left + width, top + height};
    if (MonitorFromRect(&frame, MONITOR_DEFAULTTONULL))
        return;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromRect(&frame, MONITOR_DEFAULTTONEAREST), &monitor))
        return;
    const RECT& work = monitor.rcWork;
    left = left + width > work.right ? work.right - width : left;
    left = left < work.left ? work.left : left;
    top = top + height > work.bottom ? work.bottom - height : top;
    top = top < work.top ? work.top : top;
}
