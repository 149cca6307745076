// The configuration dialog's sign-in group: the method (the password, or a provider's
// sign-in in the browser), the Sign in button, and what the sign-in stands at. A sign-in runs
// on a thread of its own, so that the dialog stays usable while the browser is open; the
// button cancels it meanwhile.
#include "dialogs/config_dialog.h"

#include <cstdio>
#include <cstring>

namespace {

const char signInText[] = "Sign in";
const char cancelText[] = "Cancel";
const int stateTextSize = 160;

const char methodTip[] = "How pellwick logs in: with the password, or with a sign-in at Microsoft (Outlook.com, "
                         "Hotmail, Live, Office 365) or Google (Gmail) in your browser";
const char signInTip[] = "Opens the provider's sign-in page in your browser for the address typed as user name";

const char byPassword[] = "Logs in with the user name and password.";
const char noClientId[] = "No %s client id is set: see \"Signing in\" in the README.";
const char noClientSecret[] = "No %s client secret is set: see \"Signing in\" in the README.";
const char noAddress[] = "Type your address as the user name, then press Sign in.";
const char notSignedIn[] = "Not signed in: press Sign in.";
const char isSignedIn[] = "Signed in. The password is not used.";
const char waiting[] = "Waiting for the sign-in in your browser...";

// What an ended sign-in left to say; null when it signed in.
const char* outcomeText(SignInFlow::Outcome outcome)
{
    switch (outcome) {
    case SignInFlow::Outcome::SignedIn:
        return nullptr;
    case SignInFlow::Outcome::TimedOut:
        return "No answer came back from the browser. Press Sign in to try again.";
    case SignInFlow::Outcome::Aborted:
        return "Sign-in cancelled.";
    case SignInFlow::Outcome::Denied:
    case SignInFlow::Outcome::ExchangeRefused:
        return "The provider refused the sign-in.";
    case SignInFlow::Outcome::ExchangeFailed:
        return "The provider could not be reached, or answered nonsense. Try again later.";
    case SignInFlow::Outcome::BrowserFailed:
        return "The browser could not be started.";
    default:
        return "The sign-in could not start.";
    }
}

} // namespace

ConfigDialog::~ConfigDialog()
{
    endSignIn();
}

void ConfigDialog::attachSignIn()
{
    attachChoices(signInMethod, IDC_SIGN_IN_METHOD, values.signIn, methodTip);
    signInButton.attachToDialogItem(handle, IDC_SIGN_IN);
    toolTip.addTool(&signInButton, nullptr, signInTip);
    signInState.attachToDialogItem(handle, IDC_SIGN_IN_STATE);
    updateSignIn();
}

// The stored refresh token counts for the method and address it was made for only.
bool ConfigDialog::storedSignInStands(SignInMethod method) const
{
    return values.refreshTokenStored && values.signIn == method &&
           std::strcmp(userName.getText().get(), textOrEmpty(values.username)) == 0;
}

// So does a sign-in made in this run.
bool ConfigDialog::newSignInStands(SignInMethod method) const
{
    return signedIn.has_value() && signedInMethod == method && signedInAddress == userName.getText().get();
}

ClientSetup ConfigDialog::signInClient(OAuthClient& client) const
{
    const OAuthProvider* provider = signInProvider(signInMethod.chosen());
    return provider != nullptr ? resolveClientOf(values, *provider, client) : ClientSetup::MissingClientId;
}

void ConfigDialog::onSignInClick(HWND control)
{
    if (control == signInMethod.handle)
        updateSignIn();
    else if (control == signInButton.handle && flow)
        flow->abort(); // the thread ends soon and reports Aborted
    else if (control == signInButton.handle)
        startSignIn();
}

// The controls as the chosen method and a running sign-in want them, and the state text:
// `state` when given, otherwise what the method and its client stand at.
void ConfigDialog::updateSignIn(const char* state)
{
    SignInMethod method = signInMethod.chosen();
    bool busy = flow != nullptr;
    OAuthClient client;
    ClientSetup setup = signInClient(client);
    bool hasAddress = GetWindowTextLengthA(userName.handle) > 0;
    char text[stateTextSize];
    const char* providerName = method == SignInMethod::Google ? "Google" : "Microsoft";
    if (state != nullptr)
        std::snprintf(text, sizeof text, "%s", state);
    else if (busy)
        std::snprintf(text, sizeof text, "%s", waiting);
    else if (method == SignInMethod::Password)
        std::snprintf(text, sizeof text, "%s", byPassword);
    else if (setup != ClientSetup::Ready)
        std::snprintf(text, sizeof text, setup == ClientSetup::MissingClientSecret ? noClientSecret : noClientId,
                      providerName);
    else if (!hasAddress)
        std::snprintf(text, sizeof text, "%s", noAddress);
    else if (newSignInStands(method) || storedSignInStands(method))
        std::snprintf(text, sizeof text, "%s", isSignedIn);
    else
        std::snprintf(text, sizeof text, "%s", notSignedIn);
    SetWindowTextA(signInState.handle, text);
    SetWindowTextA(signInButton.handle, busy ? cancelText : signInText);
    EnableWindow(signInButton.handle, busy || (setup == ClientSetup::Ready && hasAddress));
    EnableWindow(signInMethod.handle, !busy);
    EnableWindow(password.handle, method == SignInMethod::Password);
}

void ConfigDialog::startSignIn()
{
    OAuthClient client;
    if (signInClient(client) != ClientSetup::Ready)
        return;
    runningMethod = signInMethod.chosen();
    runningAddress = userName.getText().get();
    flow.reset(new SignInFlow(*signInProvider(runningMethod), client));
    flow->waitSeconds = signInWaitSeconds;
    HWND dialog = handle;
    signInThread = std::thread([this, address = runningAddress, dialog] {
        signInResult = flow->run(address);
        PostMessageA(dialog, signInFinishedMessage, 0, 0);
    });
    updateSignIn();
}

// Waits for the sign-in's thread, asking it to stop first when `cancel` (it then ends within
// moments), and keeps the tokens it brought. Returns what there is to say of a failure.
const char* ConfigDialog::collectSignIn(bool cancel)
{
    if (cancel)
        flow->abort();
    signInThread.join();
    flow.reset();
    const char* failure = outcomeText(signInResult.outcome);
    if (failure == nullptr) {
        signedIn = signInResult.tokens;
        signedInMethod = runningMethod;
        signedInAddress = runningAddress;
    }
    return failure;
}

void ConfigDialog::endSignIn()
{
    if (signInThread.joinable())
        collectSignIn(true);
}

void ConfigDialog::finishSignIn()
{
    if (signInThread.joinable())
        updateSignIn(collectSignIn(false));
}

INT_PTR ConfigDialog::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == signInFinishedMessage) {
        finishSignIn();
        return TRUE;
    }
    return Dialog::dialogProc(hwnd, message, wParam, lParam);
}

// An address at a provider's domain suggests its server and sign-in, once for each provider
// the address changes to; the user may change both afterwards.
void ConfigDialog::suggestProvider()
{
    const OAuthProvider* found = providerForAddress(userName.getText().get());
    if (found == suggested)
        return;
    suggested = found;
    if (found == nullptr || flow)
        return;
    bool google = found->id == OAuthProviderId::Google;
    provider.setCurSel(google ? googleProviderIndex : otherProviderIndex);
    applyEnablingRule();
    if (google) {
        applyProviderPreset();
    } else {
        SetWindowTextA(host.handle, found->server);
        security.select(ConnectionSecurity::TlsOnConnect);
        setNumberText(port.handle, found->port);
        updateCheckButton();
    }
    signInMethod.select(google ? SignInMethod::Google : SignInMethod::Microsoft);
}

// On OK: the method, and a sign-in made for it; one still waiting is given up.
void ConfigDialog::readSignIn()
{
    endSignIn();
    values.signIn = signInMethod.chosen();
    if (newSignInStands(values.signIn))
        values.newSignIn = signedIn;
}
