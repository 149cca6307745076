#pragma once

#include <windows.h>
#include <commctrl.h>

#include "ui/window_base.h"

// The window procedure registered with every toolkit class.
LRESULT CALLBACK sharedWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// A native window bound to this object through its user-data slot. The object never owns
// the native window: whoever owns the object destroys the window first.
class Window : public WindowBase {
public:
    Window() = default;
    // Also records the module instance used for classes, windows and resources.
    explicit Window(HINSTANCE instance);
    // Clears the binding if the window still names this object, so that late messages
    // find no object instead of freed memory.
    ~Window() override;

    virtual void onAttached();
    // From the owning dialog, for WM_COMMAND sent by this control.
    virtual void onCommandNotify(int code);
    virtual void onMenuCommand(int id);
    // Forwards to onMenuCommand.
    virtual void onAccelerator(int id);
    // From the parent, for WM_NOTIFY sent by this control.
    virtual void onNotifyReflected(int code, NMHDR* header);
    // Reflects to the bound source control, then routeNotify.
    virtual void onNotify(HWND source, int code, NMHDR* header);
    virtual void onPaint(HDC context);
    virtual void onTimer(UINT_PTR id);
    // Non-zero claims WM_SIZE.
    virtual int onSize(int newWidth, int newHeight);
    virtual void onChar(WPARAM character);
    virtual void onKeyDown(WPARAM virtualKey);
    virtual void onKeyUp(WPARAM virtualKey);
    virtual void onLeftButtonDown(int pointX, int pointY);
    virtual void onLeftButtonUp(int pointX, int pointY);
    virtual void onLeftDoubleClick(WPARAM keyFlags, int pointX, int pointY);
    virtual void onMouseMove(WPARAM keyFlags, int pointX, int pointY);
    // Destroys the native window.
    virtual void onClose();
    // Ends the message loop for a window without parent.
    virtual void onDestroy();
    // The dispatcher: handler chain, then the operations above, then default processing.
    virtual LRESULT windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // From the owning dialog, for WM_DRAWITEM naming this control.
    virtual void onDrawItem(DRAWITEMSTRUCT* record);
    virtual void onSelectionChanged(HWND control, NMHDR* header);
    // header is null when the change came as WM_COMMAND.
    virtual void onEditChanged(HWND control, NMHDR* header);
    virtual void onItemActivated(HWND control, NMHDR* header);
    virtual void onControlCommand(HWND control);
    virtual void onButtonNotify(HWND control);

    // The object bound to a native window, or null.
    static Window* boundTo(HWND hwnd);

    // Registers a class that uses the shared window procedure; 0 on failure.
    ATOM registerClass(const char* className);
    // title null: the class name. parentWindow null: a top-level window.
    bool create(const char* className, const char* title, WindowBase* parentWindow, bool registerIfMissing);
    bool show(int showCommand);
    // acceleratorId < 0: no accelerator table. Returns the quit code.
    int runMessageLoop(int acceleratorId);
    void routeNotify(HWND control, int code, NMHDR* header);
    // Binds this wrapper to a control of a dialog; true when the control exists.
    bool attachToDialogItem(HWND dialogHandle, int controlId);

private:
    bool ensureClassRegistered(const char* className);
    void resolveDefaultPlacement();
    void dispatchCommand(WPARAM wParam, LPARAM lParam);
    void leaveCreation();

    // The creation this one interrupted, while this window is being created.
    Window* outerCreation = nullptr;
};
