// The values the configuration dialog edits and the settings file stores, with their defaults
// and the ranges the program can use. The application reads and writes them; the dialog
// edits them; neither needs the other to do so.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mail/connection/connection_security.h"
#include "mail/sign_in/oauth_provider.h"
#include "mail/sign_in/token_endpoint.h"
#include "mail/imap/imap_ports.h"
#include "mail/pop3/pop3_ports.h"
#include "mail/session/mail_protocol.h"
#include "util/text_record.h"

// Defaults of keys that are absent.
const bool defaultUseTls = true;
const bool defaultStartTls = false;
const ConnectionSecurity defaultSecurity = ConnectionSecurity::TlsOnConnect;
const int defaultPort = pop3TlsPort;
const int defaultCheckMinutes = 5;
// Absent playsound: no sound on new mail, yet the dialog shows the option switched on.
const bool defaultPlaySoundForNewMail = false;
const bool defaultPlaySoundForDialog = true;
const bool defaultChangeColour = true;
// Red 95, green 255, blue 95, laid out as a Windows COLORREF (0x00BBGGRR).
const uint32_t defaultNewMailColour = 0x005FFF5F;
const bool defaultBalloon = true;
// Absent repeatmins: the sound plays once per arrival.
const int defaultRepeatMinutes = 0;

// What the program can use of port and interval. The dialog refuses anything else; a value
// edited into the file by hand is read as the nearest usable one.
const int lowestPort = 1;
const int highestPort = 65535;
const int shortestCheckMinutes = 1;
inline bool isUsablePort(int port)
{
    return port >= lowestPort && port <= highestPort;
}
// The standard port of each security: for POP3 995 for TLS from the first byte, else 110;
// for IMAP 993, else 143.
inline int standardPort(ConnectionSecurity security, MailProtocol protocol = MailProtocol::Pop3)
{
    bool tls = security == ConnectionSecurity::TlsOnConnect;
    if (protocol == MailProtocol::Imap)
        return tls ? imapTlsPort : imapPlainPort;
    return tls ? pop3TlsPort : pop3PlainPort;
}
// A port outside the range becomes the standard port of the security.
inline int usablePort(int port, ConnectionSecurity security, MailProtocol protocol = MailProtocol::Pop3)
{
    return isUsablePort(port) ? port : standardPort(security, protocol);
}
// An interval below one minute would reconnect without pause: one minute.
inline int usableCheckMinutes(int minutes)
{
    return minutes < shortestCheckMinutes ? shortestCheckMinutes : minutes;
}
// The sound's repeat, in minutes: 0 is off. The longest fits the dialog's four digits and,
// in milliseconds, a timer.
const int longestRepeatMinutes = 9999;
inline int usableRepeatMinutes(int minutes)
{
    if (minutes < 0)
        return 0;
    return minutes > longestRepeatMinutes ? longestRepeatMinutes : minutes;
}

// Server, user name and password go into POP3 command lines of at most 255 characters with
// "PASS " (or "USER ") and CR LF, so the longest usable value is 248 characters.
const int accountCommandLineLimit = 255;
const int accountValueMaxLength = accountCommandLineLimit - 5 - 2;
// Paths (sound file, mail program) are kept in MAX_PATH characters, the NUL included.
const int settingsPathValueSize = 260;

// Makes the form of a password that the settings file holds; false when the platform cannot.
using PasswordProtection = bool (*)(const char* plain, TextRecord& stored);

// Every value of the configuration dialog, as the settings file names them in its order.
struct ConfigurationValues {
    // What the user calls the account (empty: its address is shown).
    TextRecord accountName;
    // The account's place in the settings file, kept through edits, renames and moves so that
    // its seen messages stay its own; empty for an account the dialog has just added.
    std::string accountId;
    TextRecord server;
    TextRecord username;
    // In clear: what the dialog shows and the checker logs in with.
    TextRecord password;
    // The password as the settings file holds it: protected, or an older file's clear text.
    TextRecord storedPassword;
    // The file keeps it as SSL and, without SSL, starttls.
    ConnectionSecurity security = defaultSecurity;
    int port = defaultPort;
    // POP3 unless the file says imap; IMAP watches `folder` (INBOX when the file has none).
    MailProtocol protocol = MailProtocol::Pop3;
    TextRecord folder;
    // IMAP: Mark as read also sets \Seen on the server for the messages announced.
    bool markOnServer = false;
    int checkMinutes = defaultCheckMinutes;
    // The SHA-256 of the one certificate trusted for `server` besides the authorities'.
    TextRecord certSha256;
    // Password, or a provider's sign-in with `username` as the address.
    SignInMethod signIn = SignInMethod::Password;
    // The user's own client registrations, typed in the dialog (empty: the build's).
    TextRecord microsoftClientId;
    TextRecord googleClientId;
    TextRecord googleClientSecret;
    // Whose accounts a Microsoft sign-in is for; empty: common (see microsoftEndpoints).
    TextRecord microsoftAuthority;
    // A refresh token is stored (protected) from an earlier sign-in.
    bool refreshTokenStored = false;
    // The tokens of a sign-in made in the dialog, in memory only: on OK they replace the
    // stored ones, go to the checker and their refresh token to the file, protected.
    std::optional<OAuthTokens> newSignIn;
    // The dialog opens with the focus on its Sign in button: the user came to sign in again.
    bool focusSignIn = false;
    // No sound without playSound; with it, customSound or, when that is empty, the system's.
    bool playSound = defaultPlaySoundForDialog;
    TextRecord customSound;
    int repeatMinutes = defaultRepeatMinutes;
    bool changeColour = defaultChangeColour;
    uint32_t newMailColour = defaultNewMailColour;
    bool balloon = defaultBalloon;
    TextRecord doubleClick;
    // Sender and subject of new mail are asked for and shown: on for an account set up now,
    // off for one a settings file from before the switch holds.
    bool showSenders = true;
};

// Every account, in the order the user gave them; the first is the file's [connection].
using AccountValuesList = std::vector<std::unique_ptr<ConfigurationValues>>;

// The provider the values' sign-in goes to, with the values' authority; null for the password
// and for an authority microsoftEndpoints refuses.
inline const OAuthProvider* signInProviderOf(const ConfigurationValues& values)
{
    return providerForSignIn(values.signIn, values.microsoftAuthority.text);
}

// The client a sign-in with `provider` presents: the user's registration from the file, or
// the build's (resolveClient).
inline ClientSetup resolveClientOf(const ConfigurationValues& values, const OAuthProvider& provider,
                                   OAuthClient& client)
{
    bool google = provider.id == OAuthProviderId::Google;
    return resolveClient(provider, google ? values.googleClientId.text : values.microsoftClientId.text,
                         google ? values.googleClientSecret.text : nullptr, client);
}
