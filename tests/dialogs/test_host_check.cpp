// The configuration dialog's host check against loopback servers: what the user is asked
// and told, and which controls change.
#include <gtest/gtest.h>

#include <winsock2.h> // before windows.h, for the test servers
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "dialogs/config_dialog.h"
#include "dialogs/message_box.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/temp_directory.h"
#include "tests/support/test_pki.h"

namespace {

const UINT startDelayMs = 100;
const UINT safetyLimitMs = 40000;

const char plainQuestion[] = "Unencrypted email checking found. Use this? Your password would be sent unencrypted.";
const char plainWorking[] = "Unencrypted email checking is working!.";
const char secureQuestion[] = "Secure email checking found (SSL/TLS on port 995). Use this?";
const char startTlsQuestion[] = "Secure email checking found (STARTTLS on port 110). Use this?";
const char imapStartTls[] = "Secure email checking found (STARTTLS on port 143). Use this?";
const char secureWorking[] = "Login successful. Secure email checking is working!";
const char loginRefused[] = "The mailserver reports that the Username and password are not recognised.";
const char signInNotTried[] =
    "Secure email checking is available. The password is not tried: pellwick logs in with the sign-in.";
const char noPlainSignIn[] = "Only unencrypted email checking found. A sign-in is never sent unencrypted: choose "
                             "another server, or Password under \"Sign in with\".";

struct Probe {
    std::string host = "127.0.0.1";
    int tlsPort = 0;
    int plainPort = 0;
    NetworkSteps steps;
    bool answerYes = true;
    // The server whose received lines each message box records as it opens.
    const testbench::ScriptedPop3Server* watched = nullptr;
    std::string portAfter;
    ConnectionSecurity securityAfter = ConnectionSecurity::TlsOnConnect;
    std::string user = "ann";
    std::string password = "secret";
    SignInMethod signIn = SignInMethod::Password;
    MailProtocol protocol = MailProtocol::Pop3;
    // After the check: the host typed then, if any, and OK instead of Cancel.
    std::string hostAfter;
    bool confirm = false;
    bool ran = false;
};
// The dialog's values after OK.
ConfigurationValues confirmed;
Probe* probe = nullptr;
UINT_PTR startTimer = 0;
UINT_PTR safetyTimer = 0;

struct Shown {
    std::string text;
    UINT type;
    std::vector<std::string> linesBefore;
};
std::vector<Shown> shown;

std::vector<std::string> shownTexts()
{
    std::vector<std::string> texts;
    for (const Shown& each : shown)
        texts.push_back(each.text);
    return texts;
}

int answeringMessageBox(HWND, const char* text, const char*, UINT type)
{
    shown.push_back({text, type, probe->watched ? probe->watched->receivedLines() : std::vector<std::string>()});
    if (type & MB_YESNO)
        return probe->answerYes ? IDYES : IDNO;
    return IDOK;
}

std::string textOf(HWND control)
{
    char buffer[64] = {};
    GetWindowTextA(control, buffer, sizeof buffer);
    return buffer;
}

void CALLBACK runCheck(HWND, UINT, UINT_PTR, DWORD)
{
    KillTimer(nullptr, startTimer);
    auto* dialog = static_cast<ConfigDialog*>(Dialog::findRunning(IDD_CONFIGURE));
    if (dialog == nullptr)
        return;
    for (ProbeStep& step : dialog->hostCheck.probeSteps)
        step.port = step.security == ConnectionSecurity::TlsOnConnect ? probe->tlsPort : probe->plainPort;
    dialog->hostCheck.network = probe->steps;
    SetWindowTextA(dialog->account.port.handle, "4242");
    dialog->hostCheck.run();
    probe->portAfter = textOf(dialog->account.port.handle);
    probe->securityAfter = dialog->account.security.chosen();
    probe->ran = true;
    if (!probe->hostAfter.empty())
        SetWindowTextA(dialog->account.host.handle, probe->hostAfter.c_str());
    if (!probe->confirm) {
        EndDialog(dialog->handle, IDCANCEL);
        return;
    }
    SendMessageA(dialog->handle, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog->handle, IDOK)));
}

void CALLBACK endLeftOpen(HWND, UINT, UINT_PTR, DWORD)
{
    KillTimer(nullptr, safetyTimer);
    if (Dialog* open = Dialog::findRunning(IDD_CONFIGURE))
        EndDialog(open->handle, IDCANCEL);
}

// A loopback port on which nothing listens.
int closedPort()
{
    testbench::ScriptedPop3Server server;
    server.start();
    int port = server.port();
    server.stop();
    return port;
}

void runHostCheck(Probe& target)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    moduleInstance = GetModuleHandleA(nullptr);
    shown.clear();
    dialogMessageBox = answeringMessageBox;
    probe = &target;
    startTimer = SetTimer(nullptr, 0, startDelayMs, runCheck);
    safetyTimer = SetTimer(nullptr, 0, safetyLimitMs, endLeftOpen);
    ConfigurationValues values;
    values.server.assign(target.host.c_str());
    values.username.assign(target.user.c_str());
    values.password.assign(target.password.c_str());
    values.signIn = target.signIn;
    values.protocol = target.protocol;
    confirmed.certSha256.assign("<not confirmed>");
    if (runConfigDialog(values, nullptr)) {
        confirmed.server.assign(values.server.text);
        confirmed.certSha256.assign(values.certSha256.text);
    }
    KillTimer(nullptr, safetyTimer);
}

// USER and PASS answered after `script`: a greeting, or STARTTLS.
testbench::Script greetingAndLogin(bool accepted, testbench::Script script = testbench::Script().send("+OK ready\r\n"))
{
    return script.login(accepted ? "+OK\r\n" : "-ERR no\r\n", "ann", "secret").stall(2000);
}

// CAPA answered with STLS, then TLS after the +OK to STLS; or without STLS.
testbench::Script capabilities(bool stls)
{
    testbench::Script script;
    script.send("+OK ready\r\n").expectLine("CAPA").send(stls ? "+OK\r\nSTLS\r\n.\r\n" : "+OK\r\n.\r\n");
    return stls ? script.expectLine("STLS").send("+OK\r\n").startTls() : script.stall(2000);
}

// How the TLS server of a check serves: with a certificate, without any certificate, or not at
// all (its port closed).
enum class Serve { Certificate, NoCertificate, Closed };

// A TLS and a plain server for one check, each answering one greeting and login; the plain one
// first answers the STARTTLS step without STLS. The TLS one shows `certificate`.pem with its
// key; `afterStls`: the plain one shows it after STLS instead, and the TLS port is closed.
struct Servers {
    explicit Servers(Serve serve, const std::string& certificate = "", bool loginAccepted = true,
                     bool afterStls = false)
    {
        if (serve == Serve::Certificate)
            (afterStls ? plain : tls).useTls(certificate + ".pem", certificate + ".key");
        if (serve == Serve::NoCertificate)
            tls.useAnonymousTls();
        tls.addConnection(greetingAndLogin(loginAccepted));
        plain.addConnection(afterStls ? greetingAndLogin(loginAccepted, capabilities(true)) : capabilities(false));
        plain.addConnection(greetingAndLogin(loginAccepted));
        bool tlsClosed = serve == Serve::Closed || afterStls;
        started = (tlsClosed || tls.start()) && plain.start();
        tlsPort = tlsClosed ? closedPort() : tls.port();
    }

    testbench::ScriptedPop3Server tls;
    testbench::ScriptedPop3Server plain;
    bool started = false;
    int tlsPort = 0;
};

} // namespace

// A plain service found after the TLS port refused and STLS was not offered: only CAPA is read
// before the question, the password goes out after Yes, and after No nothing more is sent at all.
TEST(HostCheck, PlainServiceFoundAfterTlsRefusedLogsInOnlyAfterYes)
{
    struct Case {
        const char* name;
        bool yes;
        bool loginAccepted;
        std::vector<std::string> linesAfter;
        std::vector<std::string> texts;
        const char* portAfter;
    };
    const Case cases[] = {
        {"Yes", true, true, {"CAPA", "USER ann", "PASS secret"}, {plainQuestion, plainWorking}, "110"},
        {"Yes, login refused", true, false, {"CAPA", "USER ann", "PASS secret"}, {plainQuestion, loginRefused}, "110"},
        {"No", false, true, {"CAPA"}, {plainQuestion}, "4242"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Servers servers(Serve::Closed, "", c.loginAccepted);
        ASSERT_TRUE(servers.started);
        Probe result;
        result.tlsPort = servers.tlsPort;
        result.plainPort = servers.plain.port();
        result.answerYes = c.yes;
        result.watched = &servers.plain;
        runHostCheck(result);
        ASSERT_TRUE(result.ran);
        servers.plain.stop();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(std::vector<std::string>{"CAPA"}, shown[0].linesBefore) << "sent before the question";
        EXPECT_EQ(static_cast<UINT>(MB_YESNO), shown[0].type);
        EXPECT_EQ(c.linesAfter, servers.plain.receivedLines());
        EXPECT_EQ(c.texts, shownTexts());
        EXPECT_EQ(c.portAfter, result.portAfter);
        EXPECT_EQ(c.yes ? ConnectionSecurity::None : ConnectionSecurity::TlsOnConnect, result.securityAfter);
    }
}

// A certificate no authority vouches for: its details and the question whether to trust
// exactly it for this host. No falls back to nothing; Yes logs in over TLS with it pinned, and
// OK stores the pin unless the host was changed meanwhile. Plain POP3 is never tried. A
// provider's mail server is never offered: its certificate is reported as intercepted.
TEST(HostCheck, UntrustedCertificateIsOfferedForTrustNeverFallingBackToPlain)
{
    testbench::TempDirectory folder;
    testbench::TestPki pki;
    ASSERT_TRUE(pki.create(folder.path()));
    struct Case {
        const char* name;
        bool yes;
        const char* hostAfter;
        std::vector<std::string> lines; // received by the TLS server
        const char* reportAfter;
        bool pinStored;
        bool afterStls = false;
        const char* host = "127.0.0.1";
        MailProtocol protocol = MailProtocol::Pop3;
    } cases[] = {
        {"No", false, "", {}, "certificate is not trusted", false},
        {"Yes", true, "", {"USER ann", "PASS secret"}, "Login successful", true},
        {"Yes, then another host", true, "mail.example.org", {"USER ann", "PASS secret"}, "Login successful", false},
        {"STLS, Yes", true, "", {"CAPA", "STLS", "CAPA", "STLS", "USER ann", "PASS secret"}, "successful", true, true},
        {"a provider's server", true, "", {}, "is intercepting the connection", false, false, "outlook.office365.com"},
        {"Google's IMAP server", true, "", {}, "intercepting", false, false, "imap.gmail.com", MailProtocol::Imap},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testbench::ScriptedPop3Server tls;
        tls.useTls(pki.path("selfsigned.pem"), pki.path("selfsigned.key"));
        // Refused at the handshake, then trusted.
        tls.addConnection(c.afterStls ? capabilities(true) : testbench::Script().stall(2000));
        tls.addConnection(c.afterStls ? greetingAndLogin(true, capabilities(true)) : greetingAndLogin(true));
        ASSERT_TRUE(tls.start());
        Servers others(Serve::Closed);
        ASSERT_TRUE(others.started);
        testbench::ScriptedPop3Server& plain = others.plain;
        Probe result;
        result.host = c.host;
        result.protocol = c.protocol;
        result.steps.lookUp = mailtest::loopbackForEveryName;
        result.tlsPort = c.afterStls ? others.tlsPort : tls.port();
        result.plainPort = c.afterStls ? tls.port() : plain.port();
        result.answerYes = c.yes;
        result.hostAfter = c.hostAfter;
        result.confirm = true;
        runHostCheck(result);
        ASSERT_TRUE(result.ran);
        tls.stop();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.size() > 1, shown[0].type == static_cast<UINT>(MB_YESNO)) << "a question, then the report";
        for (const char* part : {"Subject: ", "Issuer: ", "Valid from: ", "Valid until: ", "SHA-256: ", c.host})
            EXPECT_NE(std::string::npos, shown[0].text.find(part)) << part << " in " << shown[0].text;
        EXPECT_NE(std::string::npos, shown.back().text.find(c.reportAfter)) << shown.back().text;
        EXPECT_EQ(c.lines, tls.receivedLines());
        EXPECT_EQ(0, plain.connectionsAccepted());
        size_t at = shown[0].text.find("SHA-256: ") + 9;
        std::string fingerprint = shown[0].text.substr(at, 95);
        EXPECT_EQ(c.pinStored ? fingerprint : std::string(), std::string(confirmed.certSha256.text))
            << confirmed.server.text;
    }
}

// Each outcome of the probe (HostProbe's own tests go through every certificate) as the user
// meets it, with a plain service on the plain port. A certificate that fails verification is
// reported and ends the check: plain POP3 is never offered after it. A handshake that fails
// before any certificate is judged leads to the plain question; answered No, nothing but CAPA
// reaches either server. A certificate that no authority vouches for is first offered for
// trust; answered No, it is refused as the others.
TEST(HostCheck, EachProbeOutcomeIsOfferedOrReportedNeverSendingThePasswordUnasked)
{
    enum class Outcome { SecureFound, CertificateRefused, TrustOffered, PlainOffered, NothingFound };
    struct Case {
        const char* certificate;
        Serve serve;
        Outcome outcome;
        bool afterStls = false;
        MailProtocol protocol = MailProtocol::Pop3;
    };
    const Case cases[] = {
        {"server", Serve::Certificate, Outcome::SecureFound},
        {"expired", Serve::Certificate, Outcome::CertificateRefused},
        {"selfsigned", Serve::Certificate, Outcome::TrustOffered},
        {"", Serve::NoCertificate, Outcome::PlainOffered},
        {"expired", Serve::Certificate, Outcome::CertificateRefused, true},
        {"", Serve::Closed, Outcome::NothingFound},
        {"", Serve::Closed, Outcome::NothingFound, false, MailProtocol::Imap},
    };
    testbench::TempDirectory folder;
    testbench::TestPki pki;
    ASSERT_TRUE(pki.create(folder.path()));
    mailtest::TrustedCaDirectory trust(pki.path("ca.pem"));
    ASSERT_TRUE(trust.isReady());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.certificate) + (c.serve == Serve::Certificate ? "" : " (handshake fails)") +
                     (c.afterStls ? " after STLS" : ""));
        Servers servers(c.serve, pki.path(c.certificate), true, c.afterStls);
        ASSERT_TRUE(servers.started);
        testbench::ScriptedPop3Server& tls = servers.tls;
        testbench::ScriptedPop3Server& plain = servers.plain;
        Probe result;
        result.tlsPort = servers.tlsPort;
        result.plainPort = c.outcome == Outcome::NothingFound ? closedPort() : plain.port();
        result.answerYes = false;
        result.protocol = c.protocol;
        runHostCheck(result);
        ASSERT_TRUE(result.ran);
        tls.stop();
        plain.stop();
        ASSERT_FALSE(shown.empty());
        // Nothing but CAPA, and STLS, reaches the plain port.
        std::vector<std::string> inClear = {"CAPA", "STLS"};
        inClear.resize(plain.connectionsAccepted() ? (c.afterStls ? 2 : 1) : 0);
        EXPECT_EQ(inClear, plain.receivedLines());
        int plainConnections = c.afterStls ? 1 : 0; // the STARTTLS step's
        switch (c.outcome) {
        case Outcome::SecureFound:
            EXPECT_EQ(secureQuestion, shown[0].text);
            EXPECT_EQ(0, plain.connectionsAccepted());
            break;
        case Outcome::CertificateRefused:
            ASSERT_EQ(1u, shown.size());
            EXPECT_NE(std::string::npos, shown[0].text.find("certificate is not trusted"));
            EXPECT_TRUE(tls.receivedLines().empty());
            EXPECT_EQ(plainConnections, plain.connectionsAccepted()) << "plain POP3 tried after a certificate failure";
            break;
        case Outcome::TrustOffered:
            ASSERT_EQ(2u, shown.size());
            EXPECT_NE(std::string::npos, shown[0].text.find("SHA-256: "));
            EXPECT_NE(std::string::npos, shown[1].text.find("certificate is not trusted"));
            EXPECT_TRUE(tls.receivedLines().empty());
            EXPECT_EQ(plainConnections, plain.connectionsAccepted()) << "plain POP3 tried after a certificate failure";
            break;
        case Outcome::PlainOffered:
            ASSERT_EQ(1u, shown.size());
            EXPECT_EQ(plainQuestion, shown[0].text);
            EXPECT_TRUE(tls.receivedLines().empty());
            break;
        case Outcome::NothingFound:
            ASSERT_EQ(1u, shown.size());
            EXPECT_EQ(0u, shown[0].text.find("No email checking found."));
            EXPECT_NE(std::string::npos,
                      shown[0].text.find(c.protocol == MailProtocol::Imap ? "IMAP-SSL on 993 or IMAP on 143"
                                                                          : "POP3-SSL on 995 or POP3 on 110"));
            break;
        }
        EXPECT_EQ("4242", result.portAfter) << "every question was answered No";
    }
}

// With a sign-in chosen the password box is not used: the secure service is offered without a
// login, and the unencrypted one is not offered at all.
TEST(HostCheck, WithASignInChosenNoPasswordIsSentAndPlainIsNotOffered)
{
    testbench::TempDirectory folder;
    testbench::TestPki pki;
    ASSERT_TRUE(pki.create(folder.path()));
    mailtest::TrustedCaDirectory trust(pki.path("ca.pem"));
    ASSERT_TRUE(trust.isReady());
    for (Serve serve : {Serve::Certificate, Serve::Closed}) {
        bool secure = serve == Serve::Certificate;
        SCOPED_TRACE(secure ? "TLS" : "plain only");
        Servers servers(serve, pki.path("server"));
        ASSERT_TRUE(servers.started);
        Probe result;
        result.tlsPort = servers.tlsPort;
        result.plainPort = servers.plain.port();
        result.signIn = SignInMethod::Microsoft;
        runHostCheck(result);
        ASSERT_TRUE(result.ran);
        servers.tls.stop();
        servers.plain.stop();
        std::vector<std::string> texts = {noPlainSignIn};
        if (secure)
            texts = {secureQuestion, signInNotTried};
        EXPECT_EQ(texts, shownTexts());
        EXPECT_TRUE(servers.tls.receivedLines().empty());
        EXPECT_EQ(std::vector<std::string>(secure ? 0 : 1, "CAPA"), servers.plain.receivedLines());
    }
}

// The same checks against a real server: Dovecot over TLS with a certificate from the trusted
// test CA, and its plain port.
class HostCheckDovecot : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(testbench::DovecotFixture::fromEnvironment(dovecot)) << "PELLWICK_DOVECOT_DIR not set";
        ASSERT_TRUE(dovecot.addUser("hostcheck", "right one"));
        trust.reset(new mailtest::TrustedCaDirectory(dovecot.caFile()));
        ASSERT_TRUE(trust->isReady());
        result.user = "hostcheck";
        result.password = "right one";
    }

    testbench::DovecotFixture dovecot;
    std::unique_ptr<mailtest::TrustedCaDirectory> trust;
    Probe result;
};

// Over TLS the login comes before the question, which Yes answers: port 995 with SSL/TLS. With
// nothing on the TLS port, STARTTLS on the plain port, where Dovecot lists STLS; for IMAP, on
// its IMAP port.
TEST_F(HostCheckDovecot, ServicesFoundAreOfferedAndTheLoginReported)
{
    struct Case {
        const char* name;
        const char* password;
        bool tlsOpen;
        std::vector<std::string> texts;
        const char* portAfter;
        ConnectionSecurity securityAfter;
        MailProtocol protocol = MailProtocol::Pop3;
    };
    using Security = ConnectionSecurity;
    const Case cases[] = {
        {"TLS", "right one", true, {secureQuestion, secureWorking}, "995", Security::TlsOnConnect},
        {"TLS, wrong password", "wrong one", true, {secureQuestion, loginRefused}, "995", Security::TlsOnConnect},
        {"nothing on the TLS port", "right one", false, {startTlsQuestion, secureWorking}, "110", Security::StartTls},
        {"IMAP", "right one", false, {imapStartTls, secureWorking}, "143", Security::StartTls, MailProtocol::Imap},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        result.ran = false;
        result.password = c.password;
        bool imap = c.protocol == MailProtocol::Imap;
        result.protocol = c.protocol;
        result.tlsPort = c.tlsOpen ? (imap ? dovecot.imapsPort() : dovecot.tlsPort()) : closedPort();
        result.plainPort = imap ? dovecot.imapPort() : dovecot.plainPort();
        runHostCheck(result);
        ASSERT_TRUE(result.ran);
        EXPECT_EQ(c.texts, shownTexts());
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(static_cast<UINT>(MB_YESNO), shown[0].type);
        EXPECT_EQ(c.portAfter, result.portAfter);
        EXPECT_EQ(c.securityAfter, result.securityAfter);
    }
}
