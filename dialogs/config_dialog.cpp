#include "dialogs/config_dialog.h"

#include <commdlg.h>
#include <cstdio>
#include <cstring>

#include "dialogs/about_dialog.h"
#include "dialogs/message_box.h"
#include "util/decimal_text.h"

namespace {
const char configCaption[] = "Pellwick";
const char portRefused[] = "The port must be a number from 1 to 65535.";
const char intervalRefused[] = "The check interval must be a whole number of minutes.";
const int numberTextSize = 16;
const int customColourCount = 16;

const char providerTip[] =
    "Your email provider. If not in the list, just select \"Other\" and enter the details manually";
const char hostTip[] = "Your email server name or IP Address";
const char checkTip[] = "Attempt to connect using the details shown";
const char userTip[] = "Your email username, used to log into the server";
const char passwordTip[] = "Your email password, used to log into the server";
const char sslTip[] =
    "Should the conversation with the server be encrypted. Better to use this, as long as your server supports SSL";
const char portTip[] =
    "The port number on the server to connect to. Usually 995 for a secured connection or 110 for unsecured.";
const char intervalTip[] = "How often to check for new emails in minutes... ";
const char playSoundTip[] = "Play a sound when new mail is detected";
const char soundFileTip[] =
    "The sound file to play when new mail is detected. Leave blank to play the Windows default New Mail sound.";
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
    char* text = control.getText();
    target.assign(text ? text : "");
    delete[] text;
}

bool isChecked(const Window& box)
{
    return SendMessageA(box.handle, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
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

ConfigDialog::ConfigDialog() : toolTip(configToolTipWidth), colourSwatch(0) {}

void ConfigDialog::attachEdit(EditControl& edit, int id, const char* text, int limit, const char* tip)
{
    edit.attachToDialogItem(handle, id);
    SendMessageA(edit.handle, EM_LIMITTEXT, limit, 0);
    SetWindowTextA(edit.handle, text);
    toolTip.addTool(&edit, nullptr, tip);
}

void ConfigDialog::attachCheckBox(ButtonControl& box, int id, int checked, const char* tip)
{
    box.attachToDialogItem(handle, id);
    SendMessageA(box.handle, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    toolTip.addTool(&box, nullptr, tip);
}

INT_PTR ConfigDialog::onInitDialog(HWND dialog)
{
    handle = dialog;
    pinnedHost.assign(textOrEmpty(values.server));
    addHandler(&toolTip);
    addHandler(&busyCursor);
    attachHandlers();

    provider.attachToDialogItem(dialog, IDC_PROVIDER);
    SendMessageA(provider.handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(googleProviderName));
    SendMessageA(provider.handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(otherProviderName));
    toolTip.addTool(&provider, nullptr, providerTip);
    bool isGoogle = values.server.text && std::strcmp(values.server.text, googlePop3Host) == 0;
    SendMessageA(provider.handle, CB_SETCURSEL, isGoogle ? googleProviderIndex : otherProviderIndex, 0);

    attachEdit(host, IDC_HOST, textOrEmpty(values.server), accountValueMaxLength, hostTip);
    checkButton.attachToDialogItem(dialog, IDC_CHECK_HOST);
    toolTip.addTool(&checkButton, nullptr, checkTip);
    updateCheckButton();
    attachEdit(userName, IDC_USER_NAME, textOrEmpty(values.username), accountValueMaxLength, userTip);
    attachEdit(password, IDC_PASSWORD, textOrEmpty(values.password), accountValueMaxLength, passwordTip);
    attachCheckBox(useSsl, IDC_USE_SSL, values.SSL, sslTip);

    char number[numberTextSize];
    std::snprintf(number, sizeof number, "%d", values.port);
    attachEdit(port, IDC_PORT, number, portTextLimit, portTip);
    std::snprintf(number, sizeof number, "%d", values.checkmins);
    attachEdit(interval, IDC_INTERVAL, number, intervalTextLimit, intervalTip);

    attachCheckBox(playSound, IDC_PLAY_SOUND, values.playsound, playSoundTip);
    attachEdit(soundFile, IDC_SOUND_FILE, textOrEmpty(values.customsound), settingsPathValueSize - 1, soundFileTip);
    attachCheckBox(changeColour, IDC_CHANGE_COLOUR, values.changecolour, changeColourTip);
    colourSwatch.attachToDialogItem(dialog, IDC_COLOUR_SWATCH);
    colourSwatch.colour = values.newmailcolour;
    toolTip.addTool(&colourSwatch, nullptr, swatchTip);
    attachCheckBox(showBalloon, IDC_SHOW_BALLOON, values.balloon, balloonTip);
    attachEdit(mailProgram, IDC_MAIL_PROGRAM, textOrEmpty(values.doubleclick), settingsPathValueSize - 1,
               mailProgramTip);

    applyEnablingRule();
    return FALSE;
}

int ConfigDialog::selectedProvider() const
{
    return static_cast<int>(SendMessageA(provider.handle, CB_GETCURSEL, 0, 0));
}

void ConfigDialog::applyEnablingRule()
{
    BOOL other = selectedProvider() == otherProviderIndex;
    EnableWindow(host.handle, other);
    EnableWindow(useSsl.handle, other);
    EnableWindow(port.handle, other);
}

void ConfigDialog::updateCheckButton()
{
    EnableWindow(checkButton.handle, GetWindowTextLengthA(host.handle) > 0);
}

void ConfigDialog::applyProviderPreset()
{
    SetWindowTextA(host.handle, googlePop3Host);
    SendMessageA(useSsl.handle, BM_SETCHECK, BST_CHECKED, 0);
    setNumberText(port.handle, pop3TlsPort);
    SetWindowTextA(mailProgram.handle, googleWebmail);
    updateCheckButton();
}

void ConfigDialog::onClick(HWND control)
{
    if (control == provider.handle) {
        applyEnablingRule();
        if (selectedProvider() == googleProviderIndex) {
            applyProviderPreset();
        }
    } else if (control == GetDlgItem(handle, IDC_MAIL_PROGRAM_PICKER)) {
        pickFile(mailProgram, exeFilter);
    } else if (control == GetDlgItem(handle, IDC_SOUND_FILE_PICKER)) {
        pickFile(soundFile, wavFilter);
    } else if (control == checkButton.handle) {
        checkHost();
    } else if (control == useSsl.handle) {
        setNumberText(port.handle, isChecked(useSsl) ? pop3TlsPort : pop3PlainPort);
    } else if (control == colourSwatch.handle) {
        chooseColour();
    }
}

void ConfigDialog::onEditChange(HWND control)
{
    if (control == host.handle) {
        updateCheckButton();
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
    char* portText = port.getText();
    int portValue = 0;
    bool portOk = parseWholeNumber(portText, portTextLimit, portValue) && isUsablePort(portValue);
    delete[] portText;
    if (!portOk) {
        dialogMessageBox(handle, portRefused, configCaption, MB_OK | MB_ICONWARNING);
        SetFocus(port.handle);
        return false;
    }
    char* intervalText = interval.getText();
    int minutes = 0;
    bool intervalOk = parseWholeNumber(intervalText, intervalTextLimit, minutes);
    delete[] intervalText;
    if (!intervalOk) {
        dialogMessageBox(handle, intervalRefused, configCaption, MB_OK | MB_ICONWARNING);
        SetFocus(interval.handle);
        return false;
    }
    return true;
}

INT_PTR ConfigDialog::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK && handle == hwnd && !validateNumbers()) {
        return TRUE;
    }
    return Dialog::dialogProc(hwnd, message, wParam, lParam);
}

void ConfigDialog::onOk()
{
    readControlText(host, values.server);
    readControlText(userName, values.username);
    readControlText(password, values.password);
    readControlText(soundFile, values.customsound);
    readControlText(mailProgram, values.doubleclick);
    values.SSL = isChecked(useSsl) ? 1 : 0;
    values.playsound = isChecked(playSound) ? 1 : 0;
    values.changecolour = isChecked(changeColour) ? 1 : 0;
    values.balloon = isChecked(showBalloon) ? 1 : 0;
    char* portText = port.getText();
    parseWholeNumber(portText, portTextLimit, values.port);
    delete[] portText;
    char* intervalText = interval.getText();
    int minutes = 1;
    parseWholeNumber(intervalText, intervalTextLimit, minutes);
    delete[] intervalText;
    values.checkmins = usableCheckMinutes(minutes);
    values.newmailcolour = colourSwatch.colour;
    // A certificate is trusted for one host only.
    const char* pinHost = pinnedHost.text ? pinnedHost.text : "";
    if (std::strcmp(textOrEmpty(values.server), pinHost) != 0)
        values.certsha256.assign("");
}

bool runConfigDialog(ConfigValues& values)
{
    if (raiseRunningDialog(IDD_CONFIGURE)) {
        return false;
    }
    ConfigDialog dialog;
    dialog.values.server.assign(values.server.text);
    dialog.values.username.assign(values.username.text);
    dialog.values.password.assign(values.password.text);
    dialog.values.SSL = values.SSL;
    dialog.values.port = values.port;
    dialog.values.checkmins = values.checkmins;
    dialog.values.playsound = values.playsound;
    dialog.values.customsound.assign(values.customsound.text);
    dialog.values.changecolour = values.changecolour;
    dialog.values.newmailcolour = values.newmailcolour;
    dialog.values.balloon = values.balloon;
    dialog.values.doubleclick.assign(values.doubleclick.text);
    dialog.values.certsha256.assign(values.certsha256.text);
    if (dialog.runModal(IDD_CONFIGURE, nullptr) != IDOK) {
        return false;
    }
    values.server.assign(textOrEmpty(dialog.values.server));
    values.username.assign(textOrEmpty(dialog.values.username));
    values.password.assign(textOrEmpty(dialog.values.password));
    values.SSL = dialog.values.SSL;
    values.port = dialog.values.port;
    values.checkmins = dialog.values.checkmins;
    values.playsound = dialog.values.playsound;
    values.customsound.assign(textOrEmpty(dialog.values.customsound));
    values.changecolour = dialog.values.changecolour;
    values.newmailcolour = dialog.values.newmailcolour;
    values.balloon = dialog.values.balloon;
    values.doubleclick.assign(textOrEmpty(dialog.values.doubleclick));
    values.certsha256.assign(textOrEmpty(dialog.values.certsha256));
    return true;
}
