#include "mail/probe/host_probe.h"

HostProbe::HostProbe(const NetworkSteps& network, int seconds, MailProtocol probed) : protocol(probed)
{
    stream().steps = network;
    stream().setTimeouts(seconds, seconds);
    // A reply that trickles in byte by byte must not outlast the attempt either.
    imap.setResponseMilliseconds(seconds * 1000);
}

Connection& HostProbe::stream()
{
    if (protocol == MailProtocol::Imap)
        return imap;
    return pop3;
}

ProbeOutcome HostProbe::run(const char* host, const std::vector<ProbeStep>& steps)
{
    for (const ProbeStep& step : steps) {
        if (step.protocol != protocol)
            continue;
        lastStep = step;
        if (connect(host, step))
            return ProbeOutcome::Found;
        if (isCertificateError(stream().lastError()))
            return judgeCertificate();
    }
    return ProbeOutcome::NothingFound;
}

// Only a certificate that no authority vouches for can be offered to the user, and only one
// whose details could be read.
ProbeOutcome HostProbe::judgeCertificate()
{
    if (stream().lastError() == ConnectionError::CertificateUntrusted && stream().describeRefusedCertificate(refused))
        return ProbeOutcome::CertificateUntrusted;
    return ProbeOutcome::CertificateRefused;
}

bool HostProbe::connectTrusting(const char* host)
{
    stream().pinCertificate(refused.sha256);
    return connect(host, lastStep);
}

bool HostProbe::logIn(const char* user, const char* password)
{
    if (protocol == MailProtocol::Imap)
        return imap.logIn(user, password) == ImapStatus::Ok;
    return pop3.logIn(user, password);
}

bool HostProbe::connect(const char* host, const ProbeStep& step)
{
    if (protocol == MailProtocol::Imap)
        return imap.connect(host, step.port, step.security) == ImapStatus::Ok;
    return pop3.connect(host, step.port, step.security);
}
