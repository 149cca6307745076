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

const char presetTip[] =
    "Your email provider. If not in the list, just select \"Other\" and enter the details manually";
const char hostTip[] = "Your email server name or IP Address";
const char userTip[] = "Your email username, used to log into the server";
const char passwordTip[] = "Your email password, used to log into the server";
const char securityTip[] = "How the conversation with the server is encrypted: SSL/TLS from the start, or STARTTLS, "
                           "which encrypts it before anything is sent. With None your password is sent unencrypted.";
const char protocolTip[] =
    "How pellwick asks the server for your mail: POP3, or IMAP, which also learns of new mail at "
    "once where the server offers that";
const char portTip[] = "The port number on the server to connect to. Usually 995 (POP3) or 993 (IMAP) for a secured "
                       "connection, 110 or 143 for unsecured.";
const char folderTip[] = "The IMAP folder to watch. Leave blank for INBOX.";
const char markOnServerTip[] =
    "Mark As Read also marks the new messages read on the server, so your other mail programs show them read too";
const char intervalTip[] = "How often to check for new emails in minutes... ";
const char soundTip[] = "The sound to play when new mail is detected";
const char soundFileTip[] =
    "The sound file to play when new mail is detected. Leave blank to play the Windows default New Mail sound.";
const char repeatSoundTip[] = "Play the sound again while there is unseen mail, for when you were away";
const char repeatMinutesTip[] = "Minutes between repeats of the sound";
const char changeColourTip[] = "Change the floating window colour when new mail is detected";
const char balloonTip[] = "Show a notification with the number of new messages when new mail is detected";
const char showSendersTip[] = "Ask the server for the sender and subject of new messages (never their text) and "
                              "name them in the notification";
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
    edit.setText(text);
    toolTip.addTool(&edit, nullptr, tip);
}

void ConfigDialog::attachNumber(EditControl& edit, int id, int value, int limit, const char* tip)
{
    attachEdit(edit, id, "", limit, tip);
    edit.setNumberText(value);
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
    addHandler(&toolTip);
    addHandler(&busyCursor);
    attachHandlers();
    return showValues();
}

// Fills every control from the values; again whenever they hold another account.
INT_PTR ConfigDialog::showValues()
{
    HWND dialog = handle;
    attachChoices(account.preset, IDC_SERVER_PRESET, storedPreset(), presetTip);
    attachEdit(account.host, IDC_HOST, textOrEmpty(values.server), accountValueMaxLength, hostTip);
    openedHost = textOrEmpty(values.server);
    hostCheck.attach(dialog, toolTip, textOrEmpty(values.certSha256), textOrEmpty(values.server));
    // The stored address's text must not suggest its provider over the stored server.
    suggested = mailProviderForAddress(textOrEmpty(values.username));
    attachEdit(account.userName, IDC_USER_NAME, textOrEmpty(values.username), accountValueMaxLength, userTip);
    attachEdit(account.password, IDC_PASSWORD, textOrEmpty(values.password), accountValueMaxLength, passwordTip);
    attachChoices(account.protocol, IDC_PROTOCOL, values.protocol, protocolTip);
    account.shownProtocol = values.protocol;
    account.security.replaceEntries(securityChoicesFor(values.protocol));
    attachChoices(account.security, IDC_SECURITY, values.security, securityTip);
    attachNumber(account.port, IDC_PORT, values.port, portTextLimit, portTip);
    attachEdit(account.folder, IDC_FOLDER, textOrEmpty(values.folder), accountValueMaxLength, folderTip);
    attachCheckBox(account.markOnServer, IDC_MARK_ON_SERVER, values.markOnServer, markOnServerTip);
    attachNumber(interval, IDC_INTERVAL, values.checkMinutes, intervalTextLimit, intervalTip);

    attachSound();
    attachCheckBox(changeColour, IDC_CHANGE_COLOUR, values.changeColour, changeColourTip);
    colourSwatch.attachToDialogItem(dialog, IDC_COLOUR_SWATCH);
    colourSwatch.colour = values.newMailColour;
    toolTip.addTool(&colourSwatch, nullptr, swatchTip);
    attachCheckBox(showBalloon, IDC_SHOW_BALLOON, values.balloon, balloonTip);
    attachCheckBox(showSenders, IDC_SHOW_SENDERS, values.showSenders, showSendersTip);
    attachEdit(mailProgram, IDC_MAIL_PROGRAM, textOrEmpty(values.doubleClick), settingsPathValueSize - 1,
               mailProgramTip);
    signIn.attach(dialog, toolTip);

    account.applyPresetRule();
    account.applyProtocolRule();
    applySoundRule();
    if (values.focusSignIn)
        signIn.button.focus();
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

// The file only for a sound file, the repeat only for a sound, its minutes only while on.
void ConfigDialog::applySoundRule()
{
    NewMailSound chosen = sound.chosen();
    bool file = chosen == NewMailSound::File;
    soundFile.enable(file);
    enableItem(IDC_SOUND_FILE_PICKER, file);
    repeatSound.enable(chosen != NewMailSound::None);
    repeatMinutes.enable(repeatChosen());
}

// The preset whose server for the stored protocol is stored, in exactly its case; Other for
// any other server.
ServerPreset ConfigDialog::storedPreset() const
{
    for (ServerPreset preset : {ServerPreset::Google, ServerPreset::Microsoft}) {
        const MailProvider* provider = providerOfPreset(preset);
        if (std::strcmp(textOrEmpty(values.server), serverFor(*provider, values.protocol)) == 0)
            return preset;
    }
    return ServerPreset::Other;
}

// A preset fills in its server and chooses its sign-in (unless one is under way); Other
// leaves the boxes as they are, for the user to edit.
void ConfigDialog::choosePreset()
{
    account.applyPresetRule();
    const MailProvider* provider = providerOfPreset(account.preset.chosen());
    if (provider == nullptr)
        return;
    fillServerOf(*provider);
    if (!signIn.isRunning()) {
        signIn.choose(provider->signIn);
        signIn.update();
    }
}

void ConfigDialog::chooseProtocol()
{
    account.chooseProtocol(account.protocol.chosen());
    hostCheck.onHostChange();
    // A sign-in asks for the protocol's scope; one made for the other protocol no longer counts.
    signIn.setProtocol(account.protocol.chosen());
}

// Google's server comes with its webmail as the mail program.
void ConfigDialog::fillServerOf(const MailProvider& provider)
{
    account.fillServer(provider);
    if (provider.signIn == SignInMethod::Google)
        mailProgram.setText(googleWebmail);
    hostCheck.onHostChange();
}

// An address at a provider's domain suggests its server and sign-in, once for each provider
// the address changes to; the user may change both afterwards. A server the user typed here
// stays: a later keystroke in the address never replaces it.
void ConfigDialog::suggestProvider()
{
    const MailProvider* found = mailProviderForAddress(account.userName.getText().get());
    if (found == nullptr || found == suggested)
        return;
    suggested = found;
    if (signIn.isRunning() || !hostMayBeFilled())
        return;
    account.preset.select(presetOf(found));
    account.applyPresetRule();
    fillServerOf(*found);
    signIn.choose(found->signIn);
}

// Empty, as the dialog opened, or a provider's server: nothing the user typed.
bool ConfigDialog::hostMayBeFilled() const
{
    std::unique_ptr<char[]> text = account.host.getText();
    return text[0] == '\0' || openedHost == text.get() || mailProviderServing(text.get()) != nullptr;
}

void ConfigDialog::onClick(HWND control)
{
    if (control == account.preset.handle)
        choosePreset();
    else if (control == item(IDC_MAIL_PROGRAM_PICKER))
        pickFile(mailProgram, exeFilter);
    else if (control == item(IDC_SOUND_FILE_PICKER))
        pickFile(soundFile, wavFilter);
    else if (control == hostCheck.button.handle)
        hostCheck.run();
    else if (control == account.security.handle)
        account.chooseSecurity(account.security.chosen());
    else if (control == account.protocol.handle)
        chooseProtocol();
    else if (control == sound.handle || control == repeatSound.handle)
        applySoundRule();
    else if (control == colourSwatch.handle)
        chooseColour();
    else if (control == signIn.method.handle)
        signIn.update();
    else if (control == signIn.button.handle)
        signIn.onButtonClick();
    else if (control == signIn.codeButton.handle)
        signIn.onCodeButtonClick();
    else if (control == signIn.guide.handle)
        signIn.openGuide();
}

void ConfigDialog::onEditChange(HWND control)
{
    if (control == account.host.handle) {
        hostCheck.onHostChange();
        signIn.update();
    } else if (control == account.userName.handle) {
        suggestProvider();
        signIn.update();
    } else if (control == signIn.clientId.handle || control == signIn.detail.handle) {
        signIn.update();
    }
}

INT_PTR ConfigDialog::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == signInFinishedMessage) {
        signIn.onFinished();
        return TRUE;
    }
    if (message == signInCodeMessage) {
        signIn.onCodeReady();
        return TRUE;
    }
    return Dialog::dialogProc(hwnd, message, wParam, lParam);
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
        target.setText(path);
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
        colourSwatch.redraw();
    }
}

// A port the connection cannot use, or an interval that is no number, would be stored as
// something the user did not mean: refuse it and keep the dialog open.
bool ConfigDialog::validateNumbers()
{
    int portValue = 0;
    if (!parseWholeNumber(account.port.getText().get(), portTextLimit, portValue) || !isUsablePort(portValue))
        return refuseNumber(account.port, portRefused);
    int minutes = 0;
    if (!parseWholeNumber(interval.getText().get(), intervalTextLimit, minutes))
        return refuseNumber(interval, intervalRefused);
    int repeat = 0;
    if (repeatChosen() && (!parseWholeNumber(repeatMinutes.getText().get(), repeatTextLimit, repeat) || repeat < 1))
        return refuseNumber(repeatMinutes, repeatRefused);
    if (const char* why = signIn.refusal())
        return refuseNumber(signIn.detail, why);
    return true;
}

bool ConfigDialog::refuseNumber(EditControl& edit, const char* why)
{
    dialogMessageBox(handle, why, configCaption, MB_OK | MB_ICONWARNING);
    edit.focus();
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
    signIn.read();
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
    readControlText(account.host, values.server);
    readControlText(account.userName, values.username);
    readControlText(account.password, values.password);
    readControlText(mailProgram, values.doubleClick);
    values.security = account.security.chosen();
    values.protocol = account.protocol.chosen();
    readControlText(account.folder, values.folder);
    values.markOnServer = account.markOnServer.getCheck();
    readSound();
    values.changeColour = changeColour.getCheck();
    values.balloon = showBalloon.getCheck();
    values.showSenders = showSenders.getCheck();
    parseWholeNumber(account.port.getText().get(), portTextLimit, values.port);
    int minutes = 1;
    parseWholeNumber(interval.getText().get(), intervalTextLimit, minutes);
    values.checkMinutes = usableCheckMinutes(minutes);
    values.newMailColour = colourSwatch.colour;
    values.certSha256.assign(hostCheck.pinFor(textOrEmpty(values.server)));
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
