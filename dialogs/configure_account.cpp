#include "dialogs/configure_account.h"

#include "dialogs/config_dialog.h"

namespace {
void readStoredValues(const Settings& settings, ConfigValues& values)
{
    settings.readAccountText(keyServer, values.server);
    settings.readAccountText(keyUsername, values.username);
    settings.readPassword(values.password);
    values.SSL = settings.readUseTls() ? 1 : 0;
    values.port = settings.readPort();
    values.checkmins = settings.readCheckMinutes();
    values.playsound = settings.readPlaySound(defaultPlaySoundForDialog) ? 1 : 0;
    settings.readCustomSound(values.customsound);
    values.balloon = settings.readBalloon() ? 1 : 0;
    settings.readDoubleClick(values.doubleclick);
    settings.readCertSha256(values.certsha256);
}

} // namespace

bool configureAccount(CheckerThread& checker, Settings& settings, bool& changeColour, COLORREF& newMailColour)
{
    ConfigValues values;
    readStoredValues(settings, values);
    values.changecolour = changeColour ? 1 : 0;
    values.newmailcolour = newMailColour;
    if (!runConfigDialog(values)) {
        return false;
    }
    checker.setAccount(textOrEmpty(values.server), textOrEmpty(values.username), textOrEmpty(values.password),
                       values.port, connectionSecurityOf(values.SSL != 0, settings.readStartTls()), values.checkmins);
    checker.setCertificatePin(textOrEmpty(values.certsha256));
    changeColour = values.changecolour != 0;
    newMailColour = values.newmailcolour;

    ConfigurationValues stored;
    stored.server = textOrEmpty(values.server);
    stored.username = textOrEmpty(values.username);
    stored.password = textOrEmpty(values.password);
    stored.useTls = values.SSL != 0;
    stored.port = values.port;
    stored.checkMinutes = values.checkmins;
    stored.certSha256 = textOrEmpty(values.certsha256);
    stored.playSound = values.playsound != 0;
    stored.customSound = textOrEmpty(values.customsound);
    stored.changeColour = changeColour;
    stored.newMailColour = newMailColour;
    stored.balloon = values.balloon != 0;
    stored.doubleClick = textOrEmpty(values.doubleclick);
    settings.writeConfiguration(stored);
    return true;
}
