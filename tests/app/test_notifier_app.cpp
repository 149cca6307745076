// NotifierApp inside the test process: its window, tray icon, menu and reactions, against
// scripted servers that produce each outcome on cue. Sounds and the shell are recorded, not
// played.
#include <gtest/gtest.h>

#include <winsock2.h> // before windows.h, for the test servers
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/notifier_app.h"
#include "app/single_instance.h"
#include "res/resource.h"
#include "tests/app/program_driver.h"
#include "tests/mail/mail_test_support.h"
#include "util/holders/win32_holders.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/poll_until.h"
#include "tests/support/pump_until.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/temp_directory.h"
#include "tests/support/test_pki.h"

using apptest::ProgramFiles;
using testbench::loggedIn;
using testbench::Script;
using testbench::ScriptedPop3Server;

namespace {

const int resultMs = 15000;

struct Played {
    std::string sound;
    DWORD flags;
};
std::vector<Played> played;
std::vector<std::string> opened;

void recordSound(const char* sound, DWORD flags)
{
    played.push_back({sound, flags});
}

void recordOpen(HWND, const char* target)
{
    opened.push_back(target);
}

using testbench::pumpUntil;

Script listing(const std::string& lines)
{
    return loggedIn().expectLine("UIDL").send("+OK\r\n" + lines + ".\r\n").stall(2000);
}

// A listing whose messages the session describes, the newest (last) asked first.
Script describing(const std::string& lines, const std::vector<std::string>& headers)
{
    Script script = loggedIn().expectLine("UIDL").send("+OK\r\n" + lines + ".\r\n");
    script.expectLine("CAPA").send("+OK\r\nTOP\r\n.\r\n");
    for (size_t at = headers.size(); at > 0; --at)
        script.expectLine("TOP " + std::to_string(at) + " 0").send("+OK\r\n" + headers[at - 1] + "\r\n.\r\n");
    return script.stall(2000);
}

class AppInProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        played.clear();
        opened.clear();
        ASSERT_FALSE(scratch.path().empty());
        ASSERT_TRUE(pki.create(scratch.path()));
        work = testbench::unixPathForPlatform(scratch.path());
        ASSERT_TRUE(apptest::makeWorkFolder(work, testbench::unixPathForPlatform(pki.path("ca.pem"))));
        GetCurrentDirectoryA(MAX_PATH, previousFolder);
        SetCurrentDirectoryA(work.c_str());
    }

    void TearDown() override
    {
        closeApp();
        SetCurrentDirectoryA(previousFolder);
    }

    void closeApp()
    {
        if (app && app->handle && IsWindow(app->handle)) {
            SendMessageA(app->handle, WM_CLOSE, 0, 0);
            pumpUntil([] { return false; }, 50);
        }
        app.reset();
    }

    // Starts the program on `on` (the fixture's server unless given), which is started here.
    void start(const std::vector<std::string>& extraSettings, bool tls = false, ScriptedPop3Server* on = nullptr)
    {
        ScriptedPop3Server& serving = on ? *on : server;
        ASSERT_TRUE(serving.start());
        std::vector<std::string> lines = {"[connection]",
                                          "server=127.0.0.1",
                                          "username=u",
                                          "password=p",
                                          std::string("SSL=") + (tls ? "true" : "false"),
                                          "port=" + std::to_string(serving.port()),
                                          "checkmins=1"};
        lines.insert(lines.end(), extraSettings.begin(), extraSettings.end());
        ASSERT_TRUE(files.startFresh(lines));
        if (afterFiles)
            afterFiles();
        app.reset(new NotifierApp(GetModuleHandleA(nullptr)));
        app->passwordProtection = protection;
        app->effects.playSound = recordSound;
        app->effects.openTarget = recordOpen;
        app->account.checker.retryMilliseconds = 300;
        app->account.checker.millisecondsPerMinute = 60 * 60 * 1000; // no checks but the ones asked for
        app->account.checker.pop3.setTimeouts(2, 2);
        // The fixture's servers stand in for the providers' own.
        app->account.checker.tokenMayGoTo = [](const OAuthProvider&, const char*) { return true; };
        if (beforeStartUp)
            beforeStartUp(*app);
        ASSERT_TRUE(app->startUp());
    }

    bool waitForStatus(const std::string& expected)
    {
        NotifierApp* shownBy = app.get();
        return pumpUntil([&] { return expected == shownBy->statusText; }, resultMs);
    }

    int windowWidth() const
    {
        RECT frame = {};
        GetWindowRect(app->handle, &frame);
        return frame.right - frame.left;
    }

    // Keeps the floating window as a picture for the documentation, once it has been painted
    // (savePicture waits for the display to settle).
    bool picture(const std::string& name)
    {
        // Painted, then left alone: a later result is not taken.
        pumpUntil([] { return false; }, 50);
        RECT frame = {};
        GetWindowRect(app->handle, &frame);
        return apptest::savePicture(name, frame);
    }

    bool markAsReadEnabled() const
    {
        UINT state = GetMenuState(app->popupMenu.menuHandle(), ID_MARK_AS_READ, MF_BYCOMMAND);
        return state != static_cast<UINT>(-1) && !(state & (MF_GRAYED | MF_DISABLED));
    }

    // Runs once the files are in place, before the program starts up; and on the program
    // before its start-up.
    std::function<void()> afterFiles;
    std::function<void(NotifierApp&)> beforeStartUp;
    PasswordProtection protection = protectPassword;
    testbench::TempDirectory scratch;
    testbench::TestPki pki;
    std::string work;
    char previousFolder[MAX_PATH] = "";
    ProgramFiles files;
    ScriptedPop3Server server;
    std::unique_ptr<NotifierApp> app;
};

// Each failure shows its own text, twice as wide, in the window and the tray tooltip.
TEST_F(AppInProcess, FailuresShowTheirTextTwiceAsWide)
{
    struct Case {
        const char* status;
        const char* picture;
        bool tls;
        std::function<void(ScriptedPop3Server&)> serve;
        const char* setting = "";
    } cases[] = {
        {"Listing failed", "window-listing-failed", false,
         [](ScriptedPop3Server& on) {
             on.addConnection(loggedIn().expectLine("UIDL").send("-ERR not now\r\n").stall(2000));
         }},
        {"Certificate not trusted", "window-certificate-not-trusted", true,
         [this](ScriptedPop3Server& on) {
             on.useTls(pki.path("selfsigned.pem"), pki.path("selfsigned.key"));
             on.addConnection(loggedIn());
         }},
        {"Server not responding", "window-server-not-responding", false,
         [](ScriptedPop3Server& on) { on.addConnection(Script().send("+OK ready\r\n").stall(10000)); }},
        // Signs in with a provider, and no refresh token is stored: nothing is asked of anyone.
        {"Sign in again", "window-sign-in-again", true, [](ScriptedPop3Server&) {}, "signin=microsoft"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        ScriptedPop3Server failing;
        c.serve(failing);
        start({c.setting, "[position]", "visible=true"}, c.tls, &failing);
        ASSERT_TRUE(waitForStatus(c.status)) << app->statusText;
        EXPECT_TRUE(picture(c.picture));
        EXPECT_EQ(windowWidth(), 200);
        EXPECT_STREQ(app->trayIcon.tip(), c.status);
        closeApp();
    }
}

// The certificate trusted in the settings file is accepted, and so is one that Configure hands
// over with its account; a server showing another one never sees the user name or password.
TEST_F(AppInProcess, OnlyThePinnedCertificateIsAcceptedBesidesTheAuthorities)
{
    static std::string selfSigned;
    selfSigned = mailtest::certificateFingerprint(pki.path("selfsigned.pem"));
    struct Case {
        const char* name;
        const char* certificate;
        std::string pinned;     // in the settings file
        bool pinnedByConfigure; // handed over by Configure after the first check
        const char* status;
    } cases[] = {
        {"pinned in the settings", "selfsigned", selfSigned, false, "1 / 1"},
        {"another certificate", "unknownca", selfSigned, false, "Certificate not trusted"},
        {"pinned by Configure", "selfsigned", "", true, "1 / 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPop3Server tls;
        tls.useTls(pki.path(std::string(c.certificate) + ".pem"), pki.path(std::string(c.certificate) + ".key"));
        for (int i = 0; i < 10; ++i) // every refused handshake takes one
            tls.addConnection(listing("1 a\r\n"));
        start({"certsha256=" + c.pinned}, true, &tls);
        if (c.pinnedByConfigure) {
            ASSERT_TRUE(waitForStatus("Certificate not trusted")) << app->statusText;
            app->dialogs.configure = [](ConfigurationValues& values, PasswordProtection) {
                values.certSha256.assign(selfSigned.c_str());
                return true;
            };
            ASSERT_TRUE(app->configure());
        }
        EXPECT_TRUE(waitForStatus(c.status)) << app->statusText;
        if (std::string(c.status) != "1 / 1") {
            EXPECT_TRUE(tls.receivedLines().empty()) << tls.receivedLines()[0];
        }
        closeApp();
    }
}

// A password an older version left in clear is stored protected at start-up; when the
// platform cannot protect it, the file keeps it in clear rather than losing it.
TEST_F(AppInProcess, PasswordInClearIsProtectedAtStartUpOrKeptAsItWas)
{
    for (bool protects : {true, false}) {
        SCOPED_TRACE(protects ? "protected" : "protection fails");
        PasswordProtection failing = [](const char*, TextRecord&) { return false; };
        protection = protects ? protectPassword : failing;
        ScriptedPop3Server unused;
        start({}, false, &unused);
        std::string stored = files.readValue("connection", "password");
        TextRecord revealed;
        EXPECT_EQ(revealPassword(stored.c_str(), revealed),
                  protects ? StoredPassword::Protected : StoredPassword::Plain)
            << stored;
        EXPECT_STREQ(revealed.text, "p");
        closeApp();
    }
}

// The stored refresh token goes to the checker at start-up; the one the provider replaces it
// with is stored protected at once, or not at all, never in clear; another method forgets it.
TEST_F(AppInProcess, RefreshTokensAreStoredProtectedAsTheProviderReplacesThem)
{
    TextRecord stored;
    ASSERT_TRUE(protectPassword("r1", stored));
    mailtest::ScriptedEndpoint* endpoint = nullptr;
    beforeStartUp = [&endpoint](NotifierApp& starting) {
        starting.account.checker.makeTokenEndpoint = [&endpoint](const OAuthProvider&, const OAuthClient&) {
            endpoint = new mailtest::ScriptedEndpoint;
            endpoint->answer(TokenOutcome::Tokens, "a2", "r2");
            return std::unique_ptr<TokenEndpoint>(endpoint);
        };
    };
    // The last run ends the program before its window hears of the new token.
    for (int run = 0; run < 3; ++run) {
        bool protects = run != 1;
        SCOPED_TRACE(run);
        PasswordProtection failing = [](const char*, TextRecord&) { return false; };
        protection = protects ? protectPassword : failing;
        ScriptedPop3Server tls;
        tls.useTls(pki.path("server.pem"), pki.path("server.key"));
        tls.addConnection(Script()
                              .send("+OK\r\n")
                              .expectLine("CAPA")
                              .send("+OK\r\nSASL XOAUTH2\r\n.\r\n")
                              .expectLine("AUTH XOAUTH2")
                              .send("+ \r\n")
                              .expectLine()
                              .send("+OK\r\n")
                              .expectLine("UIDL")
                              .send("+OK\r\n1 a\r\n.\r\n")
                              .stall(2000));
        start({"signin=microsoft", std::string("refreshtoken=\"") + stored.text + "\""}, true, &tls);
        if (run == 2) {
            ASSERT_TRUE(
                testbench::pollUntil([&] { return app->account.checker.takeSnapshot().totalCount == 1; }, resultMs));
            app.reset();
            TextRecord kept;
            revealPassword(files.readValue("connection", "refreshtoken").c_str(), kept);
            EXPECT_STREQ(kept.text, "r2");
            break;
        }
        ASSERT_TRUE(waitForStatus("1 / 1")) << app->statusText;
        EXPECT_EQ(endpoint->presented, std::vector<std::string>{"r1"});
        TextRecord now;
        EXPECT_EQ(app->settings.readRefreshToken(now), protects ? StoredPassword::Protected : StoredPassword::Plain);
        EXPECT_STREQ(now.text, protects ? "r2" : "");
        app->dialogs.configure = [](ConfigurationValues& values, PasswordProtection) {
            values.signIn = SignInMethod::Password;
            return true;
        };
        ASSERT_TRUE(app->configure());
        EXPECT_EQ(files.readValue("connection", "refreshtoken"), "<absent>");
        closeApp();
    }
}

// The trust files are the ones of start-up: a session made later, as the host check makes one,
// trusts no "cacert.pem" of a folder that a file dialog moved the working folder to.
TEST_F(AppInProcess, TrustFilesAreTheOnesOfStartUpWhereverTheWorkingFolderMovesLater)
{
    server.addConnection(listing(""));
    start({});
    testbench::TempDirectory elsewhere;
    testbench::TestPki otherAuthority;
    ASSERT_TRUE(otherAuthority.create(elsewhere.path()));
    std::string moved = testbench::unixPathForPlatform(elsewhere.path());
    ASSERT_TRUE(apptest::makeWorkFolder(moved, testbench::unixPathForPlatform(otherAuthority.path("ca.pem"))));
    ASSERT_TRUE(SetCurrentDirectoryA(moved.c_str()));
    for (const testbench::TestPki* authority : {&pki, &otherAuthority}) {
        ScriptedPop3Server tls;
        tls.useTls(authority->path("server.pem"), authority->path("server.key"));
        tls.addConnection(loggedIn().stall(2000));
        ASSERT_TRUE(tls.start());
        Pop3Session probe;
        probe.setTimeouts(5, 5);
        bool trusted = authority == &pki;
        EXPECT_EQ(probe.connect("localhost", tls.port(), ConnectionSecurity::TlsOnConnect) && probe.logIn("u", "p"),
                  trusted);
        EXPECT_EQ(tls.receivedLines().size(), trusted ? 2u : 0u);
    }
}

TEST_F(AppInProcess, FailureThenSuccessShrinksBackKeepingTheLeftEdge)
{
    server.addConnection(Script().disconnect());
    server.addConnection(
        Script().pause(1500).send("+OK ready\r\n").login().expectLine("UIDL").send("+OK\r\n1 a\r\n.\r\n").stall(2000));
    start({"[position]", "x=300", "y=200"});
    ASSERT_TRUE(waitForStatus("Hostname not found")) << app->statusText;
    RECT wide = {};
    GetWindowRect(app->handle, &wide);
    EXPECT_EQ(wide.right - wide.left, 200);
    EXPECT_EQ(wide.left, 300);
    ASSERT_TRUE(waitForStatus("1 / 1")) << app->statusText;
    RECT narrow = {};
    GetWindowRect(app->handle, &narrow);
    EXPECT_EQ(narrow.right - narrow.left, 100);
    EXPECT_EQ(narrow.left, 300);
    EXPECT_EQ(narrow.top, 200);
}

// The blank columns each side of text that fits, at least.
const int textMarginPixels = 3;

// The columns of the floating window (inside its border) where text is drawn.
bool textColumns(HWND window, int& first, int& last)
{
    RECT frame = {};
    GetWindowRect(window, &frame);
    InflateRect(&frame, -1, -1);
    apptest::ScreenImage inside;
    if (!inside.capture(frame))
        return false;
    first = -1;
    last = -1;
    for (int column = 0; column < inside.width(); ++column)
        for (int row = 0; row < inside.height(); ++row)
            if (inside.at(column, row) == GetSysColor(COLOR_WINDOWTEXT)) {
                first = first < 0 ? column : first;
                last = column;
            }
    return first >= 0;
}

TEST_F(AppInProcess, LargeCountsWidenTheWindowToFitTheTextKeepingItsLeftEdge)
{
    server.addConnection(listing(""));
    start({"[position]", "x=300", "y=200", "visible=true"});
    ASSERT_TRUE(waitForStatus("0 / 0"));
    EXPECT_EQ(windowWidth(), MulDiv(100, app->dpi, 96)) << "never narrower than 100 at 100%, never wider than needed";

    for (int count : {100000, 2000000000}) {
        app->shown.unseenCount = count;
        app->shown.totalCount = count;
        app->updateStatusText();
        RedrawWindow(app->handle, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_UPDATENOW);
        pumpUntil([] { return false; }, 300);
        RECT frame = {};
        GetWindowRect(app->handle, &frame);
        EXPECT_EQ(frame.left, 300) << count;
        EXPECT_EQ(frame.top, 200) << count;
        int first = 0, last = 0;
        ASSERT_TRUE(textColumns(app->handle, first, last)) << "no text drawn";
        // Centred text that is cut reaches within a glyph's side bearing of both edges; text
        // that fits keeps a margin of a few pixels on each side.
        int inside = frame.right - frame.left - 2;
        EXPECT_GE(first, textMarginPixels) << app->statusText << " is cut on the left";
        EXPECT_LT(last, inside - textMarginPixels) << app->statusText << " is cut on the right";
    }
}

// What Windows sends when the window is dragged onto a monitor at 150%.
TEST_F(AppInProcess, MovedToAMonitorOfAnotherScalingTakesItsSizeAndTheSuggestedPlace)
{
    server.addConnection(listing(""));
    start({"[position]", "x=300", "y=200", "visible=true"});
    ASSERT_TRUE(waitForStatus("0 / 0"));
    RECT suggested = {500, 250, 650, 295};
    SendMessageA(app->handle, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RECT frame = {};
    GetWindowRect(app->handle, &frame);
    EXPECT_EQ(frame.left, 500);
    EXPECT_EQ(frame.top, 250);
    EXPECT_EQ(frame.right - frame.left, 150);
    EXPECT_EQ(frame.bottom - frame.top, 45);
    LOGFONTA font = {};
    GetObjectA(app->statusFont.get(), sizeof font, &font);
    OwnedFont atHundred(createStatusFont(96));
    OwnedFont atHundredFifty(createStatusFont(144));
    LOGFONTA expected = {}, small = {};
    GetObjectA(atHundred.get(), sizeof small, &small);
    GetObjectA(atHundredFifty.get(), sizeof expected, &expected);
    ASSERT_LT(std::abs(small.lfHeight), std::abs(expected.lfHeight));
    EXPECT_EQ(font.lfHeight, expected.lfHeight) << "the font did not grow with the scaling";
}

TEST_F(AppInProcess, PositionOffEveryMonitorIsBroughtBackOnScreen)
{
    server.addConnection(listing(""));
    start({"[position]", "x=-5000", "y=5000"});
    RECT frame = {};
    GetWindowRect(app->handle, &frame);
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT overlap = {};
    EXPECT_TRUE(IntersectRect(&overlap, &frame, &screen) && EqualRect(&overlap, &frame))
        << frame.left << "," << frame.top;
}

// What screen readers were told the window is called, in order: its text as each event came.
std::vector<std::string> namesAnnounced;
void CALLBACK recordNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD)
{
    char name[spokenTextSize] = "";
    GetWindowTextA(window, name, sizeof name);
    if (object == OBJID_CLIENT)
        namesAnnounced.push_back(name);
}

// The sound also repeats on its timer while the mail is unseen (the timer's message is sent
// here), until the mail is read.
TEST_F(AppInProcess, NewMailPlaysTheSystemMailSoundAndShowsTheBalloonOnceEach)
{
    server.addConnection(listing("1 a\r\n"));
    server.addConnection(listing("1 a\r\n"));
    server.addConnection(listing("1 a\r\n2 b\r\n"));
    namesAnnounced.clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, recordNameChange,
                                         GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    start({"[newmail]", "playsound=true", "repeatmins=5"});
    ASSERT_TRUE(waitForStatus("1 / 1"));
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].sound, "MailBeep");
    EXPECT_EQ(played[0].flags, static_cast<DWORD>(SND_ALIAS | SND_ASYNC));
    EXPECT_EQ(app->trayIcon.balloonsSent, 1);
    EXPECT_STREQ(app->trayIcon.record.szInfoTitle, "1 new message");
    EXPECT_STREQ(app->trayIcon.record.szInfo, "1 message in the mailbox");
    EXPECT_GE(app->trayIcon.record.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V2_SIZE)) << "no room for a balloon";
    EXPECT_TRUE(app->trayIcon.record.dwInfoFlags & NIIF_RESPECT_QUIET_TIME);

    // The same unseen message again: counted, not announced.
    app->onMenuCommand(ID_CHECK_NOW);
    ASSERT_TRUE(server.waitForConnections(2, resultMs));
    pumpUntil([] { return false; }, 1000);
    EXPECT_EQ(std::string(app->statusText), "1 / 1");
    EXPECT_EQ(played.size(), 1u);
    EXPECT_EQ(app->trayIcon.balloonsSent, 1);
    EXPECT_TRUE(KillTimer(app->handle, SoundRepeat::timerId)) << "no repeat while the mail is unseen";
    SendMessageA(app->handle, WM_TIMER, SoundRepeat::timerId, 0);
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[1].sound, "MailBeep");

    app->onMenuCommand(ID_CHECK_NOW);
    ASSERT_TRUE(waitForStatus("2 / 2"));
    EXPECT_EQ(played.size(), 3u);
    EXPECT_EQ(app->trayIcon.balloonsSent, 2);
    EXPECT_STREQ(app->trayIcon.record.szInfoTitle, "2 new messages");
    EXPECT_STREQ(app->trayIcon.record.szInfo, "2 messages in the mailbox");
    pumpUntil([] { return namesAnnounced.size() >= 2; }, resultMs);
    UnhookWinEvent(hook);
    EXPECT_EQ(namesAnnounced, (std::vector<std::string>{"1 unseen of 1 message", "2 unseen of 2 messages"}));

    app->onMenuCommand(ID_MARK_AS_READ);
    ASSERT_TRUE(waitForStatus("0 / 2"));
    SendMessageA(app->handle, WM_TIMER, SoundRepeat::timerId, 0); // already on its way
    EXPECT_EQ(played.size(), 3u) << "repeated after the mail was read";
}

// Asked with TOP, newest first, and decoded; the notification names them instead of the total,
// and the tray menu's "New mail" lists them, each opening the mail program.
TEST_F(AppInProcess, NewMailBalloonAndMenuNameTheSendersNewestFirst)
{
    server.addConnection(
        loggedIn()
            .expectLine("UIDL")
            .send("+OK\r\n1 a\r\n2 b\r\n.\r\n")
            .expectLine("CAPA")
            .send("+OK\r\nTOP\r\n.\r\n")
            .expectLine("TOP 2 0")
            .send("+OK\r\nFrom: =?utf-8?q?Bj=C3=B6rn?= <b@example.org>\r\nSubject: Report\r\n\r\n.\r\n")
            .expectLine("TOP 1 0")
            .send("+OK\r\nFrom: ann@example.org\r\n\r\n.\r\n")
            .stall(2000));
    start({"showsenders=true", "[actions]", "doubleclick=https://mail.example.org/"});
    ASSERT_TRUE(waitForStatus("2 / 2"));
    EXPECT_EQ(app->trayIcon.balloonsSent, 1);
    EXPECT_STREQ(app->trayIcon.record.szInfoTitle, "2 new messages");
    EXPECT_STREQ(app->trayIcon.record.szInfo, "Bj\xC3\xB6rn: Report\nann@example.org");

    HMENU trayMenu = GetSubMenu(app->popupMenu.menuHandle(), 0);
    HMENU entries = GetSubMenu(trayMenu, 0);
    ASSERT_NE(entries, nullptr) << "no New mail entry";
    std::vector<std::wstring> texts;
    for (int i = 0; i < GetMenuItemCount(entries); ++i) {
        wchar_t text[80] = L"";
        GetMenuStringW(entries, static_cast<UINT>(i), text, 80, MF_BYPOSITION);
        texts.push_back(text);
    }
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"Bj\u00F6rn: Report", L"ann@example.org"}));
    app->onMenuCommand(static_cast<int>(GetMenuItemID(entries, 1)));
    EXPECT_EQ(opened, (std::vector<std::string>{"https://mail.example.org/"}));
    EXPECT_EQ(std::string(app->statusText), "2 / 2") << "choosing one marked all as read";
}

TEST_F(AppInProcess, BalloonSwitchedOffShowsNoneYetItsClickStillActsAsADoubleClick)
{
    server.addConnection(listing("1 a\r\n"));
    start({"[newmail]", "balloon=false", "[actions]", "doubleclick=https://mail.example.org/"});
    ASSERT_TRUE(waitForStatus("1 / 1"));
    EXPECT_EQ(app->trayIcon.balloonsSent, 0);
    PostMessageA(app->handle, NotifierApp::trayCallbackMessage, NotifierApp::trayIconId, NIN_BALLOONUSERCLICK);
    ASSERT_TRUE(waitForStatus("0 / 1"));
    std::vector<std::string> expected = {"https://mail.example.org/"};
    EXPECT_EQ(opened, expected);
}

TEST_F(AppInProcess, NewMailPlaysTheChosenSoundFile)
{
    server.addConnection(listing("1 a\r\n"));
    start({"[newmail]", "playsound=yes", "customsound=C:\\sounds\\ding.wav"});
    ASSERT_TRUE(waitForStatus("1 / 1"));
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].sound, "C:\\sounds\\ding.wav");
    EXPECT_TRUE(played[0].flags & SND_ASYNC);
    EXPECT_FALSE(played[0].flags & SND_ALIAS);
}

TEST_F(AppInProcess, NewMailIsSilentWithoutPlaysound)
{
    server.addConnection(listing("1 a\r\n2 b\r\n"));
    start({});
    ASSERT_TRUE(waitForStatus("2 / 2"));
    EXPECT_TRUE(played.empty());
}

TEST_F(AppInProcess, MarkAsReadFollowsTheUnseenCountAndSavesTheSeenList)
{
    server.addConnection(listing("1 a\r\n2 b\r\n"));
    start({});
    EXPECT_TRUE(markAsReadEnabled()) << "greyed before the first result";
    ASSERT_TRUE(waitForStatus("2 / 2"));
    EXPECT_TRUE(markAsReadEnabled());
    EXPECT_EQ(app->trayIcon.image.get() != nullptr, true);
    EXPECT_STREQ(app->trayIcon.tip(), "2 unseen of 2 messages");

    app->onMenuCommand(ID_MARK_AS_READ);
    ASSERT_TRUE(waitForStatus("0 / 2"));
    EXPECT_FALSE(markAsReadEnabled());
    EXPECT_STREQ(app->trayIcon.tip(), "0 unseen of 2 messages");
    std::vector<std::string> expected = {"a", "b"};
    EXPECT_EQ(files.seenIds(), expected);
}

TEST_F(AppInProcess, MarkAsReadAfterAFailedCheckKeepsTheErrorText)
{
    server.addConnection(listing("1 a\r\n"));
    server.addConnection(loggedIn().expectLine("UIDL").send("-ERR busy\r\n").stall(2000));
    start({});
    ASSERT_TRUE(waitForStatus("1 / 1"));
    app->onMenuCommand(ID_CHECK_NOW);
    ASSERT_TRUE(waitForStatus("Listing failed"));
    EXPECT_EQ(app->shown.unseenCount, 1) << "a failed listing keeps the counts";

    app->runDoubleClickAction();
    ASSERT_TRUE(pumpUntil([&] { return app->shown.unseenCount == 0; }, resultMs));
    EXPECT_STREQ(app->statusText, "Listing failed");
    EXPECT_EQ(windowWidth(), 200);
    EXPECT_FALSE(markAsReadEnabled());
    EXPECT_TRUE(opened.empty()) << "nothing to open without a doubleclick target";
}

TEST_F(AppInProcess, DoubleClickOpensTheConfiguredTarget)
{
    server.addConnection(listing("1 a\r\n"));
    start({"[actions]", "doubleclick=https://mail.example.org/"});
    ASSERT_TRUE(waitForStatus("1 / 1"));
    SendMessageA(app->handle, WM_LBUTTONDBLCLK, 0, MAKELPARAM(5, 5));
    ASSERT_TRUE(waitForStatus("0 / 1"));
    std::vector<std::string> expected = {"https://mail.example.org/"};
    EXPECT_EQ(opened, expected);
}

TEST_F(AppInProcess, SessionEndSavesWhatExitSavesButACalledOffLogOffChangesNothing)
{
    server.addConnection(listing("1 a\r\n2 b\r\n"));
    start({});
    ASSERT_TRUE(waitForStatus("2 / 2"));
    app->account.checker.markAsRead(); // marked in memory only: the session end must write it
    SetWindowPos(app->handle, nullptr, 123, 45, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    SendMessageA(app->handle, WM_ENDSESSION, FALSE, 0);
    EXPECT_TRUE(IsWindow(app->handle));
    EXPECT_TRUE(files.seenIds().empty());
    EXPECT_EQ(files.readValue("position", "x"), "<absent>");

    SendMessageA(app->handle, WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(IsWindow(app->handle));
    std::vector<std::string> expected = {"a", "b"};
    EXPECT_EQ(files.seenIds(), expected);
    EXPECT_EQ(files.readValue("position", "x"), "123");
    EXPECT_EQ(files.readValue("position", "y"), "45");
}

// A seen-message file held open without sharing at start-up (a virus scan, a sync client)
// is not replaced while unread, is read at the next cycle once released, and keeps both the
// earlier marks and those made meanwhile. Until then the counts show, but nothing is
// announced: every message may have been seen before.
TEST_F(AppInProcess, SeenFileHeldAtStartUpIsReadOnceReleasedAndNeverOverwritten)
{
    const std::string earlierMarks = "a\r\nc\r\n";
    OwnedHandle holder;
    afterFiles = [&] {
        std::ofstream(files.seenPath(), std::ios::binary) << earlierMarks;
        holder.reset(CreateFileA(files.seenPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    server.addConnection(listing("1 a\r\n2 b\r\n"));
    server.addConnection(listing("1 a\r\n2 b\r\n3 c\r\n"));
    start({"[newmail]", "playsound=true"});
    ASSERT_NE(holder.get(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(waitForStatus("2 / 2")) << "counted as usual";
    EXPECT_TRUE(played.empty()) << "the whole mailbox announced as new";

    app->onMenuCommand(ID_MARK_AS_READ);
    ASSERT_TRUE(waitForStatus("0 / 2"));
    holder.reset(nullptr);
    std::ostringstream bytes;
    bytes << std::ifstream(files.seenPath(), std::ios::binary).rdbuf();
    EXPECT_EQ(bytes.str(), earlierMarks) << "replaced before it was read";

    app->onMenuCommand(ID_CHECK_NOW);
    ASSERT_TRUE(waitForStatus("0 / 3")) << "c was marked in an earlier run";
    EXPECT_TRUE(played.empty());
    SendMessageA(app->handle, WM_CLOSE, 0, 0);
    std::vector<std::string> ids = files.seenIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "b", "c"}));
}

struct MenuEntry {
    UINT id;
    std::string text;
    UINT state;
};
std::vector<MenuEntry> menuSeen;
// The open menu is kept as a picture under this name, when it is not empty.
std::string menuPictureName;
bool menuScreenshot = false;
RECT menuFrame = {};

// Runs inside TrackPopupMenu's own loop: reads the open popup, keeps a picture, closes it.
void CALLBACK readOpenMenu(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND popup = FindWindowA("#32768", nullptr);
    if (!popup)
        return;
    KillTimer(nullptr, timer);
    HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
    for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
        char text[64] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        menuSeen.push_back({GetMenuItemID(menu, i), text, GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION)});
    }
    GetWindowRect(popup, &menuFrame);
    menuScreenshot = !menuPictureName.empty() && apptest::savePicture(menuPictureName, menuFrame);
    EndMenu();
}

// Two accounts: the window sums them, news of both sounds once, the notification, "New mail"
// and the hover list both accounts' messages newest first, and each account has its own menu
// entry whose Mark As Read marks that account only.
TEST_F(AppInProcess, SeveralAccountsShareTheWindowAndEachHasItsOwnMenu)
{
    ScriptedPop3Server home;
    home.addConnection(describing("1 h1\r\n2 h2\r\n", {"From: Cee\r\nDate: 1 Jul 2003 07:00 +0000\r\n",
                                                       "From: Bob\r\nDate: 1 Jul 2003 09:00 +0000\r\n"}));
    ASSERT_TRUE(home.start());
    server.addConnection(describing("1 w1\r\n", {"From: Ann\r\nSubject: Lunch?\r\nDate: 1 Jul 2003 08:00 +0000\r\n"}));
    start({"name=Work", "showsenders=true", "[newmail]", "playsound=true", "[actions]", "doubleclick=work-mail",
           "[accounts]", "order=0,1", "[account.1]", "name=Home", "server=127.0.0.1", "username=u", "password=p",
           "SSL=false", "port=" + std::to_string(home.port()), "showsenders=true", "doubleclick=home-mail"});
    NotifierApp* shownBy = app.get();
    ASSERT_TRUE(pumpUntil([&] { return std::string(shownBy->spokenText) == "Work 1 of 1, Home 2 of 2"; }, resultMs))
        << app->spokenText;
    EXPECT_STREQ(app->statusText, "3 / 3");
    EXPECT_EQ(played.size(), 1u) << "one sound for the news of two accounts";
    const std::string newest = "Home - Bob\nWork - Ann: Lunch?\nHome - Cee";
    EXPECT_EQ(std::string(app->trayIcon.record.szInfo), "3 new: Work 1, Home 2\n" + newest);
    HMENU newMail = GetSubMenu(GetSubMenu(app->popupMenu.menuHandle(), 0), 0);
    ASSERT_NE(newMail, nullptr) << "no New mail entry";
    char entry[spokenTextSize] = "";
    GetMenuStringA(newMail, 0, entry, sizeof entry, MF_BYPOSITION);
    EXPECT_STREQ(entry, "Home - Bob");
    app->onMenuCommand(static_cast<int>(GetMenuItemID(newMail, 0)));
    EXPECT_EQ(opened, (std::vector<std::string>{"home-mail"})) << "the entry's own account's program";
    EXPECT_STREQ(app->statusText, "3 / 3") << "choosing one marks nothing read";
    char hover[spokenTextSize] = "";
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V1_SIZE;
    tool.hwnd = app->handle;
    tool.lpszText = hover;
    SendMessageA(app->hoverTip.handle, TTM_GETTEXTA, sizeof hover, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(std::string(hover), std::string(app->spokenText) + "\n" + newest) << "hovering names each account";
    app->onMenuCommand(ID_DO_NOT_DISTURB);
    SendMessageA(app->hoverTip.handle, TTM_GETTEXTA, sizeof hover, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(hover, app->spokenText) << "Do not disturb holds the messages back";
    // Do not disturb holds New mail back too: the accounts' entries come first.
    HMENU top = GetSubMenu(app->popupMenu.menuHandle(), 0);
    char label[spokenTextSize] = "";
    GetMenuStringA(top, 1, label, sizeof label, MF_BYPOSITION);
    EXPECT_STREQ(label, "Home 2 of 2");
    HMENU homeEntries = GetSubMenu(top, 1);
    ASSERT_NE(homeEntries, nullptr);
    GetMenuStringA(homeEntries, 1, label, sizeof label, MF_BYPOSITION);
    EXPECT_STREQ(label, "Mark As Read");
    app->onMenuCommand(static_cast<int>(GetMenuItemID(homeEntries, 1)));
    ASSERT_TRUE(waitForStatus("1 / 3"));
    EXPECT_STREQ(app->spokenText, "Work 1 of 1, Home 0 of 2");
}

// The accounts confirmed in the dialog replace the running ones by id: a renamed one keeps its
// place, a removed one stops and its seen messages go, an added one gets a new id and starts.
TEST_F(AppInProcess, ConfirmedAccountsReplaceTheRunningOnesById)
{
    ScriptedPop3Server home, extra;
    home.addConnection(listing("1 h1\r\n"));
    extra.addConnection(listing("1 e1\r\n"));
    ASSERT_TRUE(home.start() && extra.start());
    static int extraPort = extra.port();
    server.addConnection(listing("1 w1\r\n"));
    start({"name=Work", "[accounts]", "order=0,1", "[account.1]", "name=Home", "server=127.0.0.1", "username=u",
           "password=p", "SSL=false", "port=" + std::to_string(home.port())});
    NotifierApp* shownBy = app.get();
    ASSERT_TRUE(pumpUntil([&] { return std::string(shownBy->spokenText) == "Work 1 of 1, Home 1 of 1"; }, resultMs));
    app->accounts[1]->mail.markAsRead();
    ASSERT_NE(GetFileAttributesA(files.seenPath("1").c_str()), INVALID_FILE_ATTRIBUTES);
    app->dialogs.configureAccounts = [](AccountValuesList& accounts, size_t&, PasswordProtection) {
        accounts.erase(accounts.begin() + 1);
        accounts[0]->accountName.assign("Job");
        accounts.emplace_back(new ConfigurationValues);
        accounts.back()->accountName.assign("Extra");
        accounts.back()->server.assign("127.0.0.1");
        accounts.back()->username.assign("u");
        accounts.back()->security = ConnectionSecurity::None;
        accounts.back()->port = extraPort;
        return true;
    };
    ASSERT_TRUE(app->configure());
    EXPECT_EQ(GetFileAttributesA(files.seenPath("1").c_str()), INVALID_FILE_ATTRIBUTES) << "Home's marks stayed";
    EXPECT_TRUE(pumpUntil([&] { return std::string(shownBy->spokenText) == "Job 1 of 1, Extra 1 of 1"; }, resultMs))
        << app->spokenText;
    EXPECT_EQ(files.readValue(sectionAccounts, keyAccountOrder), "0,2");
}

TEST_F(AppInProcess, RightClickOnTheTrayIconShowsEveryMenuCommand)
{
    server.addConnection(listing("1 a\r\n"));
    start({"[position]", "visible=true"});
    ASSERT_TRUE(waitForStatus("1 / 1"));
    menuSeen.clear();
    menuPictureName = "tray-menu";
    SetCursorPos(600, 500);
    UINT_PTR timer = SetTimer(nullptr, 0, 100, readOpenMenu);
    PostMessageA(app->handle, NotifierApp::trayCallbackMessage, 0, WM_RBUTTONDOWN);
    pumpUntil([] { return !menuSeen.empty(); }, 5000);
    KillTimer(nullptr, timer);

    ASSERT_EQ(menuSeen.size(), 10u) << "the popup menu did not open";
    const MenuEntry expected[] = {
        {ID_CHECK_NOW, "Check Now", 0},
        {ID_MARK_AS_READ, "Mark As Read", 0},
        {0, "", 0},
        {ID_SHOW_FLOATING_WINDOW, "Show Floating Window", 0},
        {ID_CONFIGURE, "Configure", 0},
        {ID_START_WITH_WINDOWS, "Start with Windows", 0},
        {ID_DO_NOT_DISTURB, "Do not disturb for 1 hour", 0},
        {0, "", 0},
        {ID_ABOUT, "About", 0},
        {ID_EXIT, "Exit", 0},
    };
    for (size_t i = 0; i < menuSeen.size(); ++i) {
        EXPECT_EQ(menuSeen[i].id, expected[i].id) << "entry " << i;
        EXPECT_EQ(menuSeen[i].text, expected[i].text) << "entry " << i;
    }
    EXPECT_FALSE(menuSeen[1].state & MF_GRAYED) << "Mark As Read greyed with unseen mail";
    EXPECT_TRUE(menuSeen[3].state & MF_CHECKED) << "Show Floating Window unchecked while shown";
    EXPECT_TRUE(menuScreenshot);
}

// A right-click opens the menu at its point; the context-menu key and Shift+F10, which have
// none, below the window.
TEST_F(AppInProcess, RightClickContextMenuKeyAndShiftF10OpenTheMenuOnTheFloatingWindow)
{
    server.addConnection(listing(""));
    start({"[position]", "x=300", "y=200", "visible=true"});
    ASSERT_TRUE(waitForStatus("0 / 0"));
    RECT window = {};
    GetWindowRect(app->handle, &window);
    struct Case {
        std::vector<BYTE> keys;
        LONG left, top;
    } cases[] = {
        {{}, 300, 250}, {{VK_APPS}, window.left, window.bottom}, {{VK_SHIFT, VK_F10}, window.left, window.bottom}};
    for (const Case& each : cases) {
        menuSeen.clear();
        UINT_PTR timer = SetTimer(nullptr, 0, 100, readOpenMenu);
        SetForegroundWindow(app->handle);
        if (each.keys.empty())
            PostMessageA(app->handle, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(app->handle), MAKELPARAM(300, 250));
        for (BYTE key : each.keys)
            keybd_event(key, 0, 0, 0);
        for (auto key = each.keys.rbegin(); key != each.keys.rend(); ++key)
            keybd_event(*key, 0, KEYEVENTF_KEYUP, 0);
        pumpUntil([] { return !menuSeen.empty(); }, 5000);
        KillTimer(nullptr, timer);
        ASSERT_EQ(menuSeen.size(), 10u) << "keys: " << each.keys.size();
        EXPECT_TRUE(menuSeen[1].state & MF_GRAYED) << "Mark As Read enabled without unseen mail";
        EXPECT_EQ(menuFrame.left, each.left) << "keys: " << each.keys.size();
        EXPECT_EQ(menuFrame.top, each.top) << "keys: " << each.keys.size();
    }
}

// The Run entry as the shell reads it at log-on; "<absent>" without one.
std::string runEntry()
{
    char value[MAX_PATH + 8] = "";
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "pellwick", RRF_RT_REG_SZ,
                     nullptr, value, &size) != ERROR_SUCCESS)
        return "<absent>";
    return value;
}

void setRunEntry(const char* value)
{
    HKEY run = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr, 0,
                    KEY_SET_VALUE, nullptr, &run, nullptr);
    RegSetValueExA(run, "pellwick", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), strlen(value) + 1);
    RegCloseKey(run);
}

// Whether the entry is checked in the tray menu as it opens.
bool checkedInOpenMenu(HWND window, UINT id, const std::string& screenshotName)
{
    menuSeen.clear();
    menuPictureName = screenshotName;
    UINT_PTR timer = SetTimer(nullptr, 0, 100, readOpenMenu);
    PostMessageA(window, NotifierApp::trayCallbackMessage, 0, WM_RBUTTONDOWN);
    pumpUntil([] { return !menuSeen.empty(); }, 5000);
    KillTimer(nullptr, timer);
    menuPictureName.clear();
    for (const MenuEntry& entry : menuSeen)
        if (entry.id == id)
            return (entry.state & MF_CHECKED) != 0;
    ADD_FAILURE() << "no entry " << id << " in the open menu";
    return false;
}

TEST_F(AppInProcess, StartWithWindowsWritesTheQuotedPathAndTheMenuShowsTheRunKeyAsItIsNow)
{
    server.addConnection(listing(""));
    start({});
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, MAX_PATH);

    app->onMenuCommand(ID_START_WITH_WINDOWS);
    EXPECT_EQ(runEntry(), "\"" + std::string(program) + "\"");
    EXPECT_TRUE(checkedInOpenMenu(app->handle, ID_START_WITH_WINDOWS, "start-with-windows-checked"));
    app->onMenuCommand(ID_START_WITH_WINDOWS);
    EXPECT_EQ(runEntry(), "<absent>");
    EXPECT_FALSE(checkedInOpenMenu(app->handle, ID_START_WITH_WINDOWS, "start-with-windows-unchecked"));

    // The installer's entry, written while the program runs, shows at the next opening.
    setRunEntry("\"C:\\Program Files\\pellwick\\pellwick.exe\"");
    EXPECT_TRUE(checkedInOpenMenu(app->handle, ID_START_WITH_WINDOWS, "start-with-windows-installer"));
    app->onMenuCommand(ID_START_WITH_WINDOWS);
    EXPECT_EQ(runEntry(), "<absent>");
}

TEST_F(AppInProcess, ShowFloatingWindowTogglesAndStoresTheChoice)
{
    server.addConnection(listing(""));
    start({});
    ASSERT_FALSE(IsWindowVisible(app->handle));
    app->onMenuCommand(ID_SHOW_FLOATING_WINDOW);
    EXPECT_TRUE(IsWindowVisible(app->handle));
    EXPECT_TRUE(GetMenuState(app->popupMenu.menuHandle(), ID_SHOW_FLOATING_WINDOW, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(files.readValue("position", "visible"), "true");
    app->onMenuCommand(ID_SHOW_FLOATING_WINDOW);
    EXPECT_FALSE(IsWindowVisible(app->handle));
    EXPECT_FALSE(GetMenuState(app->popupMenu.menuHandle(), ID_SHOW_FLOATING_WINDOW, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(files.readValue("position", "visible"), "false");
}

TEST_F(AppInProcess, WindowIsAHiddenTopmostToolWindowWithoutCaption)
{
    server.addConnection(listing(""));
    start({});
    LONG style = GetWindowLongA(app->handle, GWL_STYLE);
    LONG exStyle = GetWindowLongA(app->handle, GWL_EXSTYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_TRUE(style & WS_BORDER);
    EXPECT_FALSE((style & WS_CAPTION) == WS_CAPTION);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_FALSE(IsWindowVisible(app->handle));
    RECT frame = {};
    GetWindowRect(app->handle, &frame);
    EXPECT_EQ(frame.right - frame.left, 100);
    EXPECT_EQ(frame.bottom - frame.top, 30);
    // Centred without a stored position.
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - 100) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - 30) / 2);
    EXPECT_EQ(FindWindowA("pellwick", "pellwick"), app->handle);
}

// What the shell answers the program's question whether the user may be disturbed; 0: the
// question fails.
QUERY_USER_NOTIFICATION_STATE shellState = QUNS_ACCEPTS_NOTIFICATIONS;
HRESULT WINAPI reportShellState(QUERY_USER_NOTIFICATION_STATE* state)
{
    *state = shellState;
    return shellState ? S_OK : E_FAIL;
}

// Mail that arrives while the user may not be disturbed is counted and coloured, never
// announced, nor is the sound repeated; the next arrival afterwards announces all that is unseen.
TEST_F(AppInProcess, NewMailWhileTheUserIsBusyIsCountedQuietlyAndTheNextArrivalAnnouncesAll)
{
    server.addConnection(listing("1 a\r\n"));
    server.addConnection(listing("1 a\r\n2 b\r\n"));
    server.addConnection(listing("1 a\r\n2 b\r\n3 c\r\n"));
    start({"[newmail]", "playsound=true", "repeatmins=5"});
    app->quietTime.queryShellState = reportShellState;
    shellState = QUNS_ACCEPTS_NOTIFICATIONS;
    app->onMenuCommand(ID_DO_NOT_DISTURB);
    ASSERT_TRUE(waitForStatus("1 / 1"));
    EXPECT_TRUE(checkedInOpenMenu(app->handle, ID_DO_NOT_DISTURB, "tray-menu-do-not-disturb"));
    EXPECT_TRUE(KillTimer(app->handle, QuietTime::timerId)) << "no timer ends the hour";
    SendMessageA(app->handle, WM_TIMER, QuietTime::timerId, 0);
    EXPECT_FALSE(checkedInOpenMenu(app->handle, ID_DO_NOT_DISTURB, ""));

    shellState = QUNS_PRESENTATION_MODE;
    app->onMenuCommand(ID_CHECK_NOW);
    ASSERT_TRUE(waitForStatus("2 / 2"));
    SendMessageA(app->handle, WM_TIMER, SoundRepeat::timerId, 0);

    shellState = QUNS_ACCEPTS_NOTIFICATIONS;
    app->onMenuCommand(ID_CHECK_NOW);
    ASSERT_TRUE(waitForStatus("3 / 3"));
    EXPECT_EQ(played.size(), 1u) << "announced while the user was busy";
    EXPECT_EQ(app->trayIcon.balloonsSent, 1);
    EXPECT_STREQ(app->trayIcon.record.szInfoTitle, "3 new messages");
}

// "Sign in again" is announced once while it lasts and not while the user is busy; a click on
// that notification opens Configure with the focus on Sign in.
TEST_F(AppInProcess, SignInAgainIsAnnouncedOnceAndItsClickOpensConfigureAtTheSignIn)
{
    static int focusedOnSignIn;
    focusedOnSignIn = -1;
    start({"signin=microsoft"});
    app->quietTime.queryShellState = reportShellState;
    shellState = QUNS_PRESENTATION_MODE;
    ASSERT_TRUE(waitForStatus("Sign in again")) << app->statusText;
    EXPECT_EQ(app->trayIcon.balloonsSent, 0);
    shellState = QUNS_ACCEPTS_NOTIFICATIONS;
    for (int cycle = 0; cycle < 3; ++cycle) // the window hears of the same result again
        app->onCheckResult();
    EXPECT_EQ(app->trayIcon.balloonsSent, 1);
    EXPECT_STREQ(app->trayIcon.record.szInfoTitle, "Sign in again");
    app->dialogs.configure = [](ConfigurationValues& values, PasswordProtection) {
        focusedOnSignIn = values.focusSignIn;
        return false;
    };
    SendMessageA(app->handle, NotifierApp::trayCallbackMessage, NotifierApp::trayIconId, NIN_BALLOONUSERCLICK);
    EXPECT_EQ(focusedOnSignIn, 1);
    EXPECT_TRUE(opened.empty());
}

const char personalizeKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

// SystemUsesLightTheme as Windows writes it when the user picks a theme; -1 removes it.
void setLightTaskbar(int light)
{
    DWORD value = static_cast<DWORD>(light);
    light < 0 ? RegDeleteKeyValueA(HKEY_CURRENT_USER, personalizeKey, "SystemUsesLightTheme")
              : RegSetKeyValueA(HKEY_CURRENT_USER, personalizeKey, "SystemUsesLightTheme", REG_DWORD, &value, 4);
}

// The tray icons for a taskbar, as at 100%, 150% and 200%, drawn on its colour and kept as a
// picture.
bool pictureOfTrayIcons(const std::string& name, TaskbarTheme theme, COLORREF taskbar)
{
    HWND strip = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE, 200, 200, 220,
                                 48, nullptr, nullptr, nullptr, nullptr);
    UpdateWindow(strip);
    HDC context = GetDC(strip);
    RECT all = {0, 0, 220, 48};
    FillRect(context, &all, SolidBrush(taskbar).get());
    for (int i = 0; i < 6; ++i) {
        int size = 16 + i % 3 * 8; // no mail, then new mail, each at 16, 24 and 32 pixels
        OwnedIcon icon(static_cast<HICON>(LoadImageA(
            GetModuleHandleA(nullptr), MAKEINTRESOURCEA(trayIconResource(theme, i >= 3)), IMAGE_ICON, size, size, 0)));
        DrawIconEx(context, 8 + i * 35, 8, icon.get(), size, size, 0, nullptr, DI_NORMAL);
    }
    ReleaseDC(strip, context);
    pumpUntil([] { return false; }, 50); // lets the display show what was drawn
    RECT frame = {};
    GetWindowRect(strip, &frame);
    bool kept = apptest::savePicture(name, frame);
    DestroyWindow(strip);
    return kept;
}

TEST_F(AppInProcess, TrayIconFollowsTheTaskbarThemeAtStartAndWhenItChanges)
{
    setLightTaskbar(0);
    server.addConnection(listing("1 a\r\n"));
    start({});
    EXPECT_EQ(app->trayIcon.imageId, IDI_NO_MAIL_DARK_TASKBAR) << "at start";
    ASSERT_TRUE(waitForStatus("1 / 1"));
    struct Case {
        int light, icon; // light -1: no theme reported, as before Windows 10
    } cases[] = {{1, IDI_NEW_MAIL}, {0, IDI_NEW_MAIL_DARK_TASKBAR}, {-1, IDI_NEW_MAIL}};
    for (const Case& each : cases) {
        setLightTaskbar(each.light);
        SendMessageA(app->handle, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("ImmersiveColorSet"));
        EXPECT_EQ(app->trayIcon.imageId, each.icon) << each.light;
    }
    setLightTaskbar(-1);
    EXPECT_TRUE(pictureOfTrayIcons("tray-icons-dark-taskbar", TaskbarTheme::Dark, RGB(32, 32, 32)));
    EXPECT_TRUE(pictureOfTrayIcons("tray-icons-light-taskbar", TaskbarTheme::Light, RGB(243, 243, 243)));
}

TEST(FloatingColours, HighContrastTakesTheSystemsColoursInPlaceOfTheChosenOne)
{
    FloatingColours newMail = floatingColours(true, true, RGB(95, 255, 95));
    EXPECT_EQ(newMail.background, GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(newMail.text, GetSysColor(COLOR_HIGHLIGHTTEXT));
    EXPECT_EQ(floatingColours(true, false, RGB(95, 255, 95)).text, GetSysColor(COLOR_WINDOWTEXT));
}

TEST(SingleInstance, SecondHolderInTheSessionIsRefusedUntilTheFirstEnds)
{
    char name[SingleInstance::mutexNameSize];
    buildInstanceMutexName(name, sizeof name);
    char user[257] = "";
    DWORD length = sizeof user;
    ASSERT_TRUE(GetUserNameA(user, &length));
    EXPECT_EQ(std::string(name), std::string("Local\\pellwick-") + user);
    {
        SingleInstance first;
        ASSERT_TRUE(first.acquire());
        SingleInstance second;
        EXPECT_FALSE(second.acquire());
    }
    SingleInstance later;
    EXPECT_TRUE(later.acquire());
}

TEST(StatusText, FailuresHaveTheirOwnTextAndDoubleWidth)
{
    struct Case {
        CheckStatus status;
        const char* text;
        int width;
    } cases[] = {
        {CheckStatus::Ok, "3 / 17", 100},
        {CheckStatus::Checking, "3 / 17", 100},
        {CheckStatus::HostNotFound, "Hostname not found", 200},
        {CheckStatus::BadLogin, "Bad username/password", 200},
        {CheckStatus::ListFailed, "Listing failed", 200},
        {CheckStatus::BadCertificate, "Certificate not trusted", 200},
        {CheckStatus::NoResponse, "Server not responding", 200},
        {CheckStatus::SignInAgain, "Sign in again", 200},
        {CheckStatus::SignInUnreachable, "Sign-in server not reachable", 200},
        {CheckStatus::NoSignIn, "No secure sign-in offered", 200},
        {CheckStatus::NotSignInServer, "Server not of this sign-in", 200},
        {CheckStatus::ServerBusy, "Server busy", 200},
        {CheckStatus::TlsFailed, "Secure connection failed", 200},
    };
    for (const Case& each : cases) {
        CheckSnapshot shown;
        shown.status = each.status;
        shown.unseenCount = 3;
        shown.totalCount = 17;
        char text[statusTextSize];
        EXPECT_EQ(formatStatusText(shown, text, statusTextSize), each.width) << each.text;
        EXPECT_STREQ(text, each.text);
        // What screen readers say and the tooltip shows: the counts in words, failures as they are.
        formatSpokenStatus(shown, text, statusTextSize);
        EXPECT_STREQ(text, each.width == 200 ? each.text : "3 unseen of 17 messages");
    }
}

TEST(QuietTime, OnlyAUserWhoMayBeDisturbedHearsOfNewMail)
{
    struct Case {
        int state; // 0: the shell cannot tell; 7: a full-screen app (Windows 8 and later)
        bool announced;
    } cases[] = {{0, true},
                 {QUNS_NOT_PRESENT, true},
                 {QUNS_BUSY, false},
                 {QUNS_RUNNING_D3D_FULL_SCREEN, false},
                 {QUNS_PRESENTATION_MODE, false},
                 {QUNS_ACCEPTS_NOTIFICATIONS, true},
                 {QUNS_QUIET_TIME, false},
                 {7, false}};
    QuietTime quiet;
    quiet.queryShellState = reportShellState;
    for (const Case& each : cases) {
        shellState = static_cast<QUERY_USER_NOTIFICATION_STATE>(each.state);
        EXPECT_EQ(quiet.allowsAnnouncing(), each.announced) << each.state;
    }
    shellState = QUNS_ACCEPTS_NOTIFICATIONS;
    quiet.toggleDoNotDisturb(nullptr, nullptr);
    EXPECT_FALSE(quiet.allowsAnnouncing()) << "during Do not disturb";
    quiet.toggleDoNotDisturb(nullptr, nullptr);
    EXPECT_TRUE(quiet.allowsAnnouncing()) << "Do not disturb undone";
}

TEST(StatusText, BalloonNamesTheNewCountAndTheTotal)
{
    struct Case {
        int unseen, total;
        const char* title;
        const char* text;
    } cases[] = {
        {1, 1, "1 new message", "1 message in the mailbox"},
        {3, 17, "3 new messages", "17 messages in the mailbox"},
    };
    for (const Case& each : cases) {
        CheckSnapshot shown;
        shown.unseenCount = each.unseen;
        shown.totalCount = each.total;
        char title[balloonTitleSize];
        char text[balloonTextSize];
        formatBalloonText(shown, title, sizeof title, text, sizeof text);
        EXPECT_STREQ(title, each.title);
        EXPECT_STREQ(text, each.text);
    }
}

// Several accounts: the window sums those that did not fail and marks a failure, the words
// name each, the notification the ones with news.
TEST(StatusText, AccountsAreSummedNamedAndAFailureMarked)
{
    CheckSnapshot work{CheckStatus::Ok, 2, 10, 1, {}};
    CheckSnapshot home{CheckStatus::Ok, 1, 4, 0, {}};
    CheckSnapshot failed{CheckStatus::NoResponse, 7, 9, 0, {}};
    struct Case {
        std::vector<AccountStatus> accounts;
        const char* window;
        const char* words;
        const char* news;
    } cases[] = {
        {{{"Work", work}, {"Home", home}}, "3 / 14", "Work 2 of 10, Home 1 of 4", "3 new: Work 2, Home 1"},
        {{{"Work", work}, {"Old", failed}, {"Home", {CheckStatus::Checking, 1, 4, 1, {}}}},
         "3 / 14 !",
         "Work 2 of 10, Old: Server not responding, Home 1 of 4",
         "3 new: Work 2, Home 1"},
        {{{"Old", failed}, {"Home", {CheckStatus::BadLogin, 0, 0, 0, {}}}},
         "Server not responding",
         "Old: Server not responding, Home: Bad username/password",
         "0 new: "},
    };
    for (const Case& each : cases) {
        char text[statusTextSize];
        formatAccountsStatusText(each.accounts, text, statusTextSize);
        EXPECT_STREQ(text, each.window);
        char words[spokenTextSize];
        formatAccountsSpoken(each.accounts, words, spokenTextSize);
        EXPECT_STREQ(words, each.words);
        char title[balloonTitleSize];
        char news[balloonTextSize];
        formatAccountsBalloonText(each.accounts, title, sizeof title, news, sizeof news);
        EXPECT_STREQ(news, each.news) << each.words;
    }
}

TEST(StatusText, LargeCountsAreCutToTheBuffer)
{
    CheckSnapshot shown;
    shown.unseenCount = 2147483647;
    shown.totalCount = -2147483647 - 1;
    char text[statusTextSize];
    formatStatusText(shown, text, statusTextSize);
    EXPECT_STREQ(text, "2147483647 / -2147483648");
    char small[8];
    formatStatusText(shown, small, sizeof small);
    EXPECT_STREQ(small, "2147483");
    char spoken[spokenTextSize];
    formatSpokenStatus(shown, spoken, spokenTextSize);
    EXPECT_STREQ(spoken, "2147483647 unseen of -2147483648 messages");
}

TEST(ProgramFile, CarriesItsManifestForCommonControlsSixAndDpiAwareness)
{
    HMODULE program = LoadLibraryExA(apptest::programPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(IDR_MANIFEST), RT_MANIFEST);
    ASSERT_NE(found, nullptr) << "no manifest resource";
    HGLOBAL loaded = LoadResource(program, found);
    std::string manifest(static_cast<const char*>(LockResource(loaded)), SizeofResource(program, found));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("dpiAware"), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Pellwick.Pellwick\""), std::string::npos);
    EXPECT_NE(FindResourceA(program, MAKEINTRESOURCEA(IDR_TRAY_MENU), RT_MENU), nullptr) << "menu 101";
    FreeLibrary(program);
}

} // namespace
