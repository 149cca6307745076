#pragma once

#include <windows.h>

#include "res/resource.h"
#include "ui/controls.h"
#include "ui/dialog.h"

// The About box: product name, the program's product version and the maker's link.
class AboutDialog : public Dialog {
public:
    ~AboutDialog() override = default;
    INT_PTR onInitDialog(HWND dialog) override;

    // Runs the dialog without owner; when one is already open, brings it forward instead.
    static void showOrRaise();

    int templateId = IDD_ABOUT;
    // 0 leaves the control alone.
    int versionTextId = IDC_VERSION_TEXT;
    int linkId = IDC_LINK;
    StaticControl versionText;
    LinkButton link;

private:
    void showProgramVersion();
};

// Brings the running dialog from template resourceId to the front; false when none runs.
bool raiseRunningDialog(int resourceId);
