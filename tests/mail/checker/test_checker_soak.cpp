// The checker for many cycles at interval 0 against the private Dovecot, while another thread
// delivers and removes mail and this one does the window's work (reads the counts, marks as
// read, saves the seen file). Under ThreadSanitizer a race, under AddressSanitizer a leak or a
// bad access fails it; here it checks that open descriptors and memory stay flat and prints
// the first and last figures. PELLWICK_SOAK_CYCLES sets the number of cycles (300 by default,
// as ./test runs it); scripts/soak.sh runs 10,000. Memory is held to a bound only when
// PELLWICK_SOAK_MEMORY_KIB gives one: AddressSanitizer's quarantine grows it by design unless
// made small, as the script does.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "mail/checker/checker_thread.h"
#include "mail/mailbox/seen_file.h"
#include "tests/mail/checker/checker_reports.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/temp_directory.h"

#ifndef _WIN32
#include <dirent.h>
#endif

using mailtest::CheckReports;
using testbench::DovecotFixture;

namespace {

const char password[] = "soak-password";

struct Usage {
    int descriptors = -1;
    long residentKiB = -1;
};

// Open descriptors and resident memory of this process (Linux; -1 elsewhere).
Usage usageNow()
{
    Usage usage;
#ifndef _WIN32
    if (DIR* folder = opendir("/proc/self/fd")) {
        usage.descriptors = 0;
        while (readdir(folder) != nullptr)
            ++usage.descriptors;
        closedir(folder);
    }
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr)
            if (std::sscanf(line, "VmRSS: %ld", &usage.residentKiB) == 1)
                break;
        std::fclose(status);
    }
#endif
    return usage;
}

long fromEnvironment(const char* name, long fallback)
{
    const char* text = std::getenv(name);
    long value = text != nullptr ? std::atol(text) : 0;
    return value > 0 ? value : fallback;
}

TEST(CheckerSoak, ManyCyclesAgainstAChangingMailboxStayFlat)
{
    DovecotFixture dovecot;
    ASSERT_TRUE(DovecotFixture::fromEnvironment(dovecot)) << "PELLWICK_DOVECOT_DIR not set";
    const std::string user = "soak";
    ASSERT_TRUE(dovecot.addUser(user, password));
    ASSERT_TRUE(dovecot.clearMailbox(user));
    testbench::TempDirectory folder;
    const std::string seenPath = folder.path() + "/pellwick.uidl";
    const int cycles = static_cast<int>(fromEnvironment("PELLWICK_SOAK_CYCLES", 300));
    const long memoryGrowthKiB = fromEnvironment("PELLWICK_SOAK_MEMORY_KIB", -1);
    const int warmUp = cycles / 10 + 1;

    CheckReports reports;
    std::unique_ptr<CheckerThread> checker(new CheckerThread(0x8001));
    checker->retryMilliseconds = 50;
    checker->pop3.setTimeouts(10, 10);
    reports.attach(*checker);
    checker->setAccount("127.0.0.1", user.c_str(), password, dovecot.plainPort(), ConnectionSecurity::None, 0);
    ASSERT_TRUE(checker->start());

    // The mailbox changes while the checker runs: a message now and then, emptied now and then.
    std::atomic<bool> done{false};
    std::thread mail([&] {
        for (int n = 0; !done.load(); ++n) {
            if (n % 50 == 49)
                dovecot.clearMailbox(user);
            else
                dovecot.deliver(user, "m" + std::to_string(n), "Subject: " + std::to_string(n) + "\r\n\r\nBody.\r\n");
            reports.waitFor(reports.count() + 1, 1000); // about one change per cycle
        }
    });

    Usage first;
    int saves = 0;
    while (reports.cyclesFinished() < cycles && reports.waitFor(reports.count() + 1, 10000)) {
        CheckSnapshot now = checker->takeSnapshot();
        EXPECT_LE(now.unseenCount, now.totalCount);
        if (reports.count() % 7 == 0) {
            checker->markAsRead();
            saves += saveSeenFile(checker->pop3.mailbox, seenPath.c_str()) ? 1 : 0;
        }
        if (first.descriptors < 0 && reports.cyclesFinished() >= warmUp)
            first = usageNow();
    }
    int finished = reports.cyclesFinished();
    Usage last = usageNow();
    done = true;
    mail.join();
    checker.reset();

    ASSERT_GE(finished, cycles) << "the checker stalled";
    // Mark As Read reports too, and may find a cycle under way ("Checking").
    std::string failures;
    for (const CheckSnapshot& report : reports.all())
        if (report.status != CheckStatus::Ok && report.status != CheckStatus::Checking)
            failures += "status " + std::to_string(static_cast<int>(report.status)) + "; ";
    EXPECT_EQ(failures, "");
    EXPECT_GT(saves, 0);
    std::printf("soak: %d cycles; descriptors %d -> %d; resident memory %ld -> %ld KiB\n", finished, first.descriptors,
                last.descriptors, first.residentKiB, last.residentKiB);
    EXPECT_LE(last.descriptors, first.descriptors + 2) << "descriptors leak";
    if (memoryGrowthKiB > 0) {
        EXPECT_LE(last.residentKiB, first.residentKiB + memoryGrowthKiB) << "memory grows with the cycles";
    }
}

} // namespace
