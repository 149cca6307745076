#include "dialogs/configure_account.h"

#include "dialogs/config_dialog.h"

namespace {
void readStoredValues(const Settings& settings, ConfigValues& values) {
    settings.readAccountText(keyServer, values.server);
    settings.readAccountText(keyUsername, values.username);
    settings.readAccountText(keyPassword, values.password);
    values.SSL = settings.readUseTls() ? 1 : 0;
    values.port = settings.readPort();
    values.checkmins = settings.readCheckMinutes();
    values.playsound = settings.readPlaySound(defaultPlaySoundForDialog) ? 1 : 0;
    settings.readCustomSound(values.customsound);
    settings.readDoubleClick(values.doubleclick);
}

}

bool configureAccount(CheckerThread& checker, Settings& settings, bool& changeColour, COLORREF& newMailColour) {
    ConfigValues values;
    readStoredValues(settings, values);
    values.changecolour = changeColour ? 1 : 0;
    values.newmailcolour = newMailColour;
    if (!runConfigDialog(values)) {
        return false;
    }
    checker.setAccount(textOrEmpty(values.server), textOrEmpty(values.username), textOrEmpty(values.password),
                       values.port, values.SSL, values.checkmins);
    changeColour = values.changecolour != 0;
    newMailColour = values.newmailcolour;

    ConfigurationValues stored;
    stored.server = textOrEmpty(values.server);
    stored.username = textOrEmpty(values.username);
    stored.password = textOrEmpty(values.password);
    stored.useTls = values.SSL != 0;
    stored.port = values.port;
    stored.checkMinutes = values.checkmins;
    stored.playSound = values.playsound != 0;
    stored.customSound = textOrEmpty(values.customsound);
    stored.changeColour = changeColour;
    stored.newMailColour = newMailColour;
    stored.doubleClick = textOrEmpty(values.doubleclick);
    settings.writeConfiguration(stored);
    return true;
}
