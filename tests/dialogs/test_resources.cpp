// The tray menu, the icons, the manifest and the version block as this program
// carries them (it links the program's resources).
#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

struct MenuEntry {
    UINT id; // 0 for a separator
    const char* text;
};

const MenuEntry trayMenu[] = {
    {ID_CHECK_NOW, "Check Now"},
    {ID_MARK_AS_READ, "Mark As Read"},
    {0, ""},
    {ID_SHOW_FLOATING_WINDOW, "Show Floating Window"},
    {ID_CONFIGURE, "Configure"},
    {ID_START_WITH_WINDOWS, "Start with Windows"},
    {ID_DO_NOT_DISTURB, "Do not disturb for 1 hour"},
    {0, ""},
    {ID_ABOUT, "About"},
    {ID_EXIT, "Exit"},
};
const int trayMenuEntries = sizeof trayMenu / sizeof trayMenu[0];

const int menuTextBound = 64;

HICON loadIcon(int id, int size)
{
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0));
}

// Shows where an icon is transparent: no icon pixel has this colour.
const COLORREF background = RGB(255, 0, 255);
const COLORREF white = RGB(255, 255, 255);
const COLORREF black = RGB(0, 0, 0);
const COLORREF pureGreen = RGB(0, 255, 0);

// An icon drawn at its own size into a memory bitmap filled with the background colour.
class DrawnIcon {
public:
    DrawnIcon(HICON icon, int size)
    {
        HDC screen = GetDC(nullptr);
        memory = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, size, size);
        ReleaseDC(nullptr, screen);
        previous = SelectObject(memory, bitmap);
        HBRUSH brush = CreateSolidBrush(background);
        RECT all = {0, 0, size, size};
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    }
    ~DrawnIcon()
    {
        SelectObject(memory, previous);
        DeleteObject(bitmap);
        DeleteDC(memory);
    }
    DrawnIcon(const DrawnIcon&) = delete;
    DrawnIcon& operator=(const DrawnIcon&) = delete;

    COLORREF pixel(int x, int y) const { return GetPixel(memory, x, y); }

private:
    HDC memory;
    HBITMAP bitmap;
    HGDIOBJ previous;
};

// Points of each image and the colour both icons for a light taskbar show there (those for a
// dark taskbar swap black and white); the flap is probed apart.
struct Probe {
    int x, y;
    COLORREF colour;
    const char* where;
};

struct ImageLayout {
    int size;
    int flapX, flapY; // inside the flap, just below the upper edge
    Probe common[8];
};

const ImageLayout imageLayouts[] = {
    {16,
     8,
     4,
     {{8, 10, white, "body below the flap"},
      {0, 7, black, "left outline"},
      {15, 7, black, "right outline"},
      {0, 2, background, "upper left corner, cut off"},
      {1, 2, black, "upper outline beside the cut corner"},
      {15, 12, background, "lower right corner, cut off"},
      {8, 1, background, "above the envelope (rows 2 to 12)"},
      {8, 13, background, "below the envelope"}}},
    {32,
     16,
     8,
     {{16, 22, white, "body below the flap"},
      {1, 15, black, "left outline, two pixels wide"},
      {30, 15, black, "right outline, two pixels wide"},
      {0, 4, background, "upper left corner, cut off"},
      {1, 4, black, "upper outline beside the cut corner"},
      {31, 26, background, "lower right corner, cut off"},
      {16, 3, background, "above the envelope (rows 4 to 26)"},
      {16, 27, background, "below the envelope"}}},
};

std::string colourText(COLORREF colour)
{
    char text[32];
    snprintf(text, sizeof text, "rgb(%d, %d, %d)", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    return text;
}

} // namespace

TEST(TrayMenu, PopupHoldsEveryCommandInOrderEnabledAndUnchecked)
{
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    ASSERT_NE(nullptr, menu);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(nullptr, popup);
    EXPECT_EQ(1, GetMenuItemCount(menu)) << "one popup only";
    ASSERT_EQ(trayMenuEntries, GetMenuItemCount(popup));
    for (int i = 0; i < trayMenuEntries; ++i) {
        char text[menuTextBound] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_STATE | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(popup, i, TRUE, &info));
        if (trayMenu[i].id == 0) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << "item " << i << " is a separator";
            continue;
        }
        EXPECT_FALSE(info.fType & MFT_SEPARATOR) << trayMenu[i].text;
        EXPECT_EQ(trayMenu[i].id, info.wID) << trayMenu[i].text;
        EXPECT_STREQ(trayMenu[i].text, text);
        EXPECT_EQ(nullptr, info.hSubMenu) << trayMenu[i].text;
        EXPECT_FALSE(info.fState & (MFS_GRAYED | MFS_CHECKED)) << trayMenu[i].text;
    }
    DestroyMenu(menu);
}

// The sizes of 100% to 200% scaling for small and large icons, and the large shell views.
const int iconSizes[] = {16, 20, 24, 32, 40, 48, 64, 256};

#pragma pack(push, 2)
struct IconDirectoryEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(Icons, EachHasEverySizeIn32BitColourWithAlpha)
{
    HMODULE program = GetModuleHandleA(nullptr);
    for (int id : {IDI_NO_MAIL, IDI_NEW_MAIL, IDI_NO_MAIL_DARK_TASKBAR, IDI_NEW_MAIL_DARK_TASKBAR}) {
        HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
        ASSERT_NE(nullptr, found) << id;
        const BYTE* group = static_cast<const BYTE*>(LockResource(LoadResource(program, found)));
        WORD count = *reinterpret_cast<const WORD*>(group + 4);
        const IconDirectoryEntry* entries = reinterpret_cast<const IconDirectoryEntry*>(group + 6);
        std::vector<int> sizes;
        for (WORD i = 0; i < count; ++i) {
            sizes.push_back(entries[i].width ? entries[i].width : 256);
            EXPECT_EQ(32, entries[i].bitCount) << id << " image " << i;
        }
        EXPECT_EQ(std::vector<int>(std::begin(iconSizes), std::end(iconSizes)), sizes) << id;
    }
}

TEST(Icons, BothLoadAtEverySize)
{
    for (int id : {IDI_NO_MAIL, IDI_NEW_MAIL, IDI_NO_MAIL_DARK_TASKBAR, IDI_NEW_MAIL_DARK_TASKBAR})
        for (int size : iconSizes) {
            HICON icon = loadIcon(id, size);
            ASSERT_NE(nullptr, icon) << id << " at " << size;
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP mask = {};
            GetObjectA(info.hbmMask, sizeof mask, &mask);
            EXPECT_EQ(size, mask.bmWidth) << id;
            if (info.hbmColor)
                DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
}

// The two pairs of icons: black on white for a light taskbar, white on black for a dark one.
struct IconPair {
    const char* taskbar;
    int noMail, newMail;
    COLORREF body, lines;
    COLORREF shown(COLORREF drawn) const { return drawn == white ? body : drawn == black ? lines : drawn; }
};
const IconPair iconPairs[] = {{"Light", IDI_NO_MAIL, IDI_NEW_MAIL, white, black},
                              {"Dark", IDI_NO_MAIL_DARK_TASKBAR, IDI_NEW_MAIL_DARK_TASKBAR, black, white}};
void PrintTo(const IconPair& pair, std::ostream* out)
{
    *out << pair.taskbar;
}
class IconsForEachTaskbar : public ::testing::TestWithParam<IconPair> {};
INSTANTIATE_TEST_SUITE_P(Taskbar, IconsForEachTaskbar, ::testing::ValuesIn(iconPairs),
                         [](const ::testing::TestParamInfo<IconPair>& each) { return each.param.taskbar; });

TEST_P(IconsForEachTaskbar, EnvelopeFlapIsTheBodyColourWithoutMailAndPureGreenWithMail)
{
    const IconPair& pair = GetParam();
    for (const ImageLayout& layout : imageLayouts) {
        HICON noMail = loadIcon(pair.noMail, layout.size);
        HICON newMail = loadIcon(pair.newMail, layout.size);
        ASSERT_TRUE(noMail && newMail) << layout.size;
        {
            DrawnIcon drawnNoMail(noMail, layout.size);
            DrawnIcon drawnNewMail(newMail, layout.size);
            EXPECT_EQ(colourText(pair.body), colourText(drawnNoMail.pixel(layout.flapX, layout.flapY)))
                << "flap of the no-mail icon at " << layout.size;
            EXPECT_EQ(colourText(pureGreen), colourText(drawnNewMail.pixel(layout.flapX, layout.flapY)))
                << "flap of the new-mail icon at " << layout.size;
            for (const Probe& probe : layout.common) {
                EXPECT_EQ(colourText(pair.shown(probe.colour)), colourText(drawnNoMail.pixel(probe.x, probe.y)))
                    << "no-mail icon at " << layout.size << ": " << probe.where;
                EXPECT_EQ(colourText(pair.shown(probe.colour)), colourText(drawnNewMail.pixel(probe.x, probe.y)))
                    << "new-mail icon at " << layout.size << ": " << probe.where;
            }
        }
        DestroyIcon(noMail);
        DestroyIcon(newMail);
    }
}

TEST_P(IconsForEachTaskbar, NewMailIconDiffersOnlyInTheFlapAtEverySize)
{
    const IconPair& pair = GetParam();
    for (int size : iconSizes) {
        ImageLayout layout = {};
        layout.size = size;
        HICON noMail = loadIcon(pair.noMail, layout.size);
        HICON newMail = loadIcon(pair.newMail, layout.size);
        ASSERT_TRUE(noMail && newMail) << layout.size;
        int greenPixels = 0, otherDifferences = 0;
        {
            DrawnIcon drawnNoMail(noMail, layout.size);
            DrawnIcon drawnNewMail(newMail, layout.size);
            for (int y = 0; y < layout.size; ++y)
                for (int x = 0; x < layout.size; ++x) {
                    COLORREF before = drawnNoMail.pixel(x, y);
                    COLORREF after = drawnNewMail.pixel(x, y);
                    if (before == after)
                        continue;
                    if (before == pair.body && after == pureGreen)
                        ++greenPixels;
                    else
                        ++otherDifferences;
                }
        }
        // The flap is a triangle over roughly a quarter of the envelope.
        EXPECT_GT(greenPixels, layout.size * layout.size / 10) << layout.size;
        EXPECT_EQ(0, otherDifferences) << layout.size;
        DestroyIcon(noMail);
        DestroyIcon(newMail);
    }
}

TEST(VersionBlock, NamesThePellwickProductVersionAndFileVersion1_0_1_0)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &unused);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, &block[0]));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\", &value, &length));
    const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwProductVersionLS);

    ASSERT_TRUE(VerQueryValueA(&block[0], "\\StringFileInfo\\040904b0\\ProductName", &value, &length));
    EXPECT_STREQ("Pellwick", static_cast<const char*>(value));
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\StringFileInfo\\040904b0\\ProductVersion", &value, &length));
    EXPECT_STREQ("1.0.1.0", static_cast<const char*>(value));
}

TEST(Manifest, AsksForCommonControls6AndPerMonitorDpiAwareness)
{
    // Resource 1 of type RT_MANIFEST is the one the loader applies to the process.
    HMODULE program = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(IDR_MANIFEST), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, found);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(program, found)));
    ASSERT_NE(nullptr, bytes);
    std::string manifest(bytes, SizeofResource(program, found));
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" "
                                               "version=\"6.0.0.0\""));
    // Windows 10 reads the second line; older ones fall back to the first.
    EXPECT_NE(std::string::npos, manifest.find(">true/pm</dpiAware>"));
    EXPECT_NE(std::string::npos, manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"));
    EXPECT_NE(std::string::npos, manifest.find("name=\"Pellwick"));
    EXPECT_TRUE(IsProcessDPIAware());
}
