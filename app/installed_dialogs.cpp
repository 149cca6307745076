#include "app/app_dialogs.h"

#include "app/notifier_app.h"
#include "dialogs/about_dialog.h"
#include "dialogs/configure_account.h"

namespace {

bool configureApp(NotifierApp& app)
{
    return configureAccount(app.checker, app.settings, app.changeColour, app.newMailColour);
}

} // namespace

// The configuration and About dialogs of dialogs/; each brings an open one forward instead
// of running a second.
AppDialogs installedDialogs()
{
    AppDialogs dialogs;
    dialogs.configure = &configureApp;
    dialogs.about = &AboutDialog::showOrRaise;
    return dialogs;
}
