#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "res/resource.h"

namespace {

struct MenuEntry {
    UINT id;  // 0 for a separator
    const char* text;
};

const MenuEntry trayMenu[] = {
    {ID_CHECK_NOW, "Check Now"},
    {ID_MARK_AS_READ, "Mark As Read"},
    {0, ""},
    {ID_SHOW_FLOATING_WINDOW, "Show Floating Window"},
    {ID_CONFIGURE, "Configure"},
    {0, ""},
    {ID_ABOUT, "About"},
    {ID_EXIT, "Exit"},
};

HICON loadIcon(int id, int size)
{
    return static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0));
}

// Draws the icon at its own size on a magenta background and returns the pixel at (x, y).
COLORREF iconPixel(HICON icon, int size, int x, int y)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    RECT all = {0, 0, size, size};
    FillRect(memory, &all, magenta);
    DrawIconEx(memory, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    COLORREF pixel = GetPixel(memory, x, y);
    SelectObject(memory, old);
    DeleteObject(magenta);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixel;
}

INT_PTR CALLBACK quietDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

class Template {
public:
    explicit Template(int id)
        : dialog(CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr,
                                    quietDialogProc, 0))
    {
    }
    ~Template()
    {
        if (dialog)
            DestroyWindow(dialog);
    }
    HWND item(int id) const { return GetDlgItem(dialog, id); }
    std::string className(int id) const
    {
        char name[64] = {};
        GetClassNameA(item(id), name, sizeof name);
        return name;
    }
    std::string text(int id) const
    {
        char text[256] = {};
        GetWindowTextA(item(id), text, sizeof text);
        return text;
    }
    LONG style(int id) const { return GetWindowLongA(item(id), GWL_STYLE); }

    HWND dialog;
};

}  // namespace

TEST(TrayMenu, HoldsEveryCommandInOrder)
{
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    ASSERT_NE(nullptr, menu);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(nullptr, popup);
    ASSERT_EQ(static_cast<int>(sizeof trayMenu / sizeof trayMenu[0]), GetMenuItemCount(popup));
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        char text[64] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_STATE;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(popup, i, TRUE, &info));
        if (trayMenu[i].id == 0) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << "item " << i;
            continue;
        }
        EXPECT_EQ(trayMenu[i].id, info.wID) << "item " << i;
        EXPECT_STREQ(trayMenu[i].text, text);
        EXPECT_FALSE(info.fState & (MFS_GRAYED | MFS_CHECKED)) << trayMenu[i].text;
    }
    DestroyMenu(menu);
}

TEST(Icons, BothLoadAtSmallAndLargeSize)
{
    for (int id : {IDI_NO_MAIL, IDI_NEW_MAIL})
        for (int size : {16, 32}) {
            HICON icon = loadIcon(id, size);
            EXPECT_NE(nullptr, icon) << id << " at " << size;
            if (icon)
                DestroyIcon(icon);
        }
}

TEST(Icons, FlapIsWhiteWithoutMailAndGreenWithMail)
{
    for (int size : {16, 32}) {
        HICON noMail = loadIcon(IDI_NO_MAIL, size);
        HICON newMail = loadIcon(IDI_NEW_MAIL, size);
        ASSERT_TRUE(noMail && newMail);
        // Just below the upper edge in the middle lies inside the flap.
        int x = size / 2, y = size == 16 ? 4 : 8;
        EXPECT_EQ(RGB(255, 255, 255), iconPixel(noMail, size, x, y)) << size;
        EXPECT_EQ(RGB(0, 255, 0), iconPixel(newMail, size, x, y)) << size;
        // Below the envelope the background shows through; the outline is black.
        EXPECT_EQ(RGB(255, 0, 255), iconPixel(noMail, size, x, size - 1)) << size;
        EXPECT_EQ(RGB(255, 0, 255), iconPixel(newMail, size, 0, 0)) << size;
        EXPECT_EQ(RGB(0, 0, 0), iconPixel(noMail, size, 0, size / 2)) << size;
        DestroyIcon(noMail);
        DestroyIcon(newMail);
    }
}

TEST(ConfigureTemplate, HasEveryControlWithItsKindAndText)
{
    Template dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.dialog);
    char caption[64] = {};
    GetWindowTextA(dialog.dialog, caption, sizeof caption);
    EXPECT_STREQ("Pellwick", caption);

    for (int id : {IDC_HOST, IDC_USER_NAME, IDC_PASSWORD, IDC_MAIL_PROGRAM, IDC_INTERVAL,
                   IDC_PORT, IDC_SOUND_FILE})
        EXPECT_EQ("Edit", dialog.className(id)) << id;
    EXPECT_TRUE(dialog.style(IDC_PASSWORD) & ES_PASSWORD);
    EXPECT_TRUE(dialog.style(IDC_PORT) & ES_NUMBER);
    EXPECT_TRUE(dialog.style(IDC_INTERVAL) & ES_NUMBER);
    EXPECT_FALSE(dialog.style(IDC_HOST) & ES_NUMBER);

    EXPECT_EQ("Secure (Use SSL):", dialog.text(IDC_USE_SSL));
    EXPECT_EQ("Play a sound", dialog.text(IDC_PLAY_SOUND));
    EXPECT_EQ("Change Floating Window Colour:", dialog.text(IDC_CHANGE_COLOUR));
    for (int id : {IDC_USE_SSL, IDC_PLAY_SOUND, IDC_CHANGE_COLOUR}) {
        EXPECT_EQ(BS_AUTOCHECKBOX, dialog.style(id) & BS_TYPEMASK) << id;
        EXPECT_TRUE(dialog.style(id) & BS_LEFTTEXT) << id;
    }
    EXPECT_EQ(BS_OWNERDRAW, dialog.style(IDC_COLOUR_SWATCH) & BS_TYPEMASK);
    EXPECT_EQ("Check", dialog.text(IDC_CHECK_HOST));
    EXPECT_FALSE(IsWindowEnabled(dialog.item(IDC_CHECK_HOST)));
    EXPECT_EQ("...", dialog.text(IDC_MAIL_PROGRAM_PICKER));
    EXPECT_EQ("...", dialog.text(IDC_SOUND_FILE_PICKER));
    EXPECT_EQ("ComboBox", dialog.className(IDC_PROVIDER));
    EXPECT_EQ(CBS_DROPDOWNLIST, dialog.style(IDC_PROVIDER) & 0x3);
    EXPECT_TRUE(dialog.style(IDC_PROVIDER) & CBS_SORT);
    EXPECT_EQ("OK", dialog.text(IDOK));
    EXPECT_EQ("Cancel", dialog.text(IDCANCEL));
}

TEST(ConfigureTemplate, TabOrderFollowsTheTemplate)
{
    Template dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.dialog);
    const int tabOrder[] = {IDOK, IDCANCEL, IDC_HOST, IDC_USER_NAME, IDC_PASSWORD,
                            IDC_MAIL_PROGRAM, IDC_MAIL_PROGRAM_PICKER, IDC_INTERVAL,
                            IDC_USE_SSL, IDC_PORT, IDC_SOUND_FILE, IDC_PLAY_SOUND,
                            IDC_SOUND_FILE_PICKER, IDC_CHANGE_COLOUR, IDC_COLOUR_SWATCH,
                            IDC_CHECK_HOST, IDC_PROVIDER};
    std::vector<int> seen;
    for (HWND child = GetWindow(dialog.dialog, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT))
        if (GetWindowLongA(child, GWL_STYLE) & WS_TABSTOP)
            seen.push_back(GetDlgCtrlID(child));
    EXPECT_EQ(std::vector<int>(std::begin(tabOrder), std::end(tabOrder)), seen);
}

TEST(AboutTemplate, ShowsNameVersionPlaceholderAndLink)
{
    Template dialog(IDD_ABOUT);
    ASSERT_NE(nullptr, dialog.dialog);
    char caption[64] = {};
    GetWindowTextA(dialog.dialog, caption, sizeof caption);
    EXPECT_STREQ("About Pellwick", caption);
    EXPECT_EQ("vx.x.x", dialog.text(IDC_VERSION_TEXT));
    EXPECT_TRUE(dialog.style(IDC_VERSION_TEXT) & SS_CENTERIMAGE);
    EXPECT_EQ("Button", dialog.className(IDC_LINK));
    EXPECT_EQ(0u, dialog.text(IDC_LINK).find("https://"));
    EXPECT_EQ(BS_PUSHBUTTON, dialog.style(IDC_LINK) & BS_TYPEMASK);
}
