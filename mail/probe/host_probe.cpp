#include "mail/probe/host_probe.h"

HostProbe::HostProbe(const NetworkSteps& network, int seconds)
{
    session.steps = network;
    session.setTimeouts(seconds, seconds);
}

ProbeOutcome HostProbe::run(const char* host, const std::vector<ProbeStep>& steps)
{
    for (const ProbeStep& step : steps) {
        lastStep = step;
        if (connect(host, step))
            return ProbeOutcome::Found;
        if (isCertificateError(session.lastError()))
            return judgeCertificate();
    }
    return ProbeOutcome::NothingFound;
}

// Only a certificate that no authority vouches for can be offered to the user, and only one
// whose details could be read.
ProbeOutcome HostProbe::judgeCertificate()
{
    if (session.lastError() == ConnectionError::CertificateUntrusted && session.describeRefusedCertificate(refused))
        return ProbeOutcome::CertificateUntrusted;
    return ProbeOutcome::CertificateRefused;
}

bool HostProbe::connectTrusting(const char* host)
{
    session.pinCertificate(refused.sha256);
    return connect(host, lastStep);
}

bool HostProbe::connect(const char* host, const ProbeStep& step)
{
    return session.connect(host, step.port, step.security);
}
