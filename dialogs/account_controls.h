#pragma once

#include "dialogs/choice_list.h"
#include "mail/connection/connection_security.h"
#include "mail/sign_in/oauth_provider.h"
#include "ui/controls.h"

// The presets of the dialog's first list: a provider whose server the dialog fills in, or
// Other, which leaves the server to the user. The template sorts the list, so the entries stand
// here in the order it shows them.
enum class ServerPreset { Google, Microsoft, Other };
inline const Choice<ServerPreset> presetChoices[] = {
    {"Google/GMail", ServerPreset::Google},
    {"Microsoft (Outlook.com, Microsoft 365)", ServerPreset::Microsoft},
    {"Other", ServerPreset::Other},
};
// The preset of a provider's server, and the provider of a preset (null for Other).
ServerPreset presetOf(const OAuthProvider* provider);
const OAuthProvider* providerOfPreset(ServerPreset preset);
// What Google's preset puts in the mail-program box.
inline constexpr char googleWebmail[] = "https://mail.google.com/";

// The port box follows the security chosen: its standard port.
inline const Choice<ConnectionSecurity> securityChoices[] = {
    {"SSL/TLS (port 995)", ConnectionSecurity::TlsOnConnect},
    {"STARTTLS (port 110)", ConnectionSecurity::StartTls},
    {"None (port 110)", ConnectionSecurity::None},
};

// The controls that say which server the account is on and how it logs in there. The dialog
// attaches them; its host check and its sign-in group read and change them too.
struct AccountControls {
    ChoiceList<ServerPreset> preset{presetChoices};
    EditControl host;
    EditControl userName;
    EditControl password;
    ChoiceList<ConnectionSecurity> security{securityChoices};
    EditControl port;

    // Selects `chosen` and puts its standard port in the port box.
    void chooseSecurity(ConnectionSecurity chosen);
    // Puts the server of `provider` in the host, security and port boxes.
    void fillServer(const OAuthProvider& provider);
    // A preset's server is fixed: host, security and port can be edited with Other only.
    void applyPresetRule();
};
