#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "mail/connection/connection.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/poll_until.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/test_pki.h"

using mailtest::HangingLookup;
using mailtest::LookupRelease;
using mailtest::Stopwatch;
using mailtest::TrustedCaDirectory;
using testbench::pollUntil;
using testbench::Script;
using testbench::ScriptedPop3Server;
using testbench::TempDirectory;
using testbench::TestPki;

namespace {

const char loopback[] = "127.0.0.1";

std::string readSome(Connection& connection)
{
    char buffer[256];
    int count = connection.read(buffer, sizeof buffer);
    return count > 0 ? std::string(buffer, static_cast<size_t>(count)) : std::string();
}

// Socket waits of the connections that count them.
std::atomic<int> socketWaits{0};

// A loopback port on which nothing listens.
int closedPort()
{
    ScriptedPop3Server server;
    server.start();
    return server.port();
}

// The addresses the next lookup gives, in order, all on loopback; port 0 stands for an
// address that swallows every packet.
std::vector<int> listedPorts;

bool lookUpListedPorts(const char*, const char*, AddressList& addresses)
{
    for (int port : listedPorts)
        lookUpStreamAddresses(loopback, std::to_string(port).c_str(), addresses);
    return addresses.size() > 0;
}

// The connect to the swallowing address never completes: its socket is made a loopback
// listener instead, which never becomes writable.
bool startConnectOrSwallow(int socket, const BIO_ADDR* address)
{
    if (BIO_ADDR_rawport(address) == 0)
        return BIO_listen(socket, address, BIO_SOCK_NONBLOCK) == 1;
    return startStreamConnect(socket, address);
}

const NetworkSteps listedAddresses = {lookUpListedPorts, startConnectOrSwallow};

// ---- Plain TCP ----

// Twenty urgent (out-of-band) bytes 50 ms apart, then `reply`. Windows reports pending urgent
// data to a select on the exception set until it is read, Wine once per byte.
Script urgentBytesThen(const std::string& reply)
{
    Script script;
    for (int i = 0; i < 20; ++i)
        script.sendUrgent('!').pause(50);
    return script.send(reply).stall(2000);
}

// The reader waits on the socket until the reply comes, a slice of abortPollMilliseconds at a
// time: urgent bytes sent meanwhile must not end the wait.
TEST(PlainConnection, ReadsWhatTheServerSends)
{
    struct Case {
        const char* name;
        Script script;
    };
    const Case cases[] = {
        {"at once", Script().send("+OK hello\r\n").stall(2000)},
        {"after a second of urgent bytes", urgentBytesThen("+OK hello\r\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPop3Server server;
        server.addConnection(c.script);
        ASSERT_TRUE(server.start());
        Connection connection;
        connection.steps.waitForSocket = [](int socket, SocketWait what, int milliseconds) {
            ++socketWaits;
            return waitForSocket(socket, what, milliseconds);
        };
        ASSERT_TRUE(connection.open(loopback, server.port(), ConnectionSecurity::None));
        EXPECT_TRUE(connection.isOpen());
        socketWaits = 0;
        EXPECT_EQ(readSome(connection), "+OK hello\r\n");
        EXPECT_LE(socketWaits.load(), 10);
    }
}

TEST(PlainConnection, WrittenLineReachesTheServer)
{
    ScriptedPop3Server server;
    server.addConnection(Script().expectLine("NOOP").send("+OK\r\n"));
    ASSERT_TRUE(server.start());
    Connection connection;
    ASSERT_TRUE(connection.open(loopback, server.port(), ConnectionSecurity::None));
    EXPECT_EQ(connection.write("NOOP\r\n", 6), 6);
    EXPECT_EQ(readSome(connection), "+OK\r\n");
    connection.close();
    server.stop();
    ASSERT_EQ(server.receivedLines().size(), 1u);
    EXPECT_EQ(server.receivedLines()[0], "NOOP");
}

TEST(PlainConnection, PeerClosingEndsTheStream)
{
    ScriptedPop3Server server;
    server.addConnection(Script().send("+OK bye\r\n").disconnect());
    ASSERT_TRUE(server.start());
    Connection connection;
    ASSERT_TRUE(connection.open(loopback, server.port(), ConnectionSecurity::None));
    EXPECT_EQ(readSome(connection), "+OK bye\r\n");
    EXPECT_EQ(readSome(connection), "");
    EXPECT_EQ(connection.lastError(), ConnectionError::Closed);
    EXPECT_FALSE(connection.isOpen());
    connection.close(); // nothing left to release
    EXPECT_FALSE(connection.isOpen());
}

TEST(PlainConnection, ClosedPortIsHostNotFound)
{
    Connection connection;
    EXPECT_FALSE(connection.open(loopback, closedPort(), ConnectionSecurity::None));
    EXPECT_EQ(connection.lastError(), ConnectionError::HostNotFound);
    EXPECT_FALSE(connection.isOpen());
}

TEST(PlainConnection, EmptyHostIsHostNotFound)
{
    Connection connection;
    EXPECT_FALSE(connection.open("", 110, ConnectionSecurity::None));
    EXPECT_EQ(connection.lastError(), ConnectionError::HostNotFound);
}

TEST(PlainConnection, HostTooLongForTheTargetIsRefusedBeforeConnecting)
{
    Connection connection;
    std::string host(252, 'a'); // with ":110" one character over the limit
    EXPECT_FALSE(connection.open(host.c_str(), 110, ConnectionSecurity::None));
    EXPECT_EQ(connection.lastError(), ConnectionError::TargetTooLong);
    EXPECT_FALSE(connection.isOpen());
}

TEST(PlainConnection, SecondOpenReplacesTheFirstStream)
{
    ScriptedPop3Server first;
    first.addConnection(Script().send("first\r\n").stall(3000));
    ScriptedPop3Server second;
    second.addConnection(Script().send("second\r\n").stall(3000));
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(second.start());
    Connection connection;
    ASSERT_TRUE(connection.open(loopback, first.port(), ConnectionSecurity::None));
    ASSERT_TRUE(connection.open(loopback, second.port(), ConnectionSecurity::None));
    EXPECT_EQ(readSome(connection), "second\r\n");
}

// ---- Several addresses ----

// A host with two addresses whose first fails in the TCP phase: the second gets its turn
// within the connect limit.
TEST(ConnectionAddresses, SecondAddressIsTriedWhenTheFirstFails)
{
    struct Case {
        const char* name;
        bool firstSwallows; // else the first refuses
    };
    const Case cases[] = {
        {"first refuses", false},
        {"first never answers", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPop3Server server;
        server.addConnection(Script().send("+OK second\r\n").stall(2000));
        ASSERT_TRUE(server.start());
        listedPorts = {c.firstSwallows ? 0 : closedPort(), server.port()};
        Connection connection;
        connection.steps = listedAddresses;
        connection.setTimeouts(2, 2);
        Stopwatch watch;
        ASSERT_TRUE(connection.open("pop.example.org", 110, ConnectionSecurity::None));
        EXPECT_LT(watch.seconds(), 2.0);
        EXPECT_EQ(readSome(connection), "+OK second\r\n");
    }
}

// ---- Time limits and abort ----

// A resolver that never answers: the lookup counts against the connect limit, abort ends
// the wait for it, and the lookup is left to finish by itself, the only one of its connection.
TEST(ConnectionTimeLimits, HangingNameLookupIsAbandoned)
{
    struct Case {
        const char* name;
        bool abortIt;
        ConnectionError expected;
        double within;
    };
    const Case cases[] = {
        {"at the connect limit", false, ConnectionError::TimedOut, 2.0},
        {"on abort", true, ConnectionError::Aborted, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LookupRelease release(1);
        Connection connection;
        connection.steps.lookUp = HangingLookup::lookUp;
        connection.setTimeouts(c.abortIt ? 30 : 1, 1);
        std::thread stopper([&] {
            if (c.abortIt && release.waitEntered(5000))
                connection.abort();
        });
        Stopwatch watch;
        EXPECT_FALSE(connection.open("pop.example.org", 995, ConnectionSecurity::TlsOnConnect));
        double took = watch.seconds();
        stopper.join();
        EXPECT_EQ(connection.lastError(), c.expected);
        EXPECT_LT(took, c.within);
        EXPECT_FALSE(connection.isOpen());
        // While it runs no other lookup starts: the next open fails at once. Once it has
        // returned, the resolver is asked again (that lookup fails at once).
        connection.clearAbort();
        int entered = HangingLookup::instance().enteredCount();
        EXPECT_FALSE(connection.open("pop.example.org", 995, ConnectionSecurity::TlsOnConnect));
        EXPECT_EQ(connection.lastError(), ConnectionError::TimedOut);
        EXPECT_EQ(HangingLookup::instance().enteredCount(), entered);
        HangingLookup::instance().releaseAll();
        EXPECT_TRUE(pollUntil(
            [&] {
                return !connection.open("pop.example.org", 995, ConnectionSecurity::TlsOnConnect) &&
                       HangingLookup::instance().enteredCount() > entered;
            },
            5000, 10));
        EXPECT_EQ(connection.lastError(), ConnectionError::HostNotFound);
    }
}

TEST(ConnectionTimeLimits, SilentServerTimesOutTheRead)
{
    ScriptedPop3Server server;
    server.addConnection(Script().stall(10000));
    ASSERT_TRUE(server.start());
    Connection connection;
    connection.setTimeouts(2, 1);
    ASSERT_TRUE(connection.open(loopback, server.port(), ConnectionSecurity::None));
    Stopwatch watch;
    EXPECT_EQ(readSome(connection), "");
    EXPECT_EQ(connection.lastError(), ConnectionError::TimedOut);
    EXPECT_GE(watch.seconds(), 0.9);
    EXPECT_LT(watch.seconds(), 3.0);
}

TEST(ConnectionTimeLimits, SilentTlsServerTimesOutTheHandshake)
{
    TempDirectory pkiDirectory;
    TestPki pki;
    ASSERT_TRUE(pki.create(pkiDirectory.path()));
    TrustedCaDirectory trust(pki.path("ca.pem"));
    ASSERT_TRUE(trust.isReady());
    ScriptedPop3Server server; // plain server that never answers the ClientHello
    server.addConnection(Script().stall(10000));
    ASSERT_TRUE(server.start());
    Connection connection;
    connection.setTimeouts(1, 1);
    Stopwatch watch;
    EXPECT_FALSE(connection.open(loopback, server.port(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(connection.lastError(), ConnectionError::TimedOut);
    EXPECT_LT(watch.seconds(), 3.0);
    EXPECT_FALSE(connection.isOpen());
}

TEST(ConnectionTimeLimits, AbortFromAnotherThreadEndsABlockedRead)
{
    ScriptedPop3Server server;
    server.addConnection(Script().expectLine("NOOP").stall(10000));
    ASSERT_TRUE(server.start());
    Connection connection;
    ASSERT_TRUE(connection.open(loopback, server.port(), ConnectionSecurity::None));
    Stopwatch watch;
    // Once the server has the line the client is reading its reply. Abort is sticky, so the
    // read ends Aborted even should the abort land just before it blocks.
    std::thread stopper([&connection, &server] {
        server.waitForLine("NOOP", 5000);
        connection.abort();
    });
    EXPECT_EQ(connection.write("NOOP\r\n", 6), 6);
    std::string got = readSome(connection);
    double waited = watch.seconds();
    stopper.join();
    EXPECT_EQ(got, "");
    EXPECT_EQ(connection.lastError(), ConnectionError::Aborted);
    EXPECT_LT(waited, 2.0);
}

TEST(ConnectionTimeLimits, AbortStaysUntilCleared)
{
    ScriptedPop3Server server;
    server.addConnection(Script().send("+OK\r\n").stall(3000));
    ASSERT_TRUE(server.start());
    Connection connection;
    connection.abort();
    EXPECT_FALSE(connection.open(loopback, server.port(), ConnectionSecurity::None));
    EXPECT_EQ(connection.lastError(), ConnectionError::Aborted);
    connection.clearAbort();
    ASSERT_TRUE(connection.open(loopback, server.port(), ConnectionSecurity::None));
    EXPECT_EQ(readSome(connection), "+OK\r\n");
}

// ---- TLS and certificate checks ----

class TlsConnection : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pki.create(pkiDirectory.path())); }

    // A TLS server presenting `name`.pem, and a connection that trusts the test CA.
    bool serve(const std::string& name, const std::string& trustedCa = "ca.pem")
    {
        server.useTls(pki.path(name + ".pem"), pki.path(name + ".key"));
        server.addConnection(Script().send("+OK secure\r\n").stall(3000));
        trust.reset(new TrustedCaDirectory(trustedCa.empty() ? "" : pki.path(trustedCa)));
        connection.reset(new Connection());
        connection->setTimeouts(5, 5);
        return trust->isReady() && server.start();
    }

    TempDirectory pkiDirectory;
    TestPki pki;
    ScriptedPop3Server server;
    std::unique_ptr<TrustedCaDirectory> trust;
    std::unique_ptr<Connection> connection;
};

TEST_F(TlsConnection, CertificateOfTheTrustedCaIsAcceptedByName)
{
    ASSERT_TRUE(serve("server"));
    ASSERT_TRUE(connection->open("localhost", server.port(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(readSome(*connection), "+OK secure\r\n");
}

TEST_F(TlsConnection, CertificateOfTheTrustedCaIsAcceptedByAddress)
{
    ASSERT_TRUE(serve("server"));
    ASSERT_TRUE(connection->open(loopback, server.port(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(readSome(*connection), "+OK secure\r\n");
}

TEST_F(TlsConnection, SelfSignedCertificateIsNotTrusted)
{
    ASSERT_TRUE(serve("selfsigned"));
    EXPECT_FALSE(connection->open("localhost", server.port(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(connection->lastError(), ConnectionError::CertificateUntrusted);
    EXPECT_FALSE(connection->isOpen());
}

TEST_F(TlsConnection, WithoutTrustFileNothingIsTrusted)
{
    ASSERT_TRUE(serve("server", ""));
    EXPECT_FALSE(connection->open("localhost", server.port(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(connection->lastError(), ConnectionError::CertificateUntrusted);
}

// The trust file is read at the first TLS connection, but from the working folder of the
// construction: a file dialog may have moved the working folder in between.
TEST_F(TlsConnection, TrustFileIsTheOneOfTheWorkingFolderAtConstruction)
{
    struct Case {
        const char* trustedAtConstruction; // "" for a working folder without cacert.pem
        const char* trustedAtOpen;
        bool accepted;
    };
    const Case cases[] = {
        {"ca.pem", "", true},
        {"", "ca.pem", false},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.trustedAtConstruction);
        ScriptedPop3Server tls;
        tls.useTls(pki.path("server.pem"), pki.path("server.key"));
        tls.addConnection(Script().send("+OK secure\r\n").stall(3000));
        ASSERT_TRUE(tls.start());
        std::string constructionCa = *each.trustedAtConstruction ? pki.path(each.trustedAtConstruction) : "";
        std::string openCa = *each.trustedAtOpen ? pki.path(each.trustedAtOpen) : "";
        TrustedCaDirectory atConstruction(constructionCa);
        Connection connection;
        connection.setTimeouts(5, 5);
        TrustedCaDirectory atOpen(openCa);
        ASSERT_TRUE(atConstruction.isReady() && atOpen.isReady());
        EXPECT_EQ(connection.open("localhost", tls.port(), ConnectionSecurity::TlsOnConnect), each.accepted);
        EXPECT_EQ(connection.lastError(),
                  each.accepted ? ConnectionError::None : ConnectionError::CertificateUntrusted);
    }
}

// Each certificate of the trust file is found when a chain names its subject; the file trusts
// what OpenSSL's own loader would make of it: the CA wherever it stands, again on a second
// connection, and nothing at all when a certificate in the file does not parse.
TEST_F(TlsConnection, TrustFileIsFoundCertificateByCertificate)
{
    const std::string broken = "-----BEGIN CERTIFICATE-----\nMAMCAQA=\n-----END CERTIFICATE-----\n";
    struct Case {
        const char* name;
        std::vector<std::string> parts; // files of the test PKI, or text as it stands
        bool accepted;
        const char* served = "server.pem"; // what the server presents (with server.key or chained.key)
    };
    const Case cases[] = {
        {"CA behind other certificates", {"selfsigned.pem", "unknownca.pem", "ca.pem"}, true},
        {"CA twice", {"ca.pem", "ca.pem"}, true},
        {"comment and key before the CA", {"# a comment\n", "ca.key", "ca.pem"}, true},
        {"broken certificate after the CA", {"ca.pem", broken}, false},
        {"broken certificate before the CA", {broken, "ca.pem"}, false},
        // A chain of two: each step's issuer is looked up by its subject in turn.
        {"intermediate sent by the server, CA trusted", {"ca.pem"}, true, "chainedfull.pem"},
        {"intermediate and CA trusted, server sends its own only", {"intermediate.pem", "ca.pem"}, true, "chained.pem"},
        {"CA trusted, intermediate nowhere", {"ca.pem"}, false, "chained.pem"},
        {"intermediate trusted, CA not", {"intermediate.pem"}, false, "chainedfull.pem"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        std::string trustFile = pkiDirectory.path() + "/trust.pem";
        {
            std::ofstream out(trustFile, std::ios::binary | std::ios::trunc);
            for (const std::string& part : each.parts) {
                if (part.find('\n') != std::string::npos)
                    out << part;
                else
                    out << std::ifstream(pki.path(part), std::ios::binary).rdbuf();
            }
            ASSERT_TRUE(out.good());
        }
        ScriptedPop3Server servers[2]; // the second connection finds the CA already in the store
        bool chained = std::string(each.served) != "server.pem";
        for (ScriptedPop3Server& tls : servers) {
            tls.useTls(pki.path(each.served), pki.path(chained ? "chained.key" : "server.key"));
            tls.addConnection(Script().send("+OK secure\r\n").stall(3000));
            ASSERT_TRUE(tls.start());
        }
        TrustedCaDirectory trusted(trustFile);
        ASSERT_TRUE(trusted.isReady());
        Connection connection;
        connection.setTimeouts(5, 5);
        for (ScriptedPop3Server& tls : servers) {
            EXPECT_EQ(connection.open("localhost", tls.port(), ConnectionSecurity::TlsOnConnect), each.accepted);
            EXPECT_EQ(connection.lastError(),
                      each.accepted ? ConnectionError::None : ConnectionError::CertificateUntrusted);
        }
    }
}

TEST_F(TlsConnection, CertificateForAnotherHostIsRefused)
{
    ASSERT_TRUE(serve("wronghost"));
    EXPECT_FALSE(connection->open("localhost", server.port(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(connection->lastError(), ConnectionError::CertificateWrongHost);
}

TEST_F(TlsConnection, CertificateForAnotherAddressIsRefused)
{
    ASSERT_TRUE(serve("wronghost"));
    EXPECT_FALSE(connection->open(loopback, server.port(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(connection->lastError(), ConnectionError::CertificateWrongHost);
}

TEST_F(TlsConnection, ExpiredCertificateIsRefused)
{
    ASSERT_TRUE(serve("expired"));
    EXPECT_FALSE(connection->open("localhost", server.port(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(connection->lastError(), ConnectionError::CertificateExpired);
}

// A certificate the user trusts for the host is accepted, and only that one: the host name
// it carries and its dates are still checked, and any other is refused as before.
TEST_F(TlsConnection, PinnedCertificateIsAcceptedWithItsNameAndDatesStillChecked)
{
    struct Case {
        const char* served;
        const char* pinned;
        bool accepted;
        ConnectionError error;
    } cases[] = {
        {"selfsigned", "selfsigned", true, ConnectionError::None},
        {"unknownca", "selfsigned", false, ConnectionError::CertificateUntrusted},
        {"wronghost", "wronghost", false, ConnectionError::CertificateWrongHost},
        {"expired", "expired", false, ConnectionError::CertificateExpired},
    };
    TrustedCaDirectory trusted(pki.path("ca.pem"));
    ASSERT_TRUE(trusted.isReady());
    for (const Case& each : cases) {
        SCOPED_TRACE(each.served);
        ScriptedPop3Server tls;
        tls.useTls(pki.path(std::string(each.served) + ".pem"), pki.path(std::string(each.served) + ".key"));
        tls.addConnection(Script().send("+OK secure\r\n").stall(3000));
        ASSERT_TRUE(tls.start());
        Connection pinned;
        pinned.setTimeouts(5, 5);
        std::string fingerprint = mailtest::certificateFingerprint(pki.path(std::string(each.pinned) + ".pem"));
        ASSERT_EQ(fingerprint.size(), 95u);
        pinned.pinCertificate(fingerprint.c_str());
        EXPECT_EQ(pinned.open("localhost", tls.port(), ConnectionSecurity::TlsOnConnect), each.accepted);
        EXPECT_EQ(pinned.lastError(), each.error);
        if (each.accepted) {
            EXPECT_EQ(readSome(pinned), "+OK secure\r\n");
            continue;
        }
        CertificateDetails refused;
        ASSERT_TRUE(pinned.describeRefusedCertificate(refused));
        EXPECT_EQ(std::string(refused.sha256),
                  mailtest::certificateFingerprint(pki.path(std::string(each.served) + ".pem")));
    }
}

TEST_F(TlsConnection, CertificateFailureIsNotRetriedOnTheNextAddress)
{
    ASSERT_TRUE(serve("selfsigned"));
    ScriptedPop3Server trusted;
    trusted.useTls(pki.path("server.pem"), pki.path("server.key"));
    trusted.addConnection(Script().send("+OK secure\r\n").stall(2000));
    ASSERT_TRUE(trusted.start());
    listedPorts = {server.port(), trusted.port()};
    connection->steps = listedAddresses;
    EXPECT_FALSE(connection->open(loopback, 995, ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(connection->lastError(), ConnectionError::CertificateUntrusted);
    trusted.stop();
    EXPECT_EQ(trusted.connectionsAccepted(), 0);
}

TEST_F(TlsConnection, PlainServerFailsTheHandshake)
{
    ScriptedPop3Server plain;
    plain.addConnection(Script().send("+OK plain\r\n").stall(2000));
    ASSERT_TRUE(plain.start());
    TrustedCaDirectory trusted(pki.path("ca.pem"));
    Connection tls;
    tls.setTimeouts(5, 5);
    EXPECT_FALSE(tls.open(loopback, plain.port(), ConnectionSecurity::TlsOnConnect));
    EXPECT_EQ(tls.lastError(), ConnectionError::TlsFailed);
    EXPECT_FALSE(tls.isOpen());
}

TEST_F(TlsConnection, TlsThenPlainOnOneObjectKeepsOnlyThePlainStream)
{
    ASSERT_TRUE(serve("selfsigned"));
    ScriptedPop3Server plain;
    plain.addConnection(Script().send("+OK plain\r\n").stall(2000));
    ASSERT_TRUE(plain.start());
    EXPECT_FALSE(connection->open("localhost", server.port(), ConnectionSecurity::TlsOnConnect));
    ASSERT_TRUE(connection->open(loopback, plain.port(), ConnectionSecurity::None));
    EXPECT_FALSE(connection->isTls());
    EXPECT_EQ(readSome(*connection), "+OK plain\r\n");
}

} // namespace
