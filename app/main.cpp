#include <windows.h>
#include <commctrl.h>

#include "app/notifier_app.h"
#include "app/single_instance.h"
#include "dialogs/about_dialog.h"
#include "dialogs/account_list.h"
#include "dialogs/config_dialog.h"
#include "mail/connection/connection.h"

namespace {

// The tooltip class of the common controls (used by the dialogs) must be registered first.
void initCommonControls()
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
}

// The one place that knows both the application and the dialogs: the application runs the
// dialogs through this table and nothing else of dialogs/.
AppDialogs programDialogs()
{
    AppDialogs dialogs;
    dialogs.configure = runConfigDialog;
    dialogs.configureAccounts = runAccountsDialog;
    dialogs.about = AboutDialog::showOrRaise;
    return dialogs;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    initialiseTlsLibrary();
    SingleInstance oneCopy;
    if (!oneCopy.acquire())
        return 0;
    initCommonControls();
    NotifierApp app(instance, programDialogs());
    if (!app.startUp())
        return 0;
    return app.runMessageLoop(-1);
}
