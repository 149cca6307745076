#include "dialogs/sign_in_group.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "account/mail_providers.h"
#include "util/thread.h"
#include "mail/platform/browser_open.h"
#include "mail/platform/executable_folder.h"
#include "mail/sign_in/device_sign_in.h"
#include "mail/sign_in/microsoft_authority.h"
#include "mail/sign_in/oauth_sign_in.h"
#include "res/resource.h"

namespace {

const char signInText[] = "Sign in";
const char cancelText[] = "Cancel";
const char codeText[] = "Sign in with a code";
const char copyCodeText[] = "Copy code";
const char authorityLabel[] = "Authority:";
const char secretLabel[] = "Secret:";
const int stateTextSize = 256;

const char methodTip[] = "How pellwick logs in: with the password, or with a sign-in at Microsoft (Outlook.com, "
                         "Hotmail, Live, Office 365) or Google (Gmail) in your browser";
const char signInTip[] = "Opens the provider's sign-in page in your browser for the address typed as user name";
const char clientIdTip[] = "The client id of the app you registered with the provider; the guide says how";
const char detailTip[] = "Google: the client secret of your desktop app. Microsoft: whose accounts the sign-in is "
                         "for: common, consumers, organizations, or your organisation's tenant id or domain name";
const char guideTip[] = "Opens the README beside pellwick, whose \"Signing in\" guide registers an app step by step";
const char codeTip[] = "Where the browser cannot reach this computer: you type a code at Microsoft's page on any "
                       "device";

const char byPassword[] = "Logs in with the user name and password.";
const char noClientId[] = "No %s client id is set: see \"Signing in\" in the README.";
const char noClientSecret[] = "No %s client secret is set: see \"Signing in\" in the README.";
const char noAddress[] = "Type your address as the user name, then press Sign in.";
const char notSignedIn[] = "Not signed in: press Sign in.";
const char isSignedIn[] = "Signed in. The password is not used.";
const char waiting[] = "Waiting for the sign-in in your browser...";
const char couldNotStart[] = "The sign-in could not start.";
const char otherServer[] = "%s's sign-in works only with its own server (%s): choose it, or sign in with a password.";
const char badAuthority[] = "The authority must be common, consumers, organizations, or a tenant's id or domain name.";
const char askingForCode[] = "Asking Microsoft for a code...";
const char typeTheCode[] = "Type the code %s at %s to sign in.";
const char guideMissing[] = "README.txt is not beside pellwick: see \"Signing in\" in the README.";
const char refusedText[] = "The provider refused the sign-in.";
const char unreachableText[] = "The provider could not be reached, or answered nonsense. Try again later.";
const char cancelledText[] = "Sign-in cancelled.";

// The provider's own server for the account's protocol, as the table of providers names it.
const char* ownServer(const OAuthProvider& provider, SignInMethod method, MailProtocol protocol)
{
    const MailProvider* mail = mailProviderSigningInWith(method);
    const char* server = mail != nullptr ? serverFor(*mail, protocol) : "";
    return *server != '\0' ? server : provider.server;
}

// What an ended sign-in left to say; null when it signed in.
const char* outcomeText(SignInFlow::Outcome outcome)
{
    switch (outcome) {
    case SignInFlow::Outcome::SignedIn:
        return nullptr;
    case SignInFlow::Outcome::TimedOut:
        return "No answer came back from the browser. Press Sign in to try again.";
    case SignInFlow::Outcome::Aborted:
        return cancelledText;
    case SignInFlow::Outcome::Denied:
    case SignInFlow::Outcome::ExchangeRefused:
        return refusedText;
    case SignInFlow::Outcome::ExchangeFailed:
        return unreachableText;
    case SignInFlow::Outcome::BrowserFailed:
        return "The browser could not be started.";
    default:
        return couldNotStart;
    }
}

// The same for a sign-in with a code. A client that may not use the device grant is refused
// with invalid_client: its registration must allow public client flows.
const char* outcomeText(const DeviceSignIn::Result& result)
{
    switch (result.outcome) {
    case DeviceSignIn::Outcome::SignedIn:
        return nullptr;
    case DeviceSignIn::Outcome::Denied:
        return "The sign-in was declined.";
    case DeviceSignIn::Outcome::Expired:
        return "The code expired before the sign-in. Press Sign in with a code to try again.";
    case DeviceSignIn::Outcome::Refused:
        return result.error == "invalid_client"
                   ? "Microsoft refused the client: allow public client flows in its registration (see the guide)."
                   : refusedText;
    case DeviceSignIn::Outcome::Aborted:
        return cancelledText;
    default:
        return unreachableText;
    }
}

// Puts `text` on the clipboard, as the user's copy would.
void copyToClipboard(HWND owner, const std::string& text)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (memory == nullptr)
        return;
    void* bytes = GlobalLock(memory);
    if (bytes != nullptr) {
        std::memcpy(bytes, text.c_str(), text.size() + 1);
        GlobalUnlock(memory);
    }
    if (bytes != nullptr && OpenClipboard(owner)) {
        EmptyClipboard();
        if (SetClipboardData(CF_TEXT, memory) != nullptr)
            memory = nullptr; // the clipboard owns it now
        CloseClipboard();
    }
    if (memory != nullptr)
        GlobalFree(memory);
}

bool isMicrosoft(SignInMethod method)
{
    return method == SignInMethod::Microsoft;
}

} // namespace

// One sign-in, for one method and address, on a thread of its own that tells the dialog when
// it has ended. What it brought is read once the thread has been waited for.
class SignInGroup::Run : public Thread {
public:
    Run(SignInMethod method, std::string address, MailProtocol protocol, HWND dialog)
        : method(method), address(std::move(address)), protocol(protocol), dialog(dialog)
    {
    }
    virtual ~Run() = default;
    // Ends the sign-in soon, from the dialog's thread.
    virtual void abort() = 0;

    const SignInMethod method;
    const std::string address;
    const MailProtocol protocol;
    const HWND dialog;
    std::optional<OAuthTokens> tokens;
    const char* failure = couldNotStart;
    // The code to show; written before signInCodeMessage is posted and never after.
    DeviceCode code;
    bool withCode = false;
};

// In the browser, with the redirect to the loopback.
class SignInGroup::BrowserRun final : public Run {
public:
    BrowserRun(const OAuthProvider& provider, const OAuthClient& client, SignInMethod method, std::string address,
               MailProtocol protocol, HWND dialog)
        : Run(method, std::move(address), protocol, dialog), flow(provider, client, protocol)
    {
    }
    ~BrowserRun() override { waitForExit(); }
    void abort() override { flow.abort(); }

    int run() override
    {
        SignInFlow::Result result = flow.run(address);
        failure = outcomeText(result.outcome);
        if (failure == nullptr)
            tokens = result.tokens;
        PostMessageA(dialog, signInFinishedMessage, 0, 0);
        return 0;
    }

    SignInFlow flow;
};

// With a code the user types at the provider's page on any device (RFC 8628).
class SignInGroup::CodeRun final : public Run {
public:
    CodeRun(const OAuthProvider& provider, const OAuthClient& client, std::string address, MailProtocol protocol,
            HWND dialog)
        : Run(SignInMethod::Microsoft, std::move(address), protocol, dialog),
          device(provider.deviceAuthorizationEndpoint, provider.tokenEndpoint, scopeFor(provider, protocol), client)
    {
        withCode = true;
    }
    ~CodeRun() override { waitForExit(); }
    void abort() override { device.abort(); }

    int run() override
    {
        DeviceCode issued;
        DeviceSignIn::Result result = device.requestCode(issued);
        if (result.outcome == DeviceSignIn::Outcome::CodeReady) {
            code = issued;
            PostMessageA(dialog, signInCodeMessage, 0, 0);
            result = device.waitForTokens();
        }
        failure = outcomeText(result);
        if (failure == nullptr)
            tokens = result.tokens;
        PostMessageA(dialog, signInFinishedMessage, 0, 0);
        return 0;
    }

    DeviceSignIn device;
};

SignInGroup::SignInGroup(ConfigurationValues& values, AccountControls& account) : values(values), account(account)
{
    providerOf = [this](SignInMethod chosenMethod) {
        return providerForSignIn(chosenMethod, typed.microsoftAuthority.c_str());
    };
    open = openInBrowser;
}

SignInGroup::~SignInGroup()
{
    if (running)
        collect(true);
}

void SignInGroup::attach(HWND owner, ToolTip& toolTip)
{
    dialog = owner;
    // The values may be another account's than at the last attach: start from what they hold.
    typed = {textOrEmpty(values.microsoftClientId), textOrEmpty(values.googleClientId),
             textOrEmpty(values.googleClientSecret), textOrEmpty(values.microsoftAuthority)};
    signedIn = values.newSignIn;
    signedInMethod = values.signIn;
    signedInAddress = textOrEmpty(values.username);
    accountProtocol = values.protocol;
    method.attachFilled(dialog, IDC_SIGN_IN_METHOD, values.signIn);
    toolTip.addTool(&method, nullptr, methodTip);
    button.attachToDialogItem(dialog, IDC_SIGN_IN);
    toolTip.addTool(&button, nullptr, signInTip);
    state.attachToDialogItem(dialog, IDC_SIGN_IN_STATE);
    clientIdLabel.attachToDialogItem(dialog, IDC_CLIENT_ID_LABEL);
    clientId.attachToDialogItem(dialog, IDC_CLIENT_ID);
    clientId.limitText(accountValueMaxLength);
    toolTip.addTool(&clientId, nullptr, clientIdTip);
    detailLabel.attachToDialogItem(dialog, IDC_SIGN_IN_DETAIL_LABEL);
    detail.attachToDialogItem(dialog, IDC_SIGN_IN_DETAIL);
    detail.limitText(accountValueMaxLength);
    toolTip.addTool(&detail, nullptr, detailTip);
    guide.attachToDialogItem(dialog, IDC_SIGN_IN_GUIDE);
    toolTip.addTool(&guide, nullptr, guideTip);
    codeButton.attachToDialogItem(dialog, IDC_SIGN_IN_WITH_CODE);
    toolTip.addTool(&codeButton, nullptr, codeTip);
    shownMethod = method.chosen();
    showTyped();
    update();
}

// The boxes' texts into what is typed for the method they show.
void SignInGroup::keepTyped()
{
    if (shownMethod == SignInMethod::Password)
        return;
    bool microsoft = isMicrosoft(shownMethod);
    (microsoft ? typed.microsoftClientId : typed.googleClientId) = clientId.getText().get();
    (microsoft ? typed.microsoftAuthority : typed.googleClientSecret) = detail.getText().get();
}

// What is typed for the method shown into the boxes; their change notices are not the user's.
void SignInGroup::showTyped()
{
    bool microsoft = isMicrosoft(shownMethod);
    loading = true;
    clientId.setText((microsoft ? typed.microsoftClientId : typed.googleClientId).c_str());
    detail.setText((microsoft ? typed.microsoftAuthority : typed.googleClientSecret).c_str());
    detailLabel.setText(microsoft ? authorityLabel : secretLabel);
    loading = false;
}

// A provider's boxes: the client id and Google's secret unless the build has its own client
// (and the user none), Microsoft's authority always, the code for Microsoft alone.
void SignInGroup::showClientBoxes(SignInMethod chosenMethod)
{
    const OAuthProvider* builtIn = providerForMethod(chosenMethod);
    bool provider = builtIn != nullptr;
    bool microsoft = isMicrosoft(chosenMethod);
    bool ownClient = provider && (builtIn->builtInClientId[0] == '\0' || clientId.textLength() > 0);
    int clientShow = ownClient ? SW_SHOW : SW_HIDE;
    clientIdLabel.show(clientShow);
    clientId.show(clientShow);
    guide.show(clientShow);
    int detailShow = provider && (microsoft || ownClient) ? SW_SHOW : SW_HIDE;
    detailLabel.show(detailShow);
    detail.show(detailShow);
    codeButton.show(microsoft ? SW_SHOW : SW_HIDE);
}

// The stored refresh token counts for the method, address and protocol it was made for only.
bool SignInGroup::storedSignInStands(SignInMethod chosenMethod) const
{
    return values.refreshTokenStored && values.signIn == chosenMethod && values.protocol == accountProtocol &&
           std::strcmp(account.userName.getText().get(), textOrEmpty(values.username)) == 0;
}

// So does a sign-in made in this run.
bool SignInGroup::newSignInStands(SignInMethod chosenMethod) const
{
    return signedIn.has_value() && signedInMethod == chosenMethod && signedInProtocol == accountProtocol &&
           signedInAddress == account.userName.getText().get();
}

// The client typed for the method (or the build's), for the provider of the authority typed.
ClientSetup SignInGroup::clientOf(SignInMethod chosenMethod, OAuthClient& client) const
{
    const OAuthProvider* provider = providerOf(chosenMethod);
    if (provider == nullptr)
        return ClientSetup::MissingClientId;
    bool google = chosenMethod == SignInMethod::Google;
    return resolveClient(*provider, google ? typed.googleClientId.c_str() : typed.microsoftClientId.c_str(),
                         google ? typed.googleClientSecret.c_str() : nullptr, client);
}

void SignInGroup::setProtocol(MailProtocol chosenProtocol)
{
    accountProtocol = chosenProtocol;
    if (dialog != nullptr)
        update();
}

void SignInGroup::update()
{
    if (loading)
        return;
    keepTyped();
    if (method.chosen() != shownMethod) {
        shownMethod = method.chosen();
        showTyped();
    }
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
    const OAuthProvider* provider = providerOf(chosenMethod);
    bool authorityStands = !isMicrosoft(chosenMethod) || provider != nullptr;
    // The account drops a sign-in whose server changes, and the checker sends no token to
    // another server: say so before the user signs in for nothing.
    bool serverStands = provider == nullptr || servesMail(*provider, account.host.getText().get());
    char shown[stateTextSize];
    const char* providerName = chosenMethod == SignInMethod::Google ? "Google" : "Microsoft";
    if (text != nullptr)
        std::snprintf(shown, sizeof shown, "%s", text);
    else if (busy)
        std::snprintf(shown, sizeof shown, "%s", running->withCode ? askingForCode : waiting);
    else if (chosenMethod == SignInMethod::Password)
        std::snprintf(shown, sizeof shown, "%s", byPassword);
    else if (!authorityStands)
        std::snprintf(shown, sizeof shown, "%s", badAuthority);
    else if (!serverStands)
        std::snprintf(shown, sizeof shown, otherServer, provider->name,
                      ownServer(*provider, chosenMethod, accountProtocol));
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
    bool ready = setup == ClientSetup::Ready && hasAddress;
    bool codeShown = busy && running->withCode && !running->code.userCode.empty();
    button.setText(busy ? cancelText : signInText);
    button.enable(busy || ready);
    codeButton.setText(codeShown ? copyCodeText : codeText);
    codeButton.enable(codeShown || (!busy && ready && providerOf(chosenMethod)->deviceAuthorizationEndpoint[0]));
    method.enable(!busy);
    clientId.enable(!busy);
    detail.enable(!busy);
    showClientBoxes(chosenMethod);
    account.password.enable(chosenMethod == SignInMethod::Password);
}

void SignInGroup::onButtonClick()
{
    if (running) {
        running->abort(); // the thread ends soon and reports Aborted
        return;
    }
    SignInMethod chosenMethod = method.chosen();
    OAuthClient client;
    if (clientOf(chosenMethod, client) != ClientSetup::Ready)
        return;
    BrowserRun* run = new BrowserRun(*providerOf(chosenMethod), client, chosenMethod, account.userName.getText().get(),
                                     accountProtocol, dialog);
    run->flow.waitSeconds = waitSeconds;
    start(run);
}

void SignInGroup::onCodeButtonClick()
{
    if (running) {
        if (running->withCode && !running->code.userCode.empty())
            copyToClipboard(dialog, running->code.userCode);
        return;
    }
    OAuthClient client;
    if (!isMicrosoft(method.chosen()) || clientOf(SignInMethod::Microsoft, client) != ClientSetup::Ready)
        return;
    start(new CodeRun(*providerOf(SignInMethod::Microsoft), client, account.userName.getText().get(), accountProtocol,
                      dialog));
}

void SignInGroup::start(Run* run)
{
    running.reset(run);
    if (!running->start()) {
        running.reset();
        show(couldNotStart);
        return;
    }
    show(nullptr);
}

// The code and its page stay in the state text until the sign-in ends; the page opens at once.
void SignInGroup::onCodeReady()
{
    if (!running || !running->withCode)
        return;
    char text[stateTextSize];
    std::snprintf(text, sizeof text, typeTheCode, running->code.userCode.c_str(),
                  running->code.verificationUri.c_str());
    show(text);
    open(running->code.verificationUri.c_str());
}

void SignInGroup::openGuide()
{
    char folder[maxExecutablePath] = {};
    std::string path = executableFolder(folder, sizeof folder) ? std::string(folder) + signInGuideFile : "";
    if (path.empty() || !open(path.c_str()))
        show(guideMissing);
}

const char* SignInGroup::refusal()
{
    keepTyped();
    MicrosoftEndpoints endpoints;
    if (isMicrosoft(method.chosen()) && !microsoftEndpoints(typed.microsoftAuthority, endpoints))
        return badAuthority;
    return nullptr;
}

// Waits for the sign-in's thread, asking it to stop first when `cancel` (it then ends within
// moments), and keeps the tokens it brought. Returns what there is to say of a failure.
const char* SignInGroup::collect(bool cancel)
{
    if (cancel)
        running->abort();
    running->waitForExit();
    std::unique_ptr<Run> ended = std::move(running);
    if (ended->failure == nullptr) {
        signedIn = ended->tokens;
        signedInMethod = ended->method;
        signedInAddress = ended->address;
        signedInProtocol = ended->protocol;
    }
    return ended->failure;
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
    keepTyped();
    values.signIn = method.chosen();
    values.microsoftClientId.assign(typed.microsoftClientId.c_str());
    values.googleClientId.assign(typed.googleClientId.c_str());
    values.googleClientSecret.assign(typed.googleClientSecret.c_str());
    values.microsoftAuthority.assign(typed.microsoftAuthority.c_str());
    if (newSignInStands(values.signIn))
        values.newSignIn = signedIn;
}
