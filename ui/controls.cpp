#include "ui/controls.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "util/decimal_text.h"
#include "util/holders/win32_holders.h"

namespace {

const int controlWidth = 100;
const int controlHeight = 25;
const int numberTextSize = 32;

} // namespace

ButtonControl::ButtonControl()
{
    width = controlWidth;
    height = controlHeight;
}

EditControl::EditControl()
{
    width = controlWidth;
    height = controlHeight;
    setStyleBits(WS_BORDER, true);
}

void EditControl::onCommandNotify(int code)
{
    // A range that starts at 0 cannot be expressed: either bound 0 switches the check off.
    if (code != EN_CHANGE || minValue == 0 || maxValue == 0)
        return;
    int value = parseDecimal(getText().get());
    // Setting the text raises EN_CHANGE again, which then finds the value in range.
    if (value < minValue)
        setNumberText(minValue);
    else if (value > maxValue)
        setNumberText(maxValue);
}

bool EditControl::setNumberText(int value)
{
    char text[numberTextSize];
    snprintf(text, sizeof text, "%d", value);
    return setText(text);
}

StaticControl::StaticControl()
{
    width = controlWidth;
    height = controlHeight;
    setStyleBits(SS_CENTERIMAGE, true);
    setStyleBits(WS_BORDER, false);
}

ColourSwatch::ColourSwatch(COLORREF colour) : colour(colour)
{
    width = controlWidth;
    height = controlHeight;
}

void ColourSwatch::onDrawItem(DRAWITEMSTRUCT* record)
{
    SolidBrush brush(colour);
    SelectedObject selected(record->hDC, brush.get());
    const RECT& item = record->rcItem;
    Rectangle(record->hDC, item.left, item.top, item.right, item.bottom);
}

void LinkButton::onAttached()
{
    // The template's plain push button becomes exactly an owner-drawn one.
    setStyleBits(BS_OWNERDRAW, true);
}

void LinkButton::onCommandNotify(int code)
{
    if (code != BN_CLICKED)
        return;
    ShellExecuteA(nullptr, "open", getText().get(), nullptr, nullptr, SW_SHOW);
}

void LinkButton::onDrawItem(DRAWITEMSTRUCT* record)
{
    HDC context = record->hDC;
    SetBkMode(context, TRANSPARENT);
    SetTextColor(context, linkColour);
    std::unique_ptr<char[]> text = getText();
    ExtTextOutA(context, GetSystemMetrics(SM_CXEDGE), GetSystemMetrics(SM_CYEDGE), ETO_CLIPPED, &record->rcItem,
                text.get(), static_cast<UINT>(strlen(text.get())), nullptr);
    if (GetFocus() == handle)
        DrawFocusRect(context, &record->rcItem);
}
