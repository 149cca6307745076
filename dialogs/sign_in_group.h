#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "account/configuration_values.h"
#include "dialogs/account_controls.h"
#include "dialogs/choice_list.h"
#include "mail/sign_in/oauth_provider.h"
#include "mail/sign_in/oauth_redirect_listener.h"
#include "ui/controls.h"
#include "ui/tool_tip.h"

// The first entry is also what counts while nothing is chosen.
inline const Choice<SignInMethod> signInChoices[] = {
    {"Password", SignInMethod::Password},
    {"Microsoft sign-in", SignInMethod::Microsoft},
    {"Google sign-in", SignInMethod::Google},
};
// Posted to the dialog by the thread of a sign-in once it has finished.
const UINT signInFinishedMessage = WM_APP + 20;
// Posted by the thread of a sign-in with a code once the code is there to be shown.
const UINT signInCodeMessage = WM_APP + 21;
// The step-by-step guide to a client of one's own: the README shipped beside the program.
inline constexpr char signInGuideFile[] = "README.txt";

// The configuration dialog's sign-in group: the method (the password, or a provider's sign-in
// in the browser), the Sign in button and what the sign-in stands at; for a provider the
// client id (hidden where the build has one) with a guide to making one, Google's client
// secret or Microsoft's authority, and for Microsoft a sign-in with a code typed on any device.
// A sign-in runs on a thread of its own, so that the dialog stays usable while the browser is
// open; the Sign in button cancels it meanwhile. The group reads the address from the
// user-name box and enables the password box for the password alone.
class SignInGroup {
public:
    // `values` holds what is stored: the method, the client registrations and whether a refresh
    // token is kept, and on OK takes what the group reads back.
    SignInGroup(ConfigurationValues& values, AccountControls& account);
    // Gives up a sign-in still waiting for the browser.
    ~SignInGroup();
    SignInGroup(const SignInGroup&) = delete;
    SignInGroup& operator=(const SignInGroup&) = delete;

    // Binds the group's controls to those of `dialog`, with their tooltips, and shows what
    // `values` hold; again whenever they hold another account (no sign-in may be running).
    void attach(HWND dialog, ToolTip& toolTip);
    // Another method was chosen, or the address typed changed: what the group says and offers.
    void update();
    // The Sign in button: starts a sign-in, or cancels the one under way.
    void onButtonClick();
    // The code button: starts a sign-in with a code, or copies the code shown.
    void onCodeButtonClick();
    // The guide button: opens the guide beside the program.
    void openGuide();
    // The sign-in's thread posted signInFinishedMessage.
    void onFinished();
    // The sign-in's thread posted signInCodeMessage: shows the code and opens its page.
    void onCodeReady();
    // What keeps OK from storing the group's values (an authority that is none), or null.
    const char* refusal();
    // On OK: the method, the client values typed, and a sign-in made for it and for the
    // address typed; one still waiting is given up.
    void read();

    // The protocol of the account being edited (the stored one until then): a sign-in asks for
    // its scope, and one made or stored for another protocol no longer stands. The dialog sets
    // it whenever the user chooses another.
    void setProtocol(MailProtocol chosenProtocol);
    MailProtocol protocol() const { return accountProtocol; }

    SignInMethod chosen() const { return method.chosen(); }
    // Selects `suggested` as the user would, without saying so yet (update() does).
    void choose(SignInMethod suggested) { method.select(suggested); }
    // True from the start of a sign-in until its thread has been waited for.
    bool isRunning() const { return running != nullptr; }

    ChoiceList<SignInMethod> method{signInChoices};
    ButtonControl button;
    StaticControl state;
    StaticControl clientIdLabel;
    EditControl clientId;
    StaticControl detailLabel;
    EditControl detail; // Google's client secret, Microsoft's authority
    ButtonControl guide;
    ButtonControl codeButton;
    // The provider of a sign-in method, with the authority typed; tests point it at an
    // authorization server of theirs.
    std::function<const OAuthProvider*(SignInMethod)> providerOf;
    // Opens a page or file with the shell: the guide, the code's page.
    std::function<bool(const char*)> open;
    // How long a sign-in waits for the browser to come back.
    int waitSeconds = RedirectListener::defaultWaitSeconds;

private:
    class Run;
    class BrowserRun;
    class CodeRun;

    // What the boxes hold for each provider while the other one is chosen.
    struct Typed {
        std::string microsoftClientId, googleClientId, googleClientSecret, microsoftAuthority;
    };

    void start(Run* run);
    void keepTyped();
    void showTyped();
    void showClientBoxes(SignInMethod chosenMethod);
    ClientSetup clientOf(SignInMethod chosenMethod, OAuthClient& client) const;
    void show(const char* text);
    bool storedSignInStands(SignInMethod chosenMethod) const;
    bool newSignInStands(SignInMethod chosenMethod) const;
    const char* collect(bool cancel);

    ConfigurationValues& values;
    AccountControls& account;
    HWND dialog = nullptr;
    std::unique_ptr<Run> running;
    Typed typed;
    SignInMethod shownMethod = SignInMethod::Password; // whose values the boxes show
    bool loading = false;                              // the boxes are being filled, not typed in
    MailProtocol accountProtocol = MailProtocol::Pop3;
    // The tokens of a sign-in made in this run, and the method, address and protocol it was
    // made for: OK hands them over while all three are still chosen.
    std::optional<OAuthTokens> signedIn;
    SignInMethod signedInMethod = SignInMethod::Password;
    std::string signedInAddress;
    MailProtocol signedInProtocol = MailProtocol::Pop3;
};
