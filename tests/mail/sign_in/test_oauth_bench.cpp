// Sign-ins against the bench (tests/support/oauth): the mock authorization server, a browser
// played by a script (natively started by the test, under Wine by winebrowser through
// ShellExecute), and a Dovecot whose oauth2 passdb asks the mock about each token.
#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "mail/checker/checker_thread.h"
#include "mail/connection/connection.h"
#include "mail/sign_in/device_sign_in.h"
#include "mail/sign_in/oauth_sign_in.h"
#include "mail/sign_in/oauth_token_keeper.h"
#include "mail/sign_in/sasl_oauth.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/oauth/oauth_fixture.h"
#include "tests/support/scripted_pop3_server.h"

namespace {

const char address[] = "alice@example.test";

class SignInBench : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(testbench::OAuthFixture::fromEnvironment(bench)) << "the sign-in bench is not running";
        trust.reset(new mailtest::TrustedCaDirectory(bench.caFile()));
        ASSERT_TRUE(trust->isReady());
    }

    SignInFlow::Result signIn(const char* clientId, int waitSeconds = 60)
    {
        SignInFlow flow(bench.provider(), OAuthClient{clientId, ""}, MailProtocol::Pop3);
        flow.waitSeconds = waitSeconds;
#ifndef _WIN32
        flow.openBrowser = [](const std::string& url) {
            std::string command =
                std::string("python3 '") + PELLWICK_BROWSER_SCRIPT + "' '" + url + "' >/dev/null 2>&1 &";
            return std::system(command.c_str()) == 0;
        };
#endif
        return flow.run(address);
    }

    // A device sign-in at the mock for `client`, whose name scripts the mock's answers.
    std::unique_ptr<DeviceSignIn> deviceSignIn(const char* client)
    {
        return std::make_unique<DeviceSignIn>(bench.url("/devicecode"), bench.provider().tokenEndpoint,
                                              bench.provider().pop3Scope, OAuthClient{client, ""});
    }

    // One POP3 line from the Dovecot of the bench, CR LF included.
    std::string line(Connection& pop3)
    {
        std::string text;
        char c = 0;
        while (text.size() < 8192 && (text.empty() || text.back() != '\n') && pop3.read(&c, 1) == 1)
            text += c;
        return text;
    }
    std::string say(Connection& pop3, const std::string& command)
    {
        std::string sent = command + "\r\n";
        pop3.write(sent.data(), static_cast<int>(sent.size()));
        return line(pop3);
    }
    bool connect(Connection& pop3, bool imap = false)
    {
        pop3.setTimeouts(10, 10);
        return pop3.open("127.0.0.1", imap ? bench.imapPort() : bench.pop3Port(), ConnectionSecurity::None) &&
               line(pop3).compare(0, 4, imap ? "* OK" : "+OK ") == 0;
    }

    testbench::OAuthFixture bench;
    std::unique_ptr<mailtest::TrustedCaDirectory> trust;
};

} // namespace

TEST_F(SignInBench, SignedInTokensLogInEveryWayAndTheRefreshTokenRotates)
{
    SignInFlow::Result result = signIn("pellwick");
    ASSERT_EQ(result.outcome, SignInFlow::Outcome::SignedIn) << result.error;
    const std::string& token = result.tokens.accessToken;
    ASSERT_FALSE(result.tokens.refreshToken.empty());

    // POP3's AUTH and IMAP's AUTHENTICATE against the same oauth2 passdb; one line is the
    // initial response (IMAP's SASL-IR).
    struct Login {
        bool imap;
        const char* mechanism;
        std::string response;
        bool twoLines;
    } logins[] = {
        {false, "XOAUTH2", xoauth2InitialResponse(address, token), true},
        {false, "XOAUTH2", xoauth2InitialResponse(address, token), false},
        {false, "OAUTHBEARER", oauthBearerInitialResponse(address, "localhost", bench.pop3Port(), token), false},
        {true, "XOAUTH2", xoauth2InitialResponse(address, token), true},
        {true, "XOAUTH2", xoauth2InitialResponse(address, token), false},
        {true, "OAUTHBEARER", oauthBearerInitialResponse(address, "localhost", bench.imapPort(), token), true},
        {true, "OAUTHBEARER", oauthBearerInitialResponse(address, "localhost", bench.imapPort(), token), false},
    };
    for (const Login& login : logins) {
        Connection server;
        ASSERT_TRUE(connect(server, login.imap));
        std::string auth = std::string(login.imap ? "a AUTHENTICATE " : "AUTH ") + login.mechanism;
        if (login.twoLines) {
            EXPECT_EQ(say(server, auth), "+ \r\n");
        }
        std::string reply = say(server, login.twoLines ? login.response : auth + " " + login.response);
        EXPECT_EQ(reply.substr(0, 4), login.imap ? "a OK" : "+OK ")
            << (login.imap ? "IMAP " : "POP3 ") << login.mechanism << " " << reply;
    }

    TokenEndpoint endpoint(bench.provider().tokenEndpoint, OAuthClient{"pellwick", ""});
    TokenResult refreshed = endpoint.refresh(result.tokens.refreshToken);
    ASSERT_EQ(refreshed.outcome, TokenOutcome::Tokens);
    EXPECT_NE(refreshed.tokens.refreshToken, result.tokens.refreshToken);
    EXPECT_EQ(endpoint.refresh(result.tokens.refreshToken).outcome, TokenOutcome::InvalidGrant);
}

TEST_F(SignInBench, BrowsersThatDoNotBringACodeBack)
{
    struct Case {
        const char* client; // the mock's behaviour
        int waitSeconds;
        SignInFlow::Outcome outcome;
    } cases[] = {
        {"deny", 60, SignInFlow::Outcome::Denied},
        {"no-redirect", 3, SignInFlow::Outcome::TimedOut},
        {"wrong-state", 3, SignInFlow::Outcome::TimedOut},
        {"wrong-issuer", 3, SignInFlow::Outcome::TimedOut},
    };
    for (const Case& c : cases)
        EXPECT_EQ(signIn(c.client, c.waitSeconds).outcome, c.outcome) << c.client;
}

TEST_F(SignInBench, TokenEndpointsThatCannotBeTrustedOrRead)
{
    // The bench's trusted certificate, offered over TLS 1.1 at most.
    std::string pki = bench.caFile().substr(0, bench.caFile().find_last_of("/\\") + 1);
    testbench::ScriptedPop3Server oldTls;
    oldTls.useWeakTls(pki + "server.pem", pki + "server.key", TLS1_1_VERSION);
    oldTls.addConnection(testbench::Script().stall(5000));
    ASSERT_TRUE(oldTls.start());
    struct Case {
        std::string url;
        const char* client; // the mock's behaviour
        TokenOutcome outcome;
        HttpsError transport;
    } cases[] = {
        {bench.url("/token", true), "pellwick", TokenOutcome::Unreachable, HttpsError::TlsRefused},
        {"https://localhost:" + std::to_string(oldTls.port()) + "/token", "pellwick", TokenOutcome::Unreachable,
         HttpsError::TlsRefused},
        {bench.provider().tokenEndpoint, "oversized", TokenOutcome::Unusable, HttpsError::ReplyTooLarge},
    };
    for (const Case& c : cases) {
        TokenEndpoint endpoint(c.url, OAuthClient{c.client, ""});
        TokenResult result = endpoint.refresh("r");
        EXPECT_EQ(result.outcome, c.outcome) << c.url;
        EXPECT_EQ(result.transport, c.transport) << c.url;
    }
    oldTls.stop();
}

// Whole checks against Dovecot: XOAUTH2 on connect, where a stale token is refused with an
// error challenge and refreshed at the mock; OAUTHBEARER where the server lists only it and
// refuses any login before STLS.
TEST_F(SignInBench, ChecksLogInWithTokensAndCountTheMailbox)
{
    SignInFlow::Result signedIn = signIn("pellwick");
    ASSERT_EQ(signedIn.outcome, SignInFlow::Outcome::SignedIn);
    Connection plain;
    ASSERT_TRUE(plain.open("127.0.0.2", bench.strictPop3Port(), ConnectionSecurity::None));
    EXPECT_EQ(line(plain).substr(0, 3), "+OK");
    EXPECT_EQ(say(plain, "AUTH OAUTHBEARER").substr(0, 4), "-ERR") << "the strict server takes plain logins";

    struct Check {
        const char* host;
        int port;
        ConnectionSecurity security;
        std::string accessToken;
        std::string refreshToken;
    } checks[] = {
        {"localhost", bench.pop3sPort(), ConnectionSecurity::TlsOnConnect, "stale", signedIn.tokens.refreshToken},
        {"127.0.0.2", bench.strictPop3Port(), ConnectionSecurity::StartTls, bench.mintAccessToken(address), ""},
    };
    for (const Check& check : checks) {
        SCOPED_TRACE(check.host);
        CheckerThread checker(0x8001);
        checker.pop3.setTimeouts(10, 10);
        checker.setAccount(check.host, address, "", check.port, check.security, 5, nullptr,
                           TokenSignIn{&bench.provider(), OAuthClient{"pellwick", ""}, bench.provider().pop3Scope});
        checker.takeSignIn(OAuthTokens{check.accessToken, check.refreshToken, 3600, TokenKeeper::Clock::now()});
        checker.checkOnce();
        EXPECT_EQ(checker.takeSnapshot().status, CheckStatus::Ok);
        EXPECT_EQ(checker.takeSnapshot().totalCount, 2);
        std::string saved; // the refresh replaced the stale token and the refresh token
        checker.takeRotatedRefreshToken(saved);
        EXPECT_TRUE(check.refreshToken.empty() ? saved.empty() : !saved.empty() && saved != check.refreshToken);
    }
}

// The mock answers each poll as the client id scripts it; the waits between polls step a clock
// of the test's own, so that no row waits for real.
TEST_F(SignInBench, DeviceSignInsPollAsTheProviderAsks)
{
    using Outcome = DeviceSignIn::Outcome;
    struct Case {
        const char* client;
        Outcome outcome;
        std::vector<long> waits; // seconds, before each poll and before giving up
        const char* error;
    } cases[] = {
        {"answers=tokens", Outcome::SignedIn, {5}, ""},
        {"answers=authorization_pending,authorization_pending,slow_down,authorization_pending,tokens;interval=2",
         Outcome::SignedIn,
         {2, 2, 2, 7, 7},
         ""},
        {"answers=temporarily_unavailable,server_error,tokens;interval=3", Outcome::SignedIn, {3, 6, 12}, ""},
        {"answers=authorization_pending,authorization_declined;interval=3",
         Outcome::Denied,
         {3, 3},
         "authorization_declined"},
        {"answers=access_denied;interval=3", Outcome::Denied, {3}, "access_denied"},
        {"answers=expired_token;interval=3", Outcome::Expired, {3}, "expired_token"},
        {"answers=authorization_pending,authorization_pending,authorization_pending;interval=5;expires=12",
         Outcome::Expired,
         {5, 5, 2},
         ""},
        {"answers=bad_verification_code;interval=3", Outcome::Refused, {3}, "bad_verification_code"},
        {"refuse=invalid_client", Outcome::Refused, {}, "invalid_client"},
        {"oversized", Outcome::Failed, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.client);
        std::unique_ptr<DeviceSignIn> flow = deviceSignIn(c.client);
        DeviceSignIn::Clock::time_point clock;
        std::vector<long> waits;
        flow->now = [&] { return clock; };
        flow->pause = [&](DeviceSignIn::Clock::duration wait) {
            clock += wait;
            waits.push_back(static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(wait).count()));
        };
        DeviceCode code;
        DeviceSignIn::Result result = flow->requestCode(code);
        if (result.outcome == Outcome::CodeReady) {
            EXPECT_EQ(code.verificationUri, bench.url("/device"));
            EXPECT_FALSE(code.userCode.empty());
            result = flow->waitForTokens();
        }
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(waits, c.waits);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.tokens.refreshToken.empty(), c.outcome != Outcome::SignedIn);
    }
}

TEST_F(SignInBench, AnAbortEndsTheWaitBetweenPollsAtOnce)
{
    std::unique_ptr<DeviceSignIn> flow = deviceSignIn("answers=authorization_pending;interval=60");
    DeviceCode code;
    ASSERT_EQ(flow->requestCode(code).outcome, DeviceSignIn::Outcome::CodeReady);
    std::promise<void> waiting;
    int pauses = 0;
    auto clockPause = flow->pause;
    flow->pause = [&](DeviceSignIn::Clock::duration wait) {
        if (pauses++ == 0)
            waiting.set_value();
        clockPause(wait);
    };
    auto run = std::async(std::launch::async, [&] { return flow->waitForTokens().outcome; });
    bool entered = waiting.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    flow->abort();
    ASSERT_TRUE(entered);
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "still waiting out the interval";
    EXPECT_EQ(run.get(), DeviceSignIn::Outcome::Aborted);
    EXPECT_EQ(pauses, 1);
}
