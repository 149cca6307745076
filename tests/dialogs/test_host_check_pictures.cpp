// The host check's messages as the user sees them: real message boxes, each kept as a picture
// for the documentation and answered as the user would (Yes to a question, else OK).
#include <winsock2.h> // before windows.h, for the test servers
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/config_dialog.h"
#include "dialogs/message_box.h"
#include "tests/app/screen_capture.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/scripted_pop3_server.h"

namespace {

const UINT tickMs = 200;

struct PictureRun {
    std::string name;
    int tlsPort = 0;
    int plainPort = 0;
    int startTlsPort = 0;
    std::string password;
    std::vector<std::string> pictures; // one per message box, in order
    int failedPictures = 0;
};
PictureRun* running = nullptr;
HWND seenBox = nullptr;
int answer = IDOK;

BOOL CALLBACK findMessageBox(HWND window, LPARAM found)
{
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    Dialog* configure = Dialog::findRunning(IDD_CONFIGURE);
    if (strcmp(className, "#32770") != 0 || !IsWindowVisible(window) || (configure && configure->handle == window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Runs inside the message box's own loop. A box first seen is pictured at the next tick, once
// the display has caught up with its painting.
void CALLBACK pictureAndAnswer(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findMessageBox, reinterpret_cast<LPARAM>(&box));
    if (!box || box != seenBox) {
        seenBox = box;
        return;
    }
    std::string name = "host-check-" + running->name + "-" + std::to_string(running->pictures.size() + 1);
    running->pictures.push_back(name);
    RECT frame = {};
    GetWindowRect(box, &frame);
    if (!apptest::savePicture(name, frame))
        ++running->failedPictures;
    seenBox = nullptr;
    PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
}

int showingMessageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    answer = (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    seenBox = nullptr;
    UINT_PTR timer = SetTimer(nullptr, 0, tickMs, pictureAndAnswer);
    int result = MessageBoxA(owner, text, caption, type);
    KillTimer(nullptr, timer);
    return result;
}

void CALLBACK checkThenClose(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    auto* dialog = static_cast<ConfigDialog*>(Dialog::findRunning(IDD_CONFIGURE));
    if (!dialog)
        return;
    const MailProtocol pop3 = MailProtocol::Pop3;
    dialog->hostCheck.probeSteps = {{pop3, ConnectionSecurity::TlsOnConnect, running->tlsPort},
                                    {pop3, ConnectionSecurity::StartTls, running->startTlsPort},
                                    {pop3, ConnectionSecurity::None, running->plainPort}};
    dialog->hostCheck.run();
    EndDialog(dialog->handle, IDCANCEL);
}

void pictureHostCheck(PictureRun& run)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    moduleInstance = GetModuleHandleA(nullptr);
    dialogMessageBox = showingMessageBox;
    running = &run;
    SetTimer(nullptr, 0, tickMs, checkThenClose);
    ConfigurationValues values;
    values.server.assign("127.0.0.1");
    values.username.assign("pictures");
    values.password.assign(run.password.c_str());
    runConfigDialog(values, nullptr);
    dialogMessageBox = MessageBoxA;
    running = nullptr;
}

int closedPort()
{
    testbench::ScriptedPop3Server server;
    server.start();
    int port = server.port();
    server.stop();
    return port;
}

} // namespace

// Against the private Dovecot: each outcome the user can meet, with every box pictured.
TEST(HostCheckPictures, EveryMessageOfEachOutcomeIsShownAndAnswered)
{
    testbench::DovecotFixture dovecot;
    ASSERT_TRUE(testbench::DovecotFixture::fromEnvironment(dovecot)) << "PELLWICK_DOVECOT_DIR not set";
    ASSERT_TRUE(dovecot.addUser("pictures", "right one"));
    int closed = closedPort();
    struct Case {
        const char* name;
        bool trusted;
        int tlsPort;
        int plainPort;
        const char* password;
        size_t boxes;          // questions and report, or a report alone
        bool startTls = false; // tried on the plain port, where Dovecot offers STLS
    } cases[] = {
        {"secure", true, dovecot.tlsPort(), dovecot.plainPort(), "right one", 2},
        {"refused-login", true, dovecot.tlsPort(), dovecot.plainPort(), "wrong one", 2},
        {"plain", true, closed, dovecot.plainPort(), "right one", 2},
        {"starttls", true, closed, dovecot.plainPort(), "right one", 2, true},
        // The certificate question (Yes), then the secure service's question and report.
        {"untrusted", false, dovecot.tlsPort(), dovecot.plainPort(), "right one", 3},
        {"nothing-found", true, closed, closed, "right one", 1},
    };
    for (const Case& c : cases) {
        // The working folder's cacert.pem holds the test CA, or nothing is trusted.
        mailtest::TrustedCaDirectory trust(c.trusted ? dovecot.caFile() : std::string());
        ASSERT_TRUE(trust.isReady());
        PictureRun run;
        run.name = c.name;
        run.tlsPort = c.tlsPort;
        run.plainPort = c.plainPort;
        run.startTlsPort = c.startTls ? c.plainPort : closed;
        run.password = c.password;
        pictureHostCheck(run);
        EXPECT_EQ(run.pictures.size(), c.boxes) << c.name;
        EXPECT_EQ(run.failedPictures, 0) << c.name;
    }
}
