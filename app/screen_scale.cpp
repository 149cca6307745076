#include "app/screen_scale.h"

#include "ui/win32_handles.h"

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
    // The System font is a bitmap font that cannot grow with the DPI, so its look (bold, its
    // height at the system DPI) is given to the message font's face, which can.
    LOGFONTA font = metrics.lfMessageFont;
    LOGFONTA system = {};
    int height = GetObjectA(GetStockObject(SYSTEM_FONT), sizeof system, &system) && system.lfHeight != 0
                     ? system.lfHeight
                     : metrics.lfMessageFont.lfHeight;
    font.lfHeight = MulDiv(height, dpi, systemDpi());
    font.lfWidth = 0;
    font.lfWeight = FW_BOLD;
    return CreateFontIndirectA(&font);
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
