#include "ui/window.h"

#include <cstdio>
#include <cstring>

#include "util/holders/win32_holders.h"

namespace {

const char missedMessageText[] = "missed message\n";
const int classNameSize = 256;
const int creationErrorSize = 256;
const UINT classStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
// Frame bits a child window gives up; WS_BORDER stays.
const DWORD childRemovedStyle = WS_DLGFRAME | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

int signedLow(LPARAM value)
{
    return static_cast<short>(LOWORD(value));
}

int signedHigh(LPARAM value)
{
    return static_cast<short>(HIWORD(value));
}

void bind(HWND hwnd, Window* window)
{
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
}

// WM_NCCREATE carries the creating object as creation parameter: binding there lets every
// later creation-time message, including those after a nested creation, find its object.
Window* bindAtNonClientCreate(HWND hwnd, LPARAM lParam)
{
    const CREATESTRUCTA* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    Window* creating = windowBeingCreated;
    if (!creation || !creating || creation->lpCreateParams != creating)
        return nullptr;
    bind(hwnd, creating);
    creating->handle = hwnd;
    return creating;
}

// Only our own classes get the object as creation parameter; a system class may give the
// parameter a meaning of its own.
bool usesSharedProcedure(const char* className)
{
    WNDCLASSA found = {};
    return GetClassInfoA(moduleInstance, className, &found) && found.lpfnWndProc == sharedWindowProc;
}

} // namespace

LRESULT CALLBACK sharedWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window* window = Window::boundTo(hwnd);
    if (!window && message == WM_NCCREATE)
        window = bindAtNonClientCreate(hwnd, lParam);
    if (!window)
        window = windowBeingCreated;
    if (window)
        return window->windowProc(hwnd, message, wParam, lParam);
    fputs(missedMessageText, stdout);
    fflush(stdout);
    return 0;
}

Window::Window(HINSTANCE instance)
{
    moduleInstance = instance;
}

Window::~Window()
{
    if (handle && boundTo(handle) == this)
        bind(handle, nullptr);
    leaveCreation();
}

Window* Window::boundTo(HWND hwnd)
{
    if (!hwnd)
        return nullptr;
    return reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void Window::onAttached() {}
void Window::onCommandNotify(int) {}
void Window::onMenuCommand(int) {}

void Window::onAccelerator(int id)
{
    onMenuCommand(id);
}

void Window::onNotifyReflected(int, NMHDR*) {}

void Window::onNotify(HWND source, int code, NMHDR* header)
{
    Window* control = boundTo(source);
    if (!control)
        return;
    control->onNotifyReflected(code, header);
    routeNotify(source, code, header);
}

void Window::onPaint(HDC) {}
void Window::onTimer(UINT_PTR) {}

int Window::onSize(int, int)
{
    return 0;
}

void Window::onChar(WPARAM) {}
void Window::onKeyDown(WPARAM) {}
void Window::onKeyUp(WPARAM) {}
void Window::onLeftButtonDown(int, int) {}
void Window::onLeftButtonUp(int, int) {}
void Window::onLeftDoubleClick(WPARAM, int, int) {}
void Window::onMouseMove(WPARAM, int, int) {}

void Window::onClose()
{
    DestroyWindow(handle);
}

void Window::onDestroy()
{
    if (!parent)
        PostQuitMessage(0);
}

void Window::onDrawItem(DRAWITEMSTRUCT*) {}
void Window::onSelectionChanged(HWND, NMHDR*) {}
void Window::onEditChanged(HWND, NMHDR*) {}
void Window::onItemActivated(HWND, NMHDR*) {}
void Window::onControlCommand(HWND) {}
void Window::onButtonNotify(HWND) {}

LRESULT Window::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (offerToHandlers(hwnd, message, wParam, lParam))
        return 0;
    switch (message) {
    case WM_DESTROY:
        onDestroy();
        return 0;
    case WM_SIZE:
        if (onSize(LOWORD(lParam), HIWORD(lParam)))
            return 0;
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC context = BeginPaint(hwnd, &paint);
        onPaint(context);
        EndPaint(hwnd, &paint);
        break;
    }
    case WM_ENDSESSION:
        // wParam FALSE: the log-off was called off, so the session (and the program) goes on.
        if (wParam)
            onClose();
        return 0;
    case WM_CLOSE:
        onClose();
        return 0;
    case WM_NOTIFY:
        if (lParam) {
            NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
            onNotify(header->hwndFrom, static_cast<int>(header->code), header);
        }
        break;
    case WM_KEYDOWN:
        onKeyDown(wParam);
        break;
    case WM_KEYUP:
        onKeyUp(wParam);
        break;
    case WM_CHAR:
        onChar(wParam);
        break;
    case WM_COMMAND:
        dispatchCommand(wParam, lParam);
        break;
    case WM_TIMER:
        onTimer(wParam);
        break;
    case WM_MOUSEMOVE:
        onMouseMove(wParam, signedLow(lParam), signedHigh(lParam));
        break;
    case WM_LBUTTONDOWN:
        onLeftButtonDown(signedLow(lParam), signedHigh(lParam));
        break;
    case WM_LBUTTONUP:
        onLeftButtonUp(signedLow(lParam), signedHigh(lParam));
        break;
    case WM_LBUTTONDBLCLK:
        onLeftDoubleClick(wParam, signedLow(lParam), signedHigh(lParam));
        break;
    default:
        if (onOtherMessage(message, wParam, lParam))
            return 0;
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Window::dispatchCommand(WPARAM wParam, LPARAM lParam)
{
    int code = HIWORD(wParam);
    int id = LOWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    if (control) {
        if (code == BN_CLICKED)
            onControlCommand(control);
        else if (code == EN_CHANGE)
            onEditChanged(control, nullptr);
    } else if (code == 0) {
        onMenuCommand(id);
    } else if (code == 1) {
        onAccelerator(id);
    }
}

void Window::routeNotify(HWND control, int code, NMHDR* header)
{
    char className[classNameSize];
    if (!GetClassNameA(control, className, classNameSize))
        return;
    if (strcmp(className, "ComboBox") == 0) {
        if (code == CBN_SELCHANGE)
            onSelectionChanged(control, header);
    } else if (strcmp(className, "Edit") == 0) {
        if (code == EN_CHANGE)
            onEditChanged(control, header);
    } else if (strcmp(className, "SysListView32") == 0) {
        if (code == static_cast<int>(NM_DBLCLK)) {
            onItemActivated(control, header);
        } else if (code == static_cast<int>(LVN_ITEMCHANGED)) {
            const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
            if ((change->uNewState ^ change->uOldState) & LVIS_SELECTED)
                onSelectionChanged(control, header);
        }
    } else if (strcmp(className, "SysTreeView32") == 0) {
        if (code == static_cast<int>(TVN_SELCHANGEDA))
            onSelectionChanged(control, header);
    } else if (strcmp(className, "Button") == 0) {
        if (code == 0)
            onButtonNotify(control);
    }
}

ATOM Window::registerClass(const char* className)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = classStyle;
    windowClass.lpfnWndProc = sharedWindowProc;
    windowClass.hInstance = moduleInstance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    return RegisterClassExA(&windowClass);
}

bool Window::ensureClassRegistered(const char* className)
{
    WNDCLASSA existing = {};
    if (GetClassInfoA(moduleInstance, className, &existing))
        return true;
    if (registerClass(className))
        return true;
    MessageBoxA(handle, "Can't register Window Class", className, MB_OK);
    return false;
}

void Window::resolveDefaultPlacement()
{
    if (x == unchosenPlacement) {
        WindowDc screen(handle);
        int screenWidth = GetDeviceCaps(screen.get(), HORZRES);
        if (width == unchosenPlacement)
            width = screenWidth / 3;
        x = (screenWidth - width) / 2;
    }
    if (y == unchosenPlacement) {
        WindowDc screen(handle);
        int screenHeight = GetDeviceCaps(screen.get(), VERTRES);
        if (height == unchosenPlacement)
            height = (2 * screenHeight) / 3;
        y = (screenHeight - height) / 2;
    }
}

void Window::leaveCreation()
{
    for (Window** link = &windowBeingCreated; *link; link = &(*link)->outerCreation) {
        if (*link == this) {
            *link = outerCreation;
            outerCreation = nullptr;
            return;
        }
    }
}

bool Window::create(const char* className, const char* title, WindowBase* parentWindow, bool registerIfMissing)
{
    if (registerIfMissing && !ensureClassRegistered(className))
        return false;
    if (parentWindow)
        style = (style & ~childRemovedStyle) | WS_CHILD;
    parent = parentWindow;
    outerCreation = windowBeingCreated;
    windowBeingCreated = this;
    resolveDefaultPlacement();

    const char* shownTitle = title ? title : className;
    void* creationParameter = usesSharedProcedure(className) ? this : nullptr;
    HWND created = CreateWindowExA(exStyle, className, shownTitle, style, x, y, width, height,
                                   parent ? parent->handle : nullptr, nullptr, moduleInstance, creationParameter);
    leaveCreation();
    if (!created) {
        handle = nullptr;
        char text[creationErrorSize];
        snprintf(text, sizeof text, "Window creation failed (%d)", static_cast<int>(GetLastError()));
        MessageBoxA(handle, text, shownTitle, MB_OK);
        return false;
    }
    handle = created;
    bind(created, this);
    readPlacement();
    style = static_cast<DWORD>(GetWindowLongA(handle, GWL_STYLE));
    exStyle = static_cast<DWORD>(GetWindowLongA(handle, GWL_EXSTYLE));
    attachHandlers();
    return true;
}

bool Window::show(int showCommand)
{
    ShowWindow(handle, showCommand);
    UpdateWindow(handle);
    style = static_cast<DWORD>(GetWindowLongA(handle, GWL_STYLE));
    return true;
}

int Window::runMessageLoop(int acceleratorId)
{
    HACCEL table = nullptr;
    if (acceleratorId >= 0)
        table = LoadAcceleratorsA(moduleInstance, MAKEINTRESOURCEA(LOWORD(acceleratorId)));
    MSG message;
    BOOL received;
    while ((received = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        // -1 is a failure of the call itself; looping on it would never end.
        if (received == -1)
            return -1;
        if (table && TranslateAcceleratorA(handle, table, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

bool Window::attachToDialogItem(HWND dialogHandle, int controlId)
{
    handle = GetDlgItem(dialogHandle, controlId);
    if (handle) {
        bind(handle, this);
        style = static_cast<DWORD>(GetWindowLongA(handle, GWL_STYLE));
        exStyle = static_cast<DWORD>(GetWindowLongA(handle, GWL_EXSTYLE));
        readPlacement();
    }
    onAttached();
    return handle != nullptr;
}
