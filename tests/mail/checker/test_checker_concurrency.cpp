#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "mail/checker/checker_thread.h"
#include "mail/mailbox/seen_file.h"
#include "tests/mail/checker/checker_reports.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/temp_directory.h"

using mailtest::CheckReports;
using mailtest::Stopwatch;
using testbench::loggedIn;
using testbench::Script;
using testbench::ScriptedPop3Server;

namespace {

const int cycles = 30;
const int idsPerListing = 300;
const int maxRounds = 3000;
const double maxSeconds = 30.0;

// Listing number `cycle`: a window of ids that slides by ten each cycle, so every cycle both
// adds new ids and drops seen ones.
std::string listing(int cycle)
{
    std::string lines = "+OK\r\n";
    for (int i = 0; i < idsPerListing; ++i)
        lines += std::to_string(i + 1) + " uid" + std::to_string(cycle * 10 + i) + "\r\n";
    return lines + ".\r\n";
}

Script check(int cycle)
{
    return loggedIn().expectLine("UIDL").send(listing(cycle)).stall(3000);
}

bool everyListingChecked(CheckReports& reports, int timeoutMs)
{
    return reports.waitUntil(
        [](const std::vector<CheckSnapshot>& all) {
            for (const CheckSnapshot& report : all)
                if (report.status == CheckStatus::HostNotFound)
                    return true;
            return false;
        },
        timeoutMs);
}

// One thread checks as fast as it can while this one does what the window does: reads the
// counts, marks as read, saves the seen list and replaces the account. Run under
// ThreadSanitizer, any unguarded access shows up as a report.
TEST(CheckerConcurrency, WindowWorkDuringChecksKeepsListsAndCountsConsistent)
{
    ScriptedPop3Server server;
    for (int cycle = 0; cycle < cycles; ++cycle)
        server.addConnection(check(cycle));
    ASSERT_TRUE(server.start());
    testbench::TempDirectory folder;
    std::string seenPath = folder.path() + "/pellwick.uidl";

    CheckReports reports;
    CheckerThread checker(0x8001);
    checker.retryMilliseconds = 20;
    checker.pop3.setTimeouts(5, 5);
    reports.attach(checker);
    checker.setAccount("127.0.0.1", "alice", "secret", server.port(), ConnectionSecurity::None, 0);
    ASSERT_TRUE(checker.start());

    Stopwatch watch;
    int rounds = 0;
    int saves = 0;
    while (rounds < maxRounds && watch.seconds() < maxSeconds && server.connectionsAccepted() < cycles) {
        CheckSnapshot now = checker.takeSnapshot();
        EXPECT_LE(now.unseenCount, now.totalCount);
        EXPECT_LE(now.totalCount, idsPerListing);
        if (rounds % 3 == 0)
            checker.markAsRead();
        if (rounds % 25 == 0 && saveSeenFile(checker.pop3.mailbox, seenPath.c_str()))
            ++saves;
        const char* user = rounds % 2 == 0 ? "alice" : "alice2";
        checker.setAccount("127.0.0.1", user, "secret", server.port(), ConnectionSecurity::None, 0);
        if (rounds % 7 == 0)
            checker.requestCheckNow();
        ++rounds;
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // paces the window's work; orders nothing
    }
    // Past the last script the server hangs up at once: the first failure means every
    // listing has been checked.
    ASSERT_TRUE(everyListingChecked(reports, 10000));
    checker.markAsRead();
    EXPECT_EQ(checker.takeSnapshot().unseenCount, 0);
    EXPECT_TRUE(saveSeenFile(checker.pop3.mailbox, seenPath.c_str()));
    Mailbox reloaded;
    EXPECT_TRUE(loadSeenFile(reloaded, seenPath.c_str()));
    EXPECT_EQ(reloaded.seen.size(), static_cast<size_t>(idsPerListing));
    EXPECT_GT(saves, 0);
    for (const CheckSnapshot& report : reports.all())
        EXPECT_LE(report.unseenCount, report.totalCount);
}

} // namespace
