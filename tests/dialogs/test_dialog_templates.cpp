// The configuration and About dialog templates as the program carries them: controls of the
// kinds the dialogs use with the styles they rely on, and a layout in which nothing is
// clipped or overlaps and every text fits.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "res/resource.h"

namespace {

enum class Kind {
    DefaultButton,
    PushButton,
    OwnerDrawnButton,
    CheckBox,
    GroupBox,
    Label,
    Edit,
    DropDownList,
    ListBox,
    Unknown
};

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
    case Kind::ListBox:
        return "list box in the given order";
    default:
        return "something else";
    }
}

// One control as the template writes it: the platform turns an edit's border into a client
// edge, and a drop-down list's height is that of its opened list.
struct TemplateItem {
    DWORD style;
    RECT units; // left, top, width, height in dialog units
};

// A control of a dialog made from a template, with what the template wrote of it.
struct TemplateControl {
    HWND window;
    Kind kind;
    TemplateItem item;
};

std::vector<TemplateItem> templateItems(int id);

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
    if (name == "ListBox") // the user's order, and a word of every change of selection
        return (style & LBS_SORT) == 0 && (style & LBS_NOTIFY) ? Kind::ListBox : Kind::Unknown;
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
        : window(CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, quietDialogProc, 0)),
          id(id)
    {
    }
    ~TemplateDialog()
    {
        if (window)
            DestroyWindow(window);
    }
    TemplateDialog(const TemplateDialog&) = delete;
    TemplateDialog& operator=(const TemplateDialog&) = delete;

    // The controls in creation order, which is the template's order, each with its item;
    // none, and a failure, when the template and the dialog do not agree.
    std::vector<TemplateControl> controls() const
    {
        std::vector<TemplateItem> items = templateItems(id);
        std::vector<TemplateControl> children;
        size_t index = 0;
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT), ++index)
            if (index < items.size())
                children.push_back({child, kindOf(child), items[index]});
        if (index != items.size() || items.empty()) {
            ADD_FAILURE() << index << " controls for " << items.size() << " template items";
            children.clear();
        }
        return children;
    }
    HWND item(int controlId) const { return GetDlgItem(window, controlId); }
    // The template's place in pixels: the dialog manager converts place and size separately.
    RECT pixels(const TemplateControl& control) const
    {
        RECT units = control.item.units;
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
    int id;
};

std::string describe(const TemplateControl& control)
{
    return std::string(kindName(control.kind)) + " " + std::to_string(GetDlgCtrlID(control.window) & 0xFFFF) + " \"" +
           windowText(control.window) + "\"";
}

// Every control is of a kind the dialogs know how to use, and the keyboard reaches all but the
// labels and group boxes.
void expectKnownKindsAndTabStops(const TemplateDialog& dialog)
{
    std::vector<TemplateControl> controls = dialog.controls();
    ASSERT_FALSE(controls.empty());
    for (const TemplateControl& control : controls) {
        EXPECT_NE(Kind::Unknown, control.kind) << describe(control);
        EXPECT_EQ(isTabStop(control.kind), (styleOf(control.window) & WS_TABSTOP) != 0) << describe(control);
    }
}

// Where a control's text needs room: what it takes besides the text itself.
int textMargin(Kind kind)
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
void expectTextsFit(const TemplateDialog& dialog)
{
    std::vector<TemplateControl> controls = dialog.controls();
    ASSERT_FALSE(controls.empty());
    HDC context = GetDC(dialog.window);
    HGDIOBJ previous = SelectObject(context, reinterpret_cast<HFONT>(SendMessageA(dialog.window, WM_GETFONT, 0, 0)));
    for (const TemplateControl& control : controls) {
        Kind kind = control.kind;
        if (kind == Kind::Edit || kind == Kind::DropDownList || kind == Kind::GroupBox)
            continue;
        std::string text = windowText(control.window);
        SIZE extent = {};
        GetTextExtentPoint32A(context, text.c_str(), static_cast<int>(text.size()), &extent);
        RECT place = dialog.placeOf(control.window);
        EXPECT_LE(extent.cx + textMargin(kind), place.right - place.left) << describe(control);
        EXPECT_LE(extent.cy, place.bottom - place.top) << describe(control);
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
RECT takenRoom(const TemplateDialog& dialog, const TemplateControl& control)
{
    RECT room = dialog.pixels(control);
    if (control.kind == Kind::DropDownList)
        room.bottom = dialog.placeOf(control.window).bottom;
    return room;
}

// Every control lies inside the dialog; no two controls overlap, except that a group box
// holds whole controls and cuts through none.
void expectLayoutSound(const TemplateDialog& dialog)
{
    std::vector<TemplateControl> controls = dialog.controls();
    ASSERT_FALSE(controls.empty());
    RECT client;
    GetClientRect(dialog.window, &client);
    for (const TemplateControl& control : controls)
        EXPECT_TRUE(contains(client, dialog.pixels(control))) << describe(control) << " is clipped";
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const TemplateControl& a = controls[i];
            const TemplateControl& b = controls[j];
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

// Reads a DLGTEMPLATEEX word by word.
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

std::vector<TemplateItem> templateItems(int id)
{
    std::vector<TemplateItem> items;
    HMODULE program = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)); // RT_DIALOG
    if (!found)
        return items;
    const WORD* start = static_cast<const WORD*>(LockResource(LoadResource(program, found)));
    TemplateReader reader(start);
    if (reader.word() != 1 || reader.word() != 0xFFFF) // only the extended form is read
        return items;
    reader.skip(4); // help id, extended style
    DWORD dialogStyle = reader.doubleWord();
    WORD count = reader.word();
    reader.skip(4);             // place
    reader.skipNameOrOrdinal(); // menu
    reader.skipNameOrOrdinal(); // class
    reader.skipString();        // caption
    if (dialogStyle & DS_SETFONT) {
        reader.skip(3); // size, weight, italic and character set
        reader.skipString();
    }
    for (WORD i = 0; i < count; ++i) {
        reader.alignToDoubleWord(start);
        reader.skip(4); // help id, extended style
        TemplateItem item = {};
        item.style = reader.doubleWord();
        item.units.left = static_cast<short>(reader.word());
        item.units.top = static_cast<short>(reader.word());
        item.units.right = static_cast<short>(reader.word());
        item.units.bottom = static_cast<short>(reader.word());
        reader.skip(2);             // id
        reader.skipNameOrOrdinal(); // class
        reader.skipNameOrOrdinal(); // text
        WORD extraBytes = reader.word();
        reader.skip((extraBytes + 1) / 2);
        items.push_back(item);
    }
    return items;
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

TEST(ConfigureTemplate, ControlsAreOfKnownKindsAndAllButLabelsAndGroupsAreTabStops)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    expectKnownKindsAndTabStops(dialog);
}

TEST(ConfigureTemplate, EditsHaveBorderAndScrollAndOnlyTheirOwnSpecialStyles)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    for (const TemplateControl& control : dialog.controls()) {
        if (control.kind != Kind::Edit)
            continue;
        int id = GetDlgCtrlID(control.window);
        DWORD style = control.item.style;
        EXPECT_TRUE(style & WS_BORDER) << id;
        EXPECT_TRUE(style & ES_AUTOHSCROLL) << id;
        EXPECT_EQ(id == IDC_PASSWORD, (style & ES_PASSWORD) != 0) << id;
        bool number = id == IDC_PORT || id == IDC_INTERVAL || id == IDC_REPEAT_MINUTES;
        EXPECT_EQ(number, (style & ES_NUMBER) != 0) << id;
    }
}

TEST(ConfigureTemplate, OnlyTheCheckButtonStartsDisabled)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    for (const TemplateControl& control : dialog.controls())
        EXPECT_EQ(GetDlgCtrlID(control.window) != IDC_CHECK_HOST, IsWindowEnabled(control.window) != FALSE)
            << describe(control);
}

TEST(ConfigureTemplate, ListsStartEmptyAndScrollVertically)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    EXPECT_EQ(0, SendMessageA(dialog.item(IDC_SERVER_PRESET), CB_GETCOUNT, 0, 0));
    // The combo box hands its scroll bar on to its list, which hides it while the list is
    // short; so the template itself is read.
    for (const TemplateControl& control : dialog.controls()) {
        if (control.kind == Kind::DropDownList) {
            EXPECT_TRUE(control.item.style & WS_VSCROLL) << describe(control);
        }
    }
}

TEST(ConfigureTemplate, NoControlIsClippedOrOverlappingAndItFitsASmallScreen)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    expectLayoutSound(dialog);
    // A screen of 1024x768 at 100%, less the taskbar the desktop has.
    RECT frame = {}, workArea = {};
    GetWindowRect(dialog.window, &frame);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    int taskbar = GetSystemMetrics(SM_CYSCREEN) - (workArea.bottom - workArea.top);
    EXPECT_LE(frame.right - frame.left, 1024);
    EXPECT_LE(frame.bottom - frame.top, 768 - taskbar);
}

TEST(ConfigureTemplate, EveryLabelFitsItsText)
{
    TemplateDialog dialog(IDD_CONFIGURE);
    ASSERT_NE(nullptr, dialog.window);
    expectTextsFit(dialog);
}

TEST(AboutTemplate, HasCaptionAndStyleOfAModalPopup)
{
    TemplateDialog dialog(IDD_ABOUT);
    ASSERT_NE(nullptr, dialog.window);
    EXPECT_EQ("About Pellwick", windowText(dialog.window));
    expectModalPopup(dialog.window);
}

TEST(AboutTemplate, ControlsAreOfKnownKindsAndAllButLabelsAndGroupsAreTabStops)
{
    TemplateDialog dialog(IDD_ABOUT);
    ASSERT_NE(nullptr, dialog.window);
    expectKnownKindsAndTabStops(dialog);
}

TEST(AboutTemplate, TextsAreVerticallyCentredAndLinkIsAPlainWebAddress)
{
    TemplateDialog dialog(IDD_ABOUT);
    ASSERT_NE(nullptr, dialog.window);
    for (const TemplateControl& control : dialog.controls()) {
        if (control.kind == Kind::Label) {
            EXPECT_TRUE(styleOf(control.window) & SS_CENTERIMAGE) << describe(control);
        }
    }
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
    expectLayoutSound(dialog);
    expectTextsFit(dialog);
}
