#include "dialogs/config_dialog.h"

#include <cstdio>

#include "dialogs/message_box.h"
#include "mail/pop3_session.h"

namespace {
const char hostCheckCaption[] = "Check Host";
// Each attempt, name lookup included, gives up after this.
const int hostCheckSeconds = 10;

const char secureFound[] = "Secure email checking found. Use this?";
const char secureWorking[] = "Login successful. Secure email checking is working!";
const char plainFound[] = "Unencrypted email checking found. Use this? Your password would be sent unencrypted.";
const char plainWorking[] = "Unencrypted email checking is working!.";
const char loginRefused[] = "The mailserver reports that the Username and password are not recognised.";
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

bool ask(HWND owner, const char* question)
{
    return dialogMessageBox(owner, question, hostCheckCaption, MB_YESNO) == IDYES;
}

void report(HWND owner, const char* text)
{
    dialogMessageBox(owner, text, hostCheckCaption, MB_OK);
}

bool loginWith(Pop3Session& session, const Window& userName, const Window& password)
{
    char* user = userName.getText();
    char* pass = password.getText();
    bool accepted = session.login(user ? user : "", pass ? pass : "");
    delete[] user;
    delete[] pass;
    return accepted;
}
} // namespace

void ConfigDialog::checkHost()
{
    showBusy(true);
    Pop3Session session;
    session.steps = hostCheckSteps;
    // A host that accepts and never answers, or a resolver that never does, must not hold
    // the dialog for long.
    session.setTimeouts(hostCheckSeconds, hostCheckSeconds);
    char* hostText = host.getText();
    const char* hostName = hostText ? hostText : "";

    if (session.connect(hostName, hostCheckTlsPort, ConnectionSecurity::TlsOnConnect)) {
        offerSecureService(session);
    } else if (isCertificateError(session.lastError())) {
        // A server on 995 whose certificate fails verification may be an impostor: offering
        // plain POP3 instead would hand it the password unencrypted.
        showBusy(false);
        offerToTrustCertificate(session, hostName);
    } else if (session.connect(hostName, hostCheckPlainPort, ConnectionSecurity::None)) {
        offerPlainService(session);
    } else {
        showBusy(false);
        report(handle, nothingFound);
    }
    delete[] hostText;
}

void ConfigDialog::showBusy(bool isBusy)
{
    busyCursor.busy = isBusy ? 1 : 0;
    SetCursor(isBusy ? busyCursor.busyCursor : busyCursor.normalCursor);
}

// Over TLS the login is tried first, so that the question comes with a verdict ready.
void ConfigDialog::offerSecureService(Pop3Session& session)
{
    bool accepted = loginWith(session, userName, password);
    showBusy(false);
    if (selectedProvider() == otherProviderIndex && ask(handle, secureFound)) {
        setNumberText(port.handle, pop3TlsPort);
        SendMessageA(useSsl.handle, BM_SETCHECK, BST_CHECKED, 0);
    }
    report(handle, accepted ? secureWorking : loginRefused);
}

// Only a certificate that no authority vouches for can be trusted by the user, and only
// exactly that one, for this host: its host name and dates are still checked on the retry.
void ConfigDialog::offerToTrustCertificate(Pop3Session& session, const char* hostName)
{
    CertificateDetails details;
    if (session.lastError() != ConnectionError::CertificateUntrusted || !session.describeRefusedCertificate(details)) {
        report(handle, certificateRefused);
        return;
    }
    char question[trustQuestionSize];
    std::snprintf(question, sizeof question, trustQuestion, details.subject, details.issuer, details.notBefore,
                  details.notAfter, details.sha256, hostName);
    if (!ask(handle, question)) {
        report(handle, certificateRefused);
        return;
    }
    showBusy(true);
    session.pinCertificate(details.sha256);
    if (!session.connect(hostName, hostCheckTlsPort, ConnectionSecurity::TlsOnConnect)) {
        showBusy(false);
        report(handle, certificateRefused);
        return;
    }
    values.certsha256.assign(details.sha256);
    pinnedHost.assign(hostName);
    offerSecureService(session);
}

// Only the greeting has been read: the password goes out in clear only once the user has
// agreed to that, and after No nothing more is sent.
void ConfigDialog::offerPlainService(Pop3Session& session)
{
    showBusy(false);
    if (!ask(handle, plainFound))
        return;
    setNumberText(port.handle, pop3PlainPort);
    SendMessageA(useSsl.handle, BM_SETCHECK, BST_UNCHECKED, 0);
    showBusy(true);
    bool accepted = loginWith(session, userName, password);
    showBusy(false);
    report(handle, accepted ? plainWorking : loginRefused);
}
