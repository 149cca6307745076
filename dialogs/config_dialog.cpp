#include "dialogs/config_dialog.h"

#include <commdlg.h>
#include <cstring>

#include "dialogs/about_dialog.h"
#include "dialogs/message_box.h"
#include "util/decimal_text.h"

namespace {
const char configCaption[] = "Pellwick";
const char portRefused[] = "The port must be a number from 1 to 65535.";
const char intervalRefused[] = "The check interval must be a whole number of minutes.";
const char repeatRefused[] = "The sound's repeat must be a whole number of minutes from 1 to 9999.";
const char passwordNotStored[] = "The password could not be stored protected, so the settings file keeps the one it "
                                 "held before. The new password is used until pellwick is closed.";
const int customColourCount = 16;

const char providerTip[] =
    "Your email provider. If not in the list, just select \"Other\" and enter the details manually";
const char hostTip[] = "Your email server name or IP Address";
const char checkTip[] = "Attempt to connect using the details shown";
const char userTip[] = "Your email username, used to log into the server";
const char passwordTip[] = "Your email password, used to log into the server";
const char securityTip[] = "How the conversation with the server is encrypted: SSL/TLS from the start, or STARTTLS, "
                           "which encrypts it before anything is sent. With None your password is sent unencrypted.";
const char portTip[] =
    "The port number on the server to connect to. Usually 995 for a secured connection or 110 for unsecured.";
const char intervalTip[] = "How often to check for new emails in minutes... ";
const char soundTip[] = "The sound to play when new mail is detected";
const char soundFileTip[] =
    "The sound file to play when new mail is detected. Leave blank to play the Windows default New Mail sound.";
const char repeatSoundTip[] = "Play the sound again while there is unseen mail, for when you were away";
const char repeatMinutesTip[] = "Minutes between repeats of the sound";
const char changeColourTip[] = "Change the floating window colour when new mail is detected";
const char balloonTip[] = "Show a notification with the number of new messages when new mail is detected";
const char swatchTip[] = "The colour to change the floating window to when new mail is detected";
const char mailProgramTip[] = "Path to your mail program, activated when you double click on pellwick. Can be a web "
                              "address if you use webmail: e.g.\n  "
                              "https://mail.google.com/"
                              "\nor the path of your mail program: e.g:\n  c:\\program files\\... ";

const char exeFilter[] = "Executable files (*.exe)\0*.exe\0";
const char wavFilter[] = "Sound files (*.wav)\0*.wav\0";

void readControlText(const Window& control, TextRecord& target)
{
    target.assign(control.getText().get());
}

} // namespace

bool parseWholeNumber(const char* text, int maxDigits, int& value)
{
    int length = text ? static_cast<int>(std::strlen(text)) : 0;
    if (length == 0 || length > maxDigits) {
        return false;
    }
    // Digits only: no blanks or sign before them, nothing after them.
    if (text[0] < '0' || text[0] > '9') {
        return false;
    }
    DecimalNumber number;
    if (!scanDecimal(text, nullptr, number) || *text != '\0' || !number.fitsInt) {
        return false;
    }
    value = number.value;
    return true;
}

ConfigDialog::ConfigDialog(ConfigurationValues& values, PasswordProtection protect)
    : values(values), protectPassword(protect), toolTip(configToolTipWidth), colourSwatch(0)
{
}

void ConfigDialog::attachEdit(EditControl& edit, int id, const char* text, int limit, const char* tip)
{
    edit.attachToDialogItem(handle, id);
    edit.limitText(limit);
    SetWindowTextA(edit.handle, text);
    toolTip.addTool(&edit, nullptr, tip);
}

void ConfigDialog::attachNumber(EditControl& edit, int id, int value, int limit, const char* tip)
{
    attachEdit(edit, id, "", limit, tip);
    setNumberText(edit.handle, value);
}

void ConfigDialog::attachCheckBox(ButtonControl& box, int id, bool checked, const char* tip)
{
    box.attachToDialogItem(handle, id);
    box.setCheck(checked);
    toolTip.addTool(&box, nullptr, tip);
}

INT_PTR ConfigDialog::onInitDialog(HWND dialog)
{
    handle = dialog;
    pin.assign(textOrEmpty(values.certSha256));
    pinnedHost.assign(textOrEmpty(values.server));
    addHandler(&toolTip);
    addHandler(&busyCursor);
    attachHandlers();

    provider.attachToDialogItem(dialog, IDC_PROVIDER);
    provider.addString(googleProviderName);
    provider.addString(otherProviderName);
    toolTip.addTool(&provider, nullptr, providerTip);
    bool isGoogle = values.server.text && std::strcmp(values.server.text, googlePop3Host) == 0;
    provider.setCurSel(isGoogle ? googleProviderIndex : otherProviderIndex);

    attachEdit(host, IDC_HOST, textOrEmpty(values.server), accountValueMaxLength, hostTip);
    checkButton.attachToDialogItem(dialog, IDC_CHECK_HOST);
    toolTip.addTool(&checkButton, nullptr, checkTip);
    updateCheckButton();
    // The stored address's text must not suggest its provider over the stored server.
    suggested = providerForAddress(textOrEmpty(values.username));
    attachEdit(userName, IDC_USER_NAME, textOrEmpty(values.username), accountValueMaxLength, userTip);
    attachEdit(password, IDC_PASSWORD, textOrEmpty(values.password), accountValueMaxLength, passwordTip);
    attachChoices(security, IDC_SECURITY, values.security, securityTip);

    attachNumber(port, IDC_PORT, values.port, portTextLimit, portTip);
    attachNumber(interval, IDC_INTERVAL, values.checkMinutes, intervalTextLimit, intervalTip);

    attachSound();
    attachCheckBox(changeColour, IDC_CHANGE_COLOUR, values.changeColour, changeColourTip);
    colourSwatch.attachToDialogItem(dialog, IDC_COLOUR_SWATCH);
    colourSwatch.colour = values.newMailColour;
    toolTip.addTool(&colourSwatch, nullptr, swatchTip);
    attachCheckBox(showBalloon, IDC_SHOW_BALLOON, values.balloon, balloonTip);
    attachEdit(mailProgram, IDC_MAIL_PROGRAM, textOrEmpty(values.doubleClick), settingsPathValueSize - 1,
               mailProgramTip);
    attachSignIn();

    applyEnablingRule();
    applySoundRule();
    return FALSE;
}

void ConfigDialog::attachSound()
{
    const char* file = textOrEmpty(values.customSound);
    NewMailSound chosen = !values.playSound ? NewMailSound::None : file[0] ? NewMailSound::File : NewMailSound::System;
    attachChoices(sound, IDC_SOUND, chosen, soundTip);
    attachEdit(soundFile, IDC_SOUND_FILE, file, settingsPathValueSize - 1, soundFileTip);
    attachCheckBox(repeatSound, IDC_REPEAT_SOUND, values.repeatMinutes > 0, repeatSoundTip);
    attachNumber(repeatMinutes, IDC_REPEAT_MINUTES,
                 values.repeatMinutes > 0 ? values.repeatMinutes : suggestedRepeatMinutes, repeatTextLimit,
                 repeatMinutesTip);
}

void ConfigDialog::applyEnablingRule()
{
    BOOL other = provider.getCurSel() == otherProviderIndex;
    EnableWindow(host.handle, other);
    EnableWindow(security.handle, other);
    EnableWindow(port.handle, other);
}

// The file only for a sound file, the repeat only for a sound, its minutes only while on.
void ConfigDialog::applySoundRule()
{
    NewMailSound chosen = sound.chosen();
    BOOL file = chosen == NewMailSound::File;
    EnableWindow(soundFile.handle, file);
    EnableWindow(GetDlgItem(handle, IDC_SOUND_FILE_PICKER), file);
    EnableWindow(repeatSound.handle, chosen != NewMailSound::None);
    EnableWindow(repeatMinutes.handle, repeatChosen());
}

void ConfigDialog::chooseSecurity(ConnectionSecurity chosen)
{
    security.select(chosen);
    setNumberText(port.handle, standardPort(chosen));
}

void ConfigDialog::updateCheckButton()
{
    EnableWindow(checkButton.handle, GetWindowTextLengthA(host.handle) > 0);
}

void ConfigDialog::applyProviderPreset()
{
    SetWindowTextA(host.handle, googlePop3Host);
    chooseSecurity(ConnectionSecurity::TlsOnConnect);
    SetWindowTextA(mailProgram.handle, googleWebmail);
    updateCheckButton();
}

void ConfigDialog::onClick(HWND control)
{
    if (control == provider.handle) {
        applyEnablingRule();
        if (provider.getCurSel() == googleProviderIndex) {
            applyProviderPreset();
        }
    } else if (control == GetDlgItem(handle, IDC_MAIL_PROGRAM_PICKER)) {
        pickFile(mailProgram, exeFilter);
    } else if (control == GetDlgItem(handle, IDC_SOUND_FILE_PICKER)) {
        pickFile(soundFile, wavFilter);
    } else if (control == checkButton.handle) {
        checkHost();
    } else if (control == security.handle) {
        chooseSecurity(security.chosen());
    } else if (control == sound.handle || control == repeatSound.handle) {
        applySoundRule();
    } else if (control == colourSwatch.handle) {
        chooseColour();
    } else {
        onSignInClick(control);
    }
}

void ConfigDialog::onEditChange(HWND control)
{
    if (control == host.handle) {
        updateCheckButton();
    } else if (control == userName.handle) {
        suggestProvider();
        updateSignIn();
    }
}

void ConfigDialog::pickFile(EditControl& target, const char* filter)
{
    char path[pickedPathSize] = {};
    OPENFILENAMEA record = {};
    record.lStructSize = sizeof record;
    record.hwndOwner = handle;
    record.lpstrFilter = filter;
    record.nFilterIndex = 1;
    record.lpstrFile = path;
    record.nMaxFile = pickedPathSize;
    // The working folder stays where it was: nothing the user browses should count for more.
    record.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    if (GetOpenFileNameA(&record)) {
        SetWindowTextA(target.handle, path);
    }
}

void ConfigDialog::chooseColour()
{
    COLORREF customColours[customColourCount];
    for (int i = 0; i < customColourCount; ++i) {
        customColours[i] = RGB(255, 255, 255);
    }
    customColours[0] = defaultNewMailColour;
    CHOOSECOLORA record = {};
    record.lStructSize = sizeof record;
    record.hwndOwner = handle;
    record.rgbResult = colourSwatch.colour;
    record.lpCustColors = customColours;
    record.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (ChooseColorA(&record)) {
        colourSwatch.colour = record.rgbResult;
        RedrawWindow(colourSwatch.handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
    }
}

// A port the connection cannot use, or an interval that is no number, would be stored as
// something the user did not mean: refuse it and keep the dialog open.
bool ConfigDialog::validateNumbers()
{
    int portValue = 0;
    if (!parseWholeNumber(port.getText().get(), portTextLimit, portValue) || !isUsablePort(portValue))
        return refuseNumber(port, portRefused);
    int minutes = 0;
    if (!parseWholeNumber(interval.getText().get(), intervalTextLimit, minutes))
        return refuseNumber(interval, intervalRefused);
    int repeat = 0;
    if (repeatChosen() && (!parseWholeNumber(repeatMinutes.getText().get(), repeatTextLimit, repeat) || repeat < 1))
        return refuseNumber(repeatMinutes, repeatRefused);
    return true;
}

bool ConfigDialog::refuseNumber(EditControl& edit, const char* why)
{
    dialogMessageBox(handle, why, configCaption, MB_OK | MB_ICONWARNING);
    SetFocus(edit.handle);
    return false;
}

bool ConfigDialog::repeatChosen() const
{
    return repeatSound.getCheck() && sound.chosen() != NewMailSound::None;
}

bool ConfigDialog::onOk()
{
    if (!validateNumbers())
        return false;
    readControls();
    readSignIn();
    storePassword();
    return true;
}

// A file kept while no sound plays comes back when the sound is switched on again.
void ConfigDialog::readSound()
{
    NewMailSound chosen = sound.chosen();
    values.playSound = chosen != NewMailSound::None;
    if (chosen == NewMailSound::System)
        values.customSound.assign("");
    else
        readControlText(soundFile, values.customSound);
    values.repeatMinutes = 0;
    if (repeatChosen())
        parseWholeNumber(repeatMinutes.getText().get(), repeatTextLimit, values.repeatMinutes);
}

void ConfigDialog::readControls()
{
    readControlText(host, values.server);
    readControlText(userName, values.username);
    readControlText(password, values.password);
    readControlText(mailProgram, values.doubleClick);
    values.security = security.chosen();
    readSound();
    values.changeColour = changeColour.getCheck();
    values.balloon = showBalloon.getCheck();
    parseWholeNumber(port.getText().get(), portTextLimit, values.port);
    int minutes = 1;
    parseWholeNumber(interval.getText().get(), intervalTextLimit, minutes);
    values.checkMinutes = usableCheckMinutes(minutes);
    values.newMailColour = colourSwatch.colour;
    // A certificate is trusted for one host only.
    bool samePinnedHost = std::strcmp(textOrEmpty(values.server), textOrEmpty(pinnedHost)) == 0;
    values.certSha256.assign(samePinnedHost ? textOrEmpty(pin) : "");
}

// A new password is never written in clear: when the platform cannot protect it, the file
// keeps what it held, and the user is told that the new one lasts only for this run.
void ConfigDialog::storePassword()
{
    if (!protectPassword)
        return;
    TextRecord stored;
    if (protectPassword(textOrEmpty(values.password), stored))
        values.storedPassword.assign(stored.text);
    else
        dialogMessageBox(handle, passwordNotStored, configCaption, MB_OK | MB_ICONWARNING);
}

bool runConfigDialog(ConfigurationValues& values, PasswordProtection protect)
{
    if (raiseRunningDialog(IDD_CONFIGURE)) {
        return false;
    }
    ConfigDialog dialog(values, protect);
    return dialog.runModal(IDD_CONFIGURE, nullptr) == IDOK;
}
