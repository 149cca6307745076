// The configuration and About dialogs driven as a user would: from a thread timer inside
// their own modal loop, by setting control texts and sending clicks.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "app/notifier_app.h"
#include "dialogs/about_dialog.h"
#include "dialogs/config_dialog.h"
#include "dialogs/message_box.h"
#include "tests/support/oauth/oauth_fixture.h"
#include "tests/support/pump_until.h"

namespace {

const UINT scenarioDelayMs = 100;
const UINT safetyLimitMs = 8000;

std::function<void(ConfigDialog&)> configScenario;
std::function<void(AboutDialog&)> aboutScenario;
UINT_PTR scenarioTimer = 0;
UINT_PTR safetyTimer = 0;
bool scenarioRan = false;

std::vector<std::string> shownMessages;
int capturingMessageBox(HWND, const char* text, const char*, UINT)
{
    shownMessages.push_back(text);
    return IDOK;
}

void CALLBACK runScenario(HWND, UINT, UINT_PTR, DWORD)
{
    KillTimer(nullptr, scenarioTimer);
    scenarioRan = true;
    if (auto* config = static_cast<ConfigDialog*>(Dialog::findRunning(IDD_CONFIGURE))) {
        if (configScenario)
            configScenario(*config);
    } else if (auto* about = static_cast<AboutDialog*>(Dialog::findRunning(IDD_ABOUT))) {
        if (aboutScenario)
            aboutScenario(*about);
    }
}

// Ends a dialog the scenario left open, so that a failing test cannot hang.
void CALLBACK endLeftOpen(HWND, UINT, UINT_PTR, DWORD)
{
    KillTimer(nullptr, safetyTimer);
    for (int id : {IDD_CONFIGURE, IDD_ABOUT}) {
        if (Dialog* open = Dialog::findRunning(id))
            EndDialog(open->handle, IDCANCEL);
    }
}

class DialogScenario : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        moduleInstance = GetModuleHandleA(nullptr);
        shownMessages.clear();
        dialogMessageBox = capturingMessageBox;
        scenarioRan = false;
        scenarioTimer = SetTimer(nullptr, 0, scenarioDelayMs, runScenario);
        safetyTimer = SetTimer(nullptr, 0, safetyLimitMs, endLeftOpen);
    }
    void TearDown() override
    {
        KillTimer(nullptr, scenarioTimer);
        KillTimer(nullptr, safetyTimer);
        configScenario = nullptr;
        aboutScenario = nullptr;
    }
};

std::string textOf(HWND control)
{
    char buffer[512] = {};
    GetWindowTextA(control, buffer, sizeof buffer);
    return buffer;
}

void setText(Window& edit, const char* text)
{
    SetWindowTextA(edit.handle, text);
}

void click(ConfigDialog& dialog, HWND control)
{
    SendMessageA(dialog.handle, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
}

// Selects the entry standing for `value`, as the user's choice does.
template <typename Value> void choose(ConfigDialog& dialog, ChoiceList<Value>& list, Value value)
{
    list.select(value);
    SendMessageA(dialog.handle, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list.handle), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list.handle));
}

void pressOk(ConfigDialog& dialog)
{
    SendMessageA(dialog.handle, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog.handle, IDOK)));
}

void pressCancel(Dialog& dialog)
{
    SendMessageA(dialog.handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog.handle, IDCANCEL)));
}

} // namespace

TEST_F(DialogScenario, FirstRunShowsOtherWithHostEditableAndCheckDisabled)
{
    ConfigurationValues values;
    bool otherSelected = false, hostEnabled = false, checkEnabled = true, playChecked = false, balloonChecked = false;
    std::string interval, portText;
    configScenario = [&](ConfigDialog& dialog) {
        otherSelected = dialog.account.preset.chosen() == ServerPreset::Other;
        hostEnabled = IsWindowEnabled(dialog.account.host.handle);
        checkEnabled = IsWindowEnabled(dialog.hostCheck.button.handle);
        playChecked = dialog.sound.chosen() == NewMailSound::System;
        balloonChecked = dialog.showBalloon.getCheck();
        interval = textOf(dialog.interval.handle);
        portText = textOf(dialog.account.port.handle);
        pressCancel(dialog);
    };
    EXPECT_FALSE(runConfigDialog(values, nullptr));
    ASSERT_TRUE(scenarioRan);
    EXPECT_TRUE(otherSelected);
    EXPECT_TRUE(hostEnabled);
    EXPECT_FALSE(checkEnabled);
    EXPECT_TRUE(playChecked);
    EXPECT_TRUE(balloonChecked);
    EXPECT_EQ("5", interval);
    EXPECT_EQ("995", portText);
}

TEST_F(DialogScenario, StoredProviderHostSelectsPresetOnlyInExactCase)
{
    struct {
        const char* server;
        int selection; // the list sorts: Google/GMail, Microsoft (...), Other
    } cases[] = {{"pop.gmail.com", 0}, {"POP.gmail.com", 2}, {"outlook.office365.com", 1}, {"pop.example.org", 2}};
    for (const auto& c : cases) {
        ConfigurationValues values;
        values.server.assign(c.server);
        int selection = -2;
        bool hostEnabled = true;
        configScenario = [&](ConfigDialog& dialog) {
            selection = dialog.account.preset.getCurSel();
            hostEnabled = IsWindowEnabled(dialog.account.host.handle);
            pressCancel(dialog);
        };
        if (&c != cases) // the first row's timer is the fixture's
            scenarioTimer = SetTimer(nullptr, 0, scenarioDelayMs, runScenario);
        runConfigDialog(values, nullptr);
        EXPECT_EQ(c.selection, selection) << c.server;
        EXPECT_EQ(c.selection == 2, hostEnabled) << c.server;
    }
}

TEST_F(DialogScenario, ChoosingAProviderFillsServerAndSignInAndOkReturnsThem)
{
    struct {
        ServerPreset preset;
        const char* server;
        SignInMethod signIn;
        const char* mailProgram;
    } cases[] = {{ServerPreset::Google, "pop.gmail.com", SignInMethod::Google, "https://mail.google.com/"},
                 {ServerPreset::Microsoft, "outlook.office365.com", SignInMethod::Microsoft, ""}};
    for (const auto& c : cases) {
        ConfigurationValues values;
        values.username.assign("ann");
        values.security = ConnectionSecurity::StartTls;
        values.port = 110;
        bool hostEnabledAfterPreset = true, checkEnabled = false, hostEnabledAfterOther = false;
        configScenario = [&](ConfigDialog& dialog) {
            choose(dialog, dialog.account.preset, c.preset);
            hostEnabledAfterPreset = IsWindowEnabled(dialog.account.host.handle);
            checkEnabled = IsWindowEnabled(dialog.hostCheck.button.handle);
            choose(dialog, dialog.account.preset, ServerPreset::Other);
            hostEnabledAfterOther = IsWindowEnabled(dialog.account.host.handle);
            pressOk(dialog);
        };
        if (&c != cases) // the first row's timer is the fixture's
            scenarioTimer = SetTimer(nullptr, 0, scenarioDelayMs, runScenario);
        ASSERT_TRUE(runConfigDialog(values, nullptr));
        EXPECT_FALSE(hostEnabledAfterPreset) << c.server;
        EXPECT_TRUE(checkEnabled) << c.server;
        EXPECT_TRUE(hostEnabledAfterOther) << c.server;
        EXPECT_STREQ(c.server, values.server.text);
        EXPECT_EQ(ConnectionSecurity::TlsOnConnect, values.security) << c.server;
        EXPECT_EQ(995, values.port) << c.server;
        EXPECT_EQ(c.signIn, values.signIn) << c.server;
        EXPECT_STREQ(c.mailProgram, textOrEmpty(values.doubleClick)) << c.server;
        EXPECT_STREQ("ann", values.username.text);
    }
}

TEST_F(DialogScenario, SecurityChoiceReplacesTypedPort)
{
    ConfigurationValues values;
    std::string afterStartTls, afterTls;
    configScenario = [&](ConfigDialog& dialog) {
        setText(dialog.account.port, "1234");
        choose(dialog, dialog.account.security, ConnectionSecurity::StartTls);
        afterStartTls = textOf(dialog.account.port.handle);
        choose(dialog, dialog.account.security, ConnectionSecurity::TlsOnConnect);
        afterTls = textOf(dialog.account.port.handle);
        pressCancel(dialog);
    };
    runConfigDialog(values, nullptr);
    EXPECT_EQ("110", afterStartTls);
    EXPECT_EQ("995", afterTls);
}

// One choice of sound, kept in the keys older versions read: the file kept while none plays,
// the repeat only with a sound.
TEST_F(DialogScenario, SoundChoiceIsStoredInTheKeysOlderVersionsRead)
{
    struct Case {
        bool play; // playsound, customsound and repeatmins before
        const char* file;
        int repeat;
        NewMailSound shown, chosen;
        const char* fileAfter;
    } cases[] = {
        {false, "C:\\ding.wav", 0, NewMailSound::None, NewMailSound::None, "C:\\ding.wav"},
        {true, "", 0, NewMailSound::System, NewMailSound::File, "C:\\new.wav"},
        {true, "C:\\ding.wav", 20, NewMailSound::File, NewMailSound::System, ""},
    };
    for (const Case& c : cases) {
        ConfigurationValues values;
        values.playSound = c.play;
        values.customSound.assign(c.file);
        values.repeatMinutes = c.repeat;
        NewMailSound shown = NewMailSound::System;
        bool fileEnabled = false, repeatChecked = false, minutesEnabled = false;
        configScenario = [&](ConfigDialog& dialog) {
            shown = dialog.sound.chosen();
            fileEnabled = IsWindowEnabled(dialog.soundFile.handle);
            minutesEnabled = IsWindowEnabled(dialog.repeatMinutes.handle);
            repeatChecked = dialog.repeatSound.getCheck();
            choose(dialog, dialog.sound, c.chosen);
            setText(dialog.soundFile, c.chosen == NewMailSound::File ? "C:\\new.wav" : c.file);
            dialog.repeatSound.setCheck(true);
            setText(dialog.repeatMinutes, "15");
            pressOk(dialog);
        };
        scenarioTimer = SetTimer(nullptr, 0, scenarioDelayMs, runScenario);
        ASSERT_TRUE(runConfigDialog(values, nullptr));
        EXPECT_EQ(c.shown, shown) << c.file;
        EXPECT_EQ(c.shown == NewMailSound::File, fileEnabled) << c.file;
        EXPECT_EQ(c.repeat > 0, repeatChecked) << c.file;
        EXPECT_EQ(c.repeat > 0 && c.play, minutesEnabled) << c.file;
        EXPECT_EQ(c.chosen != NewMailSound::None, values.playSound) << c.file;
        EXPECT_STREQ(c.fileAfter, values.customSound.text);
        EXPECT_EQ(c.chosen != NewMailSound::None ? 15 : 0, values.repeatMinutes) << c.file;
    }
}

TEST_F(DialogScenario, HostTextDrivesCheckButton)
{
    ConfigurationValues values;
    values.server.assign("mail.example");
    bool afterEmpty = true, afterBlank = false;
    configScenario = [&](ConfigDialog& dialog) {
        setText(dialog.account.host, "");
        afterEmpty = IsWindowEnabled(dialog.hostCheck.button.handle);
        setText(dialog.account.host, " ");
        afterBlank = IsWindowEnabled(dialog.hostCheck.button.handle);
        pressCancel(dialog);
    };
    runConfigDialog(values, nullptr);
    EXPECT_FALSE(afterEmpty);
    EXPECT_TRUE(afterBlank);
}

TEST_F(DialogScenario, OkRefusesBadPortAndIntervalAndStaysOpen)
{
    ConfigurationValues values;
    bool openAfterBadPort = false, openAfterBadInterval = false;
    configScenario = [&](ConfigDialog& dialog) {
        setText(dialog.account.port, "70000");
        pressOk(dialog);
        openAfterBadPort = Dialog::findRunning(IDD_CONFIGURE) != nullptr;
        setText(dialog.account.port, "0");
        pressOk(dialog);
        setText(dialog.account.port, "2110");
        setText(dialog.interval, "");
        pressOk(dialog);
        openAfterBadInterval = Dialog::findRunning(IDD_CONFIGURE) != nullptr;
        setText(dialog.interval, "0");
        dialog.repeatSound.setCheck(true);
        setText(dialog.repeatMinutes, "0");
        pressOk(dialog);
        setText(dialog.repeatMinutes, "7");
        pressOk(dialog);
    };
    ASSERT_TRUE(runConfigDialog(values, nullptr));
    EXPECT_TRUE(openAfterBadPort);
    EXPECT_TRUE(openAfterBadInterval);
    ASSERT_EQ(4u, shownMessages.size());
    EXPECT_NE(std::string::npos, shownMessages[0].find("65535"));
    EXPECT_NE(std::string::npos, shownMessages[1].find("65535"));
    EXPECT_NE(std::string::npos, shownMessages[2].find("interval"));
    EXPECT_NE(std::string::npos, shownMessages[3].find("repeat"));
    EXPECT_EQ(7, values.repeatMinutes);
    EXPECT_EQ(2110, values.port);
    EXPECT_EQ(1, values.checkMinutes);
}

TEST_F(DialogScenario, AccountEditsTakeNoMoreThanACommandLineHolds)
{
    ConfigurationValues values;
    std::string longText(accountValueMaxLength + 40, 'p');
    configScenario = [&](ConfigDialog& dialog) {
        SendMessageA(dialog.account.password.handle, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(longText.c_str()));
        pressOk(dialog);
    };
    ASSERT_TRUE(runConfigDialog(values, nullptr));
    EXPECT_EQ(static_cast<size_t>(accountValueMaxLength), std::string(values.password.text).size());
}

TEST_F(DialogScenario, CancelLeavesValuesAsTheyWere)
{
    ConfigurationValues values;
    values.server.assign("mail.example");
    configScenario = [&](ConfigDialog& dialog) {
        setText(dialog.account.host, "other.example");
        setText(dialog.account.port, "2110");
        pressCancel(dialog);
    };
    EXPECT_FALSE(runConfigDialog(values, nullptr));
    EXPECT_STREQ("mail.example", values.server.text);
    EXPECT_EQ(995, values.port);
}

TEST_F(DialogScenario, SecondConfigureWhileOpenRaisesInsteadOfNesting)
{
    ConfigurationValues values;
    bool secondResult = true;
    Dialog* stillRunning = nullptr;
    configScenario = [&](ConfigDialog& dialog) {
        ConfigurationValues other;
        secondResult = runConfigDialog(other, nullptr);
        stillRunning = Dialog::findRunning(IDD_CONFIGURE);
        pressOk(dialog);
    };
    EXPECT_TRUE(runConfigDialog(values, nullptr));
    EXPECT_FALSE(secondResult);
    EXPECT_NE(nullptr, stillRunning);
}

TEST_F(DialogScenario, AboutShowsProductVersion)
{
    std::string version;
    aboutScenario = [&](AboutDialog& dialog) {
        version = textOf(dialog.versionText.handle);
        pressCancel(dialog);
    };
    AboutDialog::showOrRaise();
    ASSERT_TRUE(scenarioRan);
    EXPECT_EQ("Version 1v0r1", version);
}

namespace {
std::string settingsFileIn(const char* name)
{
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + name;
    DeleteFileA(path.c_str());
    return path;
}

std::string fileText(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

// An address typed at a provider suggests its server and sign-in, which then says what is
// missing, and that it works with that server alone once another is typed; the stored address
// suggests nothing over the stored server.
TEST_F(DialogScenario, AddressAtAProviderSuggestsItsServerAndSignIn)
{
    ConfigurationValues values;
    values.username.assign("ann@gmail.com");
    values.server.assign("localhost");
    std::string hostAtOpen, host, state, atOtherServer;
    ConnectionSecurity security = ConnectionSecurity::None;
    bool signInEnabled = true, passwordEnabled = true;
    configScenario = [&](ConfigDialog& dialog) {
        hostAtOpen = textOf(dialog.account.host.handle);
        setText(dialog.account.userName, "ann@Outlook.com");
        host = textOf(dialog.account.host.handle);
        security = dialog.account.security.chosen();
        state = textOf(dialog.signIn.state.handle);
        signInEnabled = IsWindowEnabled(dialog.signIn.button.handle);
        passwordEnabled = IsWindowEnabled(dialog.account.password.handle);
        setText(dialog.account.host, "mail.example");
        atOtherServer = textOf(dialog.signIn.state.handle);
        pressOk(dialog);
    };
    ASSERT_TRUE(runConfigDialog(values, nullptr));
    EXPECT_EQ("localhost", hostAtOpen);
    EXPECT_EQ("outlook.office365.com", host);
    EXPECT_EQ(ConnectionSecurity::TlsOnConnect, security);
    bool builtIn = findProvider(OAuthProviderId::Microsoft)->builtInClientId[0] != '\0';
    EXPECT_EQ(builtIn ? "Not signed in: press Sign in."
                      : "No Microsoft client id is set: see \"Signing in\" in the README.",
              state);
    EXPECT_EQ(builtIn, signInEnabled);
    EXPECT_EQ("Microsoft's sign-in works only with its own server (outlook.office365.com): choose it, or sign in "
              "with a password.",
              atOtherServer);
    EXPECT_FALSE(passwordEnabled);
    EXPECT_EQ(SignInMethod::Microsoft, values.signIn);
}

// While the browser is open the dialog stays usable; a browser that never comes back ends in
// time, and the button cancels at once. A sign-in made before counts for its method and
// address only, and one cancelled after it with another method leaves it standing.
TEST_F(DialogScenario, SignInThatNeverComesBackOrIsCancelledLeavesTheDialogUsable)
{
    testbench::OAuthFixture bench;
    ASSERT_TRUE(testbench::OAuthFixture::fromEnvironment(bench)) << "the sign-in bench is not running";
    OAuthProvider redirectingMock = bench.provider();
    redirectingMock.id = OAuthProviderId::Google; // with the Google client id, which redirects
    for (bool cancel : {false, true}) {
        ConfigurationValues values;
        values.server.assign("localhost"); // the mock's mail server
        values.username.assign("alice@example.test");
        values.signIn = SignInMethod::Microsoft;
        values.microsoftClientId.assign("no-redirect"); // the mock's page never redirects
        values.googleClientId.assign("pellwick");
        std::string whileBusy, state, atOtherAddress;
        bool usable = false;
        configScenario = [&](ConfigDialog& dialog) {
            dialog.signIn.providerOf = [&](SignInMethod method) {
                return method == SignInMethod::Google ? &redirectingMock : &bench.provider();
            };
            dialog.signIn.waitSeconds = 2;
            if (cancel) {
                choose(dialog, dialog.signIn.method, SignInMethod::Google);
                click(dialog, dialog.signIn.button.handle);
                testbench::pumpUntil([&] { return textOf(dialog.signIn.button.handle) == "Sign in"; }, 6000);
                setText(dialog.account.userName, "bob@example.test");
                atOtherAddress = textOf(dialog.signIn.state.handle);
                setText(dialog.account.userName, "alice@example.test");
                choose(dialog, dialog.signIn.method, SignInMethod::Microsoft);
            }
            click(dialog, dialog.signIn.button.handle);
            whileBusy = textOf(dialog.signIn.button.handle);
            if (cancel)
                click(dialog, dialog.signIn.button.handle);
            testbench::pumpUntil([&] { return textOf(dialog.signIn.button.handle) == "Sign in"; }, 6000);
            state = textOf(dialog.signIn.state.handle);
            usable = IsWindowEnabled(dialog.signIn.button.handle) && IsWindowEnabled(dialog.signIn.method.handle);
            if (cancel) // the sign-in made before is OK's to hand over
                choose(dialog, dialog.signIn.method, SignInMethod::Google);
            pressOk(dialog);
        };
        if (cancel) // the first run's timer is the fixture's
            scenarioTimer = SetTimer(nullptr, 0, scenarioDelayMs, runScenario);
        ASSERT_TRUE(runConfigDialog(values, nullptr));
        EXPECT_EQ("Cancel", whileBusy);
        EXPECT_EQ(cancel ? "Sign-in cancelled." : "No answer came back from the browser. Press Sign in to try again.",
                  state);
        EXPECT_TRUE(usable);
        EXPECT_EQ(cancel, values.newSignIn.has_value());
        EXPECT_EQ(cancel ? "Not signed in: press Sign in." : "", atOtherAddress);
    }
}

// The client values typed beside the sign-in are each provider's own; an authority that is
// none keeps OK from storing it.
TEST_F(DialogScenario, ClientValuesTypedBesideTheSignInAreStoredPerProvider)
{
    ConfigurationValues values;
    values.username.assign("ann@example.test");
    values.signIn = SignInMethod::Microsoft;
    values.googleClientSecret.assign("g-secret");
    std::string badState, googleBoxes, label;
    bool builtIn = findProvider(OAuthProviderId::Microsoft)->builtInClientId[0] != '\0';
    bool clientIdShown = false;
    configScenario = [&](ConfigDialog& dialog) {
        clientIdShown = (GetWindowLongA(dialog.signIn.clientId.handle, GWL_STYLE) & WS_VISIBLE) != 0;
        setText(dialog.signIn.clientId, "ms-id");
        setText(dialog.signIn.detail, "contoso");
        badState = textOf(dialog.signIn.state.handle);
        pressOk(dialog); // refused: the dialog stays
        choose(dialog, dialog.signIn.method, SignInMethod::Google);
        googleBoxes = textOf(dialog.signIn.clientId.handle) + "|" + textOf(dialog.signIn.detail.handle);
        label = textOf(dialog.signIn.detailLabel.handle);
        choose(dialog, dialog.signIn.method, SignInMethod::Microsoft);
        setText(dialog.signIn.detail, "Organizations");
        pressOk(dialog);
    };
    ASSERT_TRUE(runConfigDialog(values, nullptr));
    EXPECT_NE(builtIn, clientIdShown);
    EXPECT_EQ("The authority must be common, consumers, organizations, or a tenant's id or domain name.", badState);
    ASSERT_EQ(1u, shownMessages.size());
    EXPECT_EQ(badState, shownMessages[0]);
    EXPECT_EQ("|g-secret", googleBoxes);
    EXPECT_EQ("Secret:", label);
    EXPECT_STREQ("ms-id", values.microsoftClientId.text);
    EXPECT_STREQ("Organizations", values.microsoftAuthority.text);
    EXPECT_STREQ("", values.googleClientId.text);
    EXPECT_STREQ("g-secret", values.googleClientSecret.text);
}

// The sign-in with a code shows the code and opens its page; the tokens go where the browser
// sign-in's go, and a client that may not use it is told what to allow.
TEST_F(DialogScenario, SignInWithACodeShowsTheCodeAndSignsIn)
{
    testbench::OAuthFixture bench;
    ASSERT_TRUE(testbench::OAuthFixture::fromEnvironment(bench)) << "the sign-in bench is not running";
    std::string deviceUrl = bench.url("/devicecode");
    OAuthProvider mock = bench.provider();
    mock.deviceAuthorizationEndpoint = deviceUrl.c_str();
    struct {
        const char* clientId; // scripts the mock's answers
        bool codeShown;
        const char* state;
    } cases[] = {
        {"interval=2", true, "Signed in. The password is not used."},
        {"refuse=invalid_client", false,
         "Microsoft refused the client: allow public client flows in its registration (see the guide)."},
    };
    for (const auto& c : cases) {
        ConfigurationValues values;
        values.server.assign("localhost"); // the mock's mail server
        values.username.assign("alice@example.test");
        values.signIn = SignInMethod::Microsoft;
        values.microsoftClientId.assign(c.clientId);
        values.focusSignIn = true; // opened from the notification to sign in again
        std::string shownCode, opened, state;
        bool focusOnSignIn = false;
        configScenario = [&](ConfigDialog& dialog) {
            focusOnSignIn = GetFocus() == dialog.signIn.button.handle;
            dialog.signIn.providerOf = [&](SignInMethod) { return &mock; };
            dialog.signIn.open = [&](const char* page) {
                opened = page;
                return true;
            };
            click(dialog, dialog.signIn.codeButton.handle);
            testbench::pumpUntil([&] { return !opened.empty() || !dialog.signIn.isRunning(); }, 5000);
            shownCode = textOf(dialog.signIn.state.handle);
            testbench::pumpUntil([&] { return !dialog.signIn.isRunning(); }, 5000);
            state = textOf(dialog.signIn.state.handle);
            pressOk(dialog);
        };
        if (&c != cases) // the first row's timer is the fixture's
            scenarioTimer = SetTimer(nullptr, 0, scenarioDelayMs, runScenario);
        ASSERT_TRUE(runConfigDialog(values, nullptr)) << c.clientId;
        EXPECT_EQ(c.codeShown ? bench.url("/device") : "", opened) << c.clientId;
        EXPECT_EQ(c.codeShown, shownCode.rfind("Type the code ", 0) == 0 &&
                                   shownCode.find(" at " + bench.url("/device") + " to sign in.") != std::string::npos)
            << shownCode;
        EXPECT_EQ(c.state, state) << c.clientId;
        EXPECT_EQ(c.codeShown, values.newSignIn.has_value()) << c.clientId;
        EXPECT_TRUE(focusOnSignIn) << c.clientId;
    }
}

// The application's Configure over a fresh settings file in the temporary folder, with the
// program's dialogs.
struct AccountTarget {
    explicit AccountTarget(const char* name) : path(settingsFileIn(name)) { app.settings.setPath(path.c_str()); }
    ~AccountTarget() { DeleteFileA(path.c_str()); }
    bool configure() { return app.configure(); }

    std::string path;
    NotifierApp app{GetModuleHandleA(nullptr), AppDialogs{runConfigDialog, nullptr, AboutDialog::showOrRaise}};
};
} // namespace

TEST_F(DialogScenario, OkWritesEveryKeyInFileOrderAndUpdatesColours)
{
    AccountTarget target("pellwick_dialog_ok.ini");
    target.app.changeColour = true;
    target.app.newMailColour = RGB(1, 2, 3);
    configScenario = [&](ConfigDialog& dialog) {
        setText(dialog.account.host, "mail.example");
        setText(dialog.account.userName, "ann");
        setText(dialog.account.password, "secret");
        dialog.changeColour.setCheck(false);
        SendMessageA(dialog.showBalloon.handle, BM_CLICK, 0, 0);
        pressOk(dialog);
    };
    ASSERT_TRUE(target.configure());
    EXPECT_FALSE(target.app.changeColour);
    EXPECT_EQ(RGB(1, 2, 3), target.app.newMailColour);
    std::string text = fileText(target.path);
    EXPECT_EQ(std::string::npos, text.find("secret")) << "the password is in clear";
    TextRecord password;
    EXPECT_EQ(StoredPassword::Protected, target.app.settings.readPassword(password));
    EXPECT_STREQ("secret", password.text);
    const char* order[] = {"server=mail.example", "username=ann",  "password=",    "SSL=true",
                           "starttls=false",      "port=995",      "checkmins=5",  "[newmail]",
                           "playsound=",          "customsound=",  "repeatmins=0", "changecolour=",
                           "newmailcolour=1,2,3", "balloon=false", "[actions]",    "doubleclick="};
    size_t at = 0;
    for (const char* key : order) {
        size_t found = text.find(key, at);
        ASSERT_NE(std::string::npos, found) << key << " after offset " << at << " in\n" << text;
        at = found;
    }
}

// Blanks and quotes around a password, which the profile read strips, survive the dialog's
// write, start-up's read and the dialog's next opening.
TEST_F(DialogScenario, PasswordWithBlanksAndQuotesAtItsEndsComesBackAsTyped)
{
    const char typed[] = " \"p'=;#%\xE9 '";
    AccountTarget target("pellwick_dialog_password.ini");
    configScenario = [&](ConfigDialog& dialog) {
        setText(dialog.account.host, "mail.example");
        setText(dialog.account.password, typed);
        pressOk(dialog);
    };
    ASSERT_TRUE(target.configure());
    TextRecord read;
    target.app.settings.readPassword(read);
    EXPECT_STREQ(typed, read.text);

    std::string shown;
    configScenario = [&](ConfigDialog& dialog) {
        shown = textOf(dialog.account.password.handle);
        pressCancel(dialog);
    };
    scenarioTimer = SetTimer(nullptr, 0, scenarioDelayMs, runScenario);
    EXPECT_FALSE(target.configure());
    EXPECT_EQ(typed, shown);
}

// When the platform cannot protect the new password, OK says so and the file keeps the
// password it held, in whichever form, instead of an empty one.
TEST_F(DialogScenario, PasswordThatCannotBeProtectedIsNotStoredAndTheUserIsTold)
{
    AccountTarget target("pellwick_dialog_unprotected.ini");
    TextRecord before;
    ASSERT_TRUE(protectPassword("old", before));
    target.app.settings.writeString(sectionConnection, keyPassword, before.text);
    target.app.passwordProtection = [](const char*, TextRecord&) { return false; };
    configScenario = [&](ConfigDialog& dialog) {
        setText(dialog.account.password, "new");
        pressOk(dialog);
    };
    ASSERT_TRUE(target.configure());
    TextRecord stored;
    target.app.settings.readAccountText(keyPassword, stored);
    EXPECT_STREQ(before.text, stored.text);
    ASSERT_EQ(1u, shownMessages.size());
    EXPECT_NE(std::string::npos, shownMessages[0].find("could not be stored protected")) << shownMessages[0];
}

TEST_F(DialogScenario, CancelWritesNoSettingsFile)
{
    AccountTarget target("pellwick_dialog_cancel.ini");
    configScenario = [&](ConfigDialog& dialog) {
        setText(dialog.account.host, "mail.example");
        pressCancel(dialog);
    };
    EXPECT_FALSE(target.configure());
    ASSERT_TRUE(scenarioRan);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(target.path.c_str()));
}
