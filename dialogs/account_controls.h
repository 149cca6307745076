#pragma once

#include "account/mail_providers.h"
#include "dialogs/choice_list.h"
#include "mail/connection/connection_security.h"
#include "mail/session/mail_protocol.h"
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
// The preset of a provider (Other for one without a sign-in of its own), and the provider of a
// preset (null for Other).
ServerPreset presetOf(const MailProvider* provider);
const MailProvider* providerOfPreset(ServerPreset preset);
// What Google's preset puts in the mail-program box.
inline constexpr char googleWebmail[] = "https://mail.google.com/";

inline const Choice<MailProtocol> protocolChoices[] = {
    {"POP3", MailProtocol::Pop3},
    {"IMAP", MailProtocol::Imap},
};

// The port box follows the security chosen: its standard port for the protocol chosen.
using SecurityChoices = Choice<ConnectionSecurity>[3];
inline const SecurityChoices pop3SecurityChoices = {
    {"SSL/TLS (port 995)", ConnectionSecurity::TlsOnConnect},
    {"STARTTLS (port 110)", ConnectionSecurity::StartTls},
    {"None (port 110)", ConnectionSecurity::None},
};
inline const SecurityChoices imapSecurityChoices = {
    {"SSL/TLS (port 993)", ConnectionSecurity::TlsOnConnect},
    {"STARTTLS (port 143)", ConnectionSecurity::StartTls},
    {"None (port 143)", ConnectionSecurity::None},
};
const SecurityChoices& securityChoicesFor(MailProtocol protocol);

// The controls that say which server the account is on and how it logs in there. The dialog
// attaches them; its host check and its sign-in group read and change them too.
struct AccountControls {
    ChoiceList<ServerPreset> preset{presetChoices};
    EditControl host;
    EditControl userName;
    EditControl password;
    ChoiceList<MailProtocol> protocol{protocolChoices};
    ChoiceList<ConnectionSecurity> security{pop3SecurityChoices};
    EditControl port;
    // IMAP only: the folder watched (empty: INBOX), and whether Mark as read reaches the server.
    EditControl folder;
    ButtonControl markOnServer;

    // Selects `chosen` and puts its standard port in the port box.
    void chooseSecurity(ConnectionSecurity chosen);
    // Selects `chosen` and lists its ports. The standard port of the protocol shown before
    // becomes the new one's, and a provider's server its server for `chosen`; a port or a
    // server of the user's own stays.
    void chooseProtocol(MailProtocol chosen);
    // Puts the server of `provider` for the protocol chosen (or the one it serves) in the
    // host, protocol, security and port boxes.
    void fillServer(const MailProvider& provider);
    // A preset's server is fixed: host, security and port can be edited with Other only.
    void applyPresetRule();
    // The folder and the mark on the server mean something for IMAP only.
    void applyProtocolRule();

    // The protocol whose ports and server the boxes show.
    MailProtocol shownProtocol = MailProtocol::Pop3;

private:
    void moveStandardPort(MailProtocol before, MailProtocol after);
    void moveProviderServer(MailProtocol before, MailProtocol after);
};
