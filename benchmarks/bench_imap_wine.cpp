// Latency under IDLE to the real program's window, under Wine: pellwick.exe set up for the
// private Dovecot's IMAP over TLS; each delivery (renamed into Maildir/new) timed until the
// window's status shows the new count. Prints median and worst. Run by hand in the test
// environment (scripts/test-env.sh) with the fixture started:
//   bash tests/support/dovecot/dovecot-fixture.sh start /tmp/dovecot-wine
//   PELLWICK_DOVECOT_DIR=/tmp/dovecot-wine wine build/windows/benchmarks/bench_imap_wine.exe [N]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/status_text.h"
#include "tests/app/program_driver.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/temp_directory.h"

namespace {

using Clock = std::chrono::steady_clock;

const char user[] = "bench_wine_latency";
const char password[] = "bench-password";
const int noticeWaitMs = 15000;

// What the window says (its text, as screen readers read it) for n unseen of n messages.
std::string counts(int n)
{
    CheckSnapshot shown;
    shown.unseenCount = n;
    shown.totalCount = n;
    char words[spokenTextSize];
    formatSpokenStatus(shown, words, spokenTextSize);
    return words;
}

std::string message(int number)
{
    return "From: bench@example.org\r\nSubject: Bench " + std::to_string(number) + "\r\n\r\nBody.\r\n";
}

// Polls the window's text each millisecond (the window tells no one when it changes).
bool waitForCounts(apptest::ProgramDriver& program, int n)
{
    std::string wanted = counts(n);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(noticeWaitMs);
    while (Clock::now() < deadline) {
        if (program.statusText() == wanted)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    int deliveries = argc > 1 ? std::atoi(argv[1]) : 20;
    testbench::DovecotFixture dovecot;
    if (!testbench::DovecotFixture::fromEnvironment(dovecot) || !dovecot.addUser(user, password) ||
        !dovecot.clearMailbox(user)) {
        std::printf("PELLWICK_DOVECOT_DIR does not name a running fixture\n");
        return 1;
    }
    testbench::TempDirectory scratch;
    std::string work = testbench::unixPathForPlatform(scratch.path()) + "\\work";
    apptest::ProgramFiles files;
    if (!apptest::makeWorkFolder(work, dovecot.caFile()) ||
        !files.startFresh({"[connection]", "server=localhost", std::string("username=") + user,
                           std::string("password=") + password, "SSL=true", "protocol=imap",
                           "port=" + std::to_string(dovecot.imapsPort()), "checkmins=30"}))
        return 1;
    apptest::ProgramDriver program;
    if (!program.start(work) || !program.waitForWindow() || !waitForCounts(program, 0)) {
        std::printf("the program did not show its first counts (shows \"%s\")\n", program.statusText().c_str());
        return 1;
    }
    std::vector<double> ms;
    for (int i = 1; i <= deliveries; ++i) {
        // Pacing: its IDLE begins after the report the window shows, and tells nothing outside.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Clock::time_point start = Clock::now();
        if (!dovecot.deliver(user, "w" + std::to_string(i), message(i)) || !waitForCounts(program, i))
            break;
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    DWORD code = 0;
    program.exitFromMenu(code);
    if (ms.empty())
        return std::printf("no delivery was shown\n"), 1;
    std::sort(ms.begin(), ms.end());
    std::printf("Dovecot, pellwick.exe under Wine, delivery to the window's new count: median %.1f ms, worst %.1f "
                "ms (%zu deliveries)\n",
                ms[ms.size() / 2], ms.back(), ms.size());
    return 0;
}
