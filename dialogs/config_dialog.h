#pragma once

#include <windows.h>

#include <string>

#include "account/configuration_values.h"
#include "dialogs/account_controls.h"
#include "dialogs/choice_list.h"
#include "dialogs/host_check.h"
#include "dialogs/sign_in_group.h"
#include "mail/sign_in/oauth_provider.h"
#include "res/resource.h"
#include "ui/busy_cursor_handler.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/tool_tip.h"

const int configToolTipWidth = 200;
const int pickedPathSize = MAX_PATH;
const int portTextLimit = 5;
const int intervalTextLimit = 9;
const int repeatTextLimit = 4;
// What the repeat's minutes show while it is off.
const int suggestedRepeatMinutes = 10;

// What plays on new mail. The settings keep it as older versions read it: playsound off for
// None; on, with customsound empty for System or holding the file for File.
enum class NewMailSound { System, File, None };

inline const Choice<NewMailSound> soundChoices[] = {
    {"Windows new-mail sound", NewMailSound::System},
    {"Sound file", NewMailSound::File},
    {"None", NewMailSound::None},
};

// The account and new-mail settings, edited on a dialog from template 102.
class ConfigDialog : public Dialog {
public:
    // Edits `values`, which change only when OK closes the dialog; `protect` makes the stored
    // form of the password on OK (null leaves values.storedPassword alone).
    ConfigDialog(ConfigurationValues& values, PasswordProtection protect);

    INT_PTR onInitDialog(HWND dialog) override;
    void onClick(HWND control) override;
    void onEditChange(HWND control) override;
    // Refuses, with a message, while the port or interval cannot be stored; otherwise reads
    // every control back into the values.
    bool onOk() override;
    INT_PTR dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    ConfigurationValues& values;
    PasswordProtection protectPassword;
    ToolTip toolTip;
    BusyCursorHandler busyCursor;
    AccountControls account;
    SignInGroup signIn{values, account};
    HostCheck hostCheck{account, signIn, busyCursor};
    EditControl interval;
    ChoiceList<NewMailSound> sound{soundChoices};
    EditControl soundFile;
    ButtonControl repeatSound;
    EditControl repeatMinutes;
    ButtonControl changeColour;
    ColourSwatch colourSwatch;
    ButtonControl showBalloon;
    ButtonControl showSenders;
    EditControl mailProgram;

protected:
    INT_PTR showValues();
    bool validateNumbers();

private:
    void attachEdit(EditControl& edit, int id, const char* text, int limit, const char* tip);
    void attachNumber(EditControl& edit, int id, int value, int limit, const char* tip);
    void attachCheckBox(ButtonControl& box, int id, bool checked, const char* tip);
    template <typename Value> void attachChoices(ChoiceList<Value>& list, int id, Value selected, const char* tip)
    {
        list.attachFilled(handle, id, selected);
        toolTip.addTool(&list, nullptr, tip);
    }
    void attachSound();
    void applySoundRule();
    void readSound();
    ServerPreset storedPreset() const;
    void choosePreset();
    void chooseProtocol();
    void fillServerOf(const MailProvider& provider);
    void suggestProvider();
    bool hostMayBeFilled() const;
    bool refuseNumber(EditControl& edit, const char* why);
    bool repeatChosen() const;
    void readControls();
    void storePassword();
    void pickFile(EditControl& target, const char* filter);
    void chooseColour();

    const MailProvider* suggested = nullptr; // the provider the user name last suggested
    std::string openedHost;                  // the host box's text when the dialog opened
};

// Runs the dialog on `values` alone (see runAccountsDialog); true after OK, with the values
// read back from the controls. When a configuration dialog is already open it is brought
// forward and false is returned.
bool runConfigDialog(ConfigurationValues& values, PasswordProtection protect);

// Parses a whole decimal text of digits; false for an empty, non-digit or too long text.
bool parseWholeNumber(const char* text, int maxDigits, int& value);
