// Several accounts side by side against the test bench's servers: each reaches its own counts
// and status, a failing one holds up no other, each keeps its own seen-message file, and
// stopping them all is prompt.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "account/mail_account.h"
#include "tests/mail/checker/checker_reports.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/oauth/oauth_fixture.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/test_pki.h"

namespace {

// Password accounts on the private Dovecot, a sign-in on the sign-in bench's Dovecot (alice,
// two messages), and the failures: a refused password, a certificate of a CA not trusted here
// and a server that stops answering after the user name (each a scripted server of its own).
enum class Kind { Pop3, Pop3Tls, Imap, ImapTls, SignIn, WrongPassword, Untrusted, Stalled };

const char password[] = "right-password";
const int reportWaitMs = 30000;
const int stopBoundMs = 3000;

struct NoStore : RefreshTokenStore {
    void storeRefreshToken(const std::string&) override {}
};

struct Watched {
    Kind kind;
    std::string user;
    int messages = 0;
    std::string seenPath;
    NoStore store;
    mailtest::CheckReports reports; // outlives the account that calls it
    std::unique_ptr<MailAccount> account;
    testbench::ScriptedPop3Server* server = nullptr; // a failing kind's own
};

class SeveralAccounts : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        _putenv_s("PELLWICK_OAUTH_DIR", PELLWICK_OAUTH_FIXTURE_DIR);
#else
        setenv("PELLWICK_OAUTH_DIR", PELLWICK_OAUTH_FIXTURE_DIR, 1);
#endif
        ASSERT_TRUE(testbench::DovecotFixture::fromEnvironment(dovecot)) << "PELLWICK_DOVECOT_DIR not set";
        ASSERT_TRUE(testbench::OAuthFixture::fromEnvironment(oauth)) << "the sign-in bench is not running";
        ASSERT_TRUE(pki.create(pkiFolder.path()));
        std::string both = pkiFolder.path() + "/both.pem";
        std::filesystem::copy_file(dovecot.caFile(), both);
        std::filesystem::copy_file(oauth.caFile(), pkiFolder.path() + "/oauth.pem");
        std::ofstream(both, std::ios::app) << std::ifstream(pkiFolder.path() + "/oauth.pem").rdbuf();
        trust.reset(new mailtest::TrustedCaDirectory(both));
        ASSERT_TRUE(trust->isReady());
    }

    // Account `index` of kind `kind`, its own user with index % 5 + 1 messages, its own seen file.
    void add(Kind kind, int index)
    {
        watched.emplace_back(new Watched);
        Watched& w = *watched.back();
        w.kind = kind;
        w.user = "several_" + std::to_string(index);
        w.seenPath = folder->path() + "/seen-" + std::to_string(index) + ".uidl";
        ConfigurationValues values;
        values.server.assign("127.0.0.1");
        values.username.assign(w.user.c_str());
        values.password.assign(kind == Kind::WrongPassword ? "wrong-password" : password);
        values.checkMinutes = 60;
        configure(w, index, values);
        w.account.reset(new MailAccount(0x8001, w.store));
        w.account->checker.pop3.setTimeouts(20, 20);
        w.account->checker.imap.imap.setTimeouts(20, 20);
        w.account->checker.tokenMayGoTo = [](const OAuthProvider&, const char*) { return true; };
        w.account->load(values, "", w.seenPath.c_str());
        if (kind == Kind::SignIn)
            w.account->checker.takeSignIn(
                OAuthTokens{oauth.mintAccessToken(w.user), "", 3600, std::chrono::steady_clock::now()});
        w.reports.attach(w.account->checker);
    }

    void configure(Watched& w, int index, ConfigurationValues& values)
    {
        bool imap = w.kind == Kind::Imap || w.kind == Kind::ImapTls;
        bool tls = w.kind == Kind::Pop3Tls || w.kind == Kind::ImapTls;
        values.protocol = imap ? MailProtocol::Imap : MailProtocol::Pop3;
        values.security = tls ? ConnectionSecurity::TlsOnConnect : ConnectionSecurity::None;
        values.port =
            imap ? (tls ? dovecot.imapsPort() : dovecot.imapPort()) : (tls ? dovecot.tlsPort() : dovecot.plainPort());
        if (w.kind == Kind::SignIn) {
            w.user = "alice@example.test";
            w.messages = 2;
            values.signIn = SignInMethod::Microsoft;
            values.username.assign(w.user.c_str());
            values.server.assign("localhost");
            values.port = oauth.pop3sPort();
            values.security = ConnectionSecurity::TlsOnConnect;
        } else if (w.kind == Kind::Untrusted || w.kind == Kind::Stalled) {
            scripted.emplace_back(new testbench::ScriptedPop3Server);
            testbench::ScriptedPop3Server& server = *scripted.back();
            w.server = &server;
            if (w.kind == Kind::Untrusted)
                server.useTls(pki.path("unknownca.pem"), pki.path("unknownca.key"));
            server.addConnection(testbench::Script().send("+OK ready\r\n").expectLine("USER").stall(60000));
            ASSERT_TRUE(server.start());
            values.port = server.port();
            values.security = w.kind == Kind::Untrusted ? ConnectionSecurity::TlsOnConnect : ConnectionSecurity::None;
        } else {
            w.messages = w.kind == Kind::WrongPassword ? 0 : index % 5 + 1;
            prepareMailbox(w.user, w.messages);
        }
    }

    void prepareMailbox(const std::string& user, int messages)
    {
        if (prepared.insert(user).second) {
            ASSERT_TRUE(dovecot.addUser(user, password));
        }
        ASSERT_TRUE(dovecot.clearMailbox(user));
        for (int i = 0; i < messages; ++i)
            ASSERT_TRUE(dovecot.deliver(user, "m" + std::to_string(i), mailtest::sampleMessage(i)));
    }

    // Every account asked first, then each waited for, as the program ends.
    long long stopAllMs()
    {
        auto start = std::chrono::steady_clock::now();
        for (auto& w : watched)
            w->account->requestStop();
        for (auto& w : watched)
            w->account->stop();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    }

    static std::set<std::string> prepared; // users added once per run: re-adding waits a second
    testbench::DovecotFixture dovecot;
    testbench::OAuthFixture oauth;
    std::unique_ptr<mailtest::TrustedCaDirectory> trust;
    testbench::TempDirectory pkiFolder;
    testbench::TestPki pki;
    std::unique_ptr<testbench::TempDirectory> folder; // the seen files, one folder per row
    std::vector<std::unique_ptr<testbench::ScriptedPop3Server>> scripted;
    std::vector<std::unique_ptr<Watched>> watched;
};

std::set<std::string> SeveralAccounts::prepared;

// `count` accounts taking the kinds of `pattern` in turn.
std::vector<Kind> inTurn(const std::vector<Kind>& pattern, size_t count)
{
    std::vector<Kind> kinds;
    for (size_t i = 0; i < count; ++i)
        kinds.push_back(pattern[i % pattern.size()]);
    return kinds;
}

CheckStatus expectedStatus(Kind kind)
{
    return kind == Kind::WrongPassword ? CheckStatus::BadLogin
           : kind == Kind::Untrusted   ? CheckStatus::BadCertificate
                                       : CheckStatus::Ok;
}

} // namespace

// Each account reports its own status and counts whatever the others do; Mark As Read of one
// writes its seen file alone and leaves the others' counts; all end within a few seconds,
// IMAP accounts in IDLE and stalled ones mid-dialogue included.
TEST_F(SeveralAccounts, EachReachesItsOwnCountsAndAFailureStaysItsOwn)
{
    using K = Kind;
    struct Row {
        const char* name;
        std::vector<Kind> kinds;
    } rows[] = {
        {"POP3 and IMAP, plain and TLS, sign-in, refused password",
         {K::Pop3, K::Pop3Tls, K::Imap, K::ImapTls, K::SignIn, K::WrongPassword}},
        {"one stalled among four", {K::Pop3, K::Stalled, K::Imap, K::Pop3Tls}},
        {"an untrusted certificate among three", {K::ImapTls, K::Untrusted, K::Pop3}},
        {"sixteen accounts", inTurn({K::Pop3, K::Imap, K::Pop3Tls, K::ImapTls}, 16)},
        {"sixteen stalled", inTurn({K::Stalled}, 16)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        watched.clear();
        scripted.clear();
        folder.reset(new testbench::TempDirectory);
        for (size_t i = 0; i < row.kinds.size(); ++i)
            add(row.kinds[i], static_cast<int>(i));
        for (auto& w : watched)
            ASSERT_TRUE(w->account->checker.start());

        for (size_t i = 0; i < watched.size(); ++i) {
            Watched& w = *watched[i];
            SCOPED_TRACE("account " + std::to_string(i));
            if (w.kind == K::Stalled) {
                EXPECT_TRUE(w.server->waitForLine("USER", reportWaitMs));
                continue;
            }
            ASSERT_TRUE(w.reports.waitFor(1, reportWaitMs));
            EXPECT_EQ(w.reports.at(0).status, expectedStatus(w.kind));
            EXPECT_EQ(w.reports.at(0).totalCount, w.messages);
            EXPECT_EQ(w.reports.at(0).unseenCount, w.messages);
        }
        for (auto& w : watched) {
            if (w->kind == K::Stalled) {
                EXPECT_EQ(w->reports.count(), 0u) << "a stalled account reported before its time-out";
            }
        }

        Watched& first = *watched[0];
        if (first.kind != K::Stalled) {
            first.account->markAsRead();
            EXPECT_TRUE(std::filesystem::exists(first.seenPath));
            for (size_t i = 1; i < watched.size(); ++i) {
                EXPECT_FALSE(std::filesystem::exists(watched[i]->seenPath)) << i;
                EXPECT_EQ(watched[i]->account->checker.takeSnapshot().unseenCount, watched[i]->messages) << i;
            }
            EXPECT_EQ(first.account->checker.takeSnapshot().unseenCount, 0);
        }

        EXPECT_LT(stopAllMs(), stopBoundMs);
    }
}
