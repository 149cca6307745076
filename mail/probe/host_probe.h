#pragma once

#include <vector>

#include "mail/connection/connection_security.h"
#include "mail/pop3/pop3_ports.h"
#include "mail/pop3/pop3_session.h"

// One way a host may offer POP3: how the stream is secured and on which port.
struct ProbeStep {
    ConnectionSecurity security;
    int port;
};

// Where the host check looks, in this order. The first step that reaches a greeting, and for
// STARTTLS a secured stream, ends the search; so does a certificate that fails verification:
// falling back to a later step would hand a possible impostor the password with less
// protection. A server that does not list STLS goes on to plain POP3.
inline const std::vector<ProbeStep> standardProbeSteps = {
    {ConnectionSecurity::TlsOnConnect, pop3TlsPort},
    {ConnectionSecurity::StartTls, pop3PlainPort},
    {ConnectionSecurity::None, pop3PlainPort},
};

enum class ProbeOutcome {
    Found,                // a greeting on reached(), secured as it says; open for the login
    CertificateUntrusted, // no authority vouches for the certificate; certificate() describes it
    CertificateRefused,   // any other certificate failure
    NothingFound,         // every step failed before a greeting
};

// What each connection attempt of a probe, name lookup included, is given before it gives up:
// a host that accepts and never answers, or a resolver that never does, must not hold the
// user waiting for long.
const int probeAttemptSeconds = 10;

// Looks for POP3 on one host, step by step, with a session of its own and without any user
// interface. Each connection attempt, name lookup included, gives up after `seconds`.
class HostProbe {
public:
    HostProbe(const NetworkSteps& network, int seconds);

    ProbeOutcome run(const char* host, const std::vector<ProbeStep>& steps);
    // After CertificateUntrusted: the same step again, trusting exactly that certificate (its
    // host name and dates are still checked). True when a greeting came.
    bool connectTrusting(const char* host);
    // USER and PASS on the open session; true when both were accepted.
    bool logIn(const char* user, const char* password) { return session.logIn(user, password); }

    // The step that found the service or refused the certificate.
    const ProbeStep& reached() const { return lastStep; }
    const CertificateDetails& certificate() const { return refused; }

private:
    bool connect(const char* host, const ProbeStep& step);
    ProbeOutcome judgeCertificate();

    Pop3Session session;
    ProbeStep lastStep = {ConnectionSecurity::None, 0};
    CertificateDetails refused;
};
