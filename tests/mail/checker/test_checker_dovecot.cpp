#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "mail/checker/checker_thread.h"
#include "mail/mailbox/seen_file.h"
#include "tests/mail/checker/checker_reports.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/temp_directory.h"

using mailtest::CheckReports;
using mailtest::TrustedCaDirectory;
using testbench::DovecotFixture;

namespace {

const char loopback[] = "127.0.0.1";
const char password[] = "right-password";
const int reportWaitMs = 10000;

std::string message(int number)
{
    return "From: sender@example.org\r\nTo: reader@example.org\r\nSubject: Check " + std::to_string(number) +
           "\r\n\r\nMessage " + std::to_string(number) + ".\r\n";
}

// The checker against the private Dovecot, one user per test.
class DovecotChecks : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DovecotFixture::fromEnvironment(dovecot)) << "PELLWICK_DOVECOT_DIR not set";
        user = std::string("checker_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(dovecot.addUser(user, password));
        ASSERT_TRUE(dovecot.clearMailbox(user));
        trust.reset(new TrustedCaDirectory(dovecot.caFile()));
        ASSERT_TRUE(trust->isReady());
        checker.reset(new CheckerThread(0x8001));
        checker->retryMilliseconds = 60 * 1000;
        checker->pop3.setTimeouts(10, 10);
        reports.attach(*checker);
    }
    void TearDown() override { checker.reset(); }

    void deliver(int first, int count)
    {
        for (int i = first; i < first + count; ++i)
            ASSERT_TRUE(dovecot.deliver(user, "m" + std::to_string(i), message(i)));
    }
    void startChecking(const char* withPassword, bool tls)
    {
        int port = tls ? dovecot.tlsPort() : dovecot.plainPort();
        checker->setAccount(loopback, user.c_str(), withPassword, port,
                            tls ? ConnectionSecurity::TlsOnConnect : ConnectionSecurity::None, 60);
        ASSERT_TRUE(checker->start());
    }

    DovecotFixture dovecot;
    std::string user;
    std::unique_ptr<TrustedCaDirectory> trust;
    CheckReports reports;
    std::unique_ptr<CheckerThread> checker;
};

TEST_F(DovecotChecks, NewMailIsCountedOverPlainPop3)
{
    deliver(1, 3);
    startChecking(password, false);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::Ok);
    EXPECT_EQ(reports.at(0).unseenCount, 3);
    EXPECT_EQ(reports.at(0).totalCount, 3);
    EXPECT_EQ(reports.at(0).freshMail, 1);
}

TEST_F(DovecotChecks, NewMailIsCountedOverTls)
{
    deliver(1, 2);
    startChecking(password, true);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::Ok);
    EXPECT_EQ(reports.at(0).unseenCount, 2);
}

TEST_F(DovecotChecks, WrongPasswordIsABadLogin)
{
    deliver(1, 1);
    startChecking("wrong-password", false);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::BadLogin);
    EXPECT_EQ(reports.at(0).totalCount, 0);
}

TEST_F(DovecotChecks, MarkedMailStaysReadAndOnlyArrivalsCountAfterARestart)
{
    testbench::TempDirectory folder;
    std::string seenPath = folder.path() + "/pellwick.uidl";
    deliver(1, 2);
    startChecking(password, false);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    checker->markAsRead();
    ASSERT_TRUE(saveSeenFile(checker->pop3.mailbox, seenPath.c_str()));
    checker.reset();

    deliver(3, 1);
    checker.reset(new CheckerThread(0x8001));
    CheckReports after;
    after.attach(*checker);
    ASSERT_TRUE(loadSeenFile(checker->pop3.mailbox, seenPath.c_str()));
    startChecking(password, false);
    ASSERT_TRUE(after.waitFor(1, reportWaitMs));
    EXPECT_EQ(after.at(0).status, CheckStatus::Ok);
    EXPECT_EQ(after.at(0).unseenCount, 1);
    EXPECT_EQ(after.at(0).totalCount, 3);
    checker.reset();
}

TEST_F(DovecotChecks, CheckNowSeesMailDeliveredDuringTheWait)
{
    startChecking(password, false);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).unseenCount, 0);
    deliver(1, 1);
    checker->requestCheckNow();
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_EQ(reports.at(1).unseenCount, 1);
    EXPECT_EQ(reports.at(1).freshMail, 1);
}

} // namespace
