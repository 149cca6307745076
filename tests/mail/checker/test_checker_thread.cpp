#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "mail/checker/checker_thread.h"
#include "tests/mail/checker/checker_reports.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/poll_until.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/temp_directory.h"
#include "tests/support/test_pki.h"

#ifdef _WIN32
#include <windows.h>
#endif

using mailtest::CheckReports;
using mailtest::HangingLookup;
using mailtest::LookupRelease;
using mailtest::Stopwatch;
using mailtest::TrustedCaDirectory;
using testbench::loggedIn;
using testbench::Script;
using testbench::ScriptedPop3Server;

namespace {

const char loopback[] = "127.0.0.1";
const unsigned checkResultMessage = 0x8001;
const int reportWaitMs = 5000;

// A complete check: log in, list `listing` (lines "n id\r\n"), then the client hangs up.
Script completeCheck(const std::string& listing)
{
    return loggedIn().expectLine("UIDL").send("+OK\r\n" + listing + ".\r\n").stall(3000);
}

Script refusedPassword()
{
    return loggedIn("-ERR no\r\n").stall(3000);
}

class CheckCycle : public ::testing::Test {
protected:
    void SetUp() override { makeChecker(); }

    void makeChecker()
    {
        checker.reset(new CheckerThread(checkResultMessage));
        checker->retryMilliseconds = 60 * 1000;
        checker->pop3.setTimeouts(5, 5);
        reports.attach(*checker);
    }

    void serve(const std::vector<Script>& scripts)
    {
        for (const Script& script : scripts)
            server.addConnection(script);
        ASSERT_TRUE(server.start());
    }

    void startChecking(int intervalMinutes, int port = -1, ConnectionSecurity security = ConnectionSecurity::None)
    {
        checker->setAccount(loopback, "alice", "secret", port < 0 ? server.port() : port, security, intervalMinutes);
        ASSERT_TRUE(checker->start());
    }

    // Destroys the checker and tells how long that took.
    double stopChecker()
    {
        Stopwatch watch;
        checker.reset();
        return watch.seconds();
    }

    ScriptedPop3Server server;
    CheckReports reports;
    std::unique_ptr<CheckerThread> checker;
};

// ---- One cycle ----

TEST_F(CheckCycle, SuccessfulCheckReportsTheNewMail)
{
    serve({completeCheck("1 a\r\n2 b\r\n")});
    startChecking(5);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    CheckSnapshot first = reports.at(0);
    EXPECT_EQ(first.status, CheckStatus::Ok);
    EXPECT_EQ(first.unseenCount, 2);
    EXPECT_EQ(first.totalCount, 2);
    EXPECT_EQ(first.freshMail, 1);
    stopChecker();
    server.stop();
    EXPECT_EQ(server.receivedLines(), (std::vector<std::string>{"USER alice", "PASS secret", "UIDL"}));
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}

TEST_F(CheckCycle, WindowTakesTheAnnouncementOnce)
{
    serve({completeCheck("1 a\r\n")});
    startChecking(5);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).freshMail, 1);
    CheckSnapshot after = checker->takeSnapshot();
    EXPECT_EQ(after.freshMail, 0);
    EXPECT_EQ(after.unseenCount, 1);
}

TEST_F(CheckCycle, WrongPasswordIsReportedAndRetriedAfterThePause)
{
    serve({refusedPassword(), refusedPassword()});
    checker->retryMilliseconds = 400;
    startChecking(5);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::BadLogin);
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_EQ(reports.at(1).status, CheckStatus::BadLogin);
    EXPECT_GE(reports.secondsBetween(0, 1), 0.4) << "retried before the pause ended";
}

TEST_F(CheckCycle, HostThatRefusesConnectionsIsNotFound)
{
    ASSERT_TRUE(server.start());
    int closedPort = server.port();
    server.stop();
    startChecking(5, closedPort);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::HostNotFound);
}

TEST_F(CheckCycle, RefusedListingFailsAndKeepsTheLastCounts)
{
    serve({completeCheck("1 a\r\n2 b\r\n"), loggedIn().expectLine("UIDL").send("-ERR busy\r\n").stall(3000)});
    startChecking(0);
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    CheckSnapshot failed = reports.at(1);
    EXPECT_EQ(failed.status, CheckStatus::ListFailed);
    EXPECT_EQ(failed.unseenCount, 2);
    EXPECT_EQ(failed.totalCount, 2);
}

TEST_F(CheckCycle, ListingCutShortFailsAndKeepsTheLastCounts)
{
    serve({completeCheck("1 a\r\n2 b\r\n3 c\r\n"), loggedIn().expectLine("UIDL").send("+OK\r\n1 a\r\n").disconnect()});
    startChecking(0);
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_EQ(reports.at(1).status, CheckStatus::ListFailed);
    EXPECT_EQ(reports.at(1).unseenCount, 3);
    EXPECT_EQ(reports.at(1).totalCount, 3);
}

TEST_F(CheckCycle, FailedListingIsRetriedAfterThePauseNotTheInterval)
{
    serve({loggedIn().expectLine("UIDL").send("-ERR busy\r\n").stall(3000), completeCheck("1 a\r\n")});
    checker->retryMilliseconds = 300;
    startChecking(60);
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::ListFailed);
    EXPECT_EQ(reports.at(1).status, CheckStatus::Ok);
    EXPECT_EQ(reports.at(1).unseenCount, 1);
}

TEST_F(CheckCycle, SilentServerEndsTheCycleAsNoResponse)
{
    serve({loggedIn().expectLine("UIDL").stall(10000)});
    checker->pop3.setTimeouts(2, 1);
    startChecking(5);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::NoResponse);
}

TEST_F(CheckCycle, MissingGreetingIsNoResponse)
{
    serve({Script().stall(10000)});
    checker->pop3.setTimeouts(1, 1);
    startChecking(5);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::NoResponse);
}

TEST_F(CheckCycle, CheckingIsNeverReportedOnItsOwn)
{
    serve({refusedPassword(), completeCheck("1 a\r\n"), refusedPassword()});
    checker->retryMilliseconds = 100;
    startChecking(0);
    ASSERT_TRUE(reports.waitFor(3, reportWaitMs));
    for (const CheckSnapshot& report : reports.all())
        EXPECT_NE(report.status, CheckStatus::Checking);
}

// ---- Certificates ----

class CheckCycleTls : public CheckCycle {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pki.create(folder.path()));
        trust.reset(new TrustedCaDirectory(pki.path("ca.pem")));
        ASSERT_TRUE(trust->isReady());
        makeChecker(); // after the trust file is in place: the connection reads it then
    }
    void serveTls(const std::string& name, const Script& script)
    {
        server.useTls(pki.path(name + ".pem"), pki.path(name + ".key"));
        serve({script});
    }

    testbench::TempDirectory folder;
    testbench::TestPki pki;
    std::unique_ptr<TrustedCaDirectory> trust;
};

TEST_F(CheckCycleTls, TrustedServerIsCheckedOverTls)
{
    serveTls("server", completeCheck("1 a\r\n"));
    startChecking(5, -1, ConnectionSecurity::TlsOnConnect);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::Ok);
    EXPECT_EQ(reports.at(0).unseenCount, 1);
}

TEST_F(CheckCycleTls, SelfSignedCertificateIsNotTrusted)
{
    serveTls("selfsigned", completeCheck("1 a\r\n"));
    startChecking(5, -1, ConnectionSecurity::TlsOnConnect);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_EQ(reports.at(0).status, CheckStatus::BadCertificate);
}

// ---- Waiting between checks ----

TEST_F(CheckCycle, IntervalZeroChecksAgainAtOnce)
{
    serve({completeCheck("1 a\r\n"), completeCheck("1 a\r\n"), completeCheck("1 a\r\n")});
    checker->millisecondsPerMinute = 60 * 1000;
    startChecking(0);
    ASSERT_TRUE(reports.waitFor(3, reportWaitMs));
    EXPECT_EQ(reports.at(2).status, CheckStatus::Ok);
}

TEST_F(CheckCycle, AnnouncementWaitsForTheWindowAcrossCycles)
{
    serve({completeCheck("1 a\r\n"), completeCheck("1 a\r\n")});
    reports.takesSnapshots = false;
    startChecking(0);
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_EQ(checker->takeSnapshot().freshMail, 1);
    EXPECT_EQ(checker->takeSnapshot().freshMail, 0);
}

TEST_F(CheckCycle, NextCheckFollowsTheInterval)
{
    serve({completeCheck("1 a\r\n"), completeCheck("1 a\r\n2 b\r\n")});
    checker->millisecondsPerMinute = 600;
    startChecking(1);
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_GE(reports.secondsBetween(0, 1), 0.6) << "checked again before the interval";
    EXPECT_EQ(reports.at(1).unseenCount, 2);
    EXPECT_EQ(reports.at(1).freshMail, 1);
}

TEST_F(CheckCycle, CheckNowEndsTheWaitAfterSuccess)
{
    serve({completeCheck("1 a\r\n"), completeCheck("1 a\r\n2 b\r\n")});
    startChecking(60);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    checker->requestCheckNow();
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs)) << "the hour-long wait did not end";
    EXPECT_EQ(reports.at(1).unseenCount, 2);
}

// An IMAP check of a folder of three, `unseen` the UIDs without \Seen, up to the answer to
// UID SEARCH; tags from a<first> (they go on counting on a new connection); the folder
// opened with `open` (EXAMINE or SELECT); `capabilities` those of the server.
Script imapListed(const std::string& unseen, int first = 1, const std::string& open = "EXAMINE",
                  const std::string& capabilities = "IMAP4rev1 IDLE")
{
    auto tag = [first](int n) { return "a" + std::to_string(first + n) + " "; };
    return Script()
        .send("* OK [CAPABILITY " + capabilities + "] hi\r\n")
        .expectLine(tag(0) + "LOGIN")
        .send(tag(0) + "OK [CAPABILITY " + capabilities + "] in\r\n")
        .expectLine(tag(1) + open)
        .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 7] v\r\n" + tag(1) + "OK\r\n")
        .expectLine(tag(2) + "UID SEARCH")
        .send("* SEARCH " + unseen + "\r\n" + tag(2) + "OK\r\n");
}

// imapListed, then up to the go-ahead for IDLE, or up to the IDLE's arrival for a connection
// the test ends.
Script imapIdling(const std::string& unseen, int first = 1, bool goAhead = true, const std::string& open = "EXAMINE")
{
    Script script = imapListed(unseen, first, open);
    return goAhead ? script.expectLine("a" + std::to_string(first + 3) + " IDLE").send("+ idling\r\n")
                   : script.stall(3000);
}

// The second report of an IMAP account under IDLE: the change told on the same connection
// (after renewals of the IDLE), or a new connection at once after Check Now (the IDLE dropped
// without DONE: after a sleep nothing would answer it) or after the connection was lost
// (no failure shown in between, no retry pause). Without IDLE: a new connection at the
// interval, listing the unseen messages only.
TEST_F(CheckCycle, ImapIdleEndsInAnUpdateOrANewConnection)
{
    struct {
        const char* name;
        std::vector<Script> scripts;
        bool checkNow;
        int total;
        int renewMs = CheckerThread::defaultIdleRenewMilliseconds;
        const char* neverSent = "\x01";
        int minuteMs = CheckerThread::defaultMillisecondsPerMinute;
    } rows[] = {
        {"no IDLE: polled",
         {imapListed("5", 1, "EXAMINE", "IMAP4rev1").stall(3000),
          imapListed("5 9", 4, "EXAMINE", "IMAP4rev1").stall(3000)},
         false,
         3,
         CheckerThread::defaultIdleRenewMilliseconds,
         "a4 IDLE",
         5},
        {"change",
         {imapIdling("5")
              .send("* 4 EXISTS\r\n")
              .expectLine("DONE")
              .send("a4 OK\r\n")
              .expectLine("a5 UID SEARCH")
              .send("* SEARCH 5 9\r\na5 OK\r\n")
              .stall(3000)},
         false,
         4},
        {"check now", {imapIdling("5").stall(3000), imapIdling("5 9", 5, false)}, true, 3, 1000, "DONE"},
        {"dropped", {imapIdling("5").disconnect(), imapIdling("5 9", 5, false)}, false, 3},
        {"bye while idling",
         {imapIdling("5").send("* BYE restarting\r\n").stall(3000), imapIdling("5 9", 5, false)},
         false,
         3},
        {"bye mid-command",
         {imapIdling("5")
              .send("* 4 EXISTS\r\n")
              .expectLine("DONE")
              .send("a4 OK\r\n")
              .expectLine("a5 UID SEARCH")
              .send("* BYE restarting\r\n")
              .stall(3000),
          imapIdling("5 9", 6, false)},
         false,
         3},
        {"renewed, then a change",
         {imapIdling("5")
              .expectLine("DONE")
              .send("a4 OK\r\n")
              .expectLine("a5 IDLE")
              .send("+ idling\r\n* 4 EXISTS\r\n")
              .expectLine("DONE")
              .send("a5 OK\r\n")
              .expectLine("a6 UID SEARCH")
              .send("* SEARCH 5 9\r\na6 OK\r\n")
              .stall(3000)},
         false,
         4,
         1000},
        {"renewal unanswered",
         {imapIdling("5").expectLine("DONE").disconnect(), imapIdling("5 9", 5, false)},
         false,
         3,
         1000},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedPop3Server imapServer;
        for (const Script& script : row.scripts)
            imapServer.addConnection(script);
        ASSERT_TRUE(imapServer.start());
        CheckReports heard;
        checker.reset(new CheckerThread(checkResultMessage));
        checker->retryMilliseconds = 60 * 1000;
        checker->idleRenewMilliseconds = row.renewMs;
        checker->millisecondsPerMinute = row.minuteMs;
        checker->imap.imap.setTimeouts(5, 5);
        heard.attach(*checker);
        checker->setAccount(loopback, "alice", "secret", imapServer.port(), ConnectionSecurity::None, 60, nullptr,
                            TokenSignIn(), MailProtocol::Imap);
        ASSERT_TRUE(checker->start());
        ASSERT_TRUE(heard.waitFor(1, reportWaitMs));
        EXPECT_EQ(heard.at(0).unseenCount, 1);
        if (row.checkNow) {
            ASSERT_TRUE(testbench::pollUntil([&] { return checker->imap.imap.isIdling(); }, reportWaitMs, 10));
            checker->requestCheckNow();
        }
        ASSERT_TRUE(heard.waitFor(2, reportWaitMs));
        EXPECT_EQ(heard.at(1).status, CheckStatus::Ok);
        EXPECT_EQ(heard.at(1).unseenCount, 2);
        EXPECT_EQ(heard.at(1).totalCount, row.total);
        EXPECT_EQ(heard.at(1).freshMail, 1);
        EXPECT_LT(stopChecker(), 2.5);
        imapServer.stop();
        EXPECT_FALSE(imapServer.scriptFailed()) << imapServer.failure();
        for (const std::string& line : imapServer.receivedLines())
            EXPECT_NE(line.rfind(row.neverSent, 0), 0u) << line;
    }
}

// Mark As Read of an IMAP account: off, nothing goes to the server; on, the folder is
// selected writable and exactly the UIDs shown go out at once, the IDLE ended for them; a
// STORE the server refuses is sent again on the next connection.
TEST_F(CheckCycle, ImapMarkAsReadReachesTheServerOnlyWhenAsked)
{
    const std::string store = "UID STORE 5 +FLAGS.SILENT (\\Seen)";
    auto storeAnswered = [&store](const std::string& reply) {
        return imapIdling("5", 1, true, "SELECT")
            .expectLine("DONE")
            .send("a4 OK\r\n")
            .expectLine("a5 " + store)
            .send("a5 " + reply + "\r\n")
            .expectLine("a6 IDLE")
            .send("+ idling\r\n")
            .stall(3000);
    };
    struct {
        const char* name;
        bool markOnServer;
        std::vector<Script> scripts;
        const char* last; // the last line of the second connection
        int stores;
    } rows[] = {
        {"off", false, {imapIdling("5").stall(3000), imapIdling("5", 5)}, "a8 IDLE", 0},
        {"on", true, {storeAnswered("OK"), imapIdling("", 7, true, "SELECT")}, "a10 IDLE", 1},
        {"refused, then sent again",
         true,
         {storeAnswered("NO [CANNOT] not now"), imapListed("5", 7, "SELECT")
                                                    .expectLine("a10 " + store)
                                                    .send("a10 OK\r\n")
                                                    .expectLine("a11 IDLE")
                                                    .send("+ idling\r\n")
                                                    .stall(3000)},
         "a11 IDLE",
         2},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedPop3Server imapServer;
        for (const Script& script : row.scripts)
            imapServer.addConnection(script);
        ASSERT_TRUE(imapServer.start());
        CheckReports heard;
        std::unique_ptr<CheckerThread> checker(new CheckerThread(checkResultMessage)); // ends before `heard`
        checker->imap.imap.setTimeouts(5, 5);
        heard.attach(*checker);
        checker->setAccount(loopback, "alice", "secret", imapServer.port(), ConnectionSecurity::None, 60, nullptr,
                            TokenSignIn(), MailProtocol::Imap);
        checker->setMarkOnServer(row.markOnServer);
        ASSERT_TRUE(checker->start());
        ASSERT_TRUE(heard.waitFor(1, reportWaitMs));
        ASSERT_TRUE(testbench::pollUntil([&] { return checker->imap.imap.isIdling(); }, reportWaitMs, 10));
        checker->markAsRead();
        if (row.markOnServer) { // the marks went out on the first connection
            ASSERT_TRUE(imapServer.waitForLine("a6 IDLE", reportWaitMs));
        }
        checker->requestCheckNow();
        ASSERT_TRUE(imapServer.waitForLine(row.last, reportWaitMs));
        ASSERT_TRUE(heard.waitFor(3, reportWaitMs));
        EXPECT_EQ(heard.at(2).unseenCount, 0);
        checker.reset();
        imapServer.stop();
        EXPECT_FALSE(imapServer.scriptFailed()) << imapServer.failure();
        int stores = 0;
        for (const std::string& line : imapServer.receivedLines())
            stores += line.find("UID STORE") != std::string::npos ? 1 : 0;
        EXPECT_EQ(stores, row.stores);
    }
}

TEST_F(CheckCycle, CheckNowTwiceInOneWaitGivesOneExtraCheck)
{
    serve({completeCheck("1 a\r\n"), completeCheck("1 a\r\n"), completeCheck("1 a\r\n")});
    // Both requests are made by the checker's own thread as its first wait begins: no second
    // thread can slip the wait's end in between them.
    reports.atWait = [this](int n) {
        if (n == 1) {
            checker->requestCheckNow();
            checker->requestCheckNow();
        }
    };
    startChecking(60);
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_FALSE(reports.waitFor(3, 800)) << "a second request was kept for the next wait";
}

TEST_F(CheckCycle, CheckNowDuringFailurePauseWaitsForItThenEndsTheNextWait)
{
    serve({refusedPassword(), completeCheck("1 a\r\n"), completeCheck("1 a\r\n")});
    checker->retryMilliseconds = 800;
    startChecking(60);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    checker->requestCheckNow();
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_EQ(reports.at(1).status, CheckStatus::Ok);
    EXPECT_GE(reports.secondsBetween(0, 1), 0.8) << "Check Now cut the failure pause short";
    // The pending request ends the hour-long wait after this success at once.
    ASSERT_TRUE(reports.waitFor(3, reportWaitMs));
    EXPECT_EQ(reports.at(2).status, CheckStatus::Ok);
}

TEST_F(CheckCycle, CheckNowDuringACheckEndsTheFollowingWait)
{
    serve({loggedIn().expectLine("UIDL").pause(500).send("+OK\r\n1 a\r\n.\r\n").stall(3000), completeCheck("1 a\r\n")});
    startChecking(60);
    ASSERT_TRUE(server.waitForConnections(1, reportWaitMs));
    checker->requestCheckNow();
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_EQ(reports.at(1).status, CheckStatus::Ok);
}

// ---- What the window changes ----

TEST_F(CheckCycle, MarkAsReadWhileWaitingShowsNoUnseenAndOnlyLaterMailCounts)
{
    serve({completeCheck("1 a\r\n2 b\r\n"), completeCheck("1 a\r\n2 b\r\n3 c\r\n")});
    startChecking(60);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    checker->markAsRead();
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    EXPECT_EQ(reports.at(1).unseenCount, 0);
    EXPECT_EQ(reports.at(1).totalCount, 2);
    checker->requestCheckNow();
    ASSERT_TRUE(reports.waitFor(3, reportWaitMs));
    EXPECT_EQ(reports.at(2).unseenCount, 1);
    EXPECT_EQ(reports.at(2).totalCount, 3);
}

TEST_F(CheckCycle, ReplacedAccountIsUsedFromTheNextCheck)
{
    serve({completeCheck("1 a\r\n"), completeCheck("1 a\r\n")});
    startChecking(60);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    checker->setAccount(loopback, "bob", "hunter2", server.port(), ConnectionSecurity::None, 60);
    checker->requestCheckNow();
    ASSERT_TRUE(reports.waitFor(2, reportWaitMs));
    stopChecker();
    server.stop();
    EXPECT_EQ(server.receivedLines(),
              (std::vector<std::string>{"USER alice", "PASS secret", "UIDL", "USER bob", "PASS hunter2", "UIDL"}));
}

// ---- Stopping ----

TEST_F(CheckCycle, StopDuringTheIntervalEndsAtOnce)
{
    serve({completeCheck("1 a\r\n")});
    startChecking(60);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_LT(stopChecker(), 1.0);
}

TEST_F(CheckCycle, StopDuringTheFailurePauseEndsAtOnce)
{
    serve({refusedPassword()});
    checker->retryMilliseconds = 60 * 1000;
    startChecking(60);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_LT(stopChecker(), 1.0);
}

// A resolver that never answers holds neither the cycle nor the program's exit.
TEST_F(CheckCycle, HangingNameLookupEndsTheCycleWithinTheConnectLimit)
{
    LookupRelease release(1);
    checker->pop3.steps.lookUp = HangingLookup::lookUp;
    checker->pop3.setTimeouts(1, 5);
    Stopwatch watch;
    startChecking(5, 995);
    ASSERT_TRUE(reports.waitFor(1, reportWaitMs));
    EXPECT_LT(watch.seconds(), 2.0);
    EXPECT_EQ(reports.at(0).status, CheckStatus::NoResponse);
}

TEST_F(CheckCycle, StopDuringAHangingNameLookupEndsWithinASecond)
{
    LookupRelease release(1);
    checker->pop3.steps.lookUp = HangingLookup::lookUp;
    checker->pop3.setTimeouts(30, 30);
    startChecking(5, 995);
    ASSERT_TRUE(release.waitEntered(reportWaitMs));
    EXPECT_LT(stopChecker(), 1.0);
    EXPECT_EQ(reports.count(), 0u);
}

TEST_F(CheckCycle, StopDuringAStalledReadEndsWithinTwoSeconds)
{
    serve({loggedIn().expectLine("UIDL").stall(20000)});
    checker->pop3.setTimeouts(30, 30);
    startChecking(60);
    // The listing was asked for: the checker is in, or entering, its read of the reply.
    ASSERT_TRUE(server.waitForLine("UIDL", reportWaitMs));
    EXPECT_LT(stopChecker(), 2.0);
    EXPECT_EQ(reports.count(), 0u) << "an aborted check must not report an outcome";
}

#ifdef _WIN32
// ---- The owner's window ----

// Fetches the check-result message from `window`'s queue (on this, the window's, thread).
bool receivePosted(HWND window, MSG& message, double timeoutSeconds)
{
    Stopwatch watch;
    while (watch.seconds() < timeoutSeconds) {
        if (PeekMessageA(&message, window, checkResultMessage, checkResultMessage, PM_REMOVE))
            return true;
        Sleep(10);
    }
    return false;
}

TEST_F(CheckCycle, ResultIsPostedToTheOwnersWindowAfterTheStatusIsStored)
{
    HWND window =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    CheckOwner owner;
    owner.window = window;
    checker->setOwner(owner);
    serve({completeCheck("1 a\r\n2 b\r\n")});
    startChecking(60);
    MSG message;
    ASSERT_TRUE(receivePosted(window, message, 5.0));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 0);
    CheckSnapshot shown = checker->takeSnapshot();
    EXPECT_EQ(shown.status, CheckStatus::Ok);
    EXPECT_EQ(shown.unseenCount, 2);
    EXPECT_EQ(shown.freshMail, 1);
    checker->markAsRead();
    ASSERT_TRUE(receivePosted(window, message, 5.0));
    EXPECT_EQ(checker->takeSnapshot().unseenCount, 0);
    checker.reset();
    DestroyWindow(window);
}
#endif

} // namespace
