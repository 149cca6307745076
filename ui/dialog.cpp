#include "ui/dialog.h"

#include <cstring>

#include "ui/window.h"

namespace {

const int classNameSize = 256;

} // namespace

INT_PTR CALLBACK sharedDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Dialog* dialog = Dialog::runningFor(hwnd);
    return dialog ? dialog->dialogProc(hwnd, message, wParam, lParam) : 0;
}

Dialog::~Dialog()
{
    leaveRun();
}

Dialog* Dialog::runningFor(HWND hwnd)
{
    for (Dialog* dialog = currentDialog; dialog; dialog = dialog->outerRun) {
        if (dialog->handle == hwnd)
            return dialog;
    }
    // The first message of a new run comes before WM_INITDIALOG: only the newest run can
    // still be waiting for its window.
    if (currentDialog && !currentDialog->handle) {
        currentDialog->handle = hwnd;
        return currentDialog;
    }
    return nullptr;
}

Dialog* Dialog::findRunning(int resourceId)
{
    for (Dialog* dialog = currentDialog; dialog; dialog = dialog->outerRun) {
        if (dialog->runningTemplate == LOWORD(resourceId))
            return dialog;
    }
    return nullptr;
}

void Dialog::leaveRun()
{
    if (!running)
        return;
    for (Dialog** link = &currentDialog; *link; link = &(*link)->outerRun) {
        if (*link == this) {
            *link = outerRun;
            break;
        }
    }
    outerRun = nullptr;
    running = false;
}

int Dialog::runModal(int resourceId, WindowBase* owner)
{
    handle = nullptr;
    runningTemplate = LOWORD(resourceId);
    outerRun = currentDialog;
    currentDialog = this;
    running = true;
    HWND ownerHandle = owner ? owner->handle : nullptr;
    INT_PTR result =
        DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(LOWORD(resourceId)), ownerHandle, sharedDialogProc, 0);
    if (result < 0)
        MessageBoxA(ownerHandle, "Dialog creation failed", "Error", MB_OK);
    leaveRun();
    return static_cast<int>(result);
}

INT_PTR Dialog::onInitDialog(HWND)
{
    attachHandlers();
    return 1;
}

INT_PTR Dialog::onCommand(HWND control, int code)
{
    char className[classNameSize];
    if (!GetClassNameA(control, className, classNameSize))
        return 0;
    if (strcmp(className, "ComboBox") == 0) {
        if (code == CBN_SELCHANGE)
            onClick(control);
    } else if (strcmp(className, "Edit") == 0) {
        if (code == EN_CHANGE)
            onEditChange(control);
    } else if (strcmp(className, "Button") == 0) {
        if (code == BN_CLICKED)
            onClick(control);
    }
    return 0;
}

void Dialog::onClick(HWND) {}
void Dialog::onEditChange(HWND) {}
bool Dialog::onOk()
{
    return true;
}

HBRUSH Dialog::onCtlColorStatic(HWND, HDC)
{
    return nullptr;
}

INT_PTR Dialog::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (offerToHandlers(hwnd, message, wParam, lParam))
        return 0;
    switch (message) {
    case WM_DRAWITEM: {
        DRAWITEMSTRUCT* record = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        Window* item = record ? Window::boundTo(record->hwndItem) : nullptr;
        if (item)
            item->onDrawItem(record);
        return 0;
    }
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        Window* source = header ? Window::boundTo(header->hwndFrom) : nullptr;
        if (source)
            source->onNotifyReflected(static_cast<int>(header->code), header);
        return 0;
    }
    case WM_INITDIALOG:
        handle = hwnd;
        if (!GetParent(hwnd))
            centreOnParent();
        return onInitDialog(hwnd);
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        int code = HIWORD(wParam);
        HWND control = reinterpret_cast<HWND>(lParam);
        if (Window* wrapper = Window::boundTo(control))
            wrapper->onCommandNotify(code);
        if (id == IDOK) {
            if (onOk())
                EndDialog(hwnd, IDOK);
            return 1;
        }
        if (id == IDCANCEL) {
            EndDialog(hwnd, IDCANCEL);
            return 1;
        }
        return onCommand(control, code);
    }
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(
            onCtlColorStatic(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam)));
    default:
        return 0;
    }
}
