// Whole check cycles against the scripted server, as matrices: every certificate a server
// can present, on connect or after STLS (what the user sees, and that no USER or PASS went
// where it must not), every way STARTTLS can be refused or attacked, logins with a token
// (where it may go, how a refusal is answered and refreshed), and every way a dialogue can
// break off (the status, the counts kept, the seen file left alone, and the time taken).
#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "mail/checker/checker_thread.h"
#include "mail/sign_in/sasl_oauth.h"
#include "mail/mailbox/seen_file.h"
#include "tests/mail/checker/checker_reports.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/temp_directory.h"
#include "tests/support/test_pki.h"

using mailtest::CheckReports;
using mailtest::ScriptedEndpoint;
using mailtest::Stopwatch;
using mailtest::TrustedCaDirectory;
using testbench::loggedIn;
using testbench::Script;
using testbench::ScriptedPop3Server;

namespace {

const std::string greeting = "+OK ready\r\n";
const std::string ok = "+OK\r\n";
const std::string listingReply = "+OK\r\n1 a\r\n2 b\r\n.\r\n";
const std::vector<std::string> loginAndList = {"USER alice", "PASS secret", "UIDL"};
const std::string capabilitiesWithStls = "+OK\r\nUSER\r\nSTLS\r\n.\r\n";

// The plain opening of STARTTLS up to the server's +OK to STLS; TLS comes next.
Script stlsAccepted(const std::string& capabilities = capabilitiesWithStls, const std::string& stlsReply = ok)
{
    return Script().send(greeting).expectLine("CAPA").send(capabilities).expectLine("STLS").send(stlsReply);
}

// From USER on, after the greeting (and STLS).
Script loginAndListing(Script script = Script())
{
    return script.login().expectLine("UIDL").send(listingReply).stall(3000);
}

// The server's replies of one whole check, each after the client line it answers.
struct Step {
    std::string clientLine; // expected before the reply; empty for the greeting
    std::string reply;
};

std::string imapTag(int number)
{
    return "a" + std::to_string(number) + " ";
}

// IMAP's tags from a<first>; its total from EXISTS.
std::vector<Step> dialogue(MailProtocol protocol, int first = 1)
{
    if (protocol == MailProtocol::Pop3)
        return {{"", greeting}, {"USER ", ok}, {"PASS ", ok}, {"UIDL", listingReply}};
    return {
        {"", "* OK [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n"},
        {imapTag(first) + "LOGIN", imapTag(first) + "OK [CAPABILITY IMAP4rev1] in\r\n"},
        {imapTag(first + 1) + "EXAMINE", "* 2 EXISTS\r\n* OK [UIDVALIDITY 7] v\r\n" + imapTag(first + 1) + "OK\r\n"},
        {imapTag(first + 2) + "UID SEARCH", "* SEARCH 1 2\r\n" + imapTag(first + 2) + "OK\r\n"}};
}

// `script`, then `steps` from `from` up to `step`, and only the first `keep` bytes of that one's reply.
Script upTo(const std::vector<Step>& steps, size_t step, size_t keep, Script script = Script(), size_t from = 0)
{
    for (size_t i = from; i <= step; ++i) {
        if (!steps[i].clientLine.empty())
            script.expectLine(steps[i].clientLine);
        script.send(i < step ? steps[i].reply : steps[i].reply.substr(0, keep));
    }
    return script;
}

// The client's commands among what the server read (a stalled plain server also reads the
// lines of a TLS ClientHello), IMAP's without their tags.
const std::vector<std::string> imapLoginAndList = {"LOGIN \"alice\" \"secret\"", "EXAMINE \"INBOX\"",
                                                   "UID SEARCH UNSEEN"};
std::vector<std::string> commandsIn(const std::vector<std::string>& lines)
{
    std::vector<std::string> commands;
    for (const std::string& line : lines) {
        std::string command = line.rfind('a', 0) == 0 ? line.substr(line.find(' ') + 1) : line;
        for (const char* name : {"USER", "PASS", "UIDL", "LOGIN", "EXAMINE", "UID SEARCH"})
            if (command.rfind(name, 0) == 0)
                commands.push_back(command);
    }
    return commands;
}

// A checker whose cycles the test runs itself, one at a time, with short time limits.
std::unique_ptr<CheckerThread> makeChecker(int limitSeconds)
{
    std::unique_ptr<CheckerThread> checker(new CheckerThread(0x8001));
    checker->pop3.setTimeouts(limitSeconds, limitSeconds);
    checker->imap.imap.setTimeouts(limitSeconds, limitSeconds);
    return checker;
}

const char* protocolName(MailProtocol protocol)
{
    return protocol == MailProtocol::Imap ? "Imap" : "Pop3";
}

// ---- Certificates ----

enum class Serve { Certificate, OldTls, NoCertificate, Silence, ResetInHandshake, CutListing };

struct CertificateRow {
    const char* name;
    Serve serve;
    const char* certificate; // base name in the test PKI
    CheckStatus shown;
    const char* host = "localhost"; // any name reaches the loopback server
};

void PrintTo(const CertificateRow& row, std::ostream* out)
{
    *out << row.name;
}

const CertificateRow certificateRows[] = {
    {"TrustedByTheTestCa", Serve::Certificate, "server", CheckStatus::Ok},
    {"Expired", Serve::Certificate, "expired", CheckStatus::BadCertificate},
    {"NotYetValid", Serve::Certificate, "notyetvalid", CheckStatus::BadCertificate},
    {"SelfSigned", Serve::Certificate, "selfsigned", CheckStatus::BadCertificate},
    {"UnknownCa", Serve::Certificate, "unknownca", CheckStatus::BadCertificate},
    {"WrongHost", Serve::Certificate, "wronghost", CheckStatus::BadCertificate},
    {"NulByteInTheName", Serve::Certificate, "nulname", CheckStatus::BadCertificate},
    // Without a subjectAltName the common name is the host's name, as RFC 2818 allows.
    {"CommonNameOnly", Serve::Certificate, "cnonly", CheckStatus::Ok},
    // *.example.test covers one label only.
    {"WildcardForOneLabel", Serve::Certificate, "wildcard", CheckStatus::Ok, "a.example.test"},
    {"WildcardNotForTwoLabels", Serve::Certificate, "wildcard", CheckStatus::BadCertificate, "a.b.example.test"},
    // Handshakes that fail before any certificate is judged: the server is reached, not secured.
    {"OnlyTls11", Serve::OldTls, "server", CheckStatus::TlsFailed},
    {"NoCertificateAtAll", Serve::NoCertificate, "", CheckStatus::TlsFailed},
    {"SilenceAfterClientHello", Serve::Silence, "", CheckStatus::NoResponse},
    {"ResetInTheHandshake", Serve::ResetInHandshake, "", CheckStatus::TlsFailed},
    {"EndWithoutCloseNotifyMidListing", Serve::CutListing, "server", CheckStatus::ListFailed},
};

// Every row on connect (port 995 or 993) and after STLS or STARTTLS, over POP3 and IMAP: the
// same verification every way.
using CertificateCase = std::tuple<CertificateRow, ConnectionSecurity, MailProtocol>;

// The test CA trusted, and a server to present its certificates.
class TrustedTestCa : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pki.create(folder.path()));
        trust.reset(new TrustedCaDirectory(pki.path("ca.pem")));
        ASSERT_TRUE(trust->isReady());
    }

    testbench::TempDirectory folder;
    testbench::TestPki pki;
    std::unique_ptr<TrustedCaDirectory> trust;
    ScriptedPop3Server server;
};

class CertificateMatrix : public TrustedTestCa, public ::testing::WithParamInterface<CertificateCase> {
protected:
    void serve(const CertificateRow& row, ConnectionSecurity security, MailProtocol protocol)
    {
        std::string cert = pki.path(std::string(row.certificate) + ".pem");
        std::string key = pki.path(std::string(row.certificate) + ".key");
        bool startTls = security == ConnectionSecurity::StartTls;
        bool imap = protocol == MailProtocol::Imap;
        std::vector<Step> steps = dialogue(protocol, startTls ? 3 : 1);
        // In plain up to the handshake, and up to USER or LOGIN (IMAP asks the capabilities
        // again inside TLS).
        Script beforeTls = !startTls ? Script()
                           : imap    ? upTo(steps, 0, std::string::npos).expectLine("a1 STARTTLS").send("a1 OK go\r\n")
                                     : stlsAccepted();
        Script afterTls = startTls ? Script(beforeTls).startTls() : Script();
        if (imap && startTls)
            afterTls.expectLine("a2 CAPABILITY").send("* CAPABILITY IMAP4rev1\r\na2 OK\r\n");
        Script script = upTo(steps, 3, std::string::npos, afterTls, startTls ? 1 : 0).stall(3000);
        switch (row.serve) {
        case Serve::Certificate:
            server.useTls(cert, key);
            break;
        case Serve::OldTls:
            server.useWeakTls(cert, key, TLS1_1_VERSION);
            break;
        case Serve::NoCertificate:
            server.useAnonymousTls();
            break;
        case Serve::Silence:
            script = beforeTls.stall(10000);
            break; // plain: never a ServerHello
        case Serve::ResetInHandshake:
            script = beforeTls.pause(200).disconnect();
            break;
        case Serve::CutListing:
            server.useTls(cert, key);
            script = upTo(steps, 3, imap ? 10 : 11, afterTls, startTls ? 1 : 0).disconnect(); // "1 a" or "1" arrived
            break;
        }
        server.addConnection(script);
        ASSERT_TRUE(server.start());
    }
};

TEST_P(CertificateMatrix, StatusShownAndCredentialsOnlyToAVerifiedServer)
{
    const CertificateRow& row = std::get<0>(GetParam());
    ConnectionSecurity security = std::get<1>(GetParam());
    MailProtocol protocol = std::get<2>(GetParam());
    serve(row, security, protocol);
    std::unique_ptr<CheckerThread> checker = makeChecker(2); // after the trust file is in place
    checker->pop3.steps.lookUp = mailtest::loopbackForEveryName;
    checker->imap.imap.steps.lookUp = mailtest::loopbackForEveryName;
    checker->setAccount(row.host, "alice", "secret", server.port(), security, 5, nullptr, TokenSignIn(), protocol);
    Stopwatch watch;
    checker->checkOnce();
    EXPECT_LT(watch.seconds(), 6.0) << "the cycle outlived its time limits";
    EXPECT_EQ(checker->takeSnapshot().status, row.shown);
    checker.reset();
    server.stop();
    bool verified = row.shown == CheckStatus::Ok || row.shown == CheckStatus::ListFailed;
    const std::vector<std::string>& sent = protocol == MailProtocol::Imap ? imapLoginAndList : loginAndList;
    EXPECT_EQ(commandsIn(server.receivedLines()), verified ? sent : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Table, CertificateMatrix,
                         ::testing::Combine(::testing::ValuesIn(certificateRows),
                                            ::testing::Values(ConnectionSecurity::TlsOnConnect,
                                                              ConnectionSecurity::StartTls),
                                            ::testing::Values(MailProtocol::Pop3, MailProtocol::Imap)),
                         [](const ::testing::TestParamInfo<CertificateCase>& info) {
                             bool startTls = std::get<1>(info.param) == ConnectionSecurity::StartTls;
                             return std::string(std::get<0>(info.param).name) + (startTls ? "AfterStartTls" : "") +
                                    protocolName(std::get<2>(info.param));
                         });

// ---- STARTTLS refused or attacked ----

// Each row is one connection to a STARTTLS account's server, checked by what the server read:
// nothing after a refusal, and no credential but inside TLS.
struct StartTlsRow {
    const char* name;
    Script script;
    CheckStatus shown;
    std::vector<std::string> received;
};

const std::vector<std::string> stlsAndLogin = {"CAPA", "STLS", "USER alice", "PASS secret", "UIDL"};

const StartTlsRow startTlsRows[] = {
    {"ListedInLowerCaseAmongOthers",
     loginAndListing(stlsAccepted("+OK\r\nTOP\r\nstls\r\nSASL PLAIN\r\n.\r\n").startTls()), CheckStatus::Ok,
     stlsAndLogin},
    {"NotListed",
     stlsAccepted("+OK\r\nUSER\r\nSASL PLAIN STLS\r\n.\r\n").stall(3000),
     CheckStatus::NoStartTls,
     {"CAPA"}},
    {"CapaRefused",
     Script().send(greeting).expectLine("CAPA").send("-ERR unknown command\r\n").stall(3000),
     CheckStatus::NoStartTls,
     {"CAPA"}},
    {"StlsRefused",
     stlsAccepted(capabilitiesWithStls, "-ERR not now\r\n").stall(3000),
     CheckStatus::NoStartTls,
     {"CAPA", "STLS"}},
    // Response injection: a reply to USER waiting in plain text behind the +OK to STLS.
    {"BytesInjectedBehindTheOk",
     loginAndListing(stlsAccepted(capabilitiesWithStls, "+OK\r\n+OK injected\r\n").startTls()),
     CheckStatus::TlsFailed,
     {"CAPA", "STLS"}},
};

void PrintTo(const StartTlsRow& row, std::ostream* out)
{
    *out << row.name;
}

class StartTlsMatrix : public TrustedTestCa, public ::testing::WithParamInterface<StartTlsRow> {};

TEST_P(StartTlsMatrix, StatusShownAndNothingSentOutsideTls)
{
    const StartTlsRow& row = GetParam();
    if (row.script.startsTlsItself()) // otherwise the server would start TLS on connect
        server.useTls(pki.path("server.pem"), pki.path("server.key"));
    server.addConnection(row.script);
    ASSERT_TRUE(server.start());
    std::unique_ptr<CheckerThread> checker = makeChecker(2);
    checker->pop3.steps.lookUp = mailtest::loopbackForEveryName;
    checker->setAccount("localhost", "alice", "secret", server.port(), ConnectionSecurity::StartTls, 5);
    checker->checkOnce();
    EXPECT_EQ(checker->takeSnapshot().status, row.shown);
    // What the server said in plain text is forgotten once TLS is up.
    EXPECT_TRUE(row.shown != CheckStatus::Ok || !checker->pop3.capabilities().read);
    checker.reset();
    server.stop();
    EXPECT_EQ(server.receivedLines(), row.received);
}

INSTANTIATE_TEST_SUITE_P(Table, StartTlsMatrix, ::testing::ValuesIn(startTlsRows),
                         [](const ::testing::TestParamInfo<StartTlsRow>& info) {
                             return std::string(info.param.name);
                         });

// ---- Logins with a token ----

const char address[] = "alice@example.test";
// A Microsoft access token runs to a few KB: far past the 255 bytes of a command line.
const std::string signedInToken(3000, 't');
const char refreshedToken[] = "a2";
const std::string capabilitiesWithTokens = "+OK\r\nUSER\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.\r\n";
const std::string capabilitiesWithBearerOnly = "+OK\r\nSASL OAUTHBEARER\r\n.\r\n";
// Stands in a row for OAUTHBEARER's response with the token after it: the response names the
// server's port, which is known only once the server listens.
const char bearerMark[] = "OAUTHBEARER response to ";
const std::string errorChallenge = "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0=\r\n";

std::string xoauth2(const std::string& token)
{
    return xoauth2InitialResponse(address, token);
}

// From the capabilities (read after TLS) to the server's "+ " after AUTH.
Script authAsked(Script script, const std::string& mechanism = "XOAUTH2",
                 const std::string& capabilities = capabilitiesWithTokens)
{
    return script.expectLine("CAPA").send(capabilities).expectLine("AUTH " + mechanism).send("+ \r\n");
}

Script tokenTaken(Script script)
{
    return script.expectLine().send(ok).expectLine("UIDL").send(listingReply).stall(3000);
}

// Refused at once, as Microsoft does, or after an error challenge, as Dovecot does.
Script tokenRefused(Script script, bool challenge, const char* refusal = "-ERR authentication failed\r\n")
{
    script.expectLine();
    if (challenge)
        script.send(errorChallenge).expectLine();
    return script.send(refusal).stall(3000);
}

const Script tlsGreeting = Script().send(greeting);

struct TokenRow {
    TokenRow(const char* name, ConnectionSecurity security, std::vector<Script> connections,
             std::vector<TokenOutcome> refreshes, CheckStatus shown, std::vector<std::string> received,
             const char* host = "localhost")
        : name(name), security(security), connections(connections), refreshes(refreshes), shown(shown),
          received(received), host(host)
    {
    }
    const char* name;
    ConnectionSecurity security;
    std::vector<Script> connections;
    std::vector<TokenOutcome> refreshes; // the token endpoint's answers to the stored refresh token, in order
    CheckStatus shown;
    std::vector<std::string> received;
    const char* host; // the account's server; every name leads to the scripted server
};

const std::vector<TokenOutcome> oneRefresh = {TokenOutcome::Tokens};
const std::vector<TokenOutcome> twoRefreshes = {TokenOutcome::Tokens, TokenOutcome::Tokens};

const TokenRow tokenRows[] = {
    TokenRow("XoauthResponseOnALineOfItsOwn", ConnectionSecurity::TlsOnConnect, {tokenTaken(authAsked(tlsGreeting))},
             oneRefresh, CheckStatus::Ok, {"CAPA", "AUTH XOAUTH2", xoauth2(signedInToken), "UIDL"}),
    TokenRow(
        "ErrorChallengeAnsweredThenRefreshedOnce", ConnectionSecurity::TlsOnConnect,
        {tokenRefused(authAsked(tlsGreeting), true), tokenTaken(authAsked(tlsGreeting))}, twoRefreshes, CheckStatus::Ok,
        {"CAPA", "AUTH XOAUTH2", xoauth2(signedInToken), "", "CAPA", "AUTH XOAUTH2", xoauth2(refreshedToken), "UIDL"}),
    TokenRow("OauthbearerErrorChallengeAnsweredWithX01", ConnectionSecurity::TlsOnConnect,
             {tokenRefused(authAsked(tlsGreeting, "OAUTHBEARER", capabilitiesWithBearerOnly), true),
              tokenTaken(authAsked(tlsGreeting, "OAUTHBEARER", capabilitiesWithBearerOnly))},
             twoRefreshes, CheckStatus::Ok,
             {"CAPA", "AUTH OAUTHBEARER", bearerMark + signedInToken, "AQ==", "CAPA", "AUTH OAUTHBEARER",
              bearerMark + std::string(refreshedToken), "UIDL"}),
    TokenRow("RefusedAfterTheRefreshTooIsSignInAgain", ConnectionSecurity::TlsOnConnect,
             {tokenRefused(authAsked(tlsGreeting), false), tokenRefused(authAsked(tlsGreeting), false)}, twoRefreshes,
             CheckStatus::SignInAgain,
             {"CAPA", "AUTH XOAUTH2", xoauth2(signedInToken), "CAPA", "AUTH XOAUTH2", xoauth2(refreshedToken)}),
    TokenRow("RefreshRefusedConnectsNowhere", ConnectionSecurity::TlsOnConnect, {}, {TokenOutcome::InvalidGrant},
             CheckStatus::SignInAgain, {}),
    TokenRow("TokenEndpointUnreachable", ConnectionSecurity::TlsOnConnect, {}, {TokenOutcome::Unreachable},
             CheckStatus::SignInUnreachable, {}),
    TokenRow("NeverOverPlainPop3", ConnectionSecurity::None, {Script().send(greeting).expectLine().stall(3000)},
             oneRefresh, CheckStatus::NoSignIn, {}),
    TokenRow("NoTokenMechanismListed", ConnectionSecurity::TlsOnConnect,
             {Script().send(greeting).expectLine("CAPA").send("+OK\r\nSASL PLAIN\r\n.\r\n").expectLine().stall(3000)},
             oneRefresh, CheckStatus::NoSignIn, {"CAPA"}),
    TokenRow("BusyServerTriedAgainWithoutARefresh", ConnectionSecurity::TlsOnConnect,
             {tokenRefused(authAsked(tlsGreeting), false, "-ERR [SYS/TEMP] try later\r\n")}, oneRefresh,
             CheckStatus::ServerBusy, {"CAPA", "AUTH XOAUTH2", xoauth2(signedInToken)}),
    TokenRow("NeverToAServerNotTheProviders", ConnectionSecurity::TlsOnConnect, {tokenTaken(authAsked(tlsGreeting))},
             {}, CheckStatus::NotSignInServer, {}, "outlook.office356.com"),
};

// Microsoft's sign-in, with the scripted server as its one mail server.
const char* const scriptedMailServers[] = {"localhost", nullptr};
const OAuthProvider& scriptedProvider()
{
    static OAuthProvider provider = [] {
        OAuthProvider entry = *findProvider(OAuthProviderId::Microsoft);
        entry.mailServers = scriptedMailServers;
        return entry;
    }();
    return provider;
}

void PrintTo(const TokenRow& row, std::ostream* out)
{
    *out << row.name;
}

class TokenLoginMatrix : public TrustedTestCa, public ::testing::WithParamInterface<TokenRow> {
protected:
    // A checker whose sign-in's token endpoint answers `refreshes`.
    std::unique_ptr<CheckerThread> signedInChecker(ConnectionSecurity security,
                                                   const std::vector<TokenOutcome>& refreshes,
                                                   const char* host = "localhost")
    {
        std::unique_ptr<CheckerThread> checker = makeChecker(2);
        checker->pop3.steps.lookUp = mailtest::loopbackForEveryName;
        checker->makeTokenEndpoint = [this, refreshes](const OAuthProvider&, const OAuthClient&) {
            std::unique_ptr<ScriptedEndpoint> made(new ScriptedEndpoint);
            for (TokenOutcome outcome : refreshes)
                made->answer(outcome, made->answers.empty() ? signedInToken.c_str() : refreshedToken, "r2");
            endpoint = made.get();
            return std::unique_ptr<TokenEndpoint>(std::move(made));
        };
        TokenSignIn signIn;
        signIn.provider = &scriptedProvider();
        signIn.client.id = "client";
        checker->setAccount(host, address, "", server.port(), security, 5, nullptr, signIn);
        checker->setRefreshToken("r1");
        return checker;
    }

    ScriptedEndpoint* endpoint = nullptr; // owned by the checker
};

TEST_P(TokenLoginMatrix, StatusShownAndTheTokenOnlyInsideTls)
{
    const TokenRow& row = GetParam();
    if (row.security != ConnectionSecurity::None)
        server.useTls(pki.path("server.pem"), pki.path("server.key"));
    for (const Script& script : row.connections)
        server.addConnection(script);
    ASSERT_TRUE(server.start());
    std::unique_ptr<CheckerThread> checker = signedInChecker(row.security, row.refreshes, row.host);
    checker->checkOnce();
    EXPECT_EQ(checker->takeSnapshot().status, row.shown);
    ASSERT_NE(endpoint, nullptr);
    EXPECT_EQ(endpoint->presented.size(), row.refreshes.size());
    checker.reset();
    server.stop();
    std::vector<std::string> expected = row.received;
    for (std::string& line : expected)
        if (line.rfind(bearerMark, 0) == 0)
            line = oauthBearerInitialResponse(address, "localhost", server.port(), line.substr(sizeof bearerMark - 1));
    EXPECT_EQ(server.receivedLines(), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, TokenLoginMatrix, ::testing::ValuesIn(tokenRows),
                         [](const ::testing::TestParamInfo<TokenRow>& info) { return std::string(info.param.name); });

// "Sign in again" is no failure to retry: the checker waits its interval (Check Now ends it
// as after a success) without asking the provider again, until a new sign-in.
TEST_F(TokenLoginMatrix, SignInAgainWaitsForTheUserAndANewSignInEndsIt)
{
    server.useTls(pki.path("server.pem"), pki.path("server.key"));
    server.addConnection(tokenTaken(authAsked(tlsGreeting)));
    ASSERT_TRUE(server.start());
    std::unique_ptr<CheckerThread> checker =
        signedInChecker(ConnectionSecurity::TlsOnConnect, {TokenOutcome::InvalidGrant});
    checker->retryMilliseconds = 60 * 60 * 1000; // a retry would not come within the test
    CheckReports reports;
    CheckerThread* observed = checker.get();
    reports.atWait = [observed](int n) {
        if (n == 2)
            observed->takeSignIn(OAuthTokens{signedInToken, "r3", 3600, TokenKeeper::Clock::now()});
        if (n < 3)
            observed->requestCheckNow();
        else
            observed->requestStop();
    };
    reports.attach(*checker);
    ASSERT_TRUE(checker->start());
    ASSERT_TRUE(reports.waitFor(3, 20000));
    checker->waitForExit();
    EXPECT_EQ(reports.at(0).status, CheckStatus::SignInAgain);
    EXPECT_EQ(reports.at(1).status, CheckStatus::SignInAgain);
    EXPECT_EQ(reports.at(2).status, CheckStatus::Ok);
    EXPECT_EQ(endpoint->presented.size(), 1u);
}

// ---- Broken dialogues ----

// What a cycle broken off at each step shows.
CheckStatus brokenAt(MailProtocol protocol, size_t step)
{
    size_t listing = protocol == MailProtocol::Pop3 ? 3 : 2; // the first step after the login
    return step == 0 ? CheckStatus::HostNotFound : step < listing ? CheckStatus::BadLogin : CheckStatus::ListFailed;
}

// Over POP3 and IMAP.
class BrokenDialogue : public ::testing::TestWithParam<MailProtocol> {
protected:
    void SetUp() override
    {
        seenPath = folder.path() + "/pellwick.uidl";
        ASSERT_TRUE(server.start());
    }

    // A checker after one complete check: ids of two messages, both unseen, and a seen file
    // that holds "kept". IMAP's next tag is then a4.
    void checkCompletely()
    {
        checker = makeChecker(1);
        server.addConnection(upTo(dialogue(GetParam()), 3, std::string::npos).stall(3000));
        checker->setAccount("127.0.0.1", "alice", "secret", server.port(), ConnectionSecurity::None, 5, nullptr,
                            TokenSignIn(), GetParam());
        ASSERT_TRUE(checker->checkOnce() == CheckStatus::Ok);
        std::FILE* file = std::fopen(seenPath.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("kept\n", file);
        std::fclose(file);
    }

    // The dialogue of the cycle after checkCompletely().
    std::vector<Step> nextDialogue() const { return dialogue(GetParam(), 4); }

    // Runs one cycle against `script` after a complete one: the status it shows, with the
    // counts and the seen file as the complete check left them.
    void expectCycle(const Script& script, CheckStatus shown, double limitSeconds, const std::string& what)
    {
        checkCompletely();
        server.addConnection(script);
        Stopwatch watch;
        checker->checkOnce();
        double took = watch.seconds();
        CheckSnapshot now = checker->takeSnapshot();
        EXPECT_EQ(now.status, shown) << what;
        EXPECT_EQ(now.totalCount, 2) << what;
        EXPECT_EQ(now.unseenCount, 2) << what;
        EXPECT_LT(took, limitSeconds) << what;
        Mailbox reader;
        EXPECT_TRUE(loadSeenFile(reader, seenPath.c_str()) && reader.seen.size() == 1u) << what;
    }

    testbench::TempDirectory folder;
    std::string seenPath;
    ScriptedPop3Server server;
    std::unique_ptr<CheckerThread> checker;
};

TEST_P(BrokenDialogue, EveryReplyCutAtEveryByte)
{
    std::vector<Step> steps = nextDialogue();
    for (size_t step = 0; step < steps.size(); ++step)
        for (size_t keep = 0; keep < steps[step].reply.size(); ++keep)
            expectCycle(upTo(steps, step, keep).disconnect(), brokenAt(GetParam(), step), 3.0,
                        "step " + std::to_string(step) + " cut after " + std::to_string(keep) + " bytes");
}

TEST_P(BrokenDialogue, DisconnectOrStallAtEachStepEndsWithinTheLimit)
{
    std::vector<Step> steps = nextDialogue();
    for (size_t step = 0; step < steps.size(); ++step) {
        std::string where = "step " + std::to_string(step);
        expectCycle(upTo(steps, step, 0).disconnect(), brokenAt(GetParam(), step), 3.0, "disconnect at " + where);
        // A stall is a silent server: the one-second limit ends it whatever the step.
        expectCycle(upTo(steps, step, 0).stall(10000), CheckStatus::NoResponse, 3.5, "stall at " + where);
    }
}

TEST_P(BrokenDialogue, OneByteDripSlowerThanTheLimitOverallStillCompletes)
{
    // 30 ms a byte: the listing reply alone takes longer than the one-second limit, which
    // counts from the last progress, not from the start. Four messages where there were two.
    checkCompletely();
    std::vector<Step> steps = nextDialogue();
    bool imap = GetParam() == MailProtocol::Imap;
    steps[2].reply = imap ? "* 4 EXISTS\r\n* OK [UIDVALIDITY 7] v\r\na5 OK\r\n" : steps[2].reply;
    std::string listing = imap ? "* SEARCH 1 2 3 4\r\na6 OK\r\n" : "+OK\r\n1 a\r\n2 b\r\n3 c\r\n4 d\r\n.\r\n";
    server.addConnection(upTo(steps, 3, 0).sendSplit(listing, 1, 30).stall(3000));
    EXPECT_TRUE(checker->checkOnce() == CheckStatus::Ok);
    EXPECT_EQ(checker->takeSnapshot().totalCount, 4);
}

INSTANTIATE_TEST_SUITE_P(Table, BrokenDialogue, ::testing::Values(MailProtocol::Pop3, MailProtocol::Imap),
                         [](const ::testing::TestParamInfo<MailProtocol>& info) {
                             return std::string(protocolName(info.param));
                         });

// A locked mailbox: every cycle fails at PASS as a busy server, not a refused password, and the
// checker pauses between attempts instead of reconnecting at once. Report times are the checker's own, so this holds however
// slowly the test's thread runs.
TEST(MailboxInUse, CheckerPausesBetweenAttempts)
{
    ScriptedPop3Server server;
    for (int i = 0; i < 3; ++i)
        server.addConnection(loggedIn("-ERR [IN-USE] mailbox locked\r\n").stall(3000));
    ASSERT_TRUE(server.start());
    CheckReports reports;
    std::unique_ptr<CheckerThread> checker = makeChecker(2);
    checker->retryMilliseconds = 300;
    reports.attach(*checker);
    checker->setAccount("127.0.0.1", "alice", "secret", server.port(), ConnectionSecurity::None, 0);
    ASSERT_TRUE(checker->start());
    ASSERT_TRUE(reports.waitFor(3, 10000));
    checker.reset();
    EXPECT_EQ(reports.at(0).status, CheckStatus::ServerBusy);
    EXPECT_GE(reports.secondsBetween(0, 1), 0.3);
    EXPECT_GE(reports.secondsBetween(1, 2), 0.3);
}

} // namespace
