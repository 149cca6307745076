// 1, 4 and 16 accounts checking side by side against the private Dovecot, each account its own
// user with 100 messages: POP3 and IMAP (which stays connected in IDLE) over TLS, and POP3 in
// plain, whose difference from POP3 over TLS is what TLS costs an account. Each count
// runs in a fresh process of its own, so that no figure inherits another run's memory. Prints
// threads, resident memory, CPU while idle, one full cycle of all accounts and the time to
// stop them all, with ratios to one account; then the stop with every account held
// mid-dialogue by a scripted server that stops answering after the user name.
//
// Run by hand with the fixture, from a build without sanitizers:
//   bash tests/support/dovecot/dovecot-fixture.sh start /tmp/dovecot-bench
//   PELLWICK_DOVECOT_DIR=/tmp/dovecot-bench build/bench/benchmarks/bench_accounts
//   bash tests/support/dovecot/dovecot-fixture.sh stop /tmp/dovecot-bench
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "account/mail_account.h"
#include "tests/mail/checker/checker_reports.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/scripted_pop3_server.h"

namespace {

const int accountCounts[] = {1, 4, 16};
const int messagesPerAccount = 100;
const int idleSeconds = 10;
const int reportWaitSeconds = 60;
const char password[] = "bench-password";

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A field of /proc/self/status ("Threads", "VmRSS" in kB); -1 when absent.
long statusField(const char* name)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    size_t length = std::strlen(name);
    while (std::getline(status, line))
        if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    return -1;
}

double cpuMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

struct NoStore : RefreshTokenStore {
    void storeRefreshToken(const std::string&) override {}
};

struct Figures {
    long threads = 0;
    long residentKb = 0;
    double idleCpuMs = 0;
    double firstCycleMs = 0;
    double cycleMs = 0;
    double stopMs = 0;
};

bool prepareUsers(testbench::DovecotFixture& dovecot, int count)
{
    for (int i = 0; i < count; ++i) {
        std::string user = "bench_accounts_" + std::to_string(i);
        if (std::filesystem::exists(dovecot.maildir(user) + "/new/m0"))
            continue; // filled by an earlier run
        if (!dovecot.addUser(user, password) || !dovecot.clearMailbox(user))
            return false;
        for (int m = 0; m < messagesPerAccount; ++m)
            if (!dovecot.deliver(user, "m" + std::to_string(m), "Subject: " + std::to_string(m) + "\r\n\r\nbody\r\n"))
                return false;
    }
    return true;
}

void stopAll(std::vector<std::unique_ptr<MailAccount>>& accounts)
{
    for (auto& account : accounts)
        account->requestStop();
    for (auto& account : accounts)
        account->stop();
}

// One process's run: `count` accounts of `protocol`, measured from start to stop.
bool measure(const testbench::DovecotFixture& dovecot, int count, MailProtocol protocol, bool tls, Figures& out)
{
    long threadsBefore = statusField("Threads");
    long residentBefore = statusField("VmRSS");
    NoStore store;
    std::vector<std::unique_ptr<mailtest::CheckReports>> reports; // outlive the accounts that call them
    std::vector<std::unique_ptr<MailAccount>> accounts;
    for (int i = 0; i < count; ++i) {
        ConfigurationValues values;
        std::string user = "bench_accounts_" + std::to_string(i);
        values.server.assign("127.0.0.1");
        values.username.assign(user.c_str());
        values.password.assign(password);
        values.protocol = protocol;
        values.security = tls ? ConnectionSecurity::TlsOnConnect : ConnectionSecurity::None;
        values.port = protocol == MailProtocol::Imap ? (tls ? dovecot.imapsPort() : dovecot.imapPort())
                                                     : (tls ? dovecot.tlsPort() : dovecot.plainPort());
        values.checkMinutes = 60;
        accounts.emplace_back(new MailAccount(0, store));
        accounts.back()->load(values, "", "");
        reports.emplace_back(new mailtest::CheckReports);
        reports.back()->attach(accounts.back()->checker);
    }
    Clock::time_point start = Clock::now();
    for (auto& account : accounts)
        account->checker.start();
    auto eachReported = [&](size_t times) {
        for (auto& heard : reports)
            if (!heard->waitFor(times, reportWaitSeconds * 1000) ||
                heard->at(times - 1).totalCount != messagesPerAccount)
                return false;
        return true;
    };
    if (!eachReported(1))
        return false;
    out.firstCycleMs = millisecondsSince(start);
    start = Clock::now();
    for (auto& account : accounts)
        account->checker.requestCheckNow();
    if (!eachReported(2))
        return false;
    out.cycleMs = millisecondsSince(start);

    double cpuBefore = cpuMilliseconds();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    out.idleCpuMs = cpuMilliseconds() - cpuBefore;
    out.threads = statusField("Threads") - threadsBefore;
    out.residentKb = statusField("VmRSS") - residentBefore;

    for (auto& account : accounts)
        account->checker.requestCheckNow();
    start = Clock::now();
    stopAll(accounts);
    out.stopMs = millisecondsSince(start);
    return true;
}

// `count` accounts each held after USER by a scripted server of its own, then stopped.
double stopStalled(int count)
{
    NoStore store;
    std::vector<std::unique_ptr<testbench::ScriptedPop3Server>> servers;
    std::vector<std::unique_ptr<MailAccount>> accounts;
    for (int i = 0; i < count; ++i) {
        servers.emplace_back(new testbench::ScriptedPop3Server);
        servers.back()->addConnection(testbench::Script().send("+OK ready\r\n").expectLine("USER").stall(60000));
        if (!servers.back()->start())
            return -1;
        ConfigurationValues values;
        values.server.assign("127.0.0.1");
        values.username.assign("stalled");
        values.password.assign(password);
        values.security = ConnectionSecurity::None;
        values.port = servers.back()->port();
        accounts.emplace_back(new MailAccount(0, store));
        accounts.back()->load(values, "", "");
        accounts.back()->start(CheckOwner());
    }
    for (auto& server : servers)
        if (!server->waitForLine("USER", reportWaitSeconds * 1000))
            return -1;
    Clock::time_point start = Clock::now();
    stopAll(accounts);
    return millisecondsSince(start);
}

// The child: trusts the fixture's CA from a folder of its own and prints one line of figures.
int runChild(int count, MailProtocol protocol, bool tls)
{
    testbench::DovecotFixture dovecot;
    if (!testbench::DovecotFixture::fromEnvironment(dovecot))
        return 1;
    std::string folder =
        std::filesystem::temp_directory_path().string() + "/bench_accounts_" + std::to_string(::getpid());
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(dovecot.caFile(), folder + "/cacert.pem");
    std::filesystem::current_path(folder);
    Figures figures;
    bool measured = measure(dovecot, count, protocol, tls, figures);
    double stalledMs = protocol == MailProtocol::Pop3 && tls ? stopStalled(count) : -1;
    std::filesystem::current_path("/");
    std::filesystem::remove_all(folder);
    if (!measured)
        return 1;
    std::printf("%ld %ld %.1f %.1f %.1f %.1f %.1f\n", figures.threads, figures.residentKb, figures.idleCpuMs,
                figures.firstCycleMs, figures.cycleMs, figures.stopMs, stalledMs);
    return 0;
}

bool runInChild(const char* self, int count, const char* protocol, Figures& out, double& stalledMs)
{
    std::string command = std::string(self) + " " + std::to_string(count) + " " + protocol;
    FILE* child = ::popen(command.c_str(), "r");
    if (child == nullptr)
        return false;
    int read = std::fscanf(child, "%ld %ld %lf %lf %lf %lf %lf", &out.threads, &out.residentKb, &out.idleCpuMs,
                           &out.firstCycleMs, &out.cycleMs, &out.stopMs, &stalledMs);
    return ::pclose(child) == 0 && read == 7;
}

// Ratios to one account; memory also as what each account beyond the first adds.
void printRow(int count, const Figures& f, const Figures& one)
{
    auto ratio = [](double value, double base) { return base > 0 ? value / base : 0.0; };
    double furtherKb = count > 1 ? double(f.residentKb - one.residentKb) / (count - 1) : 0;
    std::printf("| %d | %ld | %ld | %.2f | %.0f | %.1f | %.2f | %.0f | %.0f | %.2f | %.0f |\n", count, f.threads,
                f.residentKb, ratio(f.residentKb, one.residentKb), furtherKb, f.idleCpuMs,
                ratio(f.idleCpuMs, one.idleCpuMs), f.firstCycleMs, f.cycleMs, ratio(f.cycleMs, one.cycleMs), f.stopMs);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3)
        return runChild(std::atoi(argv[1]), std::strcmp(argv[2], "imap") == 0 ? MailProtocol::Imap : MailProtocol::Pop3,
                        std::strcmp(argv[2], "pop3-plain") != 0);
    testbench::DovecotFixture dovecot;
    if (!testbench::DovecotFixture::fromEnvironment(dovecot)) {
        std::printf("PELLWICK_DOVECOT_DIR does not name a running fixture\n");
        return 1;
    }
    if (!prepareUsers(dovecot, 16)) {
        std::printf("could not prepare the mailboxes\n");
        return 1;
    }
    std::vector<std::pair<int, double>> stalled;
    const char* titles[] = {"POP3 over TLS", "IMAP over TLS (IDLE between cycles)", "POP3 in plain"};
    const char* protocols[] = {"pop3", "imap", "pop3-plain"};
    for (size_t p = 0; p < 3; ++p) {
        const char* protocol = protocols[p];
        std::printf("\n%s, each account its own user with %d messages; idle CPU over %d s\n\n", titles[p],
                    messagesPerAccount, idleSeconds);
        std::printf("| accounts | threads added | resident KB added | / one | KB per further account | idle CPU ms "
                    "| / one | first cycle ms | full cycle ms | / one | stop ms |\n");
        std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
        Figures one;
        for (int count : accountCounts) {
            Figures figures;
            double stalledMs = -1;
            if (!runInChild(argv[0], count, protocol, figures, stalledMs)) {
                std::printf("the run with %d accounts failed\n", count);
                return 1;
            }
            if (count == 1)
                one = figures;
            printRow(count, figures, one);
            if (stalledMs >= 0)
                stalled.push_back({count, stalledMs});
        }
    }
    std::printf("\nstop with every account held mid-dialogue (after USER):\n");
    for (const auto& row : stalled)
        std::printf("%d accounts: %.0f ms\n", row.first, row.second);
    return 0;
}
