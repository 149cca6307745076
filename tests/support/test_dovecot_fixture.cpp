#include "tests/support/bench_client.h"
#include "tests/support/dovecot_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace testbench {
namespace {

const char kMessage[] = "From: sender@localhost\r\nSubject: bench\r\n\r\nHello.\r\n";

class DovecotFixtureTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(DovecotFixture::fromEnvironment(dovecot)) << "fixture not running"; }

    // USER/PASS; returns the reply to PASS (empty if the dialogue broke off earlier).
    std::string logIn(BenchClient& client, const std::string& user, const std::string& password)
    {
        std::string line;
        if (!client.readLine(line) || line.compare(0, 3, "+OK") != 0)
            return "";
        if (!client.sendLine("USER " + user) || !client.readLine(line))
            return "";
        if (!client.sendLine("PASS " + password) || !client.readLine(line))
            return "";
        return line;
    }

    // The lines of a UIDL listing, without the status line and the terminating dot.
    std::vector<std::string> listUids(BenchClient& client)
    {
        std::vector<std::string> ids;
        std::string line;
        if (!client.sendLine("UIDL") || !client.readLine(line) || line.compare(0, 3, "+OK") != 0)
            return ids;
        for (int guard = 0; guard < 1000 && client.readLine(line) && line != "."; ++guard)
            ids.push_back(line);
        return ids;
    }

    DovecotFixture dovecot;
};

TEST_F(DovecotFixtureTest, PlainLoginWithRightPasswordSucceeds)
{
    ASSERT_TRUE(dovecot.addUser("bench-plain", "plain-secret"));
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(dovecot.plainPort()));
    EXPECT_EQ(logIn(client, "bench-plain", "plain-secret").substr(0, 3), "+OK");
}

TEST_F(DovecotFixtureTest, MixedCaseUserNameLogsInAsSpelled)
{
    ASSERT_TRUE(dovecot.addUser("Bench_MixedCase", "secret"));
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(dovecot.plainPort()));
    EXPECT_EQ(logIn(client, "Bench_MixedCase", "secret").substr(0, 3), "+OK");
}

TEST_F(DovecotFixtureTest, TlsPortVerifiesAgainstTheFixtureCa)
{
    ASSERT_TRUE(dovecot.addUser("bench-tls", "tls-secret"));
    BenchClient client;
    ASSERT_TRUE(client.connectTls(dovecot.tlsPort(), dovecot.caFile(), "localhost")) << client.verifyResult();
    EXPECT_EQ(logIn(client, "bench-tls", "tls-secret").substr(0, 3), "+OK");
}

TEST_F(DovecotFixtureTest, WrongPasswordIsRefused)
{
    ASSERT_TRUE(dovecot.addUser("bench-refused", "right"));
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(dovecot.plainPort()));
    EXPECT_EQ(logIn(client, "bench-refused", "wrong").substr(0, 4), "-ERR");
}

TEST_F(DovecotFixtureTest, ReAddingChangesThePasswordAtOnce)
{
    ASSERT_TRUE(dovecot.addUser("bench-repass", "first1"));
    {
        // Dovecot reads the first password, so the change below must make it read again.
        BenchClient client;
        ASSERT_TRUE(client.connectPlain(dovecot.plainPort()));
        ASSERT_EQ(logIn(client, "bench-repass", "first1").substr(0, 3), "+OK");
    }
    ASSERT_TRUE(dovecot.addUser("bench-repass", "second")); // same length, same second
    BenchClient oldPassword;
    ASSERT_TRUE(oldPassword.connectPlain(dovecot.plainPort()));
    EXPECT_EQ(logIn(oldPassword, "bench-repass", "first1").substr(0, 4), "-ERR");
    BenchClient newPassword;
    ASSERT_TRUE(newPassword.connectPlain(dovecot.plainPort()));
    EXPECT_EQ(logIn(newPassword, "bench-repass", "second").substr(0, 3), "+OK");
}

TEST_F(DovecotFixtureTest, DeliveredMessagesAppearInTheUidlListing)
{
    ASSERT_TRUE(dovecot.addUser("bench-deliver", "secret"));
    ASSERT_TRUE(dovecot.clearMailbox("bench-deliver"));
    for (const char* name : {"1700000001.m1.bench", "1700000002.m2.bench", "1700000003.m3.bench"})
        ASSERT_TRUE(dovecot.deliver("bench-deliver", name, kMessage));
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(dovecot.plainPort()));
    ASSERT_EQ(logIn(client, "bench-deliver", "secret").substr(0, 3), "+OK");
    std::vector<std::string> ids = listUids(client);
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids[0].substr(0, 2), "1 ");
    EXPECT_EQ(ids[2].substr(0, 2), "3 ");
}

TEST_F(DovecotFixtureTest, ClearedMailboxListsNothing)
{
    ASSERT_TRUE(dovecot.addUser("bench-clear", "secret"));
    ASSERT_TRUE(dovecot.deliver("bench-clear", "1700000001.c1.bench", kMessage));
    {
        // A first session moves the message into cur/, which clearing must also empty.
        BenchClient client;
        ASSERT_TRUE(client.connectPlain(dovecot.plainPort()));
        ASSERT_EQ(logIn(client, "bench-clear", "secret").substr(0, 3), "+OK");
        ASSERT_EQ(listUids(client).size(), 1u);
    }
    ASSERT_TRUE(dovecot.clearMailbox("bench-clear"));
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(dovecot.plainPort()));
    ASSERT_EQ(logIn(client, "bench-clear", "secret").substr(0, 3), "+OK");
    EXPECT_TRUE(listUids(client).empty());
}

TEST_F(DovecotFixtureTest, DeliveringTheSameFileNameTwiceIsRefused)
{
    ASSERT_TRUE(dovecot.addUser("bench-twice", "secret"));
    ASSERT_TRUE(dovecot.clearMailbox("bench-twice"));
    EXPECT_TRUE(dovecot.deliver("bench-twice", "1700000001.t1.bench", kMessage));
    EXPECT_FALSE(dovecot.deliver("bench-twice", "1700000001.t1.bench", kMessage));
}

TEST_F(DovecotFixtureTest, UnsafeUserNamesAreRefused)
{
    EXPECT_FALSE(dovecot.addUser("../escape", "secret"));
    EXPECT_FALSE(dovecot.addUser("", "secret"));
    EXPECT_FALSE(dovecot.addUser("bench-colon", "pass:word"));
}

} // namespace
} // namespace testbench
