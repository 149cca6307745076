// The sign-in's pieces that need no server: PKCE and the authorization URL, the provider
// table, the SASL messages, the replies of token endpoints and of HTTP, and the token keeper.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "mail/sign_in/device_sign_in.h"
#include "mail/sign_in/http_reply_reader.h"
#include "mail/sign_in/microsoft_authority.h"
#include "mail/sign_in/oauth_provider.h"
#include "mail/sign_in/oauth_redirect_listener.h"
#include "mail/sign_in/oauth_request.h"
#include "mail/sign_in/oauth_sign_in.h"
#include "mail/sign_in/oauth_token_keeper.h"
#include "mail/sign_in/sasl_oauth.h"
#include "mail/sign_in/https_post.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/socket_compat.h"

TEST(Pkce, ChallengeOfTheRfcExampleAndFreshPairs)
{
    // RFC 7636, appendix B.
    EXPECT_EQ(codeChallengeS256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    PkcePair first, second;
    std::string state;
    ASSERT_TRUE(makePkcePair(first) && makePkcePair(second) && makeState(state));
    EXPECT_EQ(first.verifier.size(), 43u);
    EXPECT_EQ(first.verifier.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    EXPECT_EQ(first.challenge, codeChallengeS256(first.verifier));
    EXPECT_NE(first.verifier, second.verifier);
    EXPECT_EQ(state.size(), 22u);
}

TEST(AuthorizationUrl, EveryValueIsPercentEncoded)
{
    OAuthProvider provider = *findProvider(OAuthProviderId::Google);
    OAuthClient client{"id/1+2", "s"};
    AuthorizationRequest request{"http://127.0.0.1:5000/", "ch_a-l", "st~.", "a b&c=d@gmail.com",
                                 scopeFor(provider, MailProtocol::Imap)};
    EXPECT_EQ(authorizationUrl(provider, client, request),
              "https://accounts.google.com/o/oauth2/v2/auth?response_type=code&client_id=id%2F1%2B2"
              "&redirect_uri=http%3A%2F%2F127.0.0.1%3A5000%2F&scope=https%3A%2F%2Fmail.google.com%2F"
              "&state=st~.&code_challenge=ch_a-l&code_challenge_method=S256"
              "&login_hint=a%20b%26c%3Dd%40gmail.com&access_type=offline&prompt=consent");
    EXPECT_EQ(refreshForm(client, "r/=t", ""), "grant_type=refresh_token&refresh_token=r%2F%3Dt&client_id=id%2F1%2B2"
                                               "&client_secret=s");
    struct Case {
        const char* encoded;
        bool decodes;
        const char* decoded;
    } cases[] = {{"a%20b+c%2F", true, "a b c/"},
                 {"%7e%7E", true, "~~"},
                 {"bad%2", false, ""},
                 {"bad%zz", false, ""},
                 {"nul%00", false, ""}};
    for (const Case& c : cases) {
        std::string decoded;
        EXPECT_EQ(percentDecode(c.encoded, std::strlen(c.encoded), decoded), c.decodes) << c.encoded;
        EXPECT_EQ(c.decodes ? decoded : "", c.decoded) << c.encoded;
    }
}

TEST(Providers, AddressesAndClientIds)
{
    struct Case {
        const char* address;
        const OAuthProvider* provider;
    } cases[] = {{"a@outlook.com", findProvider(OAuthProviderId::Microsoft)},
                 {"a@Hotmail.COM", findProvider(OAuthProviderId::Microsoft)},
                 {"a@live.com", findProvider(OAuthProviderId::Microsoft)},
                 {"a@msn.com", findProvider(OAuthProviderId::Microsoft)},
                 {"a@gmail.com", findProvider(OAuthProviderId::Google)},
                 {"x@y@googlemail.com", findProvider(OAuthProviderId::Google)},
                 {"a@outlook.com.evil.test", nullptr},
                 {"gmail.com", nullptr},
                 {"a@example.com", nullptr}};
    for (const Case& c : cases)
        EXPECT_EQ(providerForAddress(c.address), c.provider) << c.address;
    const OAuthProvider& microsoft = *findProvider(OAuthProviderId::Microsoft);
    // The scope follows the protocol, in the sign-in's URL and in every refresh (as both carry
    // it); the provider's servers of both protocols take its tokens.
    struct ScopeCase {
        OAuthProviderId provider;
        MailProtocol protocol;
        const char* scope;
        const char* server;
    } scopeCases[] = {
        {OAuthProviderId::Microsoft, MailProtocol::Pop3,
         "https%3A%2F%2Foutlook.office.com%2FPOP.AccessAsUser.All%20offline_access", "outlook.office365.com"},
        {OAuthProviderId::Microsoft, MailProtocol::Imap,
         "https%3A%2F%2Foutlook.office.com%2FIMAP.AccessAsUser.All%20offline_access", "outlook.office365.com"},
        {OAuthProviderId::Google, MailProtocol::Pop3, "https%3A%2F%2Fmail.google.com%2F", "pop.gmail.com"},
        {OAuthProviderId::Google, MailProtocol::Imap, "https%3A%2F%2Fmail.google.com%2F", "imap.gmail.com"},
    };
    for (const ScopeCase& c : scopeCases) {
        const OAuthProvider& provider = *findProvider(c.provider);
        std::string scope = std::string("&scope=") + c.scope + "&";
        SignInFlow flow(provider, OAuthClient{"id", ""}, c.protocol);
        std::string opened;
        flow.openBrowser = [&opened](const std::string& url) {
            opened = url;
            return false;
        };
        EXPECT_EQ(flow.run("a@example.test").outcome, SignInFlow::Outcome::BrowserFailed);
        EXPECT_NE(opened.find(scope), std::string::npos) << opened;
        std::string refresh = refreshForm(OAuthClient{"id", ""}, "r", scopeFor(provider, c.protocol)) + "&";
        EXPECT_NE(refresh.find(scope), std::string::npos) << refresh;
        EXPECT_TRUE(servesMail(provider, c.server)) << c.server;
    }

    OAuthProvider google = *findProvider(OAuthProviderId::Google);
    google.builtInClientId = "built-in";
    google.builtInClientSecret = "built-in-secret";
    OAuthClient client;
    EXPECT_EQ(resolveClient(google, "", nullptr, client), ClientSetup::Ready);
    EXPECT_EQ(client.secret, "built-in-secret");
    EXPECT_EQ(resolveClient(google, "mine", "", client), ClientSetup::MissingClientSecret);
    EXPECT_EQ(resolveClient(google, "mine", "my-secret", client), ClientSetup::Ready);
    EXPECT_EQ(client.id + client.secret, "minemy-secret");
    google.builtInClientId = "";
    EXPECT_EQ(resolveClient(google, nullptr, nullptr, client), ClientSetup::MissingClientId);
    EXPECT_EQ(resolveClient(microsoft, "mine", nullptr, client), ClientSetup::Ready);
}

TEST(Providers, MicrosoftAuthoritiesAndNothingElseGoIntoTheUrl)
{
    struct Case {
        const char* authority;
        const char* named; // as it stands in the URL; null: refused
    } cases[] = {{"", "common"},
                 {"Organizations", "organizations"},
                 {"72f988bf-86f1-41af-91ab-2d7cd011db47", "72f988bf-86f1-41af-91ab-2d7cd011db47"},
                 {"contoso.onmicrosoft.com", "contoso.onmicrosoft.com"},
                 {"contoso", nullptr},
                 {"192.168.0.1", nullptr},
                 {"-contoso.com", nullptr},
                 {"contoso..com", nullptr},
                 {"contoso.com/../evil", nullptr},
                 {"common?x=1", nullptr},
                 {"72f988bf-86f1-41af-91ab-2d7cd011db4g", nullptr}};
    for (const Case& c : cases) {
        MicrosoftEndpoints endpoints;
        ASSERT_EQ(microsoftEndpoints(c.authority, endpoints), c.named != nullptr) << c.authority;
        // The sign-in's provider: the same entry each time, with these endpoints.
        const OAuthProvider* provider = providerForSignIn(SignInMethod::Microsoft, c.authority);
        ASSERT_EQ(provider != nullptr, c.named != nullptr) << c.authority;
        if (c.named != nullptr) {
            std::string base = std::string("https://login.microsoftonline.com/") + c.named + "/oauth2/v2.0/";
            EXPECT_EQ(endpoints.authorization + " " + endpoints.token + " " + endpoints.deviceAuthorization,
                      base + "authorize " + base + "token " + base + "devicecode");
            EXPECT_EQ(std::string(provider->authorizationEndpoint) + " " + provider->tokenEndpoint + " " +
                          provider->deviceAuthorizationEndpoint,
                      base + "authorize " + base + "token " + base + "devicecode");
            EXPECT_EQ(provider, providerForSignIn(SignInMethod::Microsoft, c.named)) << c.authority;
        }
    }
    EXPECT_EQ(providerForSignIn(SignInMethod::Google, "contoso"), findProvider(OAuthProviderId::Google));
}

TEST(Sasl, InitialResponsesOfThePublishedExamples)
{
    EXPECT_EQ(xoauth2InitialResponse("someuser@example.com", "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg"),
              "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSFJoZG1semRHRXVZ"
              "Mjl0Q2cBAQ==");
    EXPECT_EQ(oauthBearerInitialResponse("user@example.com", "server.example.com", 143,
                                         "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg=="),
              "bixhPXVzZXJAZXhhbXBsZS5jb20sAWhvc3Q9c2VydmVyLmV4YW1wbGUuY29tAXBvcnQ9MTQzAWF1dGg9QmVhcmVyIHZGOWRmdDRxbVRj"
              "Mk52YjNSbGNrQmhiSFJoZG1semRHRXVZMjl0Q2c9PQEB");
    EXPECT_EQ(oauthBearerInitialResponse("a=b,c@example.com", "h", 995, "t"),
              "bixhPWE9M0RiPTJDY0BleGFtcGxlLmNvbSwBaG9zdD1oAXBvcnQ9OTk1AWF1dGg9QmVhcmVyIHQBAQ==");
    // Nothing that could end a field or a line is ever encoded.
    EXPECT_EQ(xoauth2InitialResponse("a@b\x01", "t"), "");
    EXPECT_EQ(xoauth2InitialResponse("a@b", "t\x01"
                                            "auth=x"),
              "");
    EXPECT_EQ(xoauth2InitialResponse("a@b", "t u"), "");
    EXPECT_EQ(oauthBearerInitialResponse("a@b", "h\r\n", 995, "t"), "");
}

TEST(TokenReplies, WhatEachEndpointAnswerMeans)
{
    struct Case {
        int status;
        std::string body;
        TokenOutcome kind;
        long expiresIn;
    } cases[] = {
        {200, R"({"access_token":"a.b-c","token_type":"Bearer","expires_in":3599,"refresh_token":"M.C5!*r"})",
         TokenOutcome::Tokens, 3599},
        {200, R"({"access_token":"a","token_type":"bearer","expires_in":"120"})", TokenOutcome::Tokens, 120},
        {200, R"({"access_token":"a","token_type":"Bearer"})", TokenOutcome::Tokens, defaultTokenLifetimeSeconds},
        {400, R"({"error":"invalid_grant","error_description":"AADSTS70000"})", TokenOutcome::InvalidGrant, 0},
        {401, R"({"error":"invalid_client"})", TokenOutcome::Refused, 0},
        {400, R"({"error":"unauthorized_client"})", TokenOutcome::Refused, 0},
        {503, R"({"error":"temporarily_unavailable"})", TokenOutcome::Temporary, 0},
        {500, R"({"error":"server_error"})", TokenOutcome::Temporary, 0},
        {400, R"({"error":"slow_down"})", TokenOutcome::Temporary, 0},
        {429, "Too many requests", TokenOutcome::Temporary, 0},
        {200, R"({"access_token":"a","token_type":"mac","expires_in":1})", TokenOutcome::Unusable, 0},
        {200, R"({"access_token":"a b","token_type":"Bearer"})", TokenOutcome::Unusable, 0},
        {200, R"({"access_token":"a","token_type":"Bearer","expires_in":-5})", TokenOutcome::Unusable, 0},
        {200, R"({"access_token":"a","token_type":"Bearer","refresh_token":7})", TokenOutcome::Unusable, 0},
        {500, R"({"access_token":"a","token_type":"Bearer"})", TokenOutcome::Temporary, 0},
        {502, "<html>Bad gateway</html>", TokenOutcome::Temporary, 0},
        {404, "<html>Not found</html>", TokenOutcome::Unusable, 0},
        {200, std::string(maxTokenReplyBytes / 2, '[') + std::string(maxTokenReplyBytes / 2, ']'),
         TokenOutcome::Unusable, 0},
        {200, R"({"access_token":")" + std::string(maxTokenReplyBytes, 'a') + R"(","token_type":"Bearer"})",
         TokenOutcome::Unusable, 0},
    };
    for (const Case& c : cases) {
        TokenResult reply;
        EXPECT_EQ(parseTokenReply(c.status, c.body, reply), c.kind) << c.body.substr(0, 80);
        EXPECT_EQ(reply.tokens.expiresInSeconds, c.expiresIn) << c.body.substr(0, 80);
        EXPECT_EQ(reply.tokens.accessToken.empty(), c.kind != TokenOutcome::Tokens);
    }
    TokenResult reply;
    parseTokenReply(200, cases[0].body, reply);
    EXPECT_EQ(reply.tokens.refreshToken, "M.C5!*r");
}

TEST(TokenReplies, DeviceCodeReplies)
{
    const std::string good = R"("device_code":"d-1","user_code":"AB12-CD34","verification_uri":"https://x.test/d")";
    struct Case {
        int status;
        std::string body;
        DeviceCodeReplyKind kind;
        long expiresIn;
        int interval;
        const char* message;
    } cases[] = {
        {200, "{" + good + R"(,"expires_in":900,"interval":5,"message":"Go."})", DeviceCodeReplyKind::Code, 900, 5,
         "Go."},
        {200, "{" + good + R"(,"expires_in":"600","interval":1,"message":"a\nb"})", DeviceCodeReplyKind::Code, 600,
         DeviceSignIn::minIntervalSeconds, ""},
        {200, "{" + good + R"(,"expires_in":86400,"interval":3600})", DeviceCodeReplyKind::Code,
         DeviceSignIn::maxExpirySeconds, DeviceSignIn::maxIntervalSeconds, ""},
        {200,
         R"({"device_code":"d","user_code":"U","verification_url":"https://x.test/","expires_in":9,"interval":5.5})",
         DeviceCodeReplyKind::Code, 9, DeviceSignIn::defaultIntervalSeconds, ""},
        {200, "{" + good + "}", DeviceCodeReplyKind::Unusable, 0, 0, ""},
        {200, "{" + good + R"(,"expires_in":-1})", DeviceCodeReplyKind::Unusable, 0, 0, ""},
        {200, R"({"device_code":"d","user_code":"U","verification_uri":"http://x.test/","expires_in":9})",
         DeviceCodeReplyKind::Unusable, 0, 0, ""},
        {200, R"({"device_code":"d","user_code":"U V","verification_uri":"https://x.test/","expires_in":9})",
         DeviceCodeReplyKind::Unusable, 0, 0, ""},
        {400, R"({"error":"invalid_client"})", DeviceCodeReplyKind::Refused, 0, 0, ""},
        {500, "{" + good + R"(,"expires_in":900})", DeviceCodeReplyKind::Unusable, 0, 0, ""},
    };
    for (const Case& c : cases) {
        DeviceCode code;
        std::string error;
        EXPECT_EQ(parseDeviceCodeReply(c.status, c.body, code, error), c.kind) << c.body;
        EXPECT_EQ(code.expiresInSeconds, c.expiresIn) << c.body;
        EXPECT_EQ(code.intervalSeconds, c.interval) << c.body;
        EXPECT_EQ(code.message, c.message) << c.body;
        EXPECT_EQ(code.userCode.empty(), c.kind != DeviceCodeReplyKind::Code) << c.body;
        EXPECT_EQ(error, c.kind == DeviceCodeReplyKind::Refused ? "invalid_client" : "");
    }
}

// Closing the dialog aborts a sign-in from another thread: a post the server never answers
// (here not even its handshake) then ends soon, and only the posting thread lets go of it.
TEST(HttpsPost, AbortEndsAPostTheServerNeverAnswers)
{
    testbench::ScriptedPop3Server silent;
    silent.addConnection(testbench::Script().stall(20000));
    ASSERT_TRUE(silent.start());
    HttpsPoster poster;
    HttpsReply reply;
    std::string url = "https://127.0.0.1:" + std::to_string(silent.port()) + "/token";
    auto posted = std::async(std::launch::async, [&] { return poster.postForm(url, "a=b", reply, 30); });
    ASSERT_TRUE(silent.waitForConnections(1, 10000));
    poster.abort();
    ASSERT_EQ(posted.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(posted.get(), HttpsError::Aborted);
    silent.stop();
}

TEST(HttpReplies, BodiesEndedEveryWayAndBounded)
{
    struct Case {
        std::string reply;
        bool endOfStream;
        HttpsError error;
        int status;
        const char* body;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloXX", false, HttpsError::None, 200, "hello"},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 400 Bad\r\ncontent-length:2\r\n\r\n{}", false, HttpsError::None, 400,
         "{}"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n2\r\nde\r\n0\r\nT: 1\r\n\r\n", false,
         HttpsError::None, 200, "abcde"},
        {"HTTP/1.0 200 OK\r\n\r\nto the end", true, HttpsError::None, 200, "to the end"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nshort", true, HttpsError::BadReply, 0, ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcX\r\n", false, HttpsError::BadReply, 0, ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", false, HttpsError::BadReply, 0, ""},
        {"SSH-2.0-OpenSSH\r\n\r\n", false, HttpsError::BadReply, 0, ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999\r\n\r\n", false, HttpsError::ReplyTooLarge, 0, ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFF\r\n", false, HttpsError::ReplyTooLarge, 0, ""},
        {"HTTP/1.1 200 OK\r\n\r\n" + std::string(HttpsPoster::maxBodyBytes + 1, 'x'), true, HttpsError::ReplyTooLarge,
         0, ""},
        {"HTTP/1.1 200 OK\r\nX: " + std::string(HttpsPoster::maxHeadBytes, 'x'), false, HttpsError::ReplyTooLarge, 0,
         ""},
    };
    for (const Case& c : cases) {
        // Byte by byte, so that every split of the stream is met.
        HttpReplyReader reader;
        HttpReplyReader::State state = HttpReplyReader::State::NeedMore;
        for (size_t at = 0; at < c.reply.size() && state == HttpReplyReader::State::NeedMore; ++at)
            state = reader.feed(&c.reply[at], 1);
        if (c.endOfStream || state == HttpReplyReader::State::NeedMore)
            state = reader.finish();
        std::string name = c.reply.substr(0, 60);
        EXPECT_EQ(state == HttpReplyReader::State::Done, c.error == HttpsError::None) << name;
        EXPECT_EQ(reader.error(), c.error) << name;
        if (c.error == HttpsError::None) {
            EXPECT_EQ(reader.reply().status, c.status) << name;
            EXPECT_EQ(reader.reply().body, c.body) << name;
        }
    }
}

TEST(HttpsUrls, OnlyHttpsWithAHost)
{
    HttpsUrl url;
    ASSERT_TRUE(parseHttpsUrl("https://login.example.com/common/token?x=1#f", url));
    EXPECT_EQ(url.host + " " + std::to_string(url.port) + " " + url.path, "login.example.com 443 /common/token?x=1");
    ASSERT_TRUE(parseHttpsUrl("https://localhost:8443", url));
    EXPECT_EQ(url.host + " " + std::to_string(url.port) + " " + url.path, "localhost 8443 /");
    for (const char* bad :
         {"http://a/", "https://", "https://u:p@a/", "https://a:99999/", "https://a:x/", "https://a/b c"})
        EXPECT_FALSE(parseHttpsUrl(bad, url)) << bad;
}

using mailtest::ScriptedEndpoint;

TEST(TokenKeeper, RefreshesNearExpiryAndSavesEveryRotatedToken)
{
    ScriptedEndpoint endpoint;
    std::vector<std::string> saved;
    TokenKeeper keeper(endpoint, [&](const std::string& token) { saved.push_back(token); });
    TokenKeeper::Clock::time_point start;
    keeper.takeSignIn(OAuthTokens{"a1", "r1", 600, start});
    std::string token;
    EXPECT_EQ(keeper.accessToken(token, start + std::chrono::seconds(539)), CheckStatus::Ok);
    EXPECT_EQ(token, "a1");
    EXPECT_TRUE(endpoint.presented.empty());

    endpoint.answer(TokenOutcome::Tokens, "a2", "r2");
    EXPECT_EQ(keeper.accessToken(token, start + std::chrono::seconds(541)), CheckStatus::Ok);
    EXPECT_EQ(token, "a2");
    // A failing or busy endpoint is asked again only after a growing back-off.
    auto later = start + std::chrono::hours(2);
    const int firstWait = TokenKeeper::firstBackOffSeconds;
    struct Step {
        int atSeconds;
        bool asked;
        TokenOutcome answer;
        CheckStatus shown;
    } steps[] = {{0, true, TokenOutcome::Unusable, CheckStatus::SignInUnreachable},
                 {firstWait - 1, false, TokenOutcome::Tokens, CheckStatus::SignInUnreachable},
                 {firstWait, true, TokenOutcome::Temporary, CheckStatus::ServerBusy},
                 {firstWait * 3 - 1, false, TokenOutcome::Tokens, CheckStatus::ServerBusy},
                 {firstWait * 3, true, TokenOutcome::Tokens, CheckStatus::Ok}}; // no new refresh token: r2 stays
    for (const Step& step : steps) {
        if (step.asked)
            endpoint.answer(step.answer, "a3");
        EXPECT_EQ(keeper.accessToken(token, later + std::chrono::seconds(step.atSeconds)), step.shown)
            << step.atSeconds;
    }
    EXPECT_EQ(endpoint.presented, (std::vector<std::string>{"r1", "r2", "r2", "r2"}));
    EXPECT_EQ(saved, (std::vector<std::string>{"r1", "r2"}));
}

TEST(TokenKeeper, ARefusedTokenIsRefreshedOnceThenSignInAgainWithoutRetrying)
{
    ScriptedEndpoint endpoint;
    TokenKeeper keeper(endpoint, nullptr);
    keeper.setRefreshToken("r1");
    TokenKeeper::Clock::time_point now;
    std::string token;
    endpoint.answer(TokenOutcome::Tokens, "a1");
    ASSERT_EQ(keeper.accessToken(token, now), CheckStatus::Ok);
    endpoint.answer(TokenOutcome::Tokens, "a2");
    EXPECT_EQ(keeper.serverRefused(token, now), CheckStatus::Ok);
    EXPECT_EQ(token, "a2");
    keeper.serverAccepted();
    endpoint.answer(TokenOutcome::Tokens, "a3");
    EXPECT_EQ(keeper.serverRefused(token, now), CheckStatus::Ok); // accepted in between: once more
    EXPECT_EQ(keeper.serverRefused(token, now), CheckStatus::SignInAgain);
    EXPECT_EQ(keeper.accessToken(token, now), CheckStatus::SignInAgain);
    EXPECT_EQ(endpoint.presented.size(), 3u);

    keeper.setRefreshToken("r9");
    endpoint.answer(TokenOutcome::InvalidGrant);
    EXPECT_EQ(keeper.accessToken(token, now), CheckStatus::SignInAgain);
    EXPECT_EQ(keeper.accessToken(token, now), CheckStatus::SignInAgain);
    EXPECT_EQ(endpoint.presented.size(), 4u);
    EXPECT_TRUE(token.empty());
}

namespace {

const int answerWaitMs = 10000;

// Sends `request` to the listener and returns the first line of its answer.
std::string ask(int port, const std::string& request)
{
    testbench::SocketHandle socket = testbench::connectLoopback(port);
    if (socket == testbench::kNoSocket)
        return "no connection";
    testbench::sendSome(socket, request.data(), static_cast<int>(request.size()));
    std::string answer;
    char buffer[1024];
    while (answer.find("\r\n") == std::string::npos && testbench::waitReadable(socket, answerWaitMs)) {
        int count = testbench::receiveSome(socket, buffer, sizeof buffer);
        if (count <= 0)
            break;
        answer.append(buffer, static_cast<size_t>(count));
    }
    testbench::closeSocket(socket);
    return answer.substr(0, answer.find("\r\n"));
}

// With `cookieBytes` of cookies, which other programs may have set for 127.0.0.1.
std::string redirect(const std::string& query, size_t cookieBytes = 0)
{
    std::string cookies = cookieBytes > 0 ? "Cookie: c=" + std::string(cookieBytes, 'c') + "\r\n" : "";
    return "GET /?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + cookies + "\r\n";
}

class Listener : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(listener.open());
        expected.state = "s1";
        expected.issuer = "https://issuer.test";
    }
    void startWaiting(int seconds = 30)
    {
        result =
            std::async(std::launch::async, [this, seconds] { return listener.waitForRedirect(expected, seconds); });
    }
    RedirectListener::Result finished()
    {
        EXPECT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        return result.get();
    }

    RedirectListener listener;
    RedirectListener::Expected expected;
    std::future<RedirectListener::Result> result;
};

} // namespace

TEST_F(Listener, AnswersOtherRequestsAndKeepsWaitingForTheRedirect)
{
    EXPECT_EQ(listener.redirectUri(), "http://127.0.0.1:" + std::to_string(listener.port()) + "/");
    startWaiting();
    // A spare connection that never sends anything holds nothing up.
    testbench::SocketHandle idle = testbench::connectLoopback(listener.port());
    struct Case {
        std::string request;
        const char* answer;
    } cases[] = {
        {"GET /favicon.ico HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found"},
        {redirect("code=c&state=s2&iss=https%3A%2F%2Fissuer.test"), "HTTP/1.1 400 Bad Request"},
        {redirect("code=c&iss=https%3A%2F%2Fissuer.test"), "HTTP/1.1 400 Bad Request"},
        {redirect("code=c&state=s1&iss=https%3A%2F%2Fother.test"), "HTTP/1.1 400 Bad Request"},
        {redirect("code=c&state=s1&state=s1"), "HTTP/1.1 400 Bad Request"},
        {"POST /?code=c&state=s1 HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET /?code=c&state=s1 " + std::string(RedirectListener::maxRequestBytes, 'x'), "HTTP/1.1 400 Bad Request"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ask(listener.port(), c.request), c.answer) << c.request.substr(0, 60);
    EXPECT_EQ(ask(listener.port(), redirect("state=s1&code=the%2Bcode&iss=https%3A%2F%2Fissuer.test", 40000)),
              "HTTP/1.1 200 OK");
    RedirectListener::Result got = finished();
    EXPECT_EQ(got.outcome, RedirectListener::Outcome::Code);
    EXPECT_EQ(got.code, "the+code");
    testbench::closeSocket(idle);
    EXPECT_EQ(ask(listener.port(), redirect("state=s1&code=again")), "no connection"); // closed after
}

TEST_F(Listener, ProviderErrorEndsTheWaitAndAnIssuerIsRequiredWhereExpected)
{
    expected.issuerRequired = true;
    startWaiting();
    EXPECT_EQ(ask(listener.port(), redirect("error=access_denied&state=s1")), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(ask(listener.port(), redirect("error=access_denied&state=s1&iss=https%3A%2F%2Fissuer.test")),
              "HTTP/1.1 200 OK");
    RedirectListener::Result got = finished();
    EXPECT_EQ(got.outcome, RedirectListener::Outcome::ProviderError);
    EXPECT_EQ(got.error, "access_denied");
}

TEST_F(Listener, GivesUpInTimeOrWhenAborted)
{
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(listener.waitForRedirect(expected, 1).outcome, RedirectListener::Outcome::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    ASSERT_TRUE(listener.open());
    startWaiting();
    listener.abort();
    EXPECT_EQ(finished().outcome, RedirectListener::Outcome::Aborted);
}
