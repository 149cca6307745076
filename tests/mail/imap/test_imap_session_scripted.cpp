// IMAP dialogues with the scripted loopback server, for what needs a real socket: STARTTLS's
// handshake, and the ways IDLE ends in time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "mail/imap/imap_session.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/poll_until.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/temp_directory.h"
#include "tests/support/test_pki.h"

using mailtest::TrustedCaDirectory;
using testbench::Script;
using testbench::ScriptedPop3Server;

namespace {

const char loopback[] = "127.0.0.1";

// Pre-TLS capabilities forbid LOGIN; the ones asked inside TLS do not, so a LOGIN shows that
// what was said in plain text was forgotten.
TEST(ImapStartTls, CapabilitiesAreAskedAgainInsideTlsAndReplaceThePlainOnes)
{
    testbench::TempDirectory folder;
    testbench::TestPki pki;
    ASSERT_TRUE(pki.create(folder.path()));
    TrustedCaDirectory trust(pki.path("ca.pem"));
    ASSERT_TRUE(trust.isReady());
    ScriptedPop3Server server;
    server.useTls(pki.path("server.pem"), pki.path("server.key"));
    server.addConnection(Script()
                             .send("* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] hi\r\n")
                             .expectLine("a1 STARTTLS")
                             .send("a1 OK begin\r\n")
                             .startTls()
                             .expectLine("a2 CAPABILITY")
                             .send("* CAPABILITY IMAP4rev1 IDLE\r\na2 OK\r\n")
                             .expectLine("a3 LOGIN \"alice\" \"secret\"")
                             .send("a3 OK [CAPABILITY IMAP4rev1 IDLE] in\r\n"));
    ASSERT_TRUE(server.start());
    ImapSession session;
    session.setTimeouts(5, 5);
    ASSERT_EQ(static_cast<int>(session.connect("localhost", server.port(), ConnectionSecurity::StartTls)),
              static_cast<int>(ImapStatus::Ok));
    EXPECT_TRUE(session.isTls());
    EXPECT_EQ(static_cast<int>(session.logIn("alice", "secret")), static_cast<int>(ImapStatus::Ok));
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}

enum class Act { Nothing, EndIdle, Abort, ClockJumps };

// The wall clock of a machine that slept an hour after the wait's first look at it.
std::atomic<int> wallClockReads{0};
std::chrono::system_clock::time_point clockOfASleep()
{
    return std::chrono::system_clock::now() + std::chrono::hours(wallClockReads++ > 0 ? 1 : 0);
}

struct IdleRow {
    const char* name;
    void (*tail)(Script&); // what the server does after its "+ idling"
    Act act;
    ImapStatus status;
    IdleWake wake;
    ImapReadError why = ImapReadError::None;
};

void PrintTo(const IdleRow& row, std::ostream* out)
{
    *out << row.name;
}

std::vector<IdleRow> idleRows()
{
    return {
        {"QuietUntilTheTimeLimit", [](Script& s) { s.expectLine("DONE").send("a5 OK\r\n"); }, Act::Nothing,
         ImapStatus::Ok, IdleWake::TimeLimit},
        {"EndedFromAnotherThread", [](Script& s) { s.expectLine("DONE").send("a5 OK\r\n"); }, Act::EndIdle,
         ImapStatus::Ok, IdleWake::Ended},
        {"MachineSleptDuringTheWait", [](Script& s) { s.stall(10000); }, Act::ClockJumps, ImapStatus::Ok,
         IdleWake::Slept},
        {"AbortedFromAnotherThread", [](Script& s) { s.stall(10000); }, Act::Abort, ImapStatus::StreamFailed,
         IdleWake::TimeLimit, ImapReadError::Stream},
        // Each byte within the read limit, but the response not whole within its own.
        {"DripSlowerThanTheResponseLimit", [](Script& s) { s.sendSplit("* 4 EXISTS\r\n", 1, 100).stall(5000); },
         Act::Nothing, ImapStatus::ReplyRefused, IdleWake::TimeLimit, ImapReadError::TooSlow},
        {"ByeWhileIdling", [](Script& s) { s.send("* BYE shutting down\r\n"); }, Act::Nothing, ImapStatus::Bye,
         IdleWake::TimeLimit},
    };
}

class ImapIdleEndings : public ::testing::TestWithParam<IdleRow> {};

// Logged in (the capabilities asked before, and again as the login's OK lacks them), INBOX
// examined, then IDLE.
TEST_P(ImapIdleEndings, IdleEndsAsTheServerOrTheCallerDecides)
{
    const IdleRow& row = GetParam();
    Script script = Script()
                        .send("* OK hi\r\n")
                        .expectLine("a1 CAPABILITY")
                        .send("* CAPABILITY IMAP4rev1 IDLE\r\na1 OK\r\n")
                        .expectLine("a2 LOGIN")
                        .send("a2 OK in\r\n")
                        .expectLine("a3 CAPABILITY")
                        .send("* CAPABILITY IMAP4rev1 IDLE\r\na3 OK\r\n")
                        .expectLine("a4 EXAMINE")
                        .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 1] v\r\na4 OK\r\n")
                        .expectLine("a5 IDLE")
                        .send("+ idling\r\n");
    row.tail(script);
    ScriptedPop3Server server;
    server.addConnection(script);
    ASSERT_TRUE(server.start());
    ImapSession session;
    session.setTimeouts(5, 5);
    session.setResponseMilliseconds(300);
    ASSERT_EQ(static_cast<int>(session.connect(loopback, server.port(), ConnectionSecurity::None)),
              static_cast<int>(ImapStatus::Ok));
    ASSERT_EQ(static_cast<int>(session.logIn("alice", "secret")), static_cast<int>(ImapStatus::Ok));
    ASSERT_EQ(static_cast<int>(session.examine()), static_cast<int>(ImapStatus::Ok));
    IdleWake wake = IdleWake::TimeLimit;
    wallClockReads = 0;
    if (row.act == Act::ClockJumps)
        session.setWallClock(clockOfASleep);
    // Long enough for the other thread to act first; 1 second where nobody acts.
    int seconds = row.act == Act::Nothing ? 1 : 30;
    std::future<ImapStatus> idled = std::async(std::launch::async, [&] { return session.idle(seconds, wake); });
    if (row.act == Act::EndIdle || row.act == Act::Abort) {
        EXPECT_TRUE(testbench::pollUntil([&] { return session.isIdling(); }, 5000, 10));
        if (row.act == Act::EndIdle)
            session.endIdle();
        else
            session.abort();
    }
    ASSERT_EQ(idled.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(static_cast<int>(idled.get()), static_cast<int>(row.status));
    EXPECT_EQ(static_cast<int>(session.readError()), static_cast<int>(row.why));
    if (row.status == ImapStatus::Ok) {
        EXPECT_EQ(static_cast<int>(wake), static_cast<int>(row.wake));
    }
    if (row.act == Act::Abort) {
        EXPECT_EQ(static_cast<int>(session.lastError()), static_cast<int>(ConnectionError::Aborted));
    }
    session.close();
    server.stop();
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}

INSTANTIATE_TEST_SUITE_P(Table, ImapIdleEndings, ::testing::ValuesIn(idleRows()),
                         [](const ::testing::TestParamInfo<IdleRow>& info) { return std::string(info.param.name); });

} // namespace
