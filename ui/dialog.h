#pragma once

#include <windows.h>

#include "ui/window_base.h"

// The dialog procedure given to every modal run.
INT_PTR CALLBACK sharedDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// A modal dialog from a dialog template. The dialog window is not bound to the object; its
// messages find the object among the running dialogs by handle.
class Dialog : public WindowBase {
public:
    Dialog() = default;
    ~Dialog() override;

    // Attaches every handler; non-zero lets the platform set the default focus.
    virtual INT_PTR onInitDialog(HWND dialog);
    // WM_COMMAND other than OK and Cancel; control is null for menus and accelerators.
    virtual INT_PTR onCommand(HWND control, int code);
    // A button click or a combo box selection change.
    virtual void onClick(HWND control);
    virtual void onEditChange(HWND control);
    // OK was pressed: true ends the dialog with 1; false keeps it open (the dialog has told
    // the user why).
    virtual bool onOk();
    // A brush for a static control, or null for the platform colours.
    virtual HBRUSH onCtlColorStatic(HWND control, HDC context);
    virtual INT_PTR dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    // Runs the dialog from template resourceId; 1 after OK, 2 after Cancel, negative when
    // it cannot be created. Runs may nest: the outer dialog keeps working meanwhile.
    int runModal(int resourceId, WindowBase* owner);

    // The newest dialog whose run from template resourceId is in progress, or null; lets a
    // caller bring an open dialog forward instead of running a second one.
    static Dialog* findRunning(int resourceId);
    // The running dialog whose window is hwnd, or null.
    static Dialog* runningFor(HWND hwnd);

    // GetDlgItem: the control with id `id`, or null; for controls without a wrapper.
    HWND item(int id) const { return GetDlgItem(handle, id); }
    // EnableWindow on item(id): true when the control was disabled before.
    bool enableItem(int id, bool enabled) { return EnableWindow(item(id), enabled ? TRUE : FALSE) != FALSE; }

private:
    void leaveRun();

    // The run this one interrupted, while this dialog runs.
    Dialog* outerRun = nullptr;
    int runningTemplate = 0;
    bool running = false;
};
