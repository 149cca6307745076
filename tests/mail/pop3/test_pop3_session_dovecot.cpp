#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "mail/pop3/pop3_session.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/dovecot_fixture.h"

using mailtest::idsOf;
using mailtest::TrustedCaDirectory;
using testbench::DovecotFixture;

namespace {

const char loopback[] = "127.0.0.1";

// A user of its own per test (tests run in parallel), with `count` messages delivered.
class DovecotSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DovecotFixture::fromEnvironment(dovecot)) << "PELLWICK_DOVECOT_DIR not set";
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        // Dovecot folds user names to lower case before looking them up.
        user = std::string("core_") + test->name();
        for (char& c : user)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        ASSERT_TRUE(dovecot.addUser(user, password));
        ASSERT_TRUE(dovecot.clearMailbox(user));
        trust.reset(new TrustedCaDirectory(dovecot.caFile()));
        ASSERT_TRUE(trust->isReady());
        session.reset(new Pop3Session());
        session->setTimeouts(10, 10);
    }
    void deliver(int count)
    {
        for (int i = 1; i <= count; ++i)
            ASSERT_TRUE(
                dovecot.deliver(user, "msg" + std::to_string(delivered + i), mailtest::sampleMessage(delivered + i)));
        delivered += count;
    }
    int listOver(ConnectionSecurity security)
    {
        int port = security == ConnectionSecurity::TlsOnConnect ? dovecot.tlsPort() : dovecot.plainPort();
        if (!session->connect(loopback, port, security) || !session->logIn(user.c_str(), password))
            return -2;
        int listed = session->listUids();
        listedOverTls = session->isTls();
        session->close();
        return listed;
    }

    DovecotFixture dovecot;
    std::string user;
    const char* password = "correct horse";
    std::unique_ptr<TrustedCaDirectory> trust;
    std::unique_ptr<Pop3Session> session;
    int delivered = 0;
    bool listedOverTls = false;
};

// The fixture's ids are the message's IMAP UID and the mailbox's UIDVALIDITY, 8 hex digits
// each: three new messages are UIDs 1 to 3 of one mailbox.
TEST_F(DovecotSession, TlsListingYieldsTheIdOfEachMessage)
{
    deliver(3);
    ASSERT_EQ(listOver(ConnectionSecurity::TlsOnConnect), 3);
    std::multiset<std::string> ids = idsOf(session->mailbox.current);
    ASSERT_EQ(ids.size(), 3u);
    std::set<std::string> uids;
    std::set<std::string> validities;
    for (const std::string& id : ids) {
        ASSERT_EQ(id.size(), 16u) << id;
        uids.insert(id.substr(0, 8));
        validities.insert(id.substr(8));
    }
    EXPECT_EQ(uids, (std::set<std::string>{"00000001", "00000002", "00000003"}));
    EXPECT_EQ(validities.size(), 1u);
}

// Dovecot lists STLS on its plain port, so STARTTLS there is TLS.
TEST_F(DovecotSession, PlainTlsAndStartTlsListingsAgree)
{
    deliver(3);
    ASSERT_EQ(listOver(ConnectionSecurity::TlsOnConnect), 3);
    std::multiset<std::string> overTls = idsOf(session->mailbox.current);
    for (ConnectionSecurity other : {ConnectionSecurity::None, ConnectionSecurity::StartTls}) {
        ASSERT_EQ(listOver(other), 3);
        EXPECT_EQ(idsOf(session->mailbox.current), overTls);
        EXPECT_EQ(listedOverTls, other == ConnectionSecurity::StartTls);
    }
}

// Described as it comes (Dovecot lists TOP), the newest first, each once.
TEST_F(DovecotSession, NewMessageAddsExactlyOneId)
{
    session->describeNewMail = true;
    deliver(2);
    ASSERT_EQ(listOver(ConnectionSecurity::None), 2);
    std::multiset<std::string> before = idsOf(session->mailbox.current);
    deliver(1);
    ASSERT_EQ(listOver(ConnectionSecurity::None), 3);
    std::multiset<std::string> after = idsOf(session->mailbox.current);
    for (const std::string& id : before)
        EXPECT_EQ(after.count(id), 1u) << id;
    std::vector<MessagePreview> previews = session->mailbox.takeCounts().previews;
    ASSERT_EQ(previews.size(), 3u);
    EXPECT_EQ(previews[0].subject, "Test 3");
    EXPECT_EQ(std::set<std::string>({previews[1].subject, previews[2].subject}),
              (std::set<std::string>{"Test 1", "Test 2"}));
    EXPECT_EQ(previews[2].sender, "sender@example.org");
}

TEST_F(DovecotSession, EmptyMailboxListsNothing)
{
    EXPECT_EQ(listOver(ConnectionSecurity::TlsOnConnect), 0);
    EXPECT_EQ(session->mailbox.current.size(), 0u);
    EXPECT_EQ(session->mailbox.totalCount, 0);
}

TEST_F(DovecotSession, WrongPasswordFailsLogin)
{
    ASSERT_TRUE(session->connect(loopback, dovecot.tlsPort(), ConnectionSecurity::TlsOnConnect));
    EXPECT_FALSE(session->logIn(user.c_str(), "wrong"));
}

TEST_F(DovecotSession, UnknownUserFailsLogin)
{
    ASSERT_TRUE(session->connect(loopback, dovecot.plainPort(), ConnectionSecurity::None));
    EXPECT_FALSE(session->logIn("core_nobody_here", password));
}

TEST_F(DovecotSession, TlsToThePlainPortFailsConnect)
{
    EXPECT_FALSE(session->connect(loopback, dovecot.plainPort(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(session->lastError(), ConnectionError::TlsFailed);
}

TEST_F(DovecotSession, ServerIsVerifiedByName)
{
    ASSERT_TRUE(session->connect("localhost", dovecot.tlsPort(), ConnectionSecurity::TlsOnConnect));
    EXPECT_TRUE(session->logIn(user.c_str(), password));
}

} // namespace
