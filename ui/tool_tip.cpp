#include "ui/tool_tip.h"

#include <commctrl.h>

#include <cstddef>

namespace {

const char toolTipClass[] = "tooltips_class32";
const DWORD toolTipStyle = WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP;
// The record up to and including lParam: 44 bytes in 32-bit builds, accepted by every
// version of the common controls.
const UINT toolInfoSize = offsetof(TOOLINFOA, lParam) + sizeof(LPARAM);
const UINT wideToolInfoSize = offsetof(TOOLINFOW, lParam) + sizeof(LPARAM);

} // namespace

ToolTip::ToolTip(int maxTipWidth) : maxTipWidth(maxTipWidth) {}

int ToolTip::attach(WindowBase* window)
{
    owner = window;
    setStyle(toolTipStyle, WS_EX_TOPMOST);
    if (!create(toolTipClass, "", window, false))
        return 0;
    if (maxTipWidth)
        SendMessageA(handle, TTM_SETMAXTIPWIDTH, 0, maxTipWidth);
    SendMessageA(handle, TTM_ACTIVATE, TRUE, 0);
    return 1;
}

void ToolTip::addTool(Window* control, const RECT* rectangle, const char* text)
{
    TOOLINFOA tool = {};
    tool.cbSize = toolInfoSize;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = owner ? owner->handle : nullptr;
    tool.hinst = moduleInstance;
    tool.lpszText = text ? const_cast<char*>(text) : LPSTR_TEXTCALLBACKA;
    if (control) {
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.uId = reinterpret_cast<UINT_PTR>(control->handle);
        // A control's tool is added again when the dialog shows another account: one tip each.
        SendMessageA(handle, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    } else if (rectangle) {
        tool.rect = *rectangle;
    } else {
        GetClientRect(tool.hwnd, &tool.rect);
    }
    SendMessageA(handle, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void ToolTip::setOwnerToolText(const char* text)
{
    TOOLINFOA tool = {};
    tool.cbSize = toolInfoSize;
    tool.hwnd = owner ? owner->handle : nullptr;
    tool.hinst = moduleInstance;
    tool.lpszText = const_cast<char*>(text);
    SendMessageA(handle, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void ToolTip::setOwnerToolText(const wchar_t* text)
{
    TOOLINFOW tool = {};
    tool.cbSize = wideToolInfoSize;
    tool.hwnd = owner ? owner->handle : nullptr;
    tool.hinst = moduleInstance;
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(handle, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void ToolTip::onNotifyReflected(int code, NMHDR* header)
{
    if (code != static_cast<int>(TTN_GETDISPINFOA))
        return;
    NMTTDISPINFOA* request = reinterpret_cast<NMTTDISPINFOA*>(header);
    POINT point = {};
    GetCursorPos(&point);
    INT_PTR answer = 0;
    if (owner) {
        RECT ownerRectangle = {};
        GetWindowRect(owner->handle, &ownerRectangle);
        point.x -= ownerRectangle.left;
        point.y -= ownerRectangle.top;
        answer = owner->query(queryToolTipText, &point, 0);
    }
    request->lpszText = reinterpret_cast<char*>(answer);
}
