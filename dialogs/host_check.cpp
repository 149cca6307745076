#include "dialogs/host_check.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "account/configuration_values.h"
#include "dialogs/message_box.h"
#include "res/resource.h"

namespace {
const char hostCheckCaption[] = "Check Host";
const char checkTip[] = "Attempt to connect using the details shown";

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
// A provider's mail server always has a certificate a public authority vouches for: one that
// no authority does comes from whatever stands in between, which is not to be trusted.
const char interceptedCertificate[] =
    "%s is %s's mail server, whose certificate a public authority always vouches for, yet the certificate "
    "received is not vouched for by any authority this computer trusts: something on the way (the network, "
    "a proxy or a security program) is intercepting the connection. The certificate cannot be trusted, and "
    "the password was not sent.\n\nSubject: %s\nIssuer: %s\nValid from: %s\nValid until: %s\nSHA-256: %s";
// The protocol's name and its ports go between the brackets.
const char nothingFound[] = "No email checking found. Either a) the hostname is wrong, b) I can't connect to it at the "
                            "moment or c) it's using non-standard e-mail ports. (I'm looking for %s-SSL on %d or %s on "
                            "%d) Check with your e-mail provider for the correct %s server details.";
const int nothingFoundSize = 320;

const char* securityName(ConnectionSecurity security)
{
    return security == ConnectionSecurity::StartTls ? "STARTTLS" : "SSL/TLS";
}

const char* protocolName(MailProtocol protocol)
{
    return protocol == MailProtocol::Imap ? "IMAP" : "POP3";
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

HostCheck::HostCheck(AccountControls& account, const SignInGroup& signIn, BusyCursorHandler& busyCursor)
    : account(account), signIn(signIn), busyCursor(busyCursor)
{
}

void HostCheck::attach(HWND dialog, ToolTip& toolTip, const char* storedPin, const char* storedHost)
{
    owner = dialog;
    pin.assign(storedPin);
    pinnedHost.assign(storedHost);
    button.attachToDialogItem(dialog, IDC_CHECK_HOST);
    toolTip.addTool(&button, nullptr, checkTip);
    onHostChange();
}

void HostCheck::onHostChange()
{
    button.enable(account.host.textLength() > 0);
}

// A certificate is trusted for one host only.
const char* HostCheck::pinFor(const char* host) const
{
    return std::strcmp(host, textOrEmpty(pinnedHost)) == 0 ? textOrEmpty(pin) : "";
}

void HostCheck::run()
{
    std::unique_ptr<char[]> hostName = account.host.getText();
    MailProtocol protocol = signIn.protocol();
    HostProbe probe(network, probeAttemptSeconds, protocol);
    ProbeOutcome outcome = ProbeOutcome::NothingFound;
    bool secure = false;
    bool accepted = false;
    {
        BusyCursorScope busy(busyCursor);
        outcome = probe.run(hostName.get(), probeSteps);
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
        report(owner, certificateRefused);
        break;
    case ProbeOutcome::NothingFound:
        reportNothingFound(protocol);
        break;
    }
}

bool HostCheck::passwordUsed() const
{
    return signIn.chosen() == SignInMethod::Password;
}

// With a sign-in chosen the password box is not used, so nothing is sent.
bool HostCheck::logIn(HostProbe& probe)
{
    return passwordUsed() && probe.logIn(account.userName.getText().get(), account.password.getText().get());
}

// The security found, with its standard port for the protocol probed.
void HostCheck::useFound(ConnectionSecurity found)
{
    account.security.select(found);
    account.port.setNumberText(standardPort(found, signIn.protocol()));
}

void HostCheck::reportNothingFound(MailProtocol protocol)
{
    const char* name = protocolName(protocol);
    char text[nothingFoundSize];
    std::snprintf(text, sizeof text, nothingFound, name, standardPort(ConnectionSecurity::TlsOnConnect, protocol), name,
                  standardPort(ConnectionSecurity::None, protocol), name);
    report(owner, text);
}

// A preset's own server is not offered to be changed.
void HostCheck::offerSecureService(ConnectionSecurity found, bool accepted)
{
    char question[secureFoundSize];
    std::snprintf(question, sizeof question, secureFound, securityName(found), standardPort(found, signIn.protocol()));
    if (account.preset.chosen() == ServerPreset::Other && ask(owner, question))
        useFound(found);
    report(owner, !passwordUsed() ? signInNotTried : accepted ? secureWorking : loginRefused);
}

// Only exactly the certificate shown, for this host: its host name and dates are still
// checked on the retry. Never for a provider's mail server.
void HostCheck::offerToTrustCertificate(HostProbe& probe, const char* hostName)
{
    const CertificateDetails& details = probe.certificate();
    if (const OAuthProvider* provider = providerServingMail(hostName)) {
        char warning[trustQuestionSize];
        std::snprintf(warning, sizeof warning, interceptedCertificate, hostName, provider->name, details.subject,
                      details.issuer, details.notBefore, details.notAfter, details.sha256);
        report(owner, warning);
        return;
    }
    char question[trustQuestionSize];
    std::snprintf(question, sizeof question, trustQuestion, details.subject, details.issuer, details.notBefore,
                  details.notAfter, details.sha256, hostName);
    if (!ask(owner, question)) {
        report(owner, certificateRefused);
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
        report(owner, certificateRefused);
        return;
    }
    pin.assign(details.sha256);
    pinnedHost.assign(hostName);
    offerSecureService(probe.reached().security, accepted);
}

// Only the greeting has been read: the password goes out in clear only once the user has
// agreed to that, and after No nothing more is sent. A sign-in never goes out in clear.
void HostCheck::offerPlainService(HostProbe& probe)
{
    if (!passwordUsed()) {
        report(owner, noPlainSignIn);
        return;
    }
    if (!ask(owner, plainFound))
        return;
    useFound(ConnectionSecurity::None);
    bool accepted = false;
    {
        BusyCursorScope busy(busyCursor);
        accepted = logIn(probe);
    }
    report(owner, accepted ? plainWorking : loginRefused);
}
