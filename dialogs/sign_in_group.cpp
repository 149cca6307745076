#include "dialogs/sign_in_group.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "mail/checker/thread.h"
#include "mail/sign_in/oauth_sign_in.h"
#include "res/resource.h"

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
const char couldNotStart[] = "The sign-in could not start.";

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
        return couldNotStart;
    }
}

} // namespace

// One sign-in, for one method and address, on a thread of its own that tells the dialog when
// it has ended.
class SignInGroup::Run final : public Thread {
public:
    Run(const OAuthProvider& provider, const OAuthClient& client, SignInMethod method, std::string address, HWND dialog)
        : flow(provider, client), method(method), address(std::move(address)), dialog(dialog)
    {
    }
    ~Run() { waitForExit(); }

    int run() override
    {
        result = flow.run(address);
        PostMessageA(dialog, signInFinishedMessage, 0, 0);
        return 0;
    }

    SignInFlow flow;
    const SignInMethod method;
    const std::string address;
    const HWND dialog;
    SignInFlow::Result result; // written by the thread, read once it has ended
};

SignInGroup::SignInGroup(ConfigurationValues& values, AccountControls& account) : values(values), account(account) {}

SignInGroup::~SignInGroup()
{
    if (running)
        collect(true);
}

void SignInGroup::attach(HWND owner, ToolTip& toolTip)
{
    dialog = owner;
    method.attachFilled(dialog, IDC_SIGN_IN_METHOD, values.signIn);
    toolTip.addTool(&method, nullptr, methodTip);
    button.attachToDialogItem(dialog, IDC_SIGN_IN);
    toolTip.addTool(&button, nullptr, signInTip);
    state.attachToDialogItem(dialog, IDC_SIGN_IN_STATE);
    update();
}

// The stored refresh token counts for the method and address it was made for only.
bool SignInGroup::storedSignInStands(SignInMethod chosenMethod) const
{
    return values.refreshTokenStored && values.signIn == chosenMethod &&
           std::strcmp(account.userName.getText().get(), textOrEmpty(values.username)) == 0;
}

// So does a sign-in made in this run.
bool SignInGroup::newSignInStands(SignInMethod chosenMethod) const
{
    return signedIn.has_value() && signedInMethod == chosenMethod &&
           signedInAddress == account.userName.getText().get();
}

ClientSetup SignInGroup::clientOf(SignInMethod chosenMethod, OAuthClient& client) const
{
    const OAuthProvider* provider = providerOf(chosenMethod);
    return provider != nullptr ? resolveClientOf(values, *provider, client) : ClientSetup::MissingClientId;
}

void SignInGroup::update()
{
    show(nullptr);
}

// The controls as the chosen method and a running sign-in want them, and the state text:
// `text` when given, otherwise what the method and its client stand at.
void SignInGroup::show(const char* text)
{
    SignInMethod chosenMethod = method.chosen();
    bool busy = isRunning();
    OAuthClient client;
    ClientSetup setup = clientOf(chosenMethod, client);
    bool hasAddress = account.userName.textLength() > 0;
    char shown[stateTextSize];
    const char* providerName = chosenMethod == SignInMethod::Google ? "Google" : "Microsoft";
    if (text != nullptr)
        std::snprintf(shown, sizeof shown, "%s", text);
    else if (busy)
        std::snprintf(shown, sizeof shown, "%s", waiting);
    else if (chosenMethod == SignInMethod::Password)
        std::snprintf(shown, sizeof shown, "%s", byPassword);
    else if (setup != ClientSetup::Ready)
        std::snprintf(shown, sizeof shown, setup == ClientSetup::MissingClientSecret ? noClientSecret : noClientId,
                      providerName);
    else if (!hasAddress)
        std::snprintf(shown, sizeof shown, "%s", noAddress);
    else if (newSignInStands(chosenMethod) || storedSignInStands(chosenMethod))
        std::snprintf(shown, sizeof shown, "%s", isSignedIn);
    else
        std::snprintf(shown, sizeof shown, "%s", notSignedIn);
    state.setText(shown);
    button.setText(busy ? cancelText : signInText);
    button.enable(busy || (setup == ClientSetup::Ready && hasAddress));
    method.enable(!busy);
    account.password.enable(chosenMethod == SignInMethod::Password);
}

void SignInGroup::onButtonClick()
{
    if (running) {
        running->flow.abort(); // the thread ends soon and reports Aborted
        return;
    }
    SignInMethod chosenMethod = method.chosen();
    OAuthClient client;
    if (clientOf(chosenMethod, client) != ClientSetup::Ready)
        return;
    running.reset(new Run(*providerOf(chosenMethod), client, chosenMethod, account.userName.getText().get(), dialog));
    running->flow.waitSeconds = waitSeconds;
    if (!running->start()) {
        running.reset();
        show(couldNotStart);
        return;
    }
    update();
}

// Waits for the sign-in's thread, asking it to stop first when `cancel` (it then ends within
// moments), and keeps the tokens it brought. Returns what there is to say of a failure.
const char* SignInGroup::collect(bool cancel)
{
    if (cancel)
        running->flow.abort();
    running->waitForExit();
    std::unique_ptr<Run> ended = std::move(running);
    const char* failure = outcomeText(ended->result.outcome);
    if (failure == nullptr) {
        signedIn = ended->result.tokens;
        signedInMethod = ended->method;
        signedInAddress = ended->address;
    }
    return failure;
}

void SignInGroup::onFinished()
{
    if (running)
        show(collect(false));
}

void SignInGroup::read()
{
    if (running)
        collect(true);
    values.signIn = method.chosen();
    if (newSignInStands(values.signIn))
        values.newSignIn = signedIn;
}
