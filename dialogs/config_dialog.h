#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <thread>

#include "dialogs/choice_list.h"
#include "dialogs/host_probe.h"
#include "mail/connection/connection.h"
#include "mail/sign_in/oauth_sign_in.h"
#include "mail/pop3/pop3_ports.h"
#include "res/resource.h"
#include "ui/busy_cursor_handler.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/tool_tip.h"
#include "account/configuration_values.h"
#include "util/text_record.h"

inline constexpr char googleProviderName[] = "Google/GMail";
inline constexpr char otherProviderName[] = "Other";
inline constexpr char googlePop3Host[] = "pop.gmail.com";
inline constexpr char googleWebmail[] = "https://mail.google.com/";
const int googleProviderIndex = 0;
const int otherProviderIndex = 1;
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

// The port box follows the security chosen: its standard port.
inline const Choice<ConnectionSecurity> securityChoices[] = {
    {"SSL/TLS (port 995)", ConnectionSecurity::TlsOnConnect},
    {"STARTTLS (port 110)", ConnectionSecurity::StartTls},
    {"None (port 110)", ConnectionSecurity::None},
};
inline const Choice<NewMailSound> soundChoices[] = {
    {"Windows new-mail sound", NewMailSound::System},
    {"Sound file", NewMailSound::File},
    {"None", NewMailSound::None},
};
// The first entry is also what counts while nothing is chosen.
inline const Choice<SignInMethod> signInChoices[] = {
    {"Password", SignInMethod::Password},
    {"Microsoft sign-in", SignInMethod::Microsoft},
    {"Google sign-in", SignInMethod::Google},
};
// Posted to the dialog by the thread of a sign-in once it has finished.
const UINT signInFinishedMessage = WM_APP + 20;

// The account and new-mail settings, edited on a dialog from template 102.
class ConfigDialog : public Dialog {
public:
    // Edits `values`, which change only when OK closes the dialog; `protect` makes the stored
    // form of the password on OK (null leaves values.storedPassword alone).
    ConfigDialog(ConfigurationValues& values, PasswordProtection protect);
    // Ends a sign-in still waiting for the browser first.
    ~ConfigDialog() override;

    INT_PTR onInitDialog(HWND dialog) override;
    void onClick(HWND control) override;
    void onEditChange(HWND control) override;
    // Refuses, with a message, while the port or interval cannot be stored; otherwise reads
    // every control back into the values.
    bool onOk() override;
    INT_PTR dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Looks for POP3 on the typed host (hostProbeSteps) and offers what it finds. The
    // password goes unencrypted only after the user has agreed to that.
    void checkHost();

    ConfigurationValues& values;
    PasswordProtection protectPassword;
    // The certificate trusted for pinnedHost: the stored one, or one the host check trusted.
    TextRecord pin;
    TextRecord pinnedHost;
    // Where the host check looks; tests point the ports at loopback servers.
    std::vector<ProbeStep> hostProbeSteps = standardProbeSteps;
    // How the host check's session reaches the network; tests replace the name lookup.
    NetworkSteps hostCheckNetwork;
    ToolTip toolTip;
    BusyCursorHandler busyCursor;
    ComboBoxControl provider;
    EditControl host;
    ButtonControl checkButton;
    EditControl userName;
    EditControl password;
    ChoiceList<ConnectionSecurity> security{securityChoices};
    EditControl port;
    EditControl interval;
    ChoiceList<NewMailSound> sound{soundChoices};
    EditControl soundFile;
    ButtonControl repeatSound;
    EditControl repeatMinutes;
    ButtonControl changeColour;
    ColourSwatch colourSwatch;
    ButtonControl showBalloon;
    EditControl mailProgram;
    ChoiceList<SignInMethod> signInMethod{signInChoices};
    ButtonControl signInButton;
    StaticControl signInState;
    // The provider of a sign-in method; tests point it at an authorization server of theirs.
    std::function<const OAuthProvider*(SignInMethod)> signInProvider = providerForMethod;
    // How long a sign-in waits for the browser to come back.
    int signInWaitSeconds = RedirectListener::defaultWaitSeconds;
    // The tokens of a sign-in made in this run, and the method and address it was made for:
    // OK hands them over while both are still chosen.
    std::optional<OAuthTokens> signedIn;
    SignInMethod signedInMethod = SignInMethod::Password;
    std::string signedInAddress;

private:
    void attachEdit(EditControl& edit, int id, const char* text, int limit, const char* tip);
    void attachNumber(EditControl& edit, int id, int value, int limit, const char* tip);
    void attachCheckBox(ButtonControl& box, int id, bool checked, const char* tip);
    template <typename Value> void attachChoices(ChoiceList<Value>& list, int id, Value selected, const char* tip)
    {
        list.attachToDialogItem(handle, id);
        list.fill();
        list.select(selected);
        toolTip.addTool(&list, nullptr, tip);
    }
    void attachSound();
    void applyEnablingRule();
    void applySoundRule();
    void readSound();
    // Selects `chosen` and puts its standard port in the port box.
    void chooseSecurity(ConnectionSecurity chosen);
    void applyProviderPreset();
    void updateCheckButton();
    bool validateNumbers();
    bool refuseNumber(EditControl& edit, const char* why);
    bool repeatChosen() const;
    void readControls();
    void storePassword();
    void pickFile(EditControl& target, const char* filter);
    void chooseColour();
    bool signInChosen() const;
    bool logIn(HostProbe& probe);
    // The sign-in group (config_sign_in.cpp).
    void attachSignIn();
    void onSignInClick(HWND control);
    ClientSetup signInClient(OAuthClient& client) const;
    void updateSignIn(const char* state = nullptr);
    bool storedSignInStands(SignInMethod method) const;
    bool newSignInStands(SignInMethod method) const;
    void startSignIn();
    const char* collectSignIn(bool cancel);
    void endSignIn();
    void finishSignIn();
    void suggestProvider();
    void readSignIn();
    void offerSecureService(ConnectionSecurity found, bool accepted);
    void offerPlainService(HostProbe& probe);
    void offerToTrustCertificate(HostProbe& probe, const char* hostName);

    std::unique_ptr<SignInFlow> flow;
    std::thread signInThread;
    SignInFlow::Result signInResult; // written by signInThread, read once it has ended
    // What the sign-in under way is for.
    SignInMethod runningMethod = SignInMethod::Password;
    std::string runningAddress;
    const OAuthProvider* suggested = nullptr; // the provider the user name last suggested
};

// Runs the dialog on `values`; true after OK, with the values read back from the controls.
// When a configuration dialog is already open it is brought forward and false is returned.
bool runConfigDialog(ConfigurationValues& values, PasswordProtection protect);

// Parses a whole decimal text of digits; false for an empty, non-digit or too long text.
bool parseWholeNumber(const char* text, int maxDigits, int& value);
