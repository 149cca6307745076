#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "mail/checker/checker_thread.h"
#include "mail/mailbox/seen_file.h"
#include "tests/mail/checker/checker_reports.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/cyrus_fixture.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/poll_until.h"
#include "tests/support/temp_directory.h"

using mailtest::CheckReports;
using mailtest::Stopwatch;
using mailtest::TrustedCaDirectory;
using testbench::CyrusFixture;
using testbench::DovecotFixture;
using testbench::ImapTestServer;

namespace {

const char loopback[] = "127.0.0.1";
const char password[] = "right-password";
const int reportWaitMs = 10000;

// The checker against the private Dovecot (and over IMAP the private Cyrus too), one user per
// test.
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
        makeChecker(reports);
        server = &dovecot;
    }
    // Further checks of this test against Cyrus; false (with the reason in `whyNot`) when the
    // bench has no Cyrus.
    bool switchToCyrus(std::string& whyNot)
    {
        if (!CyrusFixture::fromEnvironment(cyrus, whyNot))
            return false;
        server = &cyrus;
        if (!cyrus.addUser(user, password) || !cyrus.clearMailbox(user)) {
            whyNot = "Cyrus did not take the test's user";
            return false;
        }
        // One trusted CA at a time (it is the working folder's): the old one is left first.
        trust.reset();
        trust.reset(new TrustedCaDirectory(cyrus.caFile()));
        return trust->isReady();
    }
    // A checker of its own for the current mailbox, reporting to `heard`.
    void makeChecker(CheckReports& heard)
    {
        checker.reset(new CheckerThread(0x8001));
        checker->retryMilliseconds = 60 * 1000;
        checker->pop3.setTimeouts(10, 10);
        checker->imap.imap.setTimeouts(10, 10);
        heard.attach(*checker);
    }
    void TearDown() override { checker.reset(); }
    void idleReportsAnArrivalOnceAndEndsForCheckNowAndStop(CheckReports& reports);

    void deliver(int first, int count)
    {
        for (int i = first; i < first + count; ++i)
            ASSERT_TRUE(server->deliver(user, "m" + std::to_string(i), mailtest::sampleMessage(i)));
    }
    // A message the user has read elsewhere: \Seen on the server.
    void deliverRead(int number)
    {
        ASSERT_TRUE(server->deliverRead(user, "m" + std::to_string(number), mailtest::sampleMessage(number)));
    }
    void startChecking(const char* withPassword, bool tls, MailProtocol protocol = MailProtocol::Pop3)
    {
        bool imap = protocol == MailProtocol::Imap;
        int port =
            imap ? (tls ? server->imapsPort() : server->imapPort()) : (tls ? dovecot.tlsPort() : dovecot.plainPort());
        ConnectionSecurity security = tls    ? ConnectionSecurity::TlsOnConnect
                                      : imap ? ConnectionSecurity::StartTls
                                             : ConnectionSecurity::None;
        checker->setAccount(loopback, user.c_str(), withPassword, port, security, 60, nullptr, TokenSignIn(), protocol);
        ASSERT_TRUE(checker->start());
    }

    DovecotFixture dovecot;
    CyrusFixture cyrus;
    ImapTestServer* server = nullptr;
    std::string user;
    std::unique_ptr<TrustedCaDirectory> trust;
    CheckReports reports;
    std::unique_ptr<CheckerThread> checker;
};

// Two new messages and one read elsewhere: POP3 knows no flags; IMAP counts what the server
// calls unseen, of the folder's total, on Dovecot and Cyrus alike.
TEST_F(DovecotChecks, NewMailIsCountedOverEachProtocolAndSecurity)
{
    deliver(1, 2);
    deliverRead(3);
    struct {
        MailProtocol protocol;
        bool tls;
        int unseen;
        bool onCyrus;
    } rows[] = {{MailProtocol::Pop3, false, 3, false}, {MailProtocol::Pop3, true, 3, false},
                {MailProtocol::Imap, false, 2, false}, {MailProtocol::Imap, true, 2, false},
                {MailProtocol::Imap, false, 2, true},  {MailProtocol::Imap, true, 2, true}};
    for (const auto& row : rows) {
        if (row.onCyrus && !CyrusFixture::inThisBuild)
            continue;
        if (row.onCyrus && server != &cyrus) {
            std::string whyNot;
            if (!switchToCyrus(whyNot))
                GTEST_SKIP() << "Cyrus rows: " << whyNot;
            deliver(1, 2);
            deliverRead(3);
        }
        CheckReports heard;
        makeChecker(heard);
        startChecking(password, row.tls, row.protocol);
        ASSERT_TRUE(heard.waitFor(1, reportWaitMs));
        SCOPED_TRACE(std::string(server->name()) + (row.protocol == MailProtocol::Imap ? " IMAP" : " POP3") +
                     (row.tls ? " TLS" : ""));
        EXPECT_EQ(heard.at(0).status, CheckStatus::Ok);
        EXPECT_EQ(heard.at(0).unseenCount, row.unseen);
        EXPECT_EQ(heard.at(0).totalCount, 3);
        EXPECT_EQ(heard.at(0).freshMail, 1);
        checker.reset();
    }
}

TEST_F(DovecotChecks, WrongPasswordIsABadLogin)
{
    deliver(1, 1);
    startChecking("wrong-password", false);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::BadLogin);
    EXPECT_EQ(reports.at(0).totalCount, 0);
}

// Two messages marked as read, the program restarted, one more delivered. An IMAP folder
// renumbered meanwhile (its index gone: a new UIDVALIDITY) counts every unseen message again
// but announces none of them. Marked on the server too, the two are \Seen there (Maildir's S
// flag), and the next session counts only the arrival without the seen file.
TEST_F(DovecotChecks, MarkedMailStaysReadAndOnlyArrivalsCountAfterARestart)
{
    struct {
        MailProtocol protocol;
        bool renumbered;
        int unseen;
        int freshMail;
        bool onServer = false;
    } rows[] = {{MailProtocol::Pop3, false, 1, 1},
                {MailProtocol::Imap, false, 1, 1},
                {MailProtocol::Imap, true, 3, 0},
                {MailProtocol::Imap, false, 1, 1, true}};
    auto seenOnServer = [this] {
        int count = 0;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(std::filesystem::path(dovecot.maildir(user)) / "cur", error)) {
            std::string name = entry.path().filename().string();
            size_t flags = name.find(":2,");
            count += flags != std::string::npos && name.find('S', flags) != std::string::npos ? 1 : 0;
        }
        return count;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.protocol == MailProtocol::Imap ? "IMAP" : "POP3") +
                     (row.renumbered ? " renumbered" : "") + (row.onServer ? " on the server" : ""));
        testbench::TempDirectory folder;
        std::string seenPath = folder.path() + "/pellwick.uidl";
        ASSERT_TRUE(dovecot.clearMailbox(user));
        deliver(1, 2);
        CheckReports before;
        makeChecker(before);
        checker->setMarkOnServer(row.onServer);
        startChecking(password, false, row.protocol);
        ASSERT_TRUE(before.waitFor(1, reportWaitMs));
        EXPECT_EQ(seenOnServer(), 0);
        checker->markAsRead();
        ASSERT_TRUE(saveSeenFile(checker->pop3.mailbox, seenPath.c_str()));
        if (row.onServer) {
            ASSERT_TRUE(testbench::pollUntil([&] { return seenOnServer() == 2; }, reportWaitMs, 20));
        }
        checker.reset();
        EXPECT_EQ(seenOnServer(), row.onServer ? 2 : 0);

        std::filesystem::path box = dovecot.maildir(user);
        for (const auto& entry : std::filesystem::directory_iterator(box)) {
            std::string name = entry.path().filename().string();
            if (row.renumbered && (name.rfind("dovecot-uidlist", 0) == 0 || name.rfind("dovecot.index", 0) == 0))
                std::filesystem::remove(entry.path());
        }
        deliver(3, 1);
        CheckReports after;
        makeChecker(after);
        if (!row.onServer) {
            ASSERT_TRUE(loadSeenFile(checker->pop3.mailbox, seenPath.c_str()));
        }
        startChecking(password, false, row.protocol);
        ASSERT_TRUE(after.waitFor(1, reportWaitMs));
        EXPECT_EQ(after.at(0).status, CheckStatus::Ok);
        EXPECT_EQ(after.at(0).unseenCount, row.unseen);
        EXPECT_EQ(after.at(0).totalCount, 3);
        EXPECT_EQ(after.at(0).freshMail, row.freshMail);
        checker.reset();
    }
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

// Under IDLE a delivery is reported without a Check Now and announced once; Check Now ends
// the IDLE for a new cycle at once; a stop ends it within the one-second slice. On Dovecot,
// then on Cyrus.
TEST_F(DovecotChecks, ImapIdleReportsAnArrivalOnceAndEndsForCheckNowAndStop)
{
    for (bool onCyrus : {false, true}) {
        if (onCyrus && !CyrusFixture::inThisBuild)
            break;
        std::string whyNot;
        if (onCyrus && !switchToCyrus(whyNot))
            GTEST_SKIP() << "Cyrus rows: " << whyNot;
        SCOPED_TRACE(server->name());
        CheckReports heard;
        makeChecker(heard);
        idleReportsAnArrivalOnceAndEndsForCheckNowAndStop(heard);
        if (HasFatalFailure())
            return;
    }
}

void DovecotChecks::idleReportsAnArrivalOnceAndEndsForCheckNowAndStop(CheckReports& reports)
{
    deliver(1, 1);
    startChecking(password, true, MailProtocol::Imap);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).unseenCount, 1);
    ASSERT_TRUE(testbench::pollUntil([&] { return checker->imap.imap.isIdling(); }, reportWaitMs, 10));
    deliver(2, 1);
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_EQ(reports.at(1).status, CheckStatus::Ok);
    EXPECT_EQ(reports.at(1).unseenCount, 2);
    EXPECT_EQ(reports.at(1).totalCount, 2);
    EXPECT_EQ(reports.at(1).freshMail, 1);
    ASSERT_TRUE(testbench::pollUntil([&] { return checker->imap.imap.isIdling(); }, reportWaitMs, 10));
    checker->requestCheckNow();
    ASSERT_TRUE(reports.waitFor(3, reportWaitMs));
    EXPECT_EQ(reports.at(2).unseenCount, 2);
    EXPECT_EQ(reports.at(2).freshMail, 0);
    ASSERT_TRUE(testbench::pollUntil([&] { return checker->imap.imap.isIdling(); }, reportWaitMs, 10));
    Stopwatch watch;
    checker.reset();
    EXPECT_LT(watch.seconds(), 2.5);
}

} // namespace
