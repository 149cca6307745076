// IMAP figures against the bench's real servers (natively; run by hand, see benchmarks/imap-figures):
//   bench_imap latency [DELIVERIES]  from a delivery (Dovecot: renamed into Maildir/new; Cyrus:
//                                    APPEND) to the notice of the new count under IDLE: the
//                                    server's own EXISTS to a bare IDLE client, pellwick's
//                                    checker report, and `fetchmail --check --idle`'s line;
//                                    median and worst of each
//   bench_imap large                 a check of a 100,000-message INBOX on Dovecot: CPU of
//                                    pellwick's cycle against a minimal IMAP client's, and the
//                                    peak memory of a fresh process checking it over IMAP and
//                                    over POP3
//   bench_imap idle [SECONDS]        CPU of a checker idling on an IDLE connection
//   bench_imap check imap|pop3 PORT USER PASSWORD   (used by `large`) one cycle, prints peak_kb
// Needs PELLWICK_DOVECOT_DIR (and for Cyrus PELLWICK_CYRUS_DIR) naming running fixtures.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mail/checker/checker_thread.h"
#include "tests/mail/checker/checker_reports.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/bench_client.h"
#include "tests/support/cyrus_fixture.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/poll_until.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using testbench::BenchClient;
using testbench::ImapTestServer;

const char password[] = "bench-password";
const int largeCount = 100000;
const int repetitions = 5;
const int noticeWaitMs = 10000;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpuMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

std::string message(int number)
{
    return "From: bench@example.org\r\nSubject: Bench " + std::to_string(number) + "\r\n\r\nBody.\r\n";
}

// The same pause before each delivery for every observer, as mail does not arrive the instant
// an IDLE begins. (Right after "+ idling" the server's next small write waits for the client's
// delayed ACK under Nagle, up to 40 ms, which would be timed instead of the notice.)
void paceDelivery()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

bool deliverNext(ImapTestServer& server, const std::string& user, int& delivered)
{
    ++delivered;
    return server.deliver(user, "n" + std::to_string(delivered), message(delivered));
}

void printFigures(const char* server, const char* observer, std::vector<double> ms)
{
    if (ms.empty()) {
        std::printf("%-8s %-28s no figures\n", server, observer);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-8s %-28s median %7.1f ms  worst %7.1f ms  (%zu deliveries)\n", server, observer, ms[ms.size() / 2],
                ms.back(), ms.size());
}

// One IMAP command of the bare client: a reply of the 100,000-message folder fits the bound.
bool imapCommand(BenchClient& client, const std::string& tag, const std::string& command)
{
    return testbench::imapCommand(client, tag, command, 1000000);
}

// The server's own notice: a bare client idling, timed to its untagged EXISTS.
std::vector<double> serverNotice(ImapTestServer& server, const std::string& user, int deliveries, int& delivered)
{
    std::vector<double> ms;
    BenchClient client;
    std::string greeting;
    if (!client.connectPlain(server.imapPort()) || !client.readLine(greeting) ||
        !imapCommand(client, "a", "LOGIN " + user + " " + password) || !imapCommand(client, "b", "EXAMINE INBOX"))
        return ms;
    for (int i = 0; i < deliveries; ++i) {
        std::string line;
        if (!client.sendLine("c IDLE") || !client.readLine(line) || line[0] != '+')
            break;
        paceDelivery();
        Clock::time_point start = Clock::now();
        if (!deliverNext(server, user, delivered))
            break;
        bool told = false;
        for (int lines = 0; lines < 100 && !told && client.readLine(line); ++lines)
            told = line.find(" EXISTS") != std::string::npos;
        if (!told)
            break;
        ms.push_back(millisecondsSince(start));
        if (!client.sendLine("DONE"))
            break;
        while (client.readLine(line) && line.compare(0, 2, "c ") != 0) {
        }
    }
    return ms;
}

// A bare client idling beside the checker on the same INBOX: the time of each EXISTS it is
// told, so that the checker's report is compared with the server's notice of the same delivery.
class BareIdler {
public:
    bool start(ImapTestServer& server, const std::string& user)
    {
        std::string line;
        if (!client.connectPlain(server.imapPort()) || !client.readLine(line) ||
            !imapCommand(client, "a", "LOGIN " + user + " " + password) || !imapCommand(client, "b", "EXAMINE INBOX") ||
            !client.sendLine("c IDLE") || !client.readLine(line) || line[0] != '+')
            return false;
        reader = std::thread([this] { readUntilDone(); });
        return true;
    }
    // The time of the n-th EXISTS (from 1), waiting up to noticeWaitMs for it.
    bool existsTime(size_t n, Clock::time_point& at)
    {
        std::unique_lock<std::mutex> hold(guard);
        if (!told.wait_for(hold, std::chrono::milliseconds(noticeWaitMs), [&] { return times.size() >= n; }))
            return false;
        at = times[n - 1];
        return true;
    }
    ~BareIdler()
    {
        if (reader.joinable()) {
            client.sendLine("DONE");
            reader.join();
        }
    }

private:
    void readUntilDone()
    {
        std::string line;
        // Ends at the tagged reply to DONE, or when the connection fails; each read is bounded.
        for (int quiet = 0; quiet < 100;) {
            if (!client.readLine(line)) {
                ++quiet;
                continue;
            }
            if (line.compare(0, 2, "c ") == 0)
                return;
            if (line.find(" EXISTS") != std::string::npos) {
                std::lock_guard<std::mutex> hold(guard);
                times.push_back(Clock::now());
                told.notify_all();
            }
        }
    }

    BenchClient client;
    std::thread reader;
    std::mutex guard;
    std::condition_variable told;
    std::vector<Clock::time_point> times;
};

std::vector<double> addedOverServer;

// pellwick's checker, idling: timed to its report of the new total. Also keeps, in
// addedOverServer, how much later than a bare client's EXISTS of the same delivery it came.
std::vector<double> checkerNotice(ImapTestServer& server, const std::string& user, int deliveries, int& delivered)
{
    std::vector<double> ms;
    addedOverServer.clear();
    BareIdler bare;
    if (!bare.start(server, user))
        return ms;
    mailtest::CheckReports reports;
    CheckerThread checker(0x8001);
    checker.imap.imap.setTimeouts(10, 10);
    reports.attach(checker);
    checker.setAccount("127.0.0.1", user.c_str(), password, server.imapPort(), ConnectionSecurity::None, 60, nullptr,
                       TokenSignIn(), MailProtocol::Imap);
    if (!checker.start() || !reports.waitFor(1, noticeWaitMs) || reports.at(0).status != CheckStatus::Ok) {
        std::printf("%s: the checker's first check failed (status %d)\n", server.name(),
                    static_cast<int>(reports.at(0).status));
        return ms;
    }
    for (int i = 0; i < deliveries; ++i) {
        if (!testbench::pollUntil([&] { return checker.imap.imap.isIdling(); }, noticeWaitMs, 1)) {
            std::printf("%s: the checker did not idle\n", server.name());
            break;
        }
        paceDelivery();
        int total = delivered + 1;
        Clock::time_point start = Clock::now();
        if (!deliverNext(server, user, delivered))
            break;
        bool told = reports.waitUntil(
            [total](const std::vector<CheckSnapshot>& all) { return !all.empty() && all.back().totalCount == total; },
            noticeWaitMs);
        if (!told) {
            std::printf("%s: no report of %d messages (last: status %d, %d messages)\n", server.name(), total,
                        static_cast<int>(reports.at(reports.count() - 1).status),
                        reports.at(reports.count() - 1).totalCount);
            break;
        }
        Clock::time_point reported = Clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(reported - start).count());
        Clock::time_point exists;
        if (bare.existsTime(static_cast<size_t>(total), exists))
            addedOverServer.push_back(std::chrono::duration<double, std::milli>(reported - exists).count());
    }
    return ms;
}

// `fetchmail --check --idle` prints a line on each arrival; it is started here and ended by
// its process id. Skipped (no figures) where fetchmail is not installed.
std::vector<double> fetchmailNotice(ImapTestServer& server, const std::string& user, int deliveries, int& delivered)
{
    std::vector<double> ms;
    std::string rc = "/tmp/pellwick-bench-fetchmailrc-" + std::to_string(getpid());
    {
        std::ofstream out(rc);
        out << "poll 127.0.0.1 protocol IMAP port " << server.imapPort() << " user \"" << user << "\" password \""
            << password << "\" sslproto ''\n";
    }
    std::filesystem::permissions(rc, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    int output[2];
    if (pipe(output) != 0)
        return ms;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, output[1], 2);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::vector<std::string> arguments = {"fetchmail", "--check", "--idle",    "--nosyslog",
                                          "-f",        rc,        "--pidfile", rc + ".pid"};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    pid_t child = 0;
    bool started = posix_spawnp(&child, "fetchmail", &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    FILE* lines = fdopen(output[0], "r");
    char line[1024];
    // The first report (the empty-handed one, or the count so far) tells it is idling.
    bool ready = started && lines && std::fgets(line, sizeof line, lines) != nullptr;
    for (int i = 0; ready && i < deliveries; ++i) {
        // fetchmail tells nothing when its IDLE has begun (right after the line it printed): the
        // pacing lets it begin, so a delivery does not time its restart instead of its notice.
        paceDelivery();
        Clock::time_point start = Clock::now();
        if (!deliverNext(server, user, delivered))
            break;
        if (std::fgets(line, sizeof line, lines) == nullptr || std::string(line).find("message") == std::string::npos)
            break;
        ms.push_back(millisecondsSince(start));
    }
    if (started) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
    }
    if (lines)
        std::fclose(lines);
    std::remove(rc.c_str());
    return ms;
}

int latency(int deliveries)
{
    testbench::DovecotFixture dovecot;
    testbench::CyrusFixture cyrus;
    std::string whyNot;
    if (!testbench::DovecotFixture::fromEnvironment(dovecot)) {
        std::printf("PELLWICK_DOVECOT_DIR does not name a running fixture\n");
        return 1;
    }
    std::vector<ImapTestServer*> servers = {&dovecot};
    if (testbench::CyrusFixture::fromEnvironment(cyrus, whyNot))
        servers.push_back(&cyrus);
    else
        std::printf("Cyrus left out: %s\n", whyNot.c_str());
    bool haveFetchmail = std::system("command -v fetchmail >/dev/null 2>&1") == 0;
    for (ImapTestServer* server : servers) {
        struct Observer {
            const char* name;
            std::function<std::vector<double>(ImapTestServer&, const std::string&, int, int&)> run;
            bool lagBehindServer; // also prints addedOverServer
        } observers[] = {{"server's EXISTS (bare IDLE)", serverNotice, false},
                         {"pellwick checker report", checkerNotice, true},
                         {"fetchmail --check --idle", fetchmailNotice, false}};
        for (const Observer& observer : observers) {
            if (!haveFetchmail && std::string(observer.name).rfind("fetchmail", 0) == 0) {
                std::printf("%-8s %-28s fetchmail not installed\n", server->name(), observer.name);
                continue;
            }
            std::string user = std::string("bench_latency_") + std::to_string(getpid());
            int delivered = 0;
            if (!server->addUser(user, password) || !server->clearMailbox(user)) {
                std::printf("%s: could not prepare the user\n", server->name());
                return 1;
            }
            printFigures(server->name(), observer.name, observer.run(*server, user, deliveries, delivered));
            if (observer.lagBehindServer)
                printFigures(server->name(), "  its lag behind EXISTS", addedOverServer);
        }
    }
    return 0;
}

// The least an IMAP client can do for a check: LOGIN, EXAMINE, UID SEARCH (read to its tagged
// reply, nothing kept), LOGOUT. With ALL it reads every UID; with UNSEEN it asks what pellwick
// asks.
bool floorCheck(int port, const std::string& user, const char* search = "ALL")
{
    BenchClient client;
    std::string greeting;
    return client.connectPlain(port) && client.readLine(greeting) &&
           imapCommand(client, "a", "LOGIN " + user + " " + password) && imapCommand(client, "b", "EXAMINE INBOX") &&
           imapCommand(client, "c", std::string("UID SEARCH ") + search) && imapCommand(client, "d", "LOGOUT");
}

bool fillLarge(testbench::DovecotFixture& dovecot, const std::string& user)
{
    std::filesystem::path cur = std::filesystem::path(dovecot.maildir(user)) / "cur";
    std::error_code ignored;
    size_t present = 0;
    for (auto it = std::filesystem::directory_iterator(cur, ignored); it != std::filesystem::directory_iterator();
         it.increment(ignored))
        ++present;
    if (present == static_cast<size_t>(largeCount))
        return true;
    std::printf("writing %d read messages into cur/...\n", largeCount);
    if (!dovecot.clearMailbox(user))
        return false;
    for (int i = 0; i < largeCount; ++i) {
        std::ofstream out(cur / ("b" + std::to_string(i) + ":2,S"), std::ios::binary);
        out << message(i);
        if (!out)
            return false;
    }
    return true;
}

// Peak memory of a fresh process doing one check. Started through bench_peer_measure (beside
// this program): a process keeps the peak of the one it was forked from across exec, and the
// launcher is small where this one holds the bench.
long peakOfCheck(const char* protocol, int port, const std::string& user)
{
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string launcher = (std::filesystem::path(self).parent_path() / "bench_peer_measure").string();
    std::string command = "'" + launcher + "' '" + self + "' check " + protocol + " " + std::to_string(port) + " " +
                          user + " " + password + " 2>&1 >/dev/null";
    FILE* output = popen(command.c_str(), "r");
    if (!output)
        return -1;
    char line[256];
    long peak = -1;
    int code = -1;
    double wall = 0, cpu = 0;
    while (std::fgets(line, sizeof line, output))
        if (std::sscanf(line, "measured %d %lf %lf %ld", &code, &wall, &cpu, &peak) != 4)
            peak = -1;
    pclose(output);
    return code == 0 ? peak : -1;
}

int large()
{
    testbench::DovecotFixture dovecot;
    if (!testbench::DovecotFixture::fromEnvironment(dovecot)) {
        std::printf("PELLWICK_DOVECOT_DIR does not name a running fixture\n");
        return 1;
    }
    std::string user = "bench_imap_large";
    if (!dovecot.addUser(user, password) || !fillLarge(dovecot, user)) {
        std::printf("could not prepare the mailbox\n");
        return 1;
    }
    floorCheck(dovecot.imapPort(), user); // Dovecot indexes a new mailbox on its first look

    std::vector<double> floorCpu, floorWall, unseenCpu, unseenWall, checkerCpu, checkerWall;
    for (int run = 0; run < repetitions; ++run) {
        for (const char* search : {"ALL", "UNSEEN"}) {
            bool all = search[0] == 'A';
            double cpu = cpuMilliseconds();
            Clock::time_point start = Clock::now();
            if (!floorCheck(dovecot.imapPort(), user, search))
                return std::printf("the minimal client's check failed\n"), 1;
            (all ? floorWall : unseenWall).push_back(millisecondsSince(start));
            (all ? floorCpu : unseenCpu).push_back(cpuMilliseconds() - cpu);
        }
    }
    CheckerThread checker(0);
    checker.setAccount("127.0.0.1", user.c_str(), password, dovecot.imapPort(), ConnectionSecurity::None, 5, nullptr,
                       TokenSignIn(), MailProtocol::Imap);
    for (int run = 0; run < repetitions; ++run) {
        double cpu = cpuMilliseconds();
        Clock::time_point start = Clock::now();
        if (checker.checkOnce() != CheckStatus::Ok || checker.takeSnapshot().totalCount != largeCount)
            return std::printf("pellwick's check failed\n"), 1;
        checkerWall.push_back(millisecondsSince(start));
        checkerCpu.push_back(cpuMilliseconds() - cpu);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("%d messages, median of %d checks (plain IMAP on loopback):\n", largeCount, repetitions);
    std::printf("  minimal client, UID SEARCH ALL     CPU %7.2f ms  wall %7.1f ms\n", median(floorCpu),
                median(floorWall));
    std::printf("  minimal client, UID SEARCH UNSEEN  CPU %7.2f ms  wall %7.1f ms\n", median(unseenCpu),
                median(unseenWall));
    std::printf("  pellwick IMAP cycle                CPU %7.2f ms  wall %7.1f ms\n", median(checkerCpu),
                median(checkerWall));
    std::printf("  CPU ratio pellwick / minimal: %.2f against ALL, %.2f against UNSEEN (goal: at most 2)\n",
                median(checkerCpu) / median(floorCpu), median(checkerCpu) / median(unseenCpu));
    long imapPeak = peakOfCheck("imap", dovecot.imapPort(), user);
    long pop3Peak = peakOfCheck("pop3", dovecot.plainPort(), user);
    std::printf("  peak memory of one fresh check: IMAP %ld KB, POP3 %ld KB, ratio %.2f (goal: at most 1)\n", imapPeak,
                pop3Peak, pop3Peak > 0 ? static_cast<double>(imapPeak) / pop3Peak : 0.0);
    return imapPeak > 0 && pop3Peak > 0 ? 0 : 1;
}

int checkOnce(const std::string& protocol, int port, const std::string& user, const std::string& pass)
{
    CheckerThread checker(0);
    checker.setAccount("127.0.0.1", user.c_str(), pass.c_str(), port, ConnectionSecurity::None, 5, nullptr,
                       TokenSignIn(), protocol == "imap" ? MailProtocol::Imap : MailProtocol::Pop3);
    return checker.checkOnce() == CheckStatus::Ok && checker.takeSnapshot().totalCount > 0 ? 0 : 1;
}

int idle(int seconds)
{
    testbench::DovecotFixture dovecot;
    if (!testbench::DovecotFixture::fromEnvironment(dovecot)) {
        std::printf("PELLWICK_DOVECOT_DIR does not name a running fixture\n");
        return 1;
    }
    std::string user = "bench_idle";
    if (!dovecot.addUser(user, password) || !dovecot.clearMailbox(user) || !dovecot.deliver(user, "i1", message(1)))
        return 1;
    // Trusted from the working folder, as the program does; before the checker reads it.
    mailtest::TrustedCaDirectory trust(dovecot.caFile());
    mailtest::CheckReports reports;
    CheckerThread checker(0x8001);
    reports.attach(checker);
    checker.setAccount("127.0.0.1", user.c_str(), password, dovecot.imapsPort(), ConnectionSecurity::TlsOnConnect, 60,
                       nullptr, TokenSignIn(), MailProtocol::Imap);
    if (!checker.start() || !reports.waitFor(1, noticeWaitMs) ||
        !testbench::pollUntil([&] { return checker.imap.imap.isIdling(); }, noticeWaitMs, 10)) {
        std::printf("the checker did not reach IDLE (status %d)\n", static_cast<int>(reports.at(0).status));
        return 1;
    }
    double cpu = cpuMilliseconds();
    Clock::time_point start = Clock::now();
    // Nothing arrives: the wait below is the measurement window itself, not an ordering.
    reports.waitFor(2, seconds * 1000);
    double wall = millisecondsSince(start);
    double used = cpuMilliseconds() - cpu;
    std::printf("IDLE over TLS for %.0f s: CPU %.1f ms = %.4f%% of a core (goal: under 0.1%%), %zu reports meanwhile\n",
                wall / 1000, used, 100 * used / wall, reports.count() - 1);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "latency")
        return latency(argc > 2 ? std::atoi(argv[2]) : 20);
    if (mode == "large")
        return large();
    if (mode == "idle")
        return idle(argc > 2 ? std::atoi(argv[2]) : 60);
    if (mode == "check" && argc == 6)
        return checkOnce(argv[2], std::atoi(argv[3]), argv[4], argv[5]);
    std::fprintf(stderr, "usage: %s latency [N] | large | idle [SECONDS] | check imap|pop3 PORT USER PASSWORD\n",
                 argv[0]);
    return 2;
}
