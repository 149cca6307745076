#pragma once

#include <windows.h>

#include "app/settings.h"
#include "mail/connection.h"
#include "mail/pop3_ports.h"
#include "res/resource.h"
#include "ui/busy_cursor_handler.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/tool_tip.h"
#include "util/text_record.h"

class Pop3Session;

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

// The values the configuration dialog edits, named after their keys.
struct ConfigValues {
    TextRecord server;
    TextRecord username;
    TextRecord password;
    int SSL = defaultUseTls ? 1 : 0;
    int port = defaultPort;
    int checkmins = defaultCheckMinutes;
    int playsound = defaultPlaySoundForDialog ? 1 : 0;
    TextRecord customsound;
    int changecolour = defaultChangeColour ? 1 : 0;
    COLORREF newmailcolour = defaultNewMailColour;
    int balloon = defaultBalloon ? 1 : 0;
    TextRecord doubleclick;
    // Trusted for `server` in the host check, or read from the file; cleared on OK when the
    // host changed.
    TextRecord certsha256;
};

// The account and new-mail settings, edited on a dialog from template 102.
class ConfigDialog : public Dialog {
public:
    ConfigDialog();
    ~ConfigDialog() override = default;

    INT_PTR onInitDialog(HWND dialog) override;
    void onClick(HWND control) override;
    void onEditChange(HWND control) override;
    void onOk() override;
    // Refuses OK, with a message, while the port or interval cannot be stored.
    INT_PTR dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Probes the typed host for POP3 over TLS on 995, then plain POP3 on 110. The password
    // goes over the plain port only after the user has agreed to use it.
    void checkHost();

    ConfigValues values;
    // The host the certificate pin in values.certsha256 belongs to.
    TextRecord pinnedHost;
    // The two ports the host check probes; tests point them at loopback servers.
    int hostCheckTlsPort = pop3TlsPort;
    int hostCheckPlainPort = pop3PlainPort;
    // How the host check's session reaches the network; tests replace the name lookup.
    NetworkSteps hostCheckSteps;
    ToolTip toolTip;
    BusyCursorHandler busyCursor;
    ComboBoxControl provider;
    EditControl host;
    ButtonControl checkButton;
    EditControl userName;
    EditControl password;
    ButtonControl useSsl;
    EditControl port;
    EditControl interval;
    ButtonControl playSound;
    EditControl soundFile;
    ButtonControl changeColour;
    ColourSwatch colourSwatch;
    ButtonControl showBalloon;
    EditControl mailProgram;

private:
    void attachEdit(EditControl& edit, int id, const char* text, int limit, const char* tip);
    void attachCheckBox(ButtonControl& box, int id, int checked, const char* tip);
    void applyEnablingRule();
    void applyProviderPreset();
    void updateCheckButton();
    int selectedProvider() const;
    bool validateNumbers();
    void pickFile(EditControl& target, const char* filter);
    void chooseColour();
    void showBusy(bool busy);
    void offerSecureService(Pop3Session& session);
    void offerPlainService(Pop3Session& session);
    void offerToTrustCertificate(Pop3Session& session, const char* hostName);
};

// Runs the dialog on `values`; true after OK, with the values read back from the controls.
// When a configuration dialog is already open it is brought forward and false is returned.
bool runConfigDialog(ConfigValues& values);

// Parses a whole decimal text of digits; false for an empty, non-digit or too long text.
bool parseWholeNumber(const char* text, int maxDigits, int& value);
