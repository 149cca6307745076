#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/window.h"

namespace {

const char testClass[] = "pellwick-test-window";
std::vector<std::string> events;

class RecordingHandler : public WindowHandler {
public:
    RecordingHandler(const char* name, UINT claimed = 0) : name(name), claimed(claimed) {}

    int attach(WindowBase* window) override
    {
        events.push_back(std::string("attach ") + name);
        attachedHandle = window->handle;
        attachedOwner = window;
        return 1;
    }

    int onMessage(HWND, UINT message, WPARAM, LPARAM) override
    {
        if (message == WM_LBUTTONDOWN || message == WM_CLOSE || message == WM_USER + 7)
            events.push_back(std::string(name) + " saw");
        return message == claimed;
    }

    const char* name;
    UINT claimed;
    HWND attachedHandle = nullptr;
    WindowBase* attachedOwner = nullptr;
};

class RecordingWindow : public Window {
public:
    void onLeftButtonDown(int pointX, int pointY) override
    {
        events.push_back("down " + std::to_string(pointX) + "," + std::to_string(pointY));
    }
    void onClose() override
    {
        events.push_back("close");
        Window::onClose();
    }
    void onMenuCommand(int id) override { events.push_back("menu " + std::to_string(id)); }
    void onEditChanged(HWND control, NMHDR* header) override
    {
        events.push_back(std::string("edit changed") + (control == expectedControl ? " by control" : "") +
                         (header ? " with header" : " without header"));
    }
    void onControlCommand(HWND control) override
    {
        events.push_back(std::string("control command") + (control == expectedControl ? " by control" : ""));
    }
    void onButtonNotify(HWND control) override
    {
        events.push_back(std::string("button notify") + (control == expectedControl ? " by control" : ""));
    }
    int onOtherMessage(UINT message, WPARAM, LPARAM) override
    {
        if (message == WM_USER + 7)
            events.push_back("other");
        return message == WM_USER + 8;
    }
    void onMouseMove(WPARAM keys, int pointX, int pointY) override
    {
        events.push_back("move " + std::to_string(keys) + " " + std::to_string(pointX) + "," + std::to_string(pointY));
    }

    HWND expectedControl = nullptr;
};

class ControlWrapper : public Window {
public:
    void onNotifyReflected(int code, NMHDR* header) override
    {
        events.push_back("reflected " + std::to_string(code) + (header ? " with header" : ""));
    }
    void onCommandNotify(int code) override { events.push_back("command notify " + std::to_string(code)); }
};

class ToolkitWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        moduleInstance = GetModuleHandleA(nullptr);
        events.clear();
    }
    void TearDown() override
    {
        for (HWND hwnd : toDestroy) {
            if (IsWindow(hwnd))
                DestroyWindow(hwnd);
        }
        drainQuit();
    }
    // Destroying a top-level toolkit window posts a quit message; keep it from the next test.
    static void drainQuit()
    {
        MSG message;
        while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    bool createTopLevel(Window& window)
    {
        bool created = window.create(testClass, "test", nullptr, true);
        if (created)
            toDestroy.push_back(window.handle);
        return created;
    }
    std::vector<HWND> toDestroy;
};

TEST_F(ToolkitWindow, UnplacedWindowIsCentredWithADefaultSize)
{
    RecordingWindow window;
    ASSERT_TRUE(createTopLevel(window));
    HDC screen = GetDC(nullptr);
    int screenWidth = GetDeviceCaps(screen, HORZRES);
    int screenHeight = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    int expectedWidth = screenWidth / 3;
    int expectedHeight = 2 * screenHeight / 3;
    RECT actual;
    GetWindowRect(window.handle, &actual);
    EXPECT_EQ(actual.left, (screenWidth - expectedWidth) / 2);
    EXPECT_EQ(actual.top, (screenHeight - expectedHeight) / 2);
    EXPECT_EQ(actual.right - actual.left, expectedWidth);
    EXPECT_EQ(actual.bottom - actual.top, expectedHeight);
    EXPECT_EQ(window.x, actual.left);
    EXPECT_EQ(window.y, actual.top);
    EXPECT_EQ(window.width, expectedWidth);
    EXPECT_EQ(window.height, expectedHeight);
}

TEST_F(ToolkitWindow, ChosenSizeIsCentredAndCreationRecordsWhatThePlatformUsed)
{
    RecordingWindow window;
    window.setSize(100, 30);
    window.setStyle(WS_POPUP | WS_BORDER, WS_EX_TOOLWINDOW);
    ASSERT_TRUE(createTopLevel(window));
    HDC screen = GetDC(nullptr);
    int screenWidth = GetDeviceCaps(screen, HORZRES);
    int screenHeight = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(window.x, (screenWidth - 100) / 2);
    EXPECT_EQ(window.y, (screenHeight - 30) / 2);
    EXPECT_EQ(window.width, 100);
    EXPECT_EQ(window.height, 30);
    EXPECT_EQ(window.style & (WS_POPUP | WS_BORDER), static_cast<DWORD>(WS_POPUP | WS_BORDER));
    EXPECT_TRUE(window.exStyle & WS_EX_TOOLWINDOW);

    window.setPosition(10, 20);
    RECT moved;
    GetWindowRect(window.handle, &moved);
    EXPECT_EQ(moved.left, 10);
    EXPECT_EQ(moved.top, 20);
    EXPECT_EQ(moved.right - moved.left, 100);
}

TEST_F(ToolkitWindow, ChildLosesItsFrameAndDoesNotEndTheLoop)
{
    RecordingWindow top;
    ASSERT_TRUE(createTopLevel(top));
    RecordingWindow child;
    child.setPosition(0, 0);
    child.setSize(50, 20);
    ASSERT_TRUE(child.create(testClass, nullptr, &top, true));
    EXPECT_EQ(child.style, static_cast<DWORD>(WS_CHILD | WS_BORDER));
    EXPECT_EQ(GetParent(child.handle), top.handle);
    char title[64] = "";
    GetWindowTextA(child.handle, title, sizeof title);
    EXPECT_STREQ(title, testClass) << "no title: the class name";
    DestroyWindow(child.handle);
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    DestroyWindow(top.handle);
    EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST_F(ToolkitWindow, HandlersAreAttachedAfterCreationNewestFirst)
{
    RecordingWindow window;
    RecordingHandler older("older"), newer("newer");
    window.addHandler(&older);
    window.addHandler(&newer);
    EXPECT_EQ(older.owner, &window);
    ASSERT_TRUE(createTopLevel(window));
    std::vector<std::string> expected = {"attach newer", "attach older"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(older.attachedHandle, window.handle);
    EXPECT_EQ(newer.attachedOwner, &window);
}

TEST_F(ToolkitWindow, HandlersSeeMessagesNewestFirstBeforeTheWindow)
{
    RecordingWindow window;
    RecordingHandler older("older"), newer("newer");
    window.addHandler(&older);
    window.addHandler(&newer);
    ASSERT_TRUE(createTopLevel(window));
    events.clear();
    SendMessageA(window.handle, WM_LBUTTONDOWN, 0, MAKELPARAM(-3, 9));
    std::vector<std::string> expected = {"newer saw", "older saw", "down -3,9"};
    EXPECT_EQ(events, expected);
}

TEST_F(ToolkitWindow, ClaimingHandlerStopsTheWalk)
{
    RecordingWindow window;
    RecordingHandler older("older", WM_LBUTTONDOWN), newer("newer", WM_LBUTTONDOWN);
    window.addHandler(&older);
    window.addHandler(&newer);
    ASSERT_TRUE(createTopLevel(window));
    events.clear();
    EXPECT_EQ(SendMessageA(window.handle, WM_LBUTTONDOWN, 0, 0), 0);
    std::vector<std::string> expected = {"newer saw"};
    EXPECT_EQ(events, expected);
}

TEST_F(ToolkitWindow, ClaimedCloseKeepsTheWindowOpen)
{
    RecordingWindow window;
    RecordingHandler guard("guard", WM_CLOSE);
    window.addHandler(&guard);
    ASSERT_TRUE(createTopLevel(window));
    events.clear();
    EXPECT_EQ(SendMessageA(window.handle, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window.handle));
    std::vector<std::string> expected = {"guard saw"};
    EXPECT_EQ(events, expected);
}

TEST_F(ToolkitWindow, CloseAndSessionEndDestroyAndEndTheLoop)
{
    RecordingWindow window;
    ASSERT_TRUE(createTopLevel(window));
    // A log-off that was called off leaves the window alone.
    EXPECT_EQ(SendMessageA(window.handle, WM_ENDSESSION, FALSE, 0), 0);
    EXPECT_TRUE(IsWindow(window.handle));
    EXPECT_TRUE(events.empty());
    PostMessageA(window.handle, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(window.runMessageLoop(-1), 0);
    EXPECT_FALSE(IsWindow(window.handle));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], "close");
}

TEST_F(ToolkitWindow, CommandsReachMenuAcceleratorAndControlOperations)
{
    RecordingWindow window;
    ASSERT_TRUE(createTopLevel(window));
    HWND control =
        CreateWindowExA(0, "Edit", "", WS_CHILD, 0, 0, 10, 10, window.handle, nullptr, moduleInstance, nullptr);
    ASSERT_NE(control, nullptr);
    window.expectedControl = control;
    events.clear();
    SendMessageA(window.handle, WM_COMMAND, MAKEWPARAM(40007, 0), 0);
    SendMessageA(window.handle, WM_COMMAND, MAKEWPARAM(40005, 1), 0);
    SendMessageA(window.handle, WM_COMMAND, MAKEWPARAM(7, EN_CHANGE), reinterpret_cast<LPARAM>(control));
    SendMessageA(window.handle, WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    SendMessageA(window.handle, WM_COMMAND, MAKEWPARAM(7, EN_SETFOCUS), reinterpret_cast<LPARAM>(control));
    std::vector<std::string> expected = {"menu 40007", "menu 40005", "edit changed by control without header",
                                         "control command by control"};
    EXPECT_EQ(events, expected);
}

TEST_F(ToolkitWindow, ControlInsideAWindowGetsNoCommandNotify)
{
    RecordingWindow window;
    ASSERT_TRUE(createTopLevel(window));
    ControlWrapper button;
    button.setPosition(0, 0);
    button.setSize(20, 10);
    ASSERT_TRUE(button.create("Button", "b", &window, false));
    window.expectedControl = button.handle;
    events.clear();
    SendMessageA(window.handle, WM_COMMAND, MAKEWPARAM(3, BN_CLICKED), reinterpret_cast<LPARAM>(button.handle));
    std::vector<std::string> expected = {"control command by control"};
    EXPECT_EQ(events, expected);
}

TEST_F(ToolkitWindow, NotifyFromABoundControlIsReflectedThenRouted)
{
    RecordingWindow window;
    ASSERT_TRUE(createTopLevel(window));
    ControlWrapper button;
    button.setPosition(0, 0);
    button.setSize(20, 10);
    ASSERT_TRUE(button.create("Button", "b", &window, false));
    EXPECT_EQ(Window::boundTo(button.handle), &button);
    window.expectedControl = button.handle;
    events.clear();

    NMHDR header = {button.handle, 3, 0};
    SendMessageA(window.handle, WM_NOTIFY, 3, reinterpret_cast<LPARAM>(&header));
    std::vector<std::string> expected = {"reflected 0 with header", "button notify by control"};
    EXPECT_EQ(events, expected);

    events.clear();
    header.code = static_cast<UINT>(-2);
    SendMessageA(window.handle, WM_NOTIFY, 3, reinterpret_cast<LPARAM>(&header));
    expected = {"reflected -2 with header"};
    EXPECT_EQ(events, expected);
}

TEST_F(ToolkitWindow, NotifyWithoutRecordOrBoundSourceCallsNothing)
{
    RecordingWindow window;
    ASSERT_TRUE(createTopLevel(window));
    HWND unbound =
        CreateWindowExA(0, "Button", "", WS_CHILD, 0, 0, 10, 10, window.handle, nullptr, moduleInstance, nullptr);
    events.clear();
    SendMessageA(window.handle, WM_NOTIFY, 0, 0);
    NMHDR header = {unbound, 1, 0};
    SendMessageA(window.handle, WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&header));
    EXPECT_TRUE(events.empty());
}

TEST_F(ToolkitWindow, UnclaimedMessagesGetDefaultProcessing)
{
    RecordingWindow window;
    ASSERT_TRUE(createTopLevel(window));
    events.clear();
    SendMessageA(window.handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("renamed"));
    char title[32] = "";
    GetWindowTextA(window.handle, title, sizeof title);
    EXPECT_STREQ(title, "renamed");
    SendMessageA(window.handle, WM_USER + 7, 0, 0);
    std::vector<std::string> expected = {"other"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(SendMessageA(window.handle, WM_USER + 8, 0, 0), 0);
}

TEST_F(ToolkitWindow, MouseCoordinatesAreSignExtended)
{
    RecordingWindow window;
    ASSERT_TRUE(createTopLevel(window));
    events.clear();
    SendMessageA(window.handle, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-20, -1));
    std::vector<std::string> expected = {"move 1 -20,-1"};
    EXPECT_EQ(events, expected);
}

TEST_F(ToolkitWindow, SecondCreationReusesTheRegisteredClass)
{
    RecordingWindow first, second;
    ASSERT_TRUE(createTopLevel(first));
    ASSERT_TRUE(createTopLevel(second));
    EXPECT_EQ(first.registerClass(testClass), 0) << "the class was registered once already";
    EXPECT_EQ(GetClassLongPtrA(first.handle, GCW_ATOM), GetClassLongPtrA(second.handle, GCW_ATOM));
}

// Creates a second window while its own creation-time WM_CREATE is being handled.
class NestingWindow : public Window {
public:
    int onOtherMessage(UINT message, WPARAM, LPARAM) override
    {
        if (message == WM_CREATE) {
            inner.setPosition(0, 0);
            inner.setSize(10, 10);
            innerCreated = inner.create(testClass, "inner", nullptr, true);
            // The rest of this window's creation must still find this object.
            SendMessageA(handle, WM_USER + 9, 0, 0);
        } else if (message == WM_USER + 9) {
            outerReached = true;
        }
        return 0;
    }
    void onDestroy() override {}
    RecordingWindow inner;
    bool innerCreated = false;
    bool outerReached = false;
};

class CountingHandler : public WindowHandler {
public:
    int onMessage(HWND hwnd, UINT message, WPARAM, LPARAM) override
    {
        if (message == WM_SIZE || message == WM_MOVE || message == WM_USER + 9)
            ++afterInnerCreation;
        lastHwnd = hwnd;
        return 0;
    }
    int afterInnerCreation = 0;
    HWND lastHwnd = nullptr;
};

TEST_F(ToolkitWindow, NestedCreationKeepsTheOuterBinding)
{
    testing::internal::CaptureStdout();
    NestingWindow outer;
    CountingHandler counter;
    outer.addHandler(&counter);
    bool created = createTopLevel(outer);
    std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(created);
    toDestroy.push_back(outer.inner.handle);
    EXPECT_TRUE(outer.innerCreated);
    EXPECT_TRUE(outer.outerReached);
    EXPECT_GE(counter.afterInnerCreation, 1);
    EXPECT_EQ(counter.lastHwnd, outer.handle);
    EXPECT_EQ(Window::boundTo(outer.handle), &outer);
    EXPECT_EQ(Window::boundTo(outer.inner.handle), &outer.inner);
    EXPECT_EQ(windowBeingCreated, nullptr);
    EXPECT_EQ(printed.find("missed message"), std::string::npos);
}

TEST_F(ToolkitWindow, LateMessageAfterDestructionIsReportedAsMissed)
{
    RecordingWindow* window = new RecordingWindow;
    ASSERT_TRUE(createTopLevel(*window));
    HWND native = window->handle;
    delete window;
    EXPECT_EQ(GetWindowLongPtrA(native, GWLP_USERDATA), 0);
    events.clear();
    testing::internal::CaptureStdout();
    LRESULT result = SendMessageA(native, WM_LBUTTONDOWN, 0, 0);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(printed, "missed message\n");
    EXPECT_TRUE(events.empty());
    testing::internal::CaptureStdout();
    DestroyWindow(native);
    testing::internal::GetCapturedStdout();
}

TEST_F(ToolkitWindow, DestructorLeavesAnotherObjectsBindingAlone)
{
    RecordingWindow owner;
    ASSERT_TRUE(createTopLevel(owner));
    {
        RecordingWindow stale;
        stale.handle = owner.handle;
    }
    EXPECT_EQ(Window::boundTo(owner.handle), &owner);
}

TEST_F(ToolkitWindow, SetSizeWithTheStoredSizeLeavesTheWindowAlone)
{
    RecordingWindow window;
    window.setPosition(5, 5);
    window.setSize(120, 80);
    ASSERT_TRUE(createTopLevel(window));
    SetWindowPos(window.handle, nullptr, 0, 0, 300, 200, SWP_NOZORDER | SWP_NOMOVE);
    window.setSize(120, 80);
    RECT actual;
    GetWindowRect(window.handle, &actual);
    EXPECT_EQ(actual.right - actual.left, 300);
    window.setSize(121, 80);
    GetWindowRect(window.handle, &actual);
    EXPECT_EQ(actual.right - actual.left, 121);
}

} // namespace
