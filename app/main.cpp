#include <windows.h>
#include <commctrl.h>

#include "app/notifier_app.h"
#include "app/single_instance.h"
#include "mail/connection.h"

namespace {

// The tooltip class of the common controls (used by the dialogs) must be registered first.
void initCommonControls()
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    initialiseTlsLibrary();
    SingleInstance oneCopy;
    if (!oneCopy.acquire())
        return 0;
    initCommonControls();
    NotifierApp app(instance);
    if (!app.startUp())
        return 0;
    return app.runMessageLoop(-1);
}
