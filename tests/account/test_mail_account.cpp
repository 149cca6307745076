// The account's own decisions, natively: what its checker is given, and what a confirmed
// configuration does to the stored refresh token.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "account/mail_account.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/scripted_pop3_server.h"

namespace {

struct RecordingStore : RefreshTokenStore {
    void storeRefreshToken(const std::string& token) override { stored.push_back(token); }
    std::vector<std::string> stored;
};

} // namespace

// A sign-in made in the dialog replaces the stored token; without one, the token stays only
// while the method, the address, the server and the protocol are the ones it was made for.
TEST(MailAccountReconfigured, StoredRefreshTokenFollowsTheSignIn)
{
    struct Case {
        const char* name;
        SignInMethod method;
        const char* address;
        const char* server;
        bool signedInNow;
        std::vector<std::string> stored;
        MailProtocol protocol = MailProtocol::Pop3;
    } cases[] = {
        {"new sign-in at another address",
         SignInMethod::Microsoft,
         "b@outlook.com",
         "outlook.office.com",
         true,
         {"r-new"}},
        {"another method", SignInMethod::Password, "a@outlook.com", "outlook.office365.com", false, {""}},
        {"another address", SignInMethod::Microsoft, "b@outlook.com", "outlook.office365.com", false, {""}},
        {"another server", SignInMethod::Microsoft, "a@outlook.com", "outlook.office.com", false, {""}},
        {"another protocol",
         SignInMethod::Microsoft,
         "a@outlook.com",
         "outlook.office365.com",
         false,
         {""},
         MailProtocol::Imap},
        {"the same sign-in", SignInMethod::Microsoft, "a@outlook.com", "Outlook.Office365.com", false, {}},
    };
    for (const Case& c : cases) {
        RecordingStore store;
        MailAccount account(0x8001, store);
        ConfigurationValues stored;
        stored.signIn = SignInMethod::Microsoft;
        stored.username.assign("a@outlook.com");
        stored.server.assign("outlook.office365.com");
        account.load(stored, "r-old", "");
        ConfigurationValues values;
        values.signIn = c.method;
        values.username.assign(c.address);
        values.server.assign(c.server);
        values.protocol = c.protocol;
        if (c.signedInNow)
            values.newSignIn = OAuthTokens{"a-new", "r-new", 3600, std::chrono::steady_clock::now()};
        account.reconfigure(values, SignInMethod::Microsoft, "a@outlook.com");
        EXPECT_EQ(store.stored, c.stored) << c.name;
    }
}

// A refresh token the provider rotated while the window had not yet stored it belongs to the
// sign-in the user has just replaced: it is never stored over the new one.
TEST(MailAccountReconfigured, RotatedTokenOfTheReplacedSignInIsNotStored)
{
    RecordingStore store;
    MailAccount account(0x8001, store);
    account.checker.makeTokenEndpoint = [](const OAuthProvider&, const OAuthClient&) {
        std::unique_ptr<mailtest::ScriptedEndpoint> endpoint(new mailtest::ScriptedEndpoint);
        endpoint->answer(TokenOutcome::Tokens, "a2", "r-rotated");
        return std::unique_ptr<TokenEndpoint>(std::move(endpoint));
    };
    account.checker.tokenMayGoTo = [](const OAuthProvider&, const char*) { return true; };
    ConfigurationValues values;
    values.signIn = SignInMethod::Microsoft;
    values.username.assign("a@outlook.com");
    values.server.assign("127.0.0.1");
    values.port = 1; // refused at once: the cycle ends after the refresh
    account.load(values, "r-old", "");
    account.checker.checkOnce();
    values.newSignIn = OAuthTokens{"a-new", "r-new", 3600, std::chrono::steady_clock::now()};
    account.reconfigure(values, SignInMethod::Microsoft, "a@outlook.com");
    account.storeRotatedRefreshTokens();
    EXPECT_EQ(store.stored, (std::vector<std::string>{"r-new"}));
}

// The account's protocol and folder are what its checker uses: an IMAP check of "Work".
TEST(MailAccountLoaded, ChecksOverItsProtocolTheFolderItNames)
{
    testbench::ScriptedPop3Server server;
    server.addConnection(testbench::Script()
                             .send("* OK [CAPABILITY IMAP4rev1] hi\r\n")
                             .expectLine("a1 LOGIN")
                             .send("a1 OK [CAPABILITY IMAP4rev1] in\r\n")
                             .expectLine("a2 EXAMINE \"Work\"")
                             .send("* 2 EXISTS\r\n* OK [UIDVALIDITY 7] v\r\na2 OK\r\n")
                             .expectLine("a3 UID SEARCH")
                             .send("* SEARCH 2\r\na3 OK\r\n")
                             .stall(3000));
    ASSERT_TRUE(server.start());
    RecordingStore store;
    MailAccount account(0x8001, store);
    ConfigurationValues values;
    values.server.assign("127.0.0.1");
    values.port = server.port();
    values.security = ConnectionSecurity::None;
    values.protocol = MailProtocol::Imap;
    values.folder.assign("Work");
    values.showSenders = false; // ids only: the script has no header fetch
    account.load(values, "", "");
    EXPECT_EQ(CheckStatus::Ok, account.checker.checkOnce());
    EXPECT_EQ(1, account.checker.takeSnapshot().unseenCount);
    account.stop();
    server.stop();
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}
