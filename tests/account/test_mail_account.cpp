// The account's own decisions, natively: what a confirmed configuration does to the stored
// refresh token.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "account/mail_account.h"

namespace {

struct RecordingStore : RefreshTokenStore {
    void storeRefreshToken(const std::string& token) override { stored.push_back(token); }
    std::vector<std::string> stored;
};

} // namespace

// A sign-in made in the dialog replaces the stored token; without one, the token stays only
// while the method, the address and the server are the ones it was made for.
TEST(MailAccountReconfigured, StoredRefreshTokenFollowsTheSignIn)
{
    struct Case {
        const char* name;
        SignInMethod method;
        const char* address;
        const char* server;
        bool signedInNow;
        std::vector<std::string> stored;
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
        if (c.signedInNow)
            values.newSignIn = OAuthTokens{"a-new", "r-new", 3600, std::chrono::steady_clock::now()};
        account.reconfigure(values, SignInMethod::Microsoft, "a@outlook.com");
        EXPECT_EQ(store.stored, c.stored) << c.name;
    }
}
