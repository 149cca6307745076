#pragma once

#include <vector>

#include "mail/connection/connection_security.h"
#include "mail/imap/imap_ports.h"
#include "mail/imap/imap_session.h"
#include "mail/pop3/pop3_ports.h"
#include "mail/pop3/pop3_session.h"
#include "mail/session/mail_protocol.h"

// One way a host may offer a mail protocol: how the stream is secured and on which port.
struct ProbeStep {
    MailProtocol protocol;
    ConnectionSecurity security;
    int port;
};

// Where the host check looks, in this order, each protocol's steps apart. The first step that
// reaches a greeting, and for STARTTLS a secured stream, ends the search; so does a certificate
// that fails verification: falling back to a later step would hand a possible impostor the
// password with less protection. A server that does not offer STARTTLS (STLS for POP3) goes
// on to the plain protocol.
inline const std::vector<ProbeStep> standardProbeSteps = {
    {MailProtocol::Pop3, ConnectionSecurity::TlsOnConnect, pop3TlsPort},
    {MailProtocol::Pop3, ConnectionSecurity::StartTls, pop3PlainPort},
    {MailProtocol::Pop3, ConnectionSecurity::None, pop3PlainPort},
    {MailProtocol::Imap, ConnectionSecurity::TlsOnConnect, imapTlsPort},
    {MailProtocol::Imap, ConnectionSecurity::StartTls, imapPlainPort},
    {MailProtocol::Imap, ConnectionSecurity::None, imapPlainPort},
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

// Looks for one mail protocol on one host, step by step, with a session of its own and without
// any user interface. Each connection attempt, name lookup included, gives up after `seconds`.
class HostProbe {
public:
    HostProbe(const NetworkSteps& network, int seconds, MailProtocol protocol = MailProtocol::Pop3);

    // Tries the steps of the probe's protocol; the others are passed over.
    ProbeOutcome run(const char* host, const std::vector<ProbeStep>& steps);
    // After CertificateUntrusted: the same step again, trusting exactly that certificate (its
    // host name and dates are still checked). True when a greeting came.
    bool connectTrusting(const char* host);
    // The login with the password on the open session (POP3's USER and PASS, IMAP's LOGIN);
    // true when it was accepted.
    bool logIn(const char* user, const char* password);

    // The step that found the service or refused the certificate.
    const ProbeStep& reached() const { return lastStep; }
    const CertificateDetails& certificate() const { return refused; }

private:
    bool connect(const char* host, const ProbeStep& step);
    ProbeOutcome judgeCertificate();
    // The stream of the protocol probed.
    Connection& stream();

    MailProtocol protocol;
    Pop3Session pop3;
    ImapSession imap;
    ProbeStep lastStep = {MailProtocol::Pop3, ConnectionSecurity::None, 0};
    CertificateDetails refused;
};
