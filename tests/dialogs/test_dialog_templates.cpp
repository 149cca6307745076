// The configuration and About dialog templates as the program carries them: every control in
// resource order with its kind, text, place and styles, and a layout in which nothing is
// clipped or overlaps.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "res/resource.h"

namespace {

enum class Kind { DefaultButton, PushButton, OwnerDrawnButton, CheckBox, GroupBox, Label, Edit, DropDownList, Unknown };

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::DefaultButton:
        return "default push button";
    case Kind::PushButton:
        return "push button";
    case Kind::OwnerDrawnButton:
        return "owner-drawn button";
    case Kind::CheckBox:
        return "automatic check box, text on the left";
    case Kind::GroupBox:
        return "group box";
    case Kind::Label:
        return "static";
    case Kind::Edit:
        return "edit";
    case Kind::DropDownList:
        return "drop-down list";
    default:
        return "something else";
    }
}

const int noId = 0xFFFF; // statics and group boxes

struct ListedControl {
    int id;
    Kind kind;
    const char* text;
    int x, y, width, height; // dialog units
};

const ListedControl configureControls[] = {
    {IDOK, Kind::DefaultButton, "OK", 76, 359, 50, 14},
    {IDCANCEL, Kind::PushButton, "Cancel", 130, 359, 50, 14},
    {IDC_HOST, Kind::Edit, "", 65, 37, 107, 14},
    {noId, Kind::GroupBox, "Email Server Details:", 7, 7, 173, 147},
    {noId, Kind::Label, "Hostname:", 17, 39, 44, 8},
    {IDC_USER_NAME, Kind::Edit, "", 65, 56, 107, 14},
    {noId, Kind::Label, "User Name:", 17, 58, 44, 8},
    {IDC_PASSWORD, Kind::Edit, "", 65, 75, 75, 14},
    {noId, Kind::Label, "Password:", 17, 77, 44, 8},
    {noId, Kind::GroupBox, "Mail Reader Details:", 7, 322, 173, 33},
    {IDC_MAIL_PROGRAM, Kind::Edit, "", 15, 335, 138, 14},
    {IDC_MAIL_PROGRAM_PICKER, Kind::PushButton, "...", 154, 335, 16, 14},
    {noId, Kind::Label, "Check every", 17, 134, 44, 8},
    {IDC_INTERVAL, Kind::Edit, "", 65, 132, 28, 14},
    {noId, Kind::Label, "minutes.", 98, 134, 34, 8},
    {noId, Kind::Label, "Security:", 17, 96, 44, 8},
    {IDC_SECURITY, Kind::DropDownList, "", 65, 94, 107, 50},
    {noId, Kind::Label, "Port:", 17, 115, 44, 8},
    {IDC_PORT, Kind::Edit, "", 65, 113, 32, 14},
    {noId, Kind::GroupBox, "On New Mail:", 7, 218, 173, 100},
    {noId, Kind::Label, "Sound:", 18, 232, 44, 8},
    {IDC_SOUND, Kind::DropDownList, "", 65, 230, 107, 50},
    {noId, Kind::Label, "Sound file:", 18, 250, 44, 8},
    {IDC_SOUND_FILE, Kind::Edit, "", 65, 248, 88, 14},
    {IDC_SOUND_FILE_PICKER, Kind::PushButton, "...", 154, 248, 16, 14},
    {IDC_REPEAT_SOUND, Kind::CheckBox, "Repeat every", 18, 268, 58, 10},
    {IDC_REPEAT_MINUTES, Kind::Edit, "", 78, 266, 22, 14},
    {noId, Kind::Label, "minutes while unseen", 103, 268, 74, 8},
    {IDC_CHANGE_COLOUR, Kind::CheckBox, "Change Floating Window Colour:", 18, 287, 122, 10},
    {IDC_COLOUR_SWATCH, Kind::OwnerDrawnButton, "...", 144, 284, 26, 14},
    {IDC_SHOW_BALLOON, Kind::CheckBox, "Show a notification", 18, 303, 122, 10},
    {IDC_CHECK_HOST, Kind::PushButton, "Check", 144, 75, 28, 14},
    {noId, Kind::Label, "Provider:", 17, 20, 44, 8},
    {IDC_PROVIDER, Kind::DropDownList, "", 65, 18, 107, 57},
    {noId, Kind::GroupBox, "Sign-in:", 7, 160, 173, 52},
    {noId, Kind::Label, "Sign in with:", 17, 175, 44, 8},
    {IDC_SIGN_IN_METHOD, Kind::DropDownList, "", 65, 173, 74, 50},
    {IDC_SIGN_IN, Kind::PushButton, "Sign in", 142, 172, 30, 14},
    {IDC_SIGN_IN_STATE, Kind::Label, "", 17, 190, 155, 18},
};

const ListedControl aboutControls[] = {
    {IDOK, Kind::DefaultButton, "OK", 125, 14, 50, 14},
    {noId, Kind::Label, "Pellwick", 7, 7, 43, 14},
    {IDC_VERSION_TEXT, Kind::Label, "vx.x.x", 57, 7, 60, 14},
    {IDC_LINK, Kind::PushButton, nullptr, 7, 26, 100, 14}, // the maker's web address
};

template <size_t count> std::vector<ListedControl> table(const ListedControl (&listedControls)[count])
{
    return std::vector<ListedControl>(listedControls, listedControls + count);
}

const int textBound = 256;

std::string windowText(HWND window)
{
    char text[textBound] = {};
    GetWindowTextA(window, text, textBound);
    return text;
}

std::string className(HWND window)
{
    char name[textBound] = {};
    GetClassNameA(window, name, textBound);
    return name;
}

LONG styleOf(HWND window)
{
    return GetWindowLongA(window, GWL_STYLE);
}

Kind kindOf(HWND control)
{
    std::string name = className(control);
    LONG style = styleOf(control);
    if (name == "Static")
        return (style & SS_TYPEMASK) == SS_LEFT ? Kind::Label : Kind::Unknown;
    if (name == "Edit")
        return Kind::Edit;
    if (name == "ComboBox")
        return (style & 3) == CBS_DROPDOWNLIST ? Kind::DropDownList : Kind::Unknown;
    if (name != "Button")
        return Kind::Unknown;
    switch (style & BS_TYPEMASK) {
    case BS_DEFPUSHBUTTON:
        return Kind::DefaultButton;
    case BS_PUSHBUTTON:
        return Kind::PushButton;
    case BS_OWNERDRAW:
        return Kind::OwnerDrawnButton;
    case BS_GROUPBOX:
        return Kind::GroupBox;
    case BS_AUTOCHECKBOX:
        return (style & BS_LEFTTEXT) ? Kind::CheckBox : Kind::Unknown;
    default:
        return Kind::Unknown;
    }
}

bool isTabStop(Kind kind)
{
    return kind != Kind::Label && kind != Kind::GroupBox;
}

INT_PTR CALLBACK quietDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// A dialog created hidden from one of the program's templates, with nothing added.
class TemplateDialog {
public:
    explicit TemplateDialog(int id)
        : window(CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, quietDialogProc, 0))
    {
    }
    ~TemplateDialog()
    {
        if (window)
            DestroyWindow(window);
    }
    TemplateDialog(const TemplateDialog&) = delete;
    TemplateDialog& operator=(const TemplateDialog&) = delete;

    // The controls in creation order, which is the template's order.
    std::vector<HWND> controls() const
    {
        std::vector<HWND> children;
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            children.push_back(child);
        return children;
    }
    HWND item(int id) const { return GetDlgItem(window, id); }
    // The dialog manager converts place and size separately, as here.
    RECT pixels(const ListedControl& listed) const
    {
        RECT units = {listed.x, listed.y, listed.width, listed.height};
        MapDialogRect(window, &units);
        RECT rect = {units.left, units.top, units.left + units.right, units.top + units.bottom};
        return rect;
    }
    RECT placeOf(HWND control) const
    {
        RECT rect;
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    HWND window;
};

std::string rectText(const RECT& rect)
{
    char text[64];
    snprintf(text, sizeof text, "(%ld, %ld)-(%ld, %ld)", rect.left, rect.top, rect.right, rect.bottom);
    return text;
}

std::string describe(const ListedControl& listed)
{
    return std::string(kindName(listed.kind)) + " " + std::to_string(listed.id) + " \"" +
           (listed.text ? listed.text : "") + "\"";
}

void expectControlsAsListed(const TemplateDialog& dialog, const std::vector<ListedControl>& listedControls)
{
    std::vector<HWND> controls = dialog.controls();
    ASSERT_EQ(listedControls.size(), controls.size());
    for (size_t i = 0; i < listedControls.size(); ++i) {
        const ListedControl& listed = listedControls[i];
        HWND control = controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + ": " + describe(listed));
        EXPECT_EQ(listed.id, GetDlgCtrlID(control) & 0xFFFF);
        EXPECT_STREQ(kindName(listed.kind), kindName(kindOf(control)));
        if (listed.text) {
            EXPECT_EQ(listed.text, windowText(control));
        }
        EXPECT_EQ(isTabStop(listed.kind), (styleOf(control) & WS_TABSTOP) != 0);
        RECT expected = dialog.pixels(listed);
        RECT actual = dialog.placeOf(control);
        // A drop-down list's window is its closed field; the template's height is the
        // opened list's.
        if (listed.kind == Kind::DropDownList)
            expected.bottom = actual.bottom;
        EXPECT_EQ(rectText(expected), rectText(actual));
    }
}

// Where a control's text needs room: what it takes besides the text itself.
int textMargin(HWND control, Kind kind)
{
    switch (kind) {
    case Kind::CheckBox:
        return GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE);
    case Kind::PushButton:
    case Kind::DefaultButton:
        return 2 * GetSystemMetrics(SM_CXEDGE);
    default:
        return 0;
    }
}

// Labels, check boxes and buttons show their whole text on one line.
void expectTextsFit(const TemplateDialog& dialog, const std::vector<ListedControl>& listedControls)
{
    std::vector<HWND> controls = dialog.controls();
    ASSERT_EQ(listedControls.size(), controls.size());
    HDC context = GetDC(dialog.window);
    HGDIOBJ previous = SelectObject(context, reinterpret_cast<HFONT>(SendMessageA(dialog.window, WM_GETFONT, 0, 0)));
    for (size_t i = 0; i < listedControls.size(); ++i) {
        Kind kind = listedControls[i].kind;
        if (kind == Kind::Edit || kind == Kind::DropDownList || kind == Kind::GroupBox)
            continue;
        std::string text = windowText(controls[i]);
        SIZE extent = {};
        GetTextExtentPoint32A(context, text.c_str(), static_cast<int>(text.size()), &extent);
        RECT place = dialog.placeOf(controls[i]);
        EXPECT_LE(extent.cx + textMargin(controls[i], kind), place.right - place.left) << describe(listedControls[i]);
        EXPECT_LE(extent.cy, place.bottom - place.top) << describe(listedControls[i]);
    }
    SelectObject(context, previous);
    ReleaseDC(dialog.window, context);
}

bool intersect(const RECT& a, const RECT& b)
{
    RECT common;
    return IntersectRect(&common, &a, &b) != 0;
}

bool contains(const RECT& outer, const RECT& inner)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// The room a control takes: its template place, but for a drop-down list only the closed
// field, since the list opens over whatever lies below.
RECT takenRoom(const TemplateDialog& dialog, const ListedControl& listed)
{
    RECT room = dialog.pixels(listed);
    if (listed.kind == Kind::DropDownList)
        room.bottom = dialog.placeOf(dialog.item(listed.id)).bottom;
    return room;
}

// Every control lies inside the dialog; no two controls overlap, except that a group box
// holds whole controls and cuts through none.
void expectLayoutSound(const TemplateDialog& dialog, const std::vector<ListedControl>& listedControls)
{
    RECT client;
    GetClientRect(dialog.window, &client);
    for (const ListedControl& listed : listedControls)
        EXPECT_TRUE(contains(client, dialog.pixels(listed))) << describe(listed) << " is clipped";
    for (size_t i = 0; i < listedControls.size(); ++i)
        for (size_t j = i + 1; j < listedControls.size(); ++j) {
            const ListedControl& a = listedControls[i];
            const ListedControl& b = listedControls[j];
            RECT first = takenRoom(dialog, a), second = takenRoom(dialog, b);
            bool groupA = a.kind == Kind::GroupBox, groupB = b.kind == Kind::GroupBox;
            if (groupA != groupB) {
                const RECT& group = groupA ? first : second;
                const RECT& other = groupA ? second : first;
                EXPECT_TRUE(contains(group, other) || !intersect(group, other))
                    << describe(a) << " and " << describe(b);
            } else {
                EXPECT_FALSE(intersect(first, second)) << describe(a) << " and " << describe(b);
            }
        }
}

// The styles of a DLGTEMPLATEEX's items, as written in the template.
class TemplateReader {
public:
    explicit TemplateReader(const WORD* words) : at(words) {}
    WORD word() { return *at++; }
    DWORD doubleWord()
    {
        DWORD low = word();
        return low | static_cast<DWORD>(word()) << 16;
    }
    void skip(int words) { at += words; }
    // A name or ordinal: empty (0), ordinal (0xFFFF, number) or a terminated UTF-16 string.
    void skipNameOrOrdinal()
    {
        WORD first = word();
        if (first == 0xFFFF)
            skip(1);
        else if (first != 0)
            while (word() != 0) {
            }
    }
    void skipString()
    {
        while (word() != 0) {
        }
    }
    void alignToDoubleWord(const WORD* start)
    {
        if ((at - start) % 2)
            skip(1);
    }

private:
    const WORD* at;
};

std::vector<DWORD> templateItemStyles(int id)
{
    std::vector<DWORD> styles;
    HMODULE program = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)); // RT_DIALOG
    if (!found)
        return styles;
    const WORD* start = static_cast<const WORD*>(LockResource(LoadResource(program, found)));
    TemplateReader reader(start);
    if (reader.word() != 1 || reader.word() != 0xFFFF) // only the extended form is read
        return styles;
    reader.skip(4); // help id, extended style
    DWORD dialogStyle = reader.doubleWord();
    WORD items = reader.word();
    reader.skip(4);             // place
    reader.skipNameOrOrdinal(); // menu
    reader.skipNameOrOrdinal(); // class
    reader.skipString();        // caption
    if (dialogStyle & DS_SETFONT) {
        reader.skip(3); // size, weight, italic and character set
        reader.skipString();
    }
    for (WORD i = 0; i < items; ++i) {
        reader.alignToDoubleWord(start);
        reader.skip(4); // help id, extended style
        styles.push_back(reader.doubleWord());
        reader.skip(6);             // place, id
        reader.skipNameOrOrdinal(); // class
        reader.skipNameOrOrdinal(); // text
        WORD extraBytes = reader.word();
        reader.skip((extraBytes + 1) / 2);
    }
    return styles;
}

void expectModalPopup(HWND dialog)
{
    const DWORD popupStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(popupStyle, static_cast<DWORD>(styleOf(dialog)) & popupStyle);
}

} // namespace

TEST(ConfigureTemplate, HasCaptionAndStyleOfAModalPopup)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    EXPECT_EQ("Pellwick", windowText(dialog.window));
    expectModalPopup(dialog.window);
    EXPECT_FALSE(styleOf(dialog.window) & WS_VISIBLE);
}

TEST(ConfigureTemplate, ControlsStandInTabOrderWithKindTextAndPlace)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    expectControlsAsListed(dialog, table(configureControls));
}

TEST(ConfigureTemplate, EditsHaveBorderAndScrollAndOnlyTheirOwnSpecialStyles)
{
    // Read from the template: the platform turns an edit's border into a client edge.
    std::vector<DWORD> styles = templateItemStyles(IDD_CONFIGURE);
    ASSERT_EQ(sizeof configureControls / sizeof configureControls[0], styles.size());
    for (size_t i = 0; i < styles.size(); ++i) {
        const ListedControl& listed = configureControls[i];
        if (listed.kind != Kind::Edit)
            continue;
        DWORD style = styles[i];
        EXPECT_TRUE(style & WS_BORDER) << listed.id;
        EXPECT_TRUE(style & ES_AUTOHSCROLL) << listed.id;
        EXPECT_EQ(listed.id == IDC_PASSWORD, (style & ES_PASSWORD) != 0) << listed.id;
        bool number = listed.id == IDC_PORT || listed.id == IDC_INTERVAL || listed.id == IDC_REPEAT_MINUTES;
        EXPECT_EQ(number, (style & ES_NUMBER) != 0) << listed.id;
    }
}

TEST(ConfigureTemplate, OnlyTheCheckButtonStartsDisabled)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    for (HWND control : dialog.controls())
        EXPECT_EQ(GetDlgCtrlID(control) != IDC_CHECK_HOST, IsWindowEnabled(control) != FALSE)
            << GetDlgCtrlID(control) << " \"" << windowText(control) << "\"";
}

TEST(ConfigureTemplate, ListsStartEmptyAndScrollVertically)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    HWND provider = dialog.item(IDC_PROVIDER);
    EXPECT_EQ(0, SendMessageA(provider, CB_GETCOUNT, 0, 0));
    // The combo box hands its scroll bar on to its list, which hides it while the list is
    // short; so the template itself is read.
    std::vector<DWORD> styles = templateItemStyles(IDD_CONFIGURE);
    ASSERT_EQ(sizeof configureControls / sizeof configureControls[0], styles.size());
    for (size_t i = 0; i < styles.size(); ++i) {
        if (configureControls[i].kind == Kind::DropDownList) {
            EXPECT_TRUE(styles[i] & WS_VSCROLL) << describe(configureControls[i]);
        }
    }
}

TEST(ConfigureTemplate, NoControlIsClippedOrOverlapping)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    expectLayoutSound(dialog, table(configureControls));
}

TEST(ConfigureTemplate, EveryLabelFitsItsText)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    expectTextsFit(dialog, table(configureControls));
}

TEST(AboutTemplate, HasCaptionAndStyleOfAModalPopup)
{
    TemplateDialog dialog(IDD_ABOUT);
    ASSERT_NE(nullptr, dialog.window);
    EXPECT_EQ("About Pellwick", windowText(dialog.window));
    expectModalPopup(dialog.window);
}

TEST(AboutTemplate, ControlsStandInTabOrderWithKindTextAndPlace)
{
    TemplateDialog dialog(IDD_ABOUT);
    ASSERT_NE(nullptr, dialog.window);
    expectControlsAsListed(dialog, table(aboutControls));
}

TEST(AboutTemplate, TextsAreVerticallyCentredAndLinkIsAPlainWebAddress)
{
    TemplateDialog dialog(IDD_ABOUT);
    ASSERT_NE(nullptr, dialog.window);
    std::vector<HWND> controls = dialog.controls();
    ASSERT_EQ(4u, controls.size());
    EXPECT_TRUE(styleOf(controls[1]) & SS_CENTERIMAGE);
    EXPECT_TRUE(styleOf(dialog.item(IDC_VERSION_TEXT)) & SS_CENTERIMAGE);
    std::string link = windowText(dialog.item(IDC_LINK));
    EXPECT_EQ(0u, link.find("https://")) << link;
    EXPECT_EQ(std::string::npos, link.find(' ')) << link;
    // The link becomes owner-drawn only once attached; in the template it is a plain button.
    EXPECT_EQ(0, styleOf(dialog.item(IDC_LINK)) & BS_OWNERDRAW);
}

TEST(AboutTemplate, NoControlIsClippedOrOverlapping)
{
    TemplateDialog dialog(IDD_ABOUT);
    ASSERT_NE(nullptr, dialog.window);
    expectLayoutSound(dialog, table(aboutControls));
    expectTextsFit(dialog, table(aboutControls));
}
