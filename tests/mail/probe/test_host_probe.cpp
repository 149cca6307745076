// The host probe against loopback servers: the step that finds POP3 or IMAP, and that nothing is
// tried after a certificate failure, so that no weaker step can hand the password to an impostor.
#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <iterator>
#include <string>
#include <vector>

#include "mail/probe/host_probe.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/temp_directory.h"
#include "tests/support/test_pki.h"

namespace {

// A loopback port on which nothing listens.
int closedPort()
{
    testbench::ScriptedPop3Server server;
    server.start();
    int port = server.port();
    server.stop();
    return port;
}

std::vector<ProbeStep> stepsTo(int tlsPort, int plainPort)
{
    std::vector<ProbeStep> steps = standardProbeSteps;
    for (ProbeStep& step : steps)
        step.port = step.security == ConnectionSecurity::TlsOnConnect ? tlsPort : plainPort;
    return steps;
}

// CAPA answered with STLS, then TLS after the +OK to STLS; or without STLS.
testbench::Script capabilities(bool stls)
{
    testbench::Script script;
    script.send("+OK ready\r\n").expectLine("CAPA").send(stls ? "+OK\r\nSTLS\r\n.\r\n" : "+OK\r\n.\r\n");
    return stls ? script.expectLine("STLS").send("+OK\r\n").startTls().stall(2000) : script.stall(2000);
}

// The same for IMAP: the capabilities in the greeting, STARTTLS among them or not.
testbench::Script imapCapabilities(bool startTls)
{
    testbench::Script script;
    script.send(startTls ? "* OK [CAPABILITY IMAP4rev1 STARTTLS] hi\r\n" : "* OK [CAPABILITY IMAP4rev1] hi\r\n");
    return startTls ? script.expectLine("a1 STARTTLS").send("a1 OK\r\n").startTls().stall(2000) : script.stall(2000);
}

// Each protocol's greeting and plain port, and what that port hears before TLS.
struct Dialect {
    MailProtocol protocol;
    const char* greeting;
    testbench::Script (*capabilities)(bool startTls);
    std::vector<std::string> inClear;
};
const Dialect dialects[] = {
    {MailProtocol::Pop3, "+OK ready\r\n", capabilities, {"CAPA", "STLS"}},
    {MailProtocol::Imap, "* OK ready\r\n", imapCapabilities, {"a1 STARTTLS"}},
};

// How the TLS server serves: with a certificate, with a TLS version the client refuses, or
// without any certificate.
enum class Serve { Certificate, OldTls, NoCertificate };

} // namespace

// Every certificate of the TLS matrix on the TLS port, and one after STARTTLS on the plain port,
// with a plain service on the plain port, which offers no STARTTLS first; for each protocol.
TEST(HostProbe, CertificateMatrixNeverFallsBackAfterACertificateFailure)
{
    struct Case {
        const char* certificate;
        Serve serve;
        ProbeOutcome outcome;
        ConnectionSecurity reached;
        bool afterStls = false;
    };
    using Security = ConnectionSecurity;
    const Case cases[] = {
        {"server", Serve::Certificate, ProbeOutcome::Found, Security::TlsOnConnect},
        {"expired", Serve::Certificate, ProbeOutcome::CertificateRefused, Security::TlsOnConnect},
        {"notyetvalid", Serve::Certificate, ProbeOutcome::CertificateRefused, Security::TlsOnConnect},
        // No authority vouches for these: the user may trust exactly this certificate.
        {"selfsigned", Serve::Certificate, ProbeOutcome::CertificateUntrusted, Security::TlsOnConnect},
        {"unknownca", Serve::Certificate, ProbeOutcome::CertificateUntrusted, Security::TlsOnConnect},
        {"wronghost", Serve::Certificate, ProbeOutcome::CertificateRefused, Security::TlsOnConnect},
        {"nulname", Serve::Certificate, ProbeOutcome::CertificateRefused, Security::TlsOnConnect},
        // Names localhost, and the probe connects to 127.0.0.1: no name to fall back on.
        {"cnonly", Serve::Certificate, ProbeOutcome::CertificateRefused, Security::TlsOnConnect},
        // A handshake that fails before any certificate is judged goes on to plain POP3.
        {"server", Serve::OldTls, ProbeOutcome::Found, Security::None},
        {"", Serve::NoCertificate, ProbeOutcome::Found, Security::None},
        {"expired", Serve::Certificate, ProbeOutcome::CertificateRefused, Security::StartTls, true},
    };
    testbench::TempDirectory folder;
    testbench::TestPki pki;
    ASSERT_TRUE(pki.create(folder.path()));
    mailtest::TrustedCaDirectory trust(pki.path("ca.pem"));
    ASSERT_TRUE(trust.isReady());
    // Every row once for each protocol.
    for (size_t row = 0; row < std::size(dialects) * std::size(cases); ++row) {
        const Dialect& dialect = dialects[row / std::size(cases)];
        const Case& c = cases[row % std::size(cases)];
        SCOPED_TRACE(std::string(dialect.greeting) + c.certificate +
                     (c.serve == Serve::Certificate ? "" : " (handshake fails)") + (c.afterStls ? " after STLS" : ""));
        std::string certificate = pki.path(c.certificate);
        testbench::ScriptedPop3Server tls;
        testbench::ScriptedPop3Server plain;
        if (c.serve == Serve::Certificate)
            (c.afterStls ? plain : tls).useTls(certificate + ".pem", certificate + ".key");
        if (c.serve == Serve::OldTls)
            tls.useWeakTls(certificate + ".pem", certificate + ".key", TLS1_1_VERSION);
        if (c.serve == Serve::NoCertificate)
            tls.useAnonymousTls();
        tls.addConnection(testbench::Script().send(dialect.greeting).stall(2000));
        plain.addConnection(dialect.capabilities(c.afterStls));
        plain.addConnection(testbench::Script().send(dialect.greeting).stall(2000));
        ASSERT_TRUE((c.afterStls || tls.start()) && plain.start());
        HostProbe probe(NetworkSteps(), probeAttemptSeconds, dialect.protocol);
        ProbeOutcome outcome = probe.run("127.0.0.1", stepsTo(c.afterStls ? closedPort() : tls.port(), plain.port()));
        tls.stop();
        plain.stop();
        EXPECT_EQ(c.outcome, outcome);
        EXPECT_EQ(c.reached, probe.reached().security);
        EXPECT_TRUE(tls.receivedLines().empty());
        // Only the capabilities and STARTTLS reach the plain port, and nothing after a
        // certificate failure.
        std::vector<std::string> inClear = dialect.inClear;
        inClear.resize(c.reached == Security::TlsOnConnect ? 0 : c.afterStls ? inClear.size() : inClear.size() - 1);
        EXPECT_EQ(inClear, plain.receivedLines());
        int plainConnections = c.reached == Security::TlsOnConnect ? 0 : c.reached == Security::StartTls ? 1 : 2;
        EXPECT_EQ(plainConnections, plain.connectionsAccepted());
        if (c.outcome == ProbeOutcome::CertificateUntrusted) {
            EXPECT_EQ(mailtest::certificateFingerprint(certificate + ".pem"), probe.certificate().sha256);
        }
    }
}

// An attempt that never gets an answer, from the server or from the resolver, gives up after
// its time; the other attempts fail at once.
TEST(HostProbe, SilentHostGivesUpWithinTheTimeLimit)
{
    struct Case {
        const char* name;
        bool lookupHangs; // else the server on the TLS port stays silent
    };
    const Case cases[] = {
        {"silent server", false},
        {"name lookup never returns", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testbench::ScriptedPop3Server silent;
        silent.addConnection(testbench::Script().stall(30000));
        ASSERT_TRUE(silent.start());
        mailtest::LookupRelease release(c.lookupHangs ? 1 : 0);
        NetworkSteps network;
        if (c.lookupHangs)
            network.lookUp = mailtest::HangingLookup::lookUp;
        HostProbe probe(network, probeAttemptSeconds);
        mailtest::Stopwatch watch;
        EXPECT_EQ(ProbeOutcome::NothingFound, probe.run("127.0.0.1", stepsTo(silent.port(), closedPort())));
        EXPECT_LT(watch.seconds(), 14.0);
        EXPECT_GE(watch.seconds(), 9.0);
        silent.stop();
    }
}
