#include "dialogs/config_dialog.h"

#include <cstdio>
#include <memory>

#include "dialogs/host_probe.h"
#include "dialogs/message_box.h"

namespace {
const char hostCheckCaption[] = "Check Host";
// Each attempt, name lookup included, gives up after this.
const int hostCheckSeconds = 10;

// Which secure way, and on which port, goes between the brackets.
const char secureFound[] = "Secure email checking found (%s on port %d). Use this?";
const int secureFoundSize = 128;
const char secureWorking[] = "Login successful. Secure email checking is working!";
const char plainFound[] = "Unencrypted email checking found. Use this? Your password would be sent unencrypted.";
const char plainWorking[] = "Unencrypted email checking is working!.";
const char loginRefused[] = "The mailserver reports that the Username and password are not recognised.";
const char signInNotTried[] = "Secure email checking is available. The password is not tried: pellwick logs in with "
                              "the sign-in.";
const char noPlainSignIn[] = "Only unencrypted email checking found. A sign-in is never sent unencrypted: choose "
                             "another server, or Password under \"Sign in with\".";
const char certificateRefused[] = "The server's certificate is not trusted. Secure email checking was refused, and the "
                                  "password was not sent.";
const char trustQuestion[] = "The server's certificate is not vouched for by any authority this computer trusts.\n\n"
                             "Subject: %s\nIssuer: %s\nValid from: %s\nValid until: %s\nSHA-256: %s\n\n"
                             "Trust exactly this certificate for %s?";
const int trustQuestionSize = 2048;
const char nothingFound[] =
    "No email checking found. Either a) the hostname is wrong, b) I can't connect to it at the "
    "moment or c) it's using non-standard e-mail ports. (I'm looking for POP3-SSL on 995 or POP3 on "
    "110) Check with your e-mail provider for the correct POP3 server details.";

const char* securityName(ConnectionSecurity security)
{
    return security == ConnectionSecurity::StartTls ? "STARTTLS" : "SSL/TLS";
}

bool ask(HWND owner, const char* question)
{
    return dialogMessageBox(owner, question, hostCheckCaption, MB_YESNO) == IDYES;
}

void report(HWND owner, const char* text)
{
    dialogMessageBox(owner, text, hostCheckCaption, MB_OK);
}

} // namespace

void ConfigDialog::checkHost()
{
    std::unique_ptr<char[]> hostName = host.getText();
    HostProbe probe(hostCheckNetwork, hostCheckSeconds);
    ProbeOutcome outcome = ProbeOutcome::NothingFound;
    bool secure = false;
    bool accepted = false;
    {
        BusyCursorScope busy(busyCursor);
        outcome = probe.run(hostName.get(), hostProbeSteps);
        secure = probe.reached().security != ConnectionSecurity::None;
        // Over TLS the login is tried at once, so that the question comes with a verdict ready.
        if (outcome == ProbeOutcome::Found && secure)
            accepted = logIn(probe);
    }
    switch (outcome) {
    case ProbeOutcome::Found:
        if (secure)
            offerSecureService(probe.reached().security, accepted);
        else
            offerPlainService(probe);
        break;
    case ProbeOutcome::CertificateUntrusted:
        offerToTrustCertificate(probe, hostName.get());
        break;
    case ProbeOutcome::CertificateRefused:
        report(handle, certificateRefused);
        break;
    case ProbeOutcome::NothingFound:
        report(handle, nothingFound);
        break;
    }
}

bool ConfigDialog::signInChosen() const
{
    return signInMethod.chosen() != SignInMethod::Password;
}

// With a sign-in chosen the password box is not used, so nothing is sent.
bool ConfigDialog::logIn(HostProbe& probe)
{
    return !signInChosen() && probe.logIn(userName.getText().get(), password.getText().get());
}

void ConfigDialog::offerSecureService(ConnectionSecurity found, bool accepted)
{
    char question[secureFoundSize];
    std::snprintf(question, sizeof question, secureFound, securityName(found), standardPort(found));
    if (provider.getCurSel() == otherProviderIndex && ask(handle, question))
        chooseSecurity(found);
    report(handle, signInChosen() ? signInNotTried : accepted ? secureWorking : loginRefused);
}

// Only exactly the certificate shown, for this host: its host name and dates are still
// checked on the retry.
void ConfigDialog::offerToTrustCertificate(HostProbe& probe, const char* hostName)
{
    const CertificateDetails& details = probe.certificate();
    char question[trustQuestionSize];
    std::snprintf(question, sizeof question, trustQuestion, details.subject, details.issuer, details.notBefore,
                  details.notAfter, details.sha256, hostName);
    if (!ask(handle, question)) {
        report(handle, certificateRefused);
        return;
    }
    bool connected = false;
    bool accepted = false;
    {
        BusyCursorScope busy(busyCursor);
        connected = probe.connectTrusting(hostName);
        if (connected)
            accepted = logIn(probe);
    }
    if (!connected) {
        report(handle, certificateRefused);
        return;
    }
    pin.assign(details.sha256);
    pinnedHost.assign(hostName);
    offerSecureService(probe.reached().security, accepted);
}

// Only the greeting has been read: the password goes out in clear only once the user has
// agreed to that, and after No nothing more is sent. A sign-in never goes out in clear.
void ConfigDialog::offerPlainService(HostProbe& probe)
{
    if (signInChosen()) {
        report(handle, noPlainSignIn);
        return;
    }
    if (!ask(handle, plainFound))
        return;
    chooseSecurity(ConnectionSecurity::None);
    bool accepted = false;
    {
        BusyCursorScope busy(busyCursor);
        accepted = logIn(probe);
    }
    report(handle, accepted ? plainWorking : loginRefused);
}
