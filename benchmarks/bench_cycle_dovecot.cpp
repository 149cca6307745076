// One full check cycle against the private Dovecot with 100,000 messages, beside a minimal
// client that only sends USER, PASS and UIDL and reads to the terminator. Prints both times
// and their ratio (goal: under 1.2).
//
// Run by hand with the fixture:
//   bash tests/support/dovecot/dovecot-fixture.sh start /tmp/dovecot-bench
//   PELLWICK_DOVECOT_DIR=/tmp/dovecot-bench build/<dir>/benchmarks/bench_cycle_dovecot
//   bash tests/support/dovecot/dovecot-fixture.sh stop /tmp/dovecot-bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mail/checker/checker_thread.h"
#include "tests/support/dovecot_fixture.h"

namespace {

const int messageCount = 100000;
const int repetitions = 5;
const char user[] = "bench_cycle";
const char password[] = "bench-password";

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

size_t messagesIn(const std::string& maildir)
{
    size_t count = 0;
    std::error_code ignored;
    for (const char* folder : {"new", "cur"})
        for (auto it = std::filesystem::directory_iterator(maildir + "/" + folder, ignored);
             it != std::filesystem::directory_iterator(); it.increment(ignored))
            ++count;
    return count;
}

bool fillMailbox(testbench::DovecotFixture& dovecot)
{
    if (messagesIn(dovecot.maildir(user)) == static_cast<size_t>(messageCount))
        return true;
    std::printf("delivering %d messages...\n", messageCount);
    if (!dovecot.clearMailbox(user))
        return false;
    for (int i = 0; i < messageCount; ++i) {
        std::string text = "Subject: " + std::to_string(i) + "\r\n\r\nbody\r\n";
        if (!dovecot.deliver(user, "b" + std::to_string(i), text))
            return false;
    }
    return true;
}

// The least a client can do: one write per command, then read its reply.
class MinimalClient {
public:
    ~MinimalClient()
    {
        if (socketFd >= 0)
            ::close(socketFd);
    }
    bool run(int port)
    {
        socketFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (socketFd < 0 || ::connect(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return false;
        return readUntil("\r\n") && command(std::string("USER ") + user, "\r\n") &&
               command(std::string("PASS ") + password, "\r\n") && command("UIDL", "\r\n.\r\n");
    }
    size_t received = 0;

private:
    bool command(const std::string& line, const char* end)
    {
        std::string text = line + "\r\n";
        pending.clear();
        return ::send(socketFd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) && readUntil(end);
    }
    bool readUntil(const char* end)
    {
        size_t endLength = std::strlen(end);
        char buffer[65536];
        for (;;) {
            if (pending.size() >= endLength && pending.compare(pending.size() - endLength, endLength, end) == 0)
                return pending.compare(0, 3, "+OK") == 0;
            ssize_t got = ::recv(socketFd, buffer, sizeof buffer, 0);
            if (got <= 0)
                return false;
            pending.append(buffer, static_cast<size_t>(got));
            received += static_cast<size_t>(got);
        }
    }
    int socketFd = -1;
    std::string pending;
};

double timeMinimalClient(int port)
{
    double best = 1e9;
    for (int run = 0; run < repetitions; ++run) {
        MinimalClient client;
        Clock::time_point start = Clock::now();
        if (!client.run(port))
            return -1;
        best = std::min(best, secondsSince(start));
    }
    return best;
}

double timeCheckCycle(int port)
{
    CheckerThread checker(0);
    checker.setAccount("127.0.0.1", user, password, port, ConnectionSecurity::None, 5);
    double best = 1e9;
    for (int run = 0; run < repetitions; ++run) {
        Clock::time_point start = Clock::now();
        if (checker.checkOnce() != CheckStatus::Ok)
            return -1;
        best = std::min(best, secondsSince(start));
        if (run == 0)
            checker.markAsRead(); // later cycles: everything seen, as most checks are
    }
    CheckSnapshot result = checker.takeSnapshot();
    return result.totalCount == messageCount ? best : -1;
}

} // namespace

int main()
{
    testbench::DovecotFixture dovecot;
    if (!testbench::DovecotFixture::fromEnvironment(dovecot)) {
        std::printf("PELLWICK_DOVECOT_DIR does not name a running fixture\n");
        return 1;
    }
    if (!dovecot.addUser(user, password) || !fillMailbox(dovecot)) {
        std::printf("could not prepare the mailbox\n");
        return 1;
    }
    MinimalClient warmUp; // Dovecot indexes a new mailbox on its first listing
    warmUp.run(dovecot.plainPort());

    double minimal = timeMinimalClient(dovecot.plainPort());
    double cycle = timeCheckCycle(dovecot.plainPort());
    if (minimal <= 0 || cycle <= 0) {
        std::printf("a check failed\n");
        return 1;
    }
    std::printf("minimal client, %d messages: %.1f ms\n", messageCount, minimal * 1000);
    std::printf("check cycle, %d messages:    %.1f ms\n", messageCount, cycle * 1000);
    std::printf("ratio cycle / minimal: %.2f (goal: under 1.2)\n", cycle / minimal);
    return 0;
}
