#include "dialogs/about_dialog.h"

#include <cstdio>

#include "dialogs/version_resource.h"
#include "mail/platform/executable_folder.h"

namespace {
const int versionTextSize = 256;
const int versionNumberCount = 4;
} // namespace

INT_PTR AboutDialog::onInitDialog(HWND dialog)
{
    if (versionTextId != 0 && versionText.attachToDialogItem(dialog, versionTextId)) {
        showProgramVersion();
    }
    if (linkId != 0) {
        link.attachToDialogItem(dialog, linkId);
    }
    return TRUE;
}

// The template's "vx.x.x" stays when the program carries no readable version.
void AboutDialog::showProgramVersion()
{
    char path[maxExecutablePath] = {};
    if (!executablePath(path, sizeof path)) {
        return;
    }
    VersionResource version(path);
    int numbers[versionNumberCount] = {};
    if (!version.productVersion(numbers, versionNumberCount)) {
        return;
    }
    char text[versionTextSize];
    std::snprintf(text, sizeof text, "Version %dv%dr%d", numbers[0], numbers[1], numbers[2]);
    versionText.setText(text);
}

bool raiseRunningDialog(int resourceId)
{
    Dialog* running = Dialog::findRunning(resourceId);
    if (running == nullptr || running->handle == nullptr) {
        return false;
    }
    if (IsIconic(running->handle)) {
        ShowWindow(running->handle, SW_RESTORE);
    }
    SetForegroundWindow(running->handle);
    return true;
}

void AboutDialog::showOrRaise()
{
    if (raiseRunningDialog(IDD_ABOUT)) {
        return;
    }
    AboutDialog about;
    about.runModal(about.templateId, nullptr);
}
