#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "test_dialog_ids.h"
#include "tests/support/poll_until.h"
#include "ui/busy_cursor_handler.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/tool_tip.h"

namespace {

std::vector<std::string> events;

// Steps run once the dialog is up, each from a posted message; a timer ends a dialog that a
// failed test leaves open, so no run waits for a human.
const UINT runStepMessage = WM_APP + 1;
const UINT_PTR safetyTimer = 77;
const UINT safetyMilliseconds = 15000;
const int endedBySafetyTimer = 99;

class RecordingButton : public ButtonControl {
public:
    void onCommandNotify(int code) override { events.push_back("button notify " + std::to_string(code)); }
    void onNotifyReflected(int code, NMHDR*) override { events.push_back("reflected " + std::to_string(code)); }
};

class TestDialog : public Dialog {
public:
    INT_PTR onInitDialog(HWND dialog) override
    {
        events.push_back("init");
        INT_PTR result = Dialog::onInitDialog(dialog);
        press.attachToDialogItem(dialog, IDC_PRESS);
        if (bindControls)
            bindControls(*this);
        SetTimer(dialog, safetyTimer, safetyMilliseconds, nullptr);
        PostMessageA(dialog, runStepMessage, 0, 0);
        return result;
    }
    bool onOk() override
    {
        ++okCalls;
        events.push_back("ok");
        return okCloses;
    }
    void onClick(HWND control) override { events.push_back(control == press.handle ? "click press" : "click other"); }
    void onEditChange(HWND control) override { events.push_back("edit change"); }
    INT_PTR onCommand(HWND control, int code) override
    {
        if (!control)
            events.push_back("command without control " + std::to_string(code));
        return Dialog::onCommand(control, code);
    }
    INT_PTR query(int code, void* data, INT_PTR extra) override
    {
        events.push_back("query " + std::to_string(code));
        return queryAnswer;
    }
    INT_PTR dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == runStepMessage) {
            if (step)
                step(*this);
            return 1;
        }
        if (message == WM_TIMER && wParam == safetyTimer) {
            EndDialog(hwnd, endedBySafetyTimer);
            return 1;
        }
        return Dialog::dialogProc(hwnd, message, wParam, lParam);
    }
    HWND item(int id) const { return GetDlgItem(handle, id); }

    RecordingButton press;
    std::function<void(TestDialog&)> bindControls;
    std::function<void(TestDialog&)> step;
    int okCalls = 0;
    bool okCloses = true;
    INT_PTR queryAnswer = 0;
};

void clickButton(TestDialog& dialog, int id)
{
    PostMessageA(dialog.item(id), BM_CLICK, 0, 0);
}

class ClaimingHandler : public WindowHandler {
public:
    explicit ClaimingHandler(int claimedId) : claimedId(claimedId) {}
    int onMessage(HWND, UINT message, WPARAM wParam, LPARAM) override
    {
        if (message == WM_COMMAND && LOWORD(wParam) == claimedId) {
            events.push_back("claimed");
            return 1;
        }
        return 0;
    }
    int claimedId;
};

class ModalDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        moduleInstance = GetModuleHandleA(nullptr);
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        events.clear();
    }
};

// A white bitmap selected into a memory context, for drawing a control off screen.
class Canvas {
public:
    Canvas(int width, int height) : width(width), height(height)
    {
        HDC screen = GetDC(nullptr);
        context = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
        previous = SelectObject(context, bitmap);
        RECT all = {0, 0, width, height};
        FillRect(context, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas()
    {
        SelectObject(context, previous);
        DeleteObject(bitmap);
        DeleteDC(context);
    }
    DRAWITEMSTRUCT record(HWND item, int id) const
    {
        DRAWITEMSTRUCT draw = {};
        draw.CtlType = ODT_BUTTON;
        draw.CtlID = id;
        draw.itemAction = ODA_DRAWENTIRE;
        draw.hwndItem = item;
        draw.hDC = context;
        draw.rcItem = {0, 0, width, height};
        return draw;
    }
    int countPixels(COLORREF colour) const
    {
        int count = 0;
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                count += GetPixel(context, column, row) == colour;
        return count;
    }
    HDC context;
    int width;
    int height;

private:
    HBITMAP bitmap;
    HGDIOBJ previous;
};

TEST_F(ModalDialog, OkCallsOnOkOnceAndReturnsOne)
{
    TestDialog dialog;
    dialog.step = [](TestDialog& d) { clickButton(d, IDOK); };
    EXPECT_EQ(dialog.runModal(IDD_TOOLKIT_TEST, nullptr), IDOK);
    EXPECT_EQ(dialog.okCalls, 1);
    EXPECT_EQ(currentDialog, nullptr);
}

TEST_F(ModalDialog, CancelReturnsTwoWithoutOnOk)
{
    TestDialog dialog;
    dialog.step = [](TestDialog& d) { clickButton(d, IDCANCEL); };
    EXPECT_EQ(dialog.runModal(IDD_TOOLKIT_TEST, nullptr), IDCANCEL);
    EXPECT_EQ(dialog.okCalls, 0);
}

TEST_F(ModalDialog, EscapeEndsLikeCancel)
{
    TestDialog dialog;
    dialog.step = [](TestDialog& d) { PostMessageA(d.handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0); };
    EXPECT_EQ(dialog.runModal(IDD_TOOLKIT_TEST, nullptr), IDCANCEL);
    EXPECT_EQ(dialog.okCalls, 0);
}

TEST_F(ModalDialog, ButtonClickReachesTheWrapperThenTheDialog)
{
    TestDialog dialog;
    dialog.step = [](TestDialog& d) {
        events.clear();
        SendMessageA(d.item(IDC_PRESS), BM_CLICK, 0, 0);
        clickButton(d, IDCANCEL);
    };
    EXPECT_EQ(dialog.runModal(IDD_TOOLKIT_TEST, nullptr), IDCANCEL);
    std::vector<std::string> expected = {"button notify 0", "click press"};
    EXPECT_EQ(events, expected);
}

// OK leaves the dialog open when a handler claims it (onOk is not asked) or when onOk refuses.
TEST_F(ModalDialog, HandlerClaimingOkOrOnOkRefusingKeepsTheDialogOpen)
{
    for (bool handlerClaims : {true, false}) {
        events.clear();
        TestDialog dialog;
        ClaimingHandler guard(handlerClaims ? IDOK : 0);
        dialog.addHandler(&guard);
        dialog.okCloses = handlerClaims;
        dialog.step = [](TestDialog& d) {
            clickButton(d, IDOK);
            clickButton(d, IDCANCEL);
        };
        EXPECT_EQ(dialog.runModal(IDD_TOOLKIT_TEST, nullptr), IDCANCEL);
        EXPECT_EQ(dialog.okCalls, handlerClaims ? 0 : 1);
        EXPECT_EQ(std::find(events.begin(), events.end(), "claimed") != events.end(), handlerClaims);
    }
}

TEST_F(ModalDialog, HandlersAreAttachedAtInitialisation)
{
    TestDialog dialog;
    ClaimingHandler first(0), second(0);
    dialog.addHandler(&first);
    dialog.addHandler(&second);
    first.owner = nullptr;
    second.owner = nullptr;
    dialog.step = [](TestDialog& d) { clickButton(d, IDCANCEL); };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_EQ(first.owner, &dialog);
    EXPECT_EQ(second.owner, &dialog);
}

TEST_F(ModalDialog, CommandWithoutControlReachesOnCommand)
{
    TestDialog dialog;
    LRESULT result = -1;
    dialog.step = [&result](TestDialog& d) {
        events.clear();
        result = SendMessageA(d.handle, WM_COMMAND, MAKEWPARAM(ID_TEST_MENU_COMMAND, 1), 0);
        clickButton(d, IDCANCEL);
    };
    EXPECT_EQ(dialog.runModal(IDD_TOOLKIT_TEST, nullptr), IDCANCEL);
    EXPECT_EQ(result, 0);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], "command without control 1");
}

TEST_F(ModalDialog, UnownedDialogIsCentredOnTheDesktop)
{
    TestDialog dialog;
    RECT own = {}, desktop = {};
    dialog.step = [&](TestDialog& d) {
        GetWindowRect(d.handle, &own);
        GetWindowRect(GetDesktopWindow(), &desktop);
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    int ownWidth = own.right - own.left;
    int ownHeight = own.bottom - own.top;
    ASSERT_GT(ownWidth, 0);
    EXPECT_EQ(own.left, desktop.left + (desktop.right - desktop.left - ownWidth) / 2);
    EXPECT_EQ(own.top, desktop.top + (desktop.bottom - desktop.top - ownHeight) / 2);
    EXPECT_EQ(dialog.x, own.left);
    EXPECT_EQ(dialog.y, own.top);
}

TEST_F(ModalDialog, EditRangeClampsEveryChange)
{
    TestDialog dialog;
    EditControl number;
    std::vector<std::string> texts;
    dialog.bindControls = [&](TestDialog& d) {
        number.attachToDialogItem(d.handle, IDC_NUMBER);
        number.minValue = 5;
        number.maxValue = 60;
    };
    dialog.step = [&](TestDialog& d) {
        for (const char* typed : {"70", "3", "", "42", "1", "99999999999"}) {
            SetWindowTextA(number.handle, typed);
            texts.push_back(number.getText().get());
        }
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    std::vector<std::string> expected = {"60", "5", "5", "42", "5", "60"};
    EXPECT_EQ(texts, expected);
}

TEST_F(ModalDialog, EditWithABoundOfZeroIsNeverChanged)
{
    TestDialog dialog;
    EditControl number;
    std::string text;
    dialog.bindControls = [&](TestDialog& d) {
        number.attachToDialogItem(d.handle, IDC_NUMBER);
        number.maxValue = 60;
    };
    dialog.step = [&](TestDialog& d) {
        SetWindowTextA(number.handle, "70");
        text = number.getText().get();
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_EQ(text, "70");
}

TEST_F(ModalDialog, EditChangeReachesTheDialog)
{
    TestDialog dialog;
    dialog.step = [](TestDialog& d) {
        events.clear();
        SetWindowTextA(d.item(IDC_NUMBER), "x");
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], "edit change");
}

TEST_F(ModalDialog, ColourSwatchPaintsItsColourWithABlackOutline)
{
    TestDialog dialog;
    ColourSwatch swatch(0);
    Canvas canvas(20, 10);
    LRESULT result = -1;
    dialog.bindControls = [&](TestDialog& d) {
        swatch.attachToDialogItem(d.handle, IDC_SWATCH);
        swatch.colour = 0x000000FF;
    };
    dialog.step = [&](TestDialog& d) {
        DRAWITEMSTRUCT record = canvas.record(swatch.handle, IDC_SWATCH);
        result = SendMessageA(d.handle, WM_DRAWITEM, IDC_SWATCH, reinterpret_cast<LPARAM>(&record));
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetPixel(canvas.context, 10, 5), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(canvas.context, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(canvas.context, 19, 9), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(canvas.context, 10, 0), RGB(0, 0, 0));
    EXPECT_EQ(canvas.countPixels(RGB(255, 0, 0)), 18 * 8);
}

TEST_F(ModalDialog, DrawItemFromAnUnboundControlDrawsNothing)
{
    TestDialog dialog;
    Canvas canvas(20, 10);
    dialog.step = [&](TestDialog& d) {
        DRAWITEMSTRUCT record = canvas.record(d.item(IDC_UNBOUND), IDC_UNBOUND);
        SendMessageA(d.handle, WM_DRAWITEM, IDC_UNBOUND, reinterpret_cast<LPARAM>(&record));
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_EQ(canvas.countPixels(RGB(255, 255, 255)), 200);
}

TEST_F(ModalDialog, NotifyFromABoundControlIsReflected)
{
    TestDialog dialog;
    dialog.step = [](TestDialog& d) {
        events.clear();
        NMHDR header = {d.press.handle, IDC_PRESS, static_cast<UINT>(-2)};
        SendMessageA(d.handle, WM_NOTIFY, IDC_PRESS, reinterpret_cast<LPARAM>(&header));
        NMHDR unbound = {d.item(IDC_UNBOUND), IDC_UNBOUND, static_cast<UINT>(-2)};
        SendMessageA(d.handle, WM_NOTIFY, IDC_UNBOUND, reinterpret_cast<LPARAM>(&unbound));
        SendMessageA(d.handle, WM_NOTIFY, 0, 0);
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], "reflected -2");
    EXPECT_EQ(std::count(events.begin(), events.end(), "reflected -2"), 1);
}

TEST_F(ModalDialog, ComboSelectionArrivesAsClick)
{
    TestDialog dialog;
    ComboBoxControl choice;
    dialog.bindControls = [&](TestDialog& d) {
        choice.attachToDialogItem(d.handle, IDC_CHOICE);
        SendMessageA(choice.handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("one"));
    };
    dialog.step = [&](TestDialog& d) {
        events.clear();
        SendMessageA(d.handle, WM_COMMAND, MAKEWPARAM(IDC_CHOICE, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(choice.handle));
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], "click other");
}

TEST_F(ModalDialog, LinkButtonBecomesOwnerDrawnWhenBound)
{
    TestDialog dialog;
    LinkButton link;
    LONG before = 0;
    dialog.bindControls = [&](TestDialog& d) {
        before = GetWindowLongA(d.item(IDC_LINK), GWL_STYLE);
        link.attachToDialogItem(d.handle, IDC_LINK);
    };
    LONG after = 0;
    dialog.step = [&](TestDialog& d) {
        after = GetWindowLongA(link.handle, GWL_STYLE);
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_EQ(static_cast<DWORD>(before), 0x50010000u);
    EXPECT_EQ(static_cast<DWORD>(after), 0x5001000Bu);
    EXPECT_EQ(link.style, 0x5001000Bu);
}

TEST_F(ModalDialog, LinkButtonDrawsItsTextInLinkBlueAndFocusRectangleOnlyWithFocus)
{
    TestDialog dialog;
    LinkButton link;
    Canvas unfocused(120, 24), focused(120, 24);
    HWND focusWhileFocused = nullptr;
    dialog.bindControls = [&](TestDialog& d) { link.attachToDialogItem(d.handle, IDC_LINK); };
    dialog.step = [&](TestDialog& d) {
        SetWindowTextA(link.handle, "http://example.org/");
        SetFocus(d.item(IDOK));
        DRAWITEMSTRUCT record = unfocused.record(link.handle, IDC_LINK);
        SendMessageA(d.handle, WM_DRAWITEM, IDC_LINK, reinterpret_cast<LPARAM>(&record));
        SetFocus(link.handle);
        focusWhileFocused = GetFocus();
        record = focused.record(link.handle, IDC_LINK);
        SendMessageA(d.handle, WM_DRAWITEM, IDC_LINK, reinterpret_cast<LPARAM>(&record));
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_GT(unfocused.countPixels(RGB(0, 0, 0xCC)), 10);
    // No face, frame or focus rectangle: the edges of the item stay untouched.
    auto touchedEdgePixels = [](const Canvas& canvas) {
        int touched = 0;
        for (int column = 0; column < canvas.width; ++column) {
            touched += GetPixel(canvas.context, column, 0) != RGB(255, 255, 255);
            touched += GetPixel(canvas.context, column, canvas.height - 1) != RGB(255, 255, 255);
        }
        return touched;
    };
    EXPECT_EQ(touchedEdgePixels(unfocused), 0);
    ASSERT_EQ(focusWhileFocused, link.handle);
    EXPECT_GT(touchedEdgePixels(focused), 0) << "focus rectangle around the item";
}

TEST_F(ModalDialog, LinkClickOpensItsTextWithTheShell)
{
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    std::string base = std::string(temp) + "pellwick-link-" + std::to_string(GetCurrentProcessId());
    std::string script = base + ".cmd";
    std::string marker = base + ".done";
    DeleteFileA(marker.c_str());
    FILE* file = fopen(script.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fprintf(file, "@echo opened> \"%s\"\n", marker.c_str());
    fclose(file);

    TestDialog dialog;
    LinkButton link;
    dialog.bindControls = [&](TestDialog& d) { link.attachToDialogItem(d.handle, IDC_LINK); };
    dialog.step = [&](TestDialog& d) {
        SetWindowTextA(link.handle, script.c_str());
        SendMessageA(d.handle, WM_COMMAND, MAKEWPARAM(IDC_LINK, BN_CLICKED), reinterpret_cast<LPARAM>(link.handle));
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_TRUE(
        testbench::pollUntil([&] { return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000));
    // The shell's command processor may still hold both files: retry until it lets go.
    testbench::pollUntil(
        [&] {
            DeleteFileA(marker.c_str());
            DeleteFileA(script.c_str());
            return GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES &&
                   GetFileAttributesA(script.c_str()) == INVALID_FILE_ATTRIBUTES;
        },
        5000);
}

TEST_F(ModalDialog, ToolTipIsCreatedForItsOwnerWithItsWidth)
{
    TestDialog dialog;
    ToolTip tip(200);
    ToolTip plain(0);
    LRESULT width = 0, plainWidth = 0, tools = 0;
    char className[64] = "";
    dialog.bindControls = [&](TestDialog& d) {
        d.addHandler(&tip);
        d.addHandler(&plain);
        tip.attach(&d);
        plain.attach(&d);
        tip.addTool(&d.press, nullptr, "Presses");
        tip.addTool(nullptr, nullptr, nullptr);
    };
    dialog.step = [&](TestDialog& d) {
        GetClassNameA(tip.handle, className, sizeof className);
        width = SendMessageA(tip.handle, TTM_GETMAXTIPWIDTH, 0, 0);
        plainWidth = SendMessageA(plain.handle, TTM_GETMAXTIPWIDTH, 0, 0);
        tools = SendMessageA(tip.handle, TTM_GETTOOLCOUNT, 0, 0);
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_STREQ(className, "tooltips_class32");
    EXPECT_EQ(tip.owner, &dialog);
    EXPECT_EQ(width, 200);
    EXPECT_EQ(plainWidth, -1) << "no width sent: the platform default";
    EXPECT_EQ(tools, 2);
}

TEST_F(ModalDialog, ToolTipAsksItsOwnerForTheText)
{
    static const char answer[] = "from the owner";
    TestDialog dialog;
    ToolTip tip(0);
    NMTTDISPINFOA answered = {}, unanswered = {};
    dialog.bindControls = [&](TestDialog& d) {
        d.addHandler(&tip);
        tip.attach(&d);
    };
    dialog.step = [&](TestDialog& d) {
        events.clear();
        d.queryAnswer = reinterpret_cast<INT_PTR>(answer);
        answered.hdr = {tip.handle, 0, TTN_GETDISPINFOA};
        SendMessageA(d.handle, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&answered));
        d.queryAnswer = 0;
        unanswered.hdr = {tip.handle, 0, TTN_GETDISPINFOA};
        unanswered.lpszText = const_cast<char*>("stale");
        SendMessageA(d.handle, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&unanswered));
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_EQ(answered.lpszText, answer);
    EXPECT_EQ(unanswered.lpszText, nullptr);
    EXPECT_EQ(std::count(events.begin(), events.end(), "query 7"), 2);
}

class CursorWitness : public WindowHandler {
public:
    int onMessage(HWND, UINT message, WPARAM, LPARAM) override
    {
        if (message == WM_SETCURSOR)
            seen.push_back(GetCursor());
        return 0;
    }
    std::vector<HCURSOR> seen;
};

TEST_F(ModalDialog, BusyCursorAnswersCursorRequestsAndPassesThemOn)
{
    TestDialog dialog;
    CursorWitness witness;
    BusyCursorHandler busyCursor;
    dialog.addHandler(&witness);
    dialog.addHandler(&busyCursor);
    HCURSOR inScope = nullptr, afterScope = nullptr;
    dialog.step = [&](TestDialog& d) {
        LPARAM where = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
        {
            BusyCursorScope busy(busyCursor);
            inScope = GetCursor();
            SendMessageA(d.handle, WM_SETCURSOR, reinterpret_cast<WPARAM>(d.handle), where);
        }
        afterScope = GetCursor();
        SendMessageA(d.handle, WM_SETCURSOR, reinterpret_cast<WPARAM>(d.handle), where);
        clickButton(d, IDCANCEL);
    };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    ASSERT_EQ(witness.seen.size(), 2u);
    EXPECT_EQ(witness.seen[0], LoadCursorA(nullptr, IDC_WAIT));
    EXPECT_EQ(witness.seen[1], LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(inScope, LoadCursorA(nullptr, IDC_WAIT)) << "the scope shows the wait cursor at once";
    EXPECT_EQ(afterScope, LoadCursorA(nullptr, IDC_ARROW));
}

class InnerDialog : public Dialog {
public:
    INT_PTR onInitDialog(HWND dialog) override
    {
        SetTimer(dialog, safetyTimer, safetyMilliseconds, nullptr);
        PostMessageA(dialog, runStepMessage, 0, 0);
        return Dialog::onInitDialog(dialog);
    }
    bool onOk() override
    {
        events.push_back("inner ok");
        return true;
    }
    void onClick(HWND) override { events.push_back("inner click"); }
    INT_PTR dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == runStepMessage) {
            if (step)
                step(*this);
            return 1;
        }
        if (message == WM_TIMER && wParam == safetyTimer) {
            EndDialog(hwnd, endedBySafetyTimer);
            return 1;
        }
        return Dialog::dialogProc(hwnd, message, wParam, lParam);
    }
    std::function<void(InnerDialog&)> step;
};

TEST_F(ModalDialog, NestedRunKeepsTheOuterDialogWorking)
{
    TestDialog outer;
    InnerDialog inner;
    int innerResult = 0;
    Dialog* runningOuter = nullptr;
    Dialog* runningInner = nullptr;
    inner.step = [&](InnerDialog& d) {
        runningOuter = Dialog::findRunning(IDD_TOOLKIT_TEST);
        runningInner = Dialog::findRunning(IDD_TOOLKIT_INNER);
        // The outer dialog stays usable while the inner one runs.
        SendMessageA(outer.press.handle, BM_CLICK, 0, 0);
        SendMessageA(GetDlgItem(d.handle, IDC_INNER_PRESS), BM_CLICK, 0, 0);
        PostMessageA(GetDlgItem(d.handle, IDOK), BM_CLICK, 0, 0);
    };
    outer.step = [&](TestDialog& d) {
        events.clear();
        innerResult = inner.runModal(IDD_TOOLKIT_INNER, nullptr);
        SendMessageA(d.press.handle, BM_CLICK, 0, 0);
        clickButton(d, IDOK);
    };
    EXPECT_EQ(outer.runModal(IDD_TOOLKIT_TEST, nullptr), IDOK);
    EXPECT_EQ(innerResult, IDOK);
    EXPECT_EQ(runningOuter, &outer);
    EXPECT_EQ(runningInner, &inner);
    EXPECT_EQ(outer.okCalls, 1);
    std::vector<std::string> expected = {"button notify 0", "click press", "inner click", "inner ok",
                                         "button notify 0", "click press", "ok"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(Dialog::findRunning(IDD_TOOLKIT_TEST), nullptr);
    EXPECT_EQ(currentDialog, nullptr);
}

TEST_F(ModalDialog, AttachingAMissingItemReportsFalse)
{
    TestDialog dialog;
    ButtonControl missing;
    bool attached = true;
    dialog.bindControls = [&](TestDialog& d) { attached = missing.attachToDialogItem(d.handle, 4321); };
    dialog.step = [](TestDialog& d) { clickButton(d, IDCANCEL); };
    dialog.runModal(IDD_TOOLKIT_TEST, nullptr);
    EXPECT_FALSE(attached);
    EXPECT_EQ(missing.handle, nullptr);
}

} // namespace
