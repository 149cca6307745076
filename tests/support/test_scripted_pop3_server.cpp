#include "tests/support/bench_client.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/temp_directory.h"
#include "tests/support/test_pki.h"

#include <gtest/gtest.h>

#include <chrono>
#include <openssl/x509_vfy.h>

namespace testbench {
namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

const char kGreeting[] = "+OK scripted POP3 ready\r\n";

TEST(ScriptedServerWrites, GreetingSplitIntoSingleBytesArrivesWhole)
{
    ScriptedPop3Server server;
    server.addConnection(Script().sendSplit(kGreeting, 1));
    ASSERT_TRUE(server.start());
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(server.port()));
    std::string line;
    ASSERT_TRUE(client.readLine(line));
    EXPECT_EQ(line, "+OK scripted POP3 ready");
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}

TEST(ScriptedServerWrites, PausedPiecesReachTheClientAsSeparateReads)
{
    ScriptedPop3Server server;
    server.addConnection(Script().sendSplit("+OK 12345\r\n", 3, 60));
    ASSERT_TRUE(server.start());
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(server.port()));
    std::string received;
    int reads = 0;
    while (received.size() < 11 && reads < 20) {
        std::string chunk = client.readChunk();
        if (chunk.empty())
            break;
        received += chunk;
        ++reads;
    }
    EXPECT_EQ(received, "+OK 12345\r\n");
    // Four pieces 60 ms apart: a client reading at once cannot get them all in one read.
    EXPECT_GE(reads, 2);
}

TEST(ScriptedServerLines, RecordsClientLinesWithoutLineEnds)
{
    ScriptedPop3Server server;
    server.addConnection(
        Script().send(kGreeting).expectLine("USER").send("+OK\r\n").expectLine("PASS").send("+OK logged in\r\n"));
    ASSERT_TRUE(server.start());
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(server.port()));
    std::string line;
    ASSERT_TRUE(client.readLine(line));
    ASSERT_TRUE(client.sendLine("USER alice"));
    ASSERT_TRUE(client.readLine(line));
    ASSERT_TRUE(client.sendLine("PASS secret"));
    ASSERT_TRUE(client.readLine(line));
    EXPECT_EQ(line, "+OK logged in");
    client.close();
    server.stop();
    EXPECT_EQ(server.receivedLines(), (std::vector<std::string>{"USER alice", "PASS secret"}));
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}

TEST(ScriptedServerLines, UnexpectedLineFailsTheScriptAndHangsUp)
{
    ScriptedPop3Server server;
    server.addConnection(Script().send(kGreeting).expectLine("USER").send("+OK\r\n"));
    ASSERT_TRUE(server.start());
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(server.port()));
    std::string line;
    ASSERT_TRUE(client.readLine(line));
    ASSERT_TRUE(client.sendLine("LIST"));
    EXPECT_TRUE(client.seesHangUp());
    server.stop();
    EXPECT_TRUE(server.scriptFailed());
    EXPECT_NE(server.failure().find("LIST"), std::string::npos) << server.failure();
    EXPECT_EQ(server.receivedLines(), std::vector<std::string>{"LIST"});
}

TEST(ScriptedServerLines, ClientHangingUpInsteadOfSendingFailsTheScript)
{
    ScriptedPop3Server server;
    server.addConnection(Script().send(kGreeting).expectLine("USER"));
    ASSERT_TRUE(server.start());
    {
        BenchClient client;
        ASSERT_TRUE(client.connectPlain(server.port()));
        std::string line;
        ASSERT_TRUE(client.readLine(line));
    }
    // The server notices the hang-up and then accepts the next connection.
    BenchClient second;
    ASSERT_TRUE(second.connectPlain(server.port()));
    EXPECT_TRUE(second.seesHangUp());
    EXPECT_TRUE(server.waitForConnections(2, 5000));
    EXPECT_TRUE(server.scriptFailed());
}

TEST(ScriptedServerConnections, SuccessiveConnectionsFollowSuccessiveScripts)
{
    ScriptedPop3Server server;
    server.addConnection(Script().send("+OK first\r\n"));
    server.addConnection(Script().send("+OK second\r\n"));
    ASSERT_TRUE(server.start());
    std::string line;
    for (const char* expected : {"+OK first", "+OK second"}) {
        BenchClient client;
        ASSERT_TRUE(client.connectPlain(server.port()));
        ASSERT_TRUE(client.readLine(line));
        EXPECT_EQ(line, expected);
    }
    BenchClient extra;
    ASSERT_TRUE(extra.connectPlain(server.port()));
    EXPECT_TRUE(extra.seesHangUp());
    EXPECT_TRUE(server.waitForConnections(3, 5000));
    EXPECT_EQ(server.connectionsAccepted(), 3);
}

TEST(ScriptedServerConnections, DisconnectHangsUpMidDialogue)
{
    ScriptedPop3Server server;
    server.addConnection(Script().send(kGreeting).expectLine("USER").disconnect().send("+OK never sent\r\n"));
    ASSERT_TRUE(server.start());
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(server.port()));
    std::string line;
    ASSERT_TRUE(client.readLine(line));
    ASSERT_TRUE(client.sendLine("USER bob"));
    EXPECT_TRUE(client.seesHangUp());
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}

TEST(ScriptedServerStop, StopReturnsPromptlyWhileAConnectionStalls)
{
    ScriptedPop3Server server;
    server.addConnection(Script().send(kGreeting).stall(60000));
    ASSERT_TRUE(server.start());
    BenchClient client;
    ASSERT_TRUE(client.connectPlain(server.port()));
    std::string line;
    ASSERT_TRUE(client.readLine(line));
    ASSERT_TRUE(server.waitForConnections(1, 5000));
    EXPECT_TRUE(client.staysQuietFor(300));
    Clock::time_point start = Clock::now();
    server.stop();
    EXPECT_LT(msSince(start), 1500);
}

TEST(ScriptedServerStop, StallEndsWhenTheClientHangsUp)
{
    ScriptedPop3Server server;
    server.addConnection(Script().send(kGreeting).stall(60000));
    server.addConnection(Script().send("+OK again\r\n"));
    ASSERT_TRUE(server.start());
    {
        BenchClient client;
        ASSERT_TRUE(client.connectPlain(server.port()));
    }
    Clock::time_point start = Clock::now();
    BenchClient second;
    ASSERT_TRUE(second.connectPlain(server.port()));
    std::string line;
    ASSERT_TRUE(second.readLine(line));
    EXPECT_EQ(line, "+OK again");
    EXPECT_LT(msSince(start), 3000);
}

class ScriptedServerTls : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pki.create(folder.path())); }

    TempDirectory folder;
    TestPki pki;
};

TEST_F(ScriptedServerTls, ServerCertificateVerifiesAgainstTheTestCa)
{
    ScriptedPop3Server server;
    server.useTls(pki.path("server.pem"), pki.path("server.key"));
    server.addConnection(Script().sendSplit(kGreeting, 4).expectLine("USER"));
    ASSERT_TRUE(server.start());
    BenchClient client;
    ASSERT_TRUE(client.connectTls(server.port(), pki.path("ca.pem"), "localhost")) << client.verifyResult();
    std::string line;
    ASSERT_TRUE(client.readLine(line));
    EXPECT_EQ(line, "+OK scripted POP3 ready");
    ASSERT_TRUE(client.sendLine("USER carol"));
    // Stopping may otherwise end the server before it has read the line.
    EXPECT_TRUE(server.waitForLine("USER carol", 5000));
    client.close();
    server.stop();
    EXPECT_EQ(server.receivedLines(), std::vector<std::string>{"USER carol"});
    EXPECT_FALSE(server.scriptFailed()) << server.failure();
}

struct RefusedCertificate {
    const char* baseName;
    long reason;
};

void PrintTo(const RefusedCertificate& certificate, std::ostream* out)
{
    *out << certificate.baseName;
}

class ScriptedServerTlsRefusal : public ScriptedServerTls, public ::testing::WithParamInterface<RefusedCertificate> {};

TEST_P(ScriptedServerTlsRefusal, VerifyingClientRefusesTheCertificate)
{
    std::string base = GetParam().baseName;
    ScriptedPop3Server server;
    server.useTls(pki.path(base + ".pem"), pki.path(base + ".key"));
    server.addConnection(Script().send(kGreeting));
    ASSERT_TRUE(server.start());
    BenchClient client;
    EXPECT_FALSE(client.connectTls(server.port(), pki.path("ca.pem"), "localhost"));
    EXPECT_EQ(client.verifyResult(), GetParam().reason);
    client.close();
    EXPECT_TRUE(server.waitForConnections(1, 5000));
}

INSTANTIATE_TEST_SUITE_P(TestCertificates, ScriptedServerTlsRefusal,
                         ::testing::Values(RefusedCertificate{"wronghost", X509_V_ERR_HOSTNAME_MISMATCH},
                                           RefusedCertificate{"expired", X509_V_ERR_CERT_HAS_EXPIRED},
                                           RefusedCertificate{"selfsigned", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT}),
                         [](const ::testing::TestParamInfo<RefusedCertificate>& info) {
                             return std::string(info.param.baseName);
                         });

} // namespace
} // namespace testbench
