#pragma once

#include <windows.h>

#include <vector>

#include "dialogs/account_controls.h"
#include "dialogs/sign_in_group.h"
#include "mail/probe/host_probe.h"
#include "ui/busy_cursor_handler.h"
#include "ui/controls.h"
#include "ui/tool_tip.h"
#include "util/text_record.h"

// The configuration dialog's Check button and what it starts: looks for the account's protocol
// (POP3 or IMAP, as the sign-in group holds it) on the typed host (a HostProbe) and offers what
// it finds, in message boxes over the dialog, setting the security and port boxes when the user
// accepts. The password goes unencrypted only after the user has agreed to that, and never
// while a sign-in is chosen. A certificate the user trusts here is the dialog's to store on OK.
class HostCheck {
public:
    HostCheck(AccountControls& account, const SignInGroup& signIn, BusyCursorHandler& busyCursor);

    // Binds the Check button of `dialog`, with its tooltip; `storedPin` is the certificate
    // trusted so far for `storedHost`.
    void attach(HWND dialog, ToolTip& toolTip, const char* storedPin, const char* storedHost);
    // The host box changed: Check is enabled exactly while it holds text, blanks included.
    void onHostChange();
    // The Check button was pressed.
    void run();
    // The certificate trusted for `host`: the stored one or one trusted in a check, while it
    // was trusted for this very host; empty for any other.
    const char* pinFor(const char* host) const;

    ButtonControl button;
    // Where the check looks, the steps of the account's protocol; tests point the ports at
    // loopback servers.
    std::vector<ProbeStep> probeSteps = standardProbeSteps;
    // How the check's session reaches the network; tests replace the name lookup.
    NetworkSteps network;

private:
    bool passwordUsed() const;
    bool logIn(HostProbe& probe);
    void useFound(ConnectionSecurity found);
    void reportNothingFound(MailProtocol protocol);
    void offerSecureService(ConnectionSecurity found, bool accepted);
    void offerPlainService(HostProbe& probe);
    void offerToTrustCertificate(HostProbe& probe, const char* hostName);

    AccountControls& account;
    const SignInGroup& signIn;
    BusyCursorHandler& busyCursor;
    HWND owner = nullptr;
    // The certificate trusted for pinnedHost.
    TextRecord pin;
    TextRecord pinnedHost;
};
