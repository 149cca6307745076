// pellwick's check cycle for benchmarks/peers, with the account given on the command line.
// TLS trusts "cacert.pem" in the working directory, as the program does.
//   bench_peer_pellwick prepare  HOST PORT TLS USER PASSWORD SEEN_FILE
//       one cycle, Mark As Read, then five ids taken out of the seen list; writes SEEN_FILE
//   bench_peer_pellwick once     HOST PORT TLS USER PASSWORD SEEN_FILE
//       what a fresh program does: read SEEN_FILE, one cycle, exit
//   bench_peer_pellwick resident HOST PORT TLS USER PASSWORD SEEN_FILE CYCLES
//       read SEEN_FILE, then CYCLES cycles in this process as its checker runs them; prints
//       "cycle WALL_MS CPU_MS" per cycle, then "peak_kb KB" for the whole process
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/checker/checker_thread.h"
#include "mail/mailbox/seen_file.h"

namespace {

const int unseenInBenchmark = 5;

double cpuMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool cycle(CheckerThread& checker)
{
    if (checker.checkOnce() == CheckStatus::Ok && !checker.pop3.lastListingFailed())
        return true;
    std::fprintf(stderr, "check failed: status %d\n", static_cast<int>(checker.takeSnapshot().status));
    return false;
}

int prepare(CheckerThread& checker, const char* seenFile)
{
    if (!cycle(checker))
        return 1;
    checker.markAsRead();
    UidList& seen = checker.pop3.mailbox.seen;
    for (int i = 0; i < unseenInBenchmark && seen.size() > 0; ++i)
        seen.erase(seen.begin());
    return saveSeenFile(checker.pop3.mailbox, seenFile) ? 0 : 1;
}

int resident(CheckerThread& checker, int cycles)
{
    for (int i = 0; i < cycles; ++i) {
        auto start = std::chrono::steady_clock::now();
        double cpuStart = cpuMilliseconds();
        if (!cycle(checker))
            return 1;
        double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("cycle %.3f %.3f\n", wall, cpuMilliseconds() - cpuStart);
    }
    std::printf("peak_kb %ld\n", peakKilobytes());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 8) {
        std::fprintf(stderr, "usage: %s prepare|once|resident HOST PORT TLS USER PASSWORD SEEN_FILE [CYCLES]\n",
                     argv[0]);
        return 2;
    }
    std::string mode = argv[1];
    CheckerThread checker(0);
    checker.setAccount(argv[2], argv[5], argv[6], std::atoi(argv[3]),
                       std::atoi(argv[4]) != 0 ? ConnectionSecurity::TlsOnConnect : ConnectionSecurity::None, 5);
    if (mode == "prepare")
        return prepare(checker, argv[7]);
    // As the program starts: the seen-message file read before the first check.
    checker.setSeenFilePath(argv[7]);
    if (!checker.readSeenFile())
        return 1;
    if (mode == "once")
        return cycle(checker) ? 0 : 1;
    if (mode == "resident" && argc == 9)
        return resident(checker, std::atoi(argv[8]));
    return 2;
}
