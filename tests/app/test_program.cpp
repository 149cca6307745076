// The real pellwick.exe on the shared Wine desktop, against the private Dovecot (and, where a
// slow or odd server is needed, the scripted one), driven through its window as the shell
// and the user drive it.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/notifier_app.h"
#include "app/protected_password.h"
#include "res/resource.h"
#include "tests/app/program_driver.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/oauth/oauth_fixture.h"
#include "tests/support/poll_until.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/temp_directory.h"
#include "tests/support/test_pki.h"

using apptest::ProgramDriver;
using apptest::ProgramFiles;
using apptest::ScreenImage;
using testbench::DovecotFixture;

namespace {

const char password[] = "app-password";
const int checkMs = 15000;
const int quickExitMs = 5000;
const COLORREF newMailFill = RGB(95, 255, 95);
// The flap of the new-mail envelope.
const COLORREF newMailFlap = RGB(0, 255, 0);
const UINT trayCallback = WM_APP;

std::string message(int number)
{
    return "From: sender@example.org\r\nTo: reader@example.org\r\nSubject: Mail " + std::to_string(number) +
           "\r\n\r\nMessage " + std::to_string(number) + ".\r\n";
}

// Pixels of the notification area that are not its background: the tray icon, if any.
int trayIconPixels(const ScreenImage& tray)
{
    std::map<COLORREF, int> frequency;
    for (int row = 0; row < tray.height(); ++row)
        for (int column = 0; column < tray.width(); ++column)
            ++frequency[tray.at(column, row)];
    int background = 0;
    for (const auto& entry : frequency)
        background = entry.second > background ? entry.second : background;
    return tray.width() * tray.height() - background;
}

// Captures the notification area until `wanted` holds for it; false after timeoutMs. The shell
// repaints in its own time, after the program's call has returned: this waits for the paint.
bool waitForTray(const ProgramDriver& program, ScreenImage& tray, const std::function<bool(const ScreenImage&)>& wanted,
                 int timeoutMs = 5000)
{
    return testbench::pollUntil([&] { return program.captureTray(tray) && wanted(tray); }, timeoutMs);
}

bool trayEmpty(const ScreenImage& tray)
{
    return trayIconPixels(tray) < 5;
}

bool trayShowsNewMail(const ScreenImage& tray)
{
    return tray.count(newMailFlap) > 5;
}

int area(const ScreenImage& image)
{
    return image.width() * image.height();
}

// A loopback port with nothing listening on it.
int closedPort()
{
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    closesocket(probe);
    return port;
}

class WinsockSession {
public:
    WinsockSession()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { WSACleanup(); }
};

class ProgramRuns : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DovecotFixture::fromEnvironment(dovecot)) << "PELLWICK_DOVECOT_DIR not set";
        testName = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        user = "app_" + testName;
        ASSERT_TRUE(dovecot.addUser(user, password));
        ASSERT_TRUE(dovecot.clearMailbox(user));
        ASSERT_FALSE(scratch.path().empty());
        work = testbench::unixPathForPlatform(scratch.path()) + "\\work";
        ASSERT_TRUE(apptest::makeWorkFolder(work, dovecot.caFile()));
    }

    // An account on the fixture's TLS port; checks come from Check Now, not the interval.
    std::vector<std::string> settingsFor(const std::string& withPassword,
                                         const std::vector<std::string>& extra = {}) const
    {
        std::vector<std::string> lines = {"[connection]",     "server=localhost",
                                          "username=" + user, "password=" + withPassword,
                                          "SSL=true",         "port=" + std::to_string(dovecot.tlsPort()),
                                          "checkmins=30"};
        lines.insert(lines.end(), extra.begin(), extra.end());
        return lines;
    }

    void deliver(int first, int count)
    {
        for (int i = first; i < first + count; ++i)
            ASSERT_TRUE(dovecot.deliver(user, "m" + std::to_string(i), message(i)));
    }

    void startProgram(ProgramDriver& program, const std::string& path = apptest::programPath())
    {
        ASSERT_TRUE(program.start(work, path));
        ASSERT_NE(program.waitForWindow(), nullptr) << "no floating window";
    }

    void checkNowFor(ProgramDriver& program, const std::string& expected)
    {
        program.command(ID_CHECK_NOW);
        EXPECT_TRUE(program.waitForStatus(expected, checkMs)) << "shows: " << program.statusText();
    }

    void screenshot(ProgramDriver& program, const std::string& state)
    {
        program.sync();
        Sleep(300); // the desktop's X window catches up with the last paint
        EXPECT_TRUE(program.saveScreenshot(testName + "-" + state));
    }

    // After screenshot(): keeps `area` as a picture for the documentation.
    void picture(const std::string& name, const RECT& area) { EXPECT_TRUE(apptest::savePicture(name, area)); }

    DovecotFixture dovecot;
    WinsockSession winsock;
    std::string testName;
    std::string user;
    testbench::TempDirectory scratch;
    std::string work;
    ProgramFiles files;
};

TEST_F(ProgramRuns, NewMailShowsCountsGreenFillAndNewMailIconUntilMarkedAsRead)
{
    ASSERT_TRUE(files.startFresh(settingsFor(password, {"[position]", "visible=true"})));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("0 / 0", checkMs)) << "shows: " << program.statusText();
    screenshot(program, "no-mail");
    ScreenImage window, tray;
    ASSERT_TRUE(program.captureWindow(window));
    ASSERT_TRUE(program.captureTray(tray));
    EXPECT_EQ(window.count(newMailFill), 0);
    EXPECT_GT(trayIconPixels(tray), 20) << "no tray icon";
    EXPECT_EQ(tray.count(newMailFlap), 0);

    deliver(1, 2);
    checkNowFor(program, "2 / 2");
    screenshot(program, "new-mail");
    picture("window-new-mail", program.windowRect());
    picture("tray-new-mail", program.trayArea());
    ASSERT_TRUE(program.captureWindow(window));
    ASSERT_TRUE(program.captureTray(tray));
    EXPECT_GT(window.count(newMailFill), area(window) / 2) << "the window is not filled green";
    EXPECT_GT(tray.count(newMailFlap), 5) << "the tray icon is not the new-mail envelope";
    RECT frame = program.windowRect();
    EXPECT_EQ(frame.right - frame.left, 100);
    EXPECT_EQ(frame.bottom - frame.top, 30);

    program.command(ID_MARK_AS_READ);
    EXPECT_TRUE(program.waitForStatus("0 / 2", checkMs)) << "shows: " << program.statusText();
    screenshot(program, "marked-as-read");
    picture("window-no-unseen-mail", program.windowRect());
    ASSERT_TRUE(program.captureWindow(window));
    ASSERT_TRUE(program.captureTray(tray));
    EXPECT_EQ(window.count(newMailFill), 0);
    EXPECT_EQ(tray.count(newMailFlap), 0);
    EXPECT_EQ(files.seenIds().size(), 2u) << "Mark As Read did not save the seen list";

    DWORD code = 99;
    ASSERT_TRUE(program.exitFromMenu(code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(waitForTray(program, tray, trayEmpty)) << "Exit left the tray icon behind";
    EXPECT_NE(files.readValue("position", "x"), "<absent>");
    EXPECT_NE(files.readValue("position", "y"), "<absent>");
}

TEST_F(ProgramRuns, WrongPasswordShowsBadUsernamePasswordTwiceAsWide)
{
    ASSERT_TRUE(files.startFresh(settingsFor("wrong-password", {"[position]", "visible=true"})));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("Bad username/password", checkMs)) << "shows: " << program.statusText();
    screenshot(program, "bad-login");
    picture("window-bad-login", program.windowRect());
    RECT frame = program.windowRect();
    EXPECT_EQ(frame.right - frame.left, 200);
    EXPECT_EQ(frame.bottom - frame.top, 30);
}

TEST_F(ProgramRuns, StoppedServerShowsHostnameNotFoundAndTheWindowShrinksBackOnSuccess)
{
    std::vector<std::string> lines = settingsFor(password, {"[position]", "visible=true"});
    for (std::string& line : lines) {
        if (line.rfind("port=", 0) == 0)
            line = "port=" + std::to_string(closedPort());
    }
    ASSERT_TRUE(files.startFresh(lines));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("Hostname not found", checkMs)) << "shows: " << program.statusText();
    screenshot(program, "host-not-found");
    picture("window-host-not-found", program.windowRect());
    RECT frame = program.windowRect();
    EXPECT_EQ(frame.right - frame.left, 200);
}

TEST_F(ProgramRuns, StatusIsCheckingUntilTheFirstCheckEnds)
{
    // A server that greets only after a while: the first result comes late.
    testbench::ScriptedPop3Server server;
    server.addConnection(testbench::Script()
                             .pause(3000)
                             .send("+OK ready\r\n")
                             .login()
                             .expectLine("UIDL")
                             .send("+OK\r\n1 first\r\n2 second\r\n.\r\n")
                             .stall(5000));
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(
        files.startFresh({"[connection]", "server=127.0.0.1", "username=u", "password=p", "SSL=false",
                          "port=" + std::to_string(server.port()), "checkmins=30", "[position]", "visible=true"}));
    ProgramDriver program;
    startProgram(program);
    EXPECT_EQ(program.statusText(), "Checking...");
    screenshot(program, "checking");
    picture("window-checking", program.windowRect());
    EXPECT_TRUE(program.waitForStatus("2 / 2", checkMs)) << "shows: " << program.statusText();
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}

// A server that goes on only inside TLS begun with STLS: the counts show that the account's
// starttls was read and honoured before the login.
TEST_F(ProgramRuns, StartTlsAccountShowsItsCounts)
{
    testbench::TestPki pki;
    ASSERT_TRUE(pki.create(scratch.path()));
    ASSERT_TRUE(apptest::makeWorkFolder(work, testbench::unixPathForPlatform(pki.path("ca.pem"))));
    testbench::ScriptedPop3Server server;
    server.useTls(pki.path("server.pem"), pki.path("server.key"));
    server.addConnection(testbench::Script()
                             .send("+OK ready\r\n")
                             .expectLine("CAPA")
                             .send("+OK\r\nSTLS\r\n.\r\n")
                             .expectLine("STLS")
                             .send("+OK\r\n")
                             .startTls()
                             .login()
                             .expectLine("UIDL")
                             .send("+OK\r\n1 first\r\n2 second\r\n.\r\n")
                             .stall(5000));
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(files.startFresh({"[connection]", "server=127.0.0.1", "username=u", "password=p", "SSL=false",
                                  "starttls=true", "port=" + std::to_string(server.port()), "checkmins=30"}));
    ProgramDriver program;
    startProgram(program);
    EXPECT_TRUE(program.waitForStatus("2 / 2", checkMs)) << "shows: " << program.statusText();
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}

// Over IMAP (implicit TLS) the window reaches the counts, and then a delivery is told by IDLE:
// the counts change with no Check Now (Dovecot tells EXISTS half a second after a delivery).
TEST_F(ProgramRuns, ImapAccountShowsItsCountsAndADeliveryUnderIdle)
{
    std::vector<std::string> lines = settingsFor(password, {"protocol=imap"});
    for (std::string& line : lines) {
        if (line.rfind("port=", 0) == 0)
            line = "port=" + std::to_string(dovecot.imapsPort());
    }
    deliver(1, 2);
    ASSERT_TRUE(files.startFresh(lines));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("2 / 2", checkMs)) << "shows: " << program.statusText();
    deliver(3, 1);
    EXPECT_TRUE(program.waitForStatus("3 / 3", checkMs)) << "shows: " << program.statusText();
}

TEST_F(ProgramRuns, DoubleClickOnTrayIconOpensTheMailProgramAndMarksAllAsRead)
{
    // The mail program is a stand-in that leaves a marker beside itself and ends at once.
    std::string opener = testbench::unixPathForPlatform(OPEN_MARKER_PATH);
    std::string marker = opener + ".opened";
    DeleteFileA(marker.c_str());
    deliver(1, 2);
    ASSERT_TRUE(files.startFresh(settingsFor(password, {"[actions]", "doubleclick=" + opener})));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("2 / 2", checkMs)) << "shows: " << program.statusText();

    program.post(trayCallback, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(program.waitForStatus("0 / 2", checkMs)) << "shows: " << program.statusText();
    EXPECT_TRUE(
        testbench::pollUntil([&] { return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES; }, checkMs))
        << "the doubleclick target was not opened";
    EXPECT_EQ(files.seenIds().size(), 2u);
}

TEST_F(ProgramRuns, DoubleClickOnFloatingWindowMarksAllAsReadWithoutATarget)
{
    deliver(1, 1);
    ASSERT_TRUE(files.startFresh(settingsFor(password, {"[position]", "visible=true"})));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("1 / 1", checkMs)) << "shows: " << program.statusText();
    program.post(WM_LBUTTONDBLCLK, 0, MAKELPARAM(20, 10));
    EXPECT_TRUE(program.waitForStatus("0 / 1", checkMs)) << "shows: " << program.statusText();
}

TEST_F(ProgramRuns, SingleClickOnTrayIconDoesNothing)
{
    deliver(1, 1);
    ASSERT_TRUE(files.startFresh(settingsFor(password)));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("1 / 1", checkMs)) << "shows: " << program.statusText();
    program.post(trayCallback, 0, WM_LBUTTONDOWN);
    program.post(trayCallback, 0, WM_LBUTTONUP);
    program.sync();
    EXPECT_EQ(program.statusText(), "1 unseen of 1 message");
    EXPECT_TRUE(files.seenIds().empty());
}

TEST_F(ProgramRuns, DraggedPositionAndVisibilitySurviveARestart)
{
    ASSERT_TRUE(files.startFresh(settingsFor(password)));
    RECT moved = {};
    {
        ProgramDriver program;
        startProgram(program);
        ASSERT_TRUE(program.waitForStatus("0 / 0", checkMs));
        EXPECT_FALSE(IsWindowVisible(program.window())) << "visible without the setting";
        program.command(ID_SHOW_FLOATING_WINDOW);
        program.sync();
        EXPECT_TRUE(IsWindowVisible(program.window()));
        EXPECT_EQ(files.readValue("position", "visible"), "true");

        // The window goes where the cursor is, less the point grabbed (client coordinates).
        POINT origin = {0, 0};
        ClientToScreen(program.window(), &origin);
        program.post(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
        program.post(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(40, 30));
        program.sync();
        RECT first = program.windowRect();
        EXPECT_EQ(first.left, origin.x + 40 - 10);
        EXPECT_EQ(first.top, origin.y + 30 - 10);
        origin = {0, 0};
        ClientToScreen(program.window(), &origin);
        program.post(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(50, 40));
        program.post(WM_LBUTTONUP, 0, MAKELPARAM(50, 40));
        program.post(WM_MOUSEMOVE, 0, MAKELPARAM(90, 90)); // released: no longer follows
        program.sync();
        moved = program.windowRect();
        EXPECT_EQ(moved.left, origin.x + 50 - 10);
        EXPECT_EQ(moved.top, origin.y + 40 - 10);
        screenshot(program, "dragged");
        DWORD code = 99;
        ASSERT_TRUE(program.exitFromMenu(code));
    }
    EXPECT_EQ(files.readValue("position", "x"), std::to_string(moved.left));
    EXPECT_EQ(files.readValue("position", "y"), std::to_string(moved.top));

    ProgramDriver again;
    startProgram(again);
    ASSERT_TRUE(again.waitForStatus("0 / 0", checkMs));
    RECT restored = again.windowRect();
    EXPECT_EQ(restored.left, moved.left);
    EXPECT_EQ(restored.top, moved.top);
    EXPECT_TRUE(IsWindowVisible(again.window()));
    again.command(ID_SHOW_FLOATING_WINDOW);
    again.sync();
    EXPECT_FALSE(IsWindowVisible(again.window()));
    EXPECT_EQ(files.readValue("position", "visible"), "false");
}

TEST_F(ProgramRuns, MarksSurviveARestart)
{
    deliver(1, 2);
    ASSERT_TRUE(files.startFresh(settingsFor(password)));
    {
        ProgramDriver program;
        startProgram(program);
        ASSERT_TRUE(program.waitForStatus("2 / 2", checkMs));
        program.command(ID_MARK_AS_READ);
        ASSERT_TRUE(program.waitForStatus("0 / 2", checkMs));
        DWORD code = 99;
        ASSERT_TRUE(program.exitFromMenu(code));
        EXPECT_EQ(code, 0u);
    }
    deliver(3, 1);
    ProgramDriver again;
    startProgram(again);
    EXPECT_TRUE(again.waitForStatus("1 / 3", checkMs)) << "shows: " << again.statusText();
}

// Three accounts on the bench's Dovecot (POP3, IMAP, and POP3 with a wrong password): the
// window sums the two that work in the new-mail colour and names each; an account's own Mark As
// Read and Check Now reach that account alone, and its marks go to its own seen file.
TEST_F(ProgramRuns, ThreeAccountsShareTheWindowAndEachHasItsOwnMenu)
{
    const std::string home = user + "_home";
    const std::string old = user + "_old";
    ASSERT_TRUE(dovecot.addUser(home, password) && dovecot.clearMailbox(home) && dovecot.addUser(old, password));
    deliver(1, 2);
    ASSERT_TRUE(dovecot.deliver(home, "h1", message(1)));
    std::vector<std::string> lines = settingsFor(password, {"name=Work", "[position]", "visible=true"});
    for (const auto& account :
         {std::vector<std::string>{"1", "Home", home, password, "imap", std::to_string(dovecot.imapsPort())},
          std::vector<std::string>{"2", "Old", old, "wrong", "pop3", std::to_string(dovecot.tlsPort())}}) {
        std::vector<std::string> section = {"[account." + account[0] + "]",
                                            "name=" + account[1],
                                            "server=localhost",
                                            "username=" + account[2],
                                            "password=" + account[3],
                                            "protocol=" + account[4],
                                            "port=" + account[5],
                                            "SSL=true",
                                            "checkmins=30"};
        lines.insert(lines.end(), section.begin(), section.end());
    }
    lines.insert(lines.end(), {"[accounts]", "order=0,1,2"});
    ASSERT_TRUE(files.startFresh(lines));
    ProgramDriver program;
    startProgram(program);
    const std::string failed = ", Old: Bad username/password";
    ASSERT_TRUE(program.waitForStatus("Work 2 of 2, Home 1 of 1" + failed, checkMs)) << program.statusText();
    screenshot(program, "three-accounts");
    ScreenImage window;
    ASSERT_TRUE(program.captureWindow(window));
    EXPECT_GT(window.count(newMailFill), area(window) / 3) << "the window is not in the new-mail colour";

    const int home_ = NotifierApp::accountMenuFirst + NotifierApp::accountMenuStride;
    program.command(home_ + 1); // Home: Mark As Read
    ASSERT_TRUE(program.waitForStatus("Work 2 of 2, Home 0 of 1" + failed, checkMs)) << program.statusText();
    EXPECT_EQ(files.seenIds("1").size(), 1u) << "Home's marks are not in its own file";
    ASSERT_TRUE(dovecot.deliver(home, "h2", message(2)));
    program.command(home_); // Home: Check Now
    EXPECT_TRUE(program.waitForStatus("Work 2 of 2, Home 1 of 2" + failed, checkMs)) << program.statusText();
    DWORD code = 99;
    EXPECT_TRUE(program.exitFromMenu(code));
    EXPECT_TRUE(files.seenIds().empty()) << "Work was never marked";
}

TEST_F(ProgramRuns, MarksSurviveAKillRightAfterMarkAsRead)
{
    deliver(1, 3);
    ASSERT_TRUE(files.startFresh(settingsFor(password)));
    {
        ProgramDriver program;
        startProgram(program);
        ASSERT_TRUE(program.waitForStatus("3 / 3", checkMs));
        program.command(ID_MARK_AS_READ);
        ASSERT_TRUE(program.waitForStatus("0 / 3", checkMs));
        program.kill();
    }
    ProgramDriver again;
    startProgram(again);
    EXPECT_TRUE(again.waitForStatus("0 / 3", checkMs)) << "shows: " << again.statusText();
}

TEST_F(ProgramRuns, SecondStartEndsAtOnceWithCodeZero)
{
    ASSERT_TRUE(files.startFresh(settingsFor(password)));
    ProgramDriver first;
    startProgram(first);
    ASSERT_TRUE(first.waitForStatus("0 / 0", checkMs));

    ProgramDriver second;
    ASSERT_TRUE(second.start(work));
    DWORD code = 99;
    ASSERT_TRUE(second.waitForEnd(quickExitMs, code)) << "the second copy kept running";
    EXPECT_EQ(code, 0u);
    int windows = 0;
    for (HWND found = FindWindowExA(nullptr, nullptr, "pellwick", "pellwick"); found;
         found = FindWindowExA(nullptr, found, "pellwick", "pellwick"))
        ++windows;
    EXPECT_EQ(windows, 1);
    EXPECT_TRUE(first.running());
}

TEST_F(ProgramRuns, ResumeFromSleepChecksAtOnce)
{
    ASSERT_TRUE(files.startFresh(settingsFor(password)));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("0 / 0", checkMs));
    deliver(1, 1);
    program.post(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    EXPECT_TRUE(program.waitForStatus("1 / 1", checkMs)) << "shows: " << program.statusText();
}

TEST_F(ProgramRuns, TrayIconComesBackWithItsImageWhenTheShellRestarts)
{
    deliver(1, 1);
    ASSERT_TRUE(files.startFresh(settingsFor(password)));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("1 / 1", checkMs));
    ScreenImage tray;
    ASSERT_TRUE(waitForTray(program, tray, trayShowsNewMail));

    // What a restarted shell has: no icon of ours.
    NOTIFYICONDATAA forget = {};
    forget.cbSize = NOTIFYICONDATAA_V1_SIZE;
    forget.hWnd = program.window();
    forget.uID = IDI_NO_MAIL; // the tray icon's id
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &forget));
    ASSERT_TRUE(waitForTray(program, tray, trayEmpty));

    program.post(RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(waitForTray(program, tray, trayShowsNewMail)) << "the icon did not come back as the new-mail envelope";
    screenshot(program, "icon-back");
}

// The shell's new-mail balloon: a visible balloon tooltip of another process.
static HWND findBalloon()
{
    for (HWND found = FindWindowExA(nullptr, nullptr, "tooltips_class32", nullptr); found;
         found = FindWindowExA(nullptr, found, "tooltips_class32", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(found, &owner);
        if (IsWindowVisible(found) && (GetWindowLongA(found, GWL_STYLE) & TTS_BALLOON) &&
            owner != GetCurrentProcessId())
            return found;
    }
    return nullptr;
}

// The bounding box of the tray icon's pixels in the notification area.
static RECT trayIconBox(const ScreenImage& tray)
{
    COLORREF background = tray.at(0, 0);
    RECT box = {tray.width(), tray.height(), -1, -1};
    for (int row = 0; row < tray.height(); ++row)
        for (int column = 0; column < tray.width(); ++column)
            if (tray.at(column, row) != background) {
                box.left = column < box.left ? column : box.left;
                box.top = row < box.top ? row : box.top;
                box.right = column + 1 > box.right ? column + 1 : box.right;
                box.bottom = row + 1 > box.bottom ? row + 1 : box.bottom;
            }
    return box;
}

TEST_F(ProgramRuns, FloatingWindowAndTrayIconFollowTheScreenDpi)
{
    // Reads the program's window in real pixels.
    SetProcessDPIAware();
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    deliver(1, 1);
    ASSERT_TRUE(files.startFresh(settingsFor(password, {"[position]", "x=400", "y=300", "visible=true"})));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("1 / 1", checkMs)) << "shows: " << program.statusText();
    screenshot(program, "dpi-" + std::to_string(dpi));
    RECT frame = program.windowRect();
    EXPECT_EQ(frame.right - frame.left, MulDiv(100, dpi, 96)) << "at " << dpi << " DPI";
    EXPECT_EQ(frame.bottom - frame.top, MulDiv(30, dpi, 96)) << "at " << dpi << " DPI";
    ScreenImage tray;
    ASSERT_TRUE(program.captureTray(tray));
    RECT icon = trayIconBox(tray);
    // The envelope fills the icon's width; its height is about three quarters of it.
    EXPECT_EQ(icon.right - icon.left, GetSystemMetrics(SM_CXSMICON)) << "at " << dpi << " DPI";
    EXPECT_GT(tray.count(newMailFlap), MulDiv(5, dpi * dpi, 96 * 96)) << "the flap is not drawn at this size";
}

// The notification names the two senders, the newest first.
TEST_F(ProgramRuns, NewMailShowsABalloonWhoseClickActsAsADoubleClick)
{
    ASSERT_TRUE(dovecot.deliver(user, "m1", "From: Ann Smith <ann@example.org>\r\nSubject: Lunch?\r\n\r\nHi.\r\n"));
    ASSERT_TRUE(
        dovecot.deliver(user, "m2", "From: =?utf-8?q?Bj=C3=B6rn?= <b@example.org>\r\nSubject: Report\r\n\r\n.\r\n"));
    ASSERT_TRUE(files.startFresh(settingsFor(password, {"showsenders=true"})));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("2 / 2", checkMs)) << "shows: " << program.statusText();
    HWND balloon = nullptr;
    ASSERT_TRUE(testbench::pollUntil([&] { return (balloon = findBalloon()) != nullptr; }, checkMs))
        << "no balloon on new mail";
    screenshot(program, "balloon");
    RECT frame = {};
    GetWindowRect(balloon, &frame);
    picture("notification-two-senders", frame);

    // What the shell sends when the user clicks the balloon.
    program.post(trayCallback, IDI_NO_MAIL, NIN_BALLOONUSERCLICK);
    EXPECT_TRUE(program.waitForStatus("0 / 2", checkMs)) << "shows: " << program.statusText();
    EXPECT_EQ(files.seenIds().size(), 2u);
}

} // namespace

// A dialog of the program, found by its title ("Pellwick" is the configuration dialog), once
// it is ready for input.
static HWND waitForDialog(const char* title, int timeoutMs)
{
    HWND dialog = nullptr;
    if (!testbench::pollUntil([&] { return (dialog = FindWindowA("#32770", title)) != nullptr; }, timeoutMs))
        return nullptr;
    // The window exists while it is still being set up; a sent message is handled only once
    // its thread is back in its message loop, so after that the dialog is ready for input.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored);
    return dialog;
}

static int openDialogs(const char* title)
{
    int dialogs = 0;
    for (HWND found = FindWindowExA(nullptr, nullptr, "#32770", title); found;
         found = FindWindowExA(nullptr, found, "#32770", title))
        ++dialogs;
    return dialogs;
}

// Cancel, as the user's Escape would; true once the dialog is gone (bounded wait).
static bool cancelDialog(HWND dialog)
{
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return testbench::pollUntil([dialog] { return !IsWindow(dialog); }, 5000);
}

TEST_F(ProgramRuns, FirstStartWithoutAccountAsksForOneAndCancelEndsWithCodeZero)
{
    ASSERT_TRUE(files.startFresh({}));
    ProgramDriver program;
    ASSERT_TRUE(program.start(work));
    HWND dialog = waitForDialog("Pellwick", ProgramDriver::startMs);
    ASSERT_NE(dialog, nullptr) << "no configuration dialog at first start";
    // The floating window and the tray icon exist before the dialog opens.
    EXPECT_NE(FindWindowA("pellwick", "pellwick"), nullptr);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    DWORD code = 99;
    ASSERT_TRUE(program.waitForEnd(quickExitMs, code)) << "Cancel did not end the program";
    EXPECT_EQ(code, 0u);
    // Cancel writes nothing: the file still has no account.
    EXPECT_EQ(files.readValue("connection", "server"), "<absent>");
}

TEST_F(ProgramRuns, PasswordFromAnotherMachineIsAskedForAndThenStoredProtected)
{
    TextRecord copied;
    ASSERT_TRUE(protectPasswordFor("another-machine", password, copied));
    ASSERT_TRUE(files.startFresh(settingsFor(copied.text)));
    ProgramDriver program;
    ASSERT_TRUE(program.start(work));
    HWND dialog = waitForDialog("Pellwick", ProgramDriver::startMs);
    ASSERT_NE(dialog, nullptr) << "an unreadable password did not open the configuration dialog";
    char shown[64] = "?";
    GetDlgItemTextA(dialog, IDC_PASSWORD, shown, sizeof shown);
    EXPECT_STREQ(shown, "") << "the password box holds what could not be read";
    SetDlgItemTextA(dialog, IDC_PASSWORD, password);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_NE(program.waitForWindow(), nullptr);
    EXPECT_TRUE(program.waitForStatus("0 / 0", checkMs)) << "shows: " << program.statusText();

    std::string stored = files.readValue("connection", "password");
    EXPECT_EQ(stored.rfind(protectedPasswordPrefix, 0), 0u) << stored;
    TextRecord revealed;
    EXPECT_EQ(revealPassword(stored.c_str(), revealed), StoredPassword::Protected);
    EXPECT_STREQ(revealed.text, password);
}

// Configure and About each open their dialog from the menu (About showing the program's
// version); the same command again brings the open dialog forward instead of a second one.
TEST_F(ProgramRuns, ConfigureAndAboutFromTheMenuOpenOneDialogEach)
{
    struct Case {
        int command;
        const char* title;
        const char* picture;
        int textId; // a control whose text the dialog shows, or 0
        const char* text;
    } cases[] = {
        {ID_CONFIGURE, "Pellwick", "configure", IDC_SECURITY, "SSL/TLS (port 995)"},
        {ID_ABOUT, "About Pellwick", "about", IDC_VERSION_TEXT, "Version 1v0r1"},
    };
    ASSERT_TRUE(files.startFresh(settingsFor(password)));
    ProgramDriver program;
    startProgram(program);
    ASSERT_TRUE(program.waitForStatus("0 / 0", checkMs));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        program.command(c.command);
        HWND dialog = waitForDialog(c.title, ProgramDriver::startMs);
        ASSERT_NE(dialog, nullptr) << "the command opened no dialog";
        screenshot(program, c.picture);
        RECT dialogFrame = {};
        GetWindowRect(dialog, &dialogFrame);
        EXPECT_TRUE(apptest::savePicture(c.picture, dialogFrame));
        if (c.command == ID_CONFIGURE) { // the choice of security open, within the dialog
            SendDlgItemMessageA(dialog, IDC_SECURITY, CB_SHOWDROPDOWN, TRUE, 0);
            EXPECT_TRUE(apptest::savePicture("configure-security", dialogFrame));
            SendDlgItemMessageA(dialog, IDC_SECURITY, CB_SHOWDROPDOWN, FALSE, 0);
        }
        if (c.textId) {
            char text[64] = {};
            GetDlgItemTextA(dialog, c.textId, text, sizeof text);
            EXPECT_STREQ(text, c.text);
        }
        program.command(c.command);
        program.sync();
        EXPECT_EQ(openDialogs(c.title), 1);
        EXPECT_TRUE(cancelDialog(dialog));
    }
    DWORD code = 99;
    EXPECT_TRUE(program.exitFromMenu(code));
}

// From the dialog's Sign in (the browser played by a script, the provider the bench's mock) to
// the window's counts from the bench's Dovecot, with the refresh token stored protected.
TEST_F(ProgramRuns, SignInFromTheDialogLogsInWithATokenAndCountsTheMailbox)
{
    testbench::OAuthFixture bench;
    _putenv_s("PELLWICK_OAUTH_DIR", PELLWICK_OAUTH_FIXTURE_DIR);
    ASSERT_TRUE(testbench::OAuthFixture::fromEnvironment(bench)) << "the sign-in bench is not running";
    std::string endpoints = bench.url("/authorize") + " " + bench.url("/token") + " localhost";
    _putenv_s(apptest::signInEndpointsVariable, endpoints.c_str()); // the program inherits it
    ASSERT_TRUE(files.startFresh({"[connection]", "server=localhost", "username=alice@example.test", "SSL=true",
                                  "port=" + std::to_string(bench.pop3sPort()), "checkmins=30", "signin=microsoft",
                                  "microsoftclientid=pellwick", "[position]", "visible=true"}));
    ProgramDriver program;
    startProgram(program, testbench::unixPathForPlatform(PELLWICK_SIGN_IN_TEST_BUILD));
    ASSERT_TRUE(program.waitForStatus("Sign in again", checkMs)) << "shows: " << program.statusText();
    program.command(ID_CONFIGURE);
    HWND dialog = waitForDialog("Pellwick", ProgramDriver::startMs);
    ASSERT_NE(dialog, nullptr);
    HWND signIn = GetDlgItem(dialog, IDC_SIGN_IN);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SIGN_IN, BN_CLICKED), reinterpret_cast<LPARAM>(signIn));
    char state[160] = "";
    EXPECT_TRUE(testbench::pollUntil(
        [&] {
            GetDlgItemTextA(dialog, IDC_SIGN_IN_STATE, state, sizeof state);
            return std::strncmp(state, "Not signed", 10) != 0 && std::strncmp(state, "Waiting", 7) != 0;
        },
        checkMs));
    EXPECT_STREQ(state, "Signed in. The password is not used.");
    screenshot(program, "signed-in");
    RECT dialogFrame = {};
    GetWindowRect(dialog, &dialogFrame);
    picture("configure-signed-in", dialogFrame);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(program.waitForStatus("2 / 2", checkMs)) << "shows: " << program.statusText();
    EXPECT_EQ(files.readValue("connection", "refreshtoken").rfind(protectedPasswordPrefix, 0), 0u);
}
