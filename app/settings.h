#pragma once

#include <windows.h>

#include "app/protected_password.h"
#include "mail/connection/connection_security.h"
#include "account/configuration_values.h"
#include "util/text_record.h"

// Sections and keys, spelled as they stand in pellwick.ini (matched without regard to case).
inline constexpr char sectionConnection[] = "connection";
inline constexpr char sectionNewMail[] = "newmail";
inline constexpr char sectionActions[] = "actions";
inline constexpr char sectionPosition[] = "position";

inline constexpr char keyServer[] = "server";
inline constexpr char keyUsername[] = "username";
inline constexpr char keyPassword[] = "password";
inline constexpr char keySsl[] = "SSL";
// STARTTLS on the plain port; meaningful only when SSL is false, so older versions, which
// know SSL alone, read the same account as plain.
inline constexpr char keyStartTls[] = "starttls";
// Start-up reads the port as "Port", the dialog writes "port": one entry either way.
inline constexpr char keyPortRead[] = "Port";
inline constexpr char keyPort[] = "port";
inline constexpr char keyCheckMinutes[] = "checkmins";
// "pop3" (also when absent) or "imap"; IMAP watches "folder" (INBOX when absent or empty).
inline constexpr char keyProtocol[] = "protocol";
inline constexpr char keyFolder[] = "folder";
// IMAP: Mark as read also marks the announced messages read on the server (absent: off).
inline constexpr char keyMarkOnServer[] = "markonserver";
inline constexpr char defaultFolder[] = "INBOX";
inline constexpr char keyCertSha256[] = "certsha256";
// "password" (also when absent), "microsoft" or "google".
inline constexpr char keySignIn[] = "signin";
inline constexpr char keyMicrosoftClientId[] = "microsoftclientid";
inline constexpr char keyGoogleClientId[] = "googleclientid";
inline constexpr char keyGoogleClientSecret[] = "googleclientsecret";
// The sign-in's refresh token, protected as the password is; never in clear.
inline constexpr char keyRefreshToken[] = "refreshtoken";
// Whose accounts a Microsoft sign-in is for (common when absent); see microsoftEndpoints.
inline constexpr char keyMicrosoftAuthority[] = "microsoftauthority";
inline constexpr char keyPlaySound[] = "playsound";
inline constexpr char keyCustomSound[] = "customsound";
// Minutes between repeats of the sound while unseen mail remains; 0 or absent: no repeat.
inline constexpr char keyRepeatMinutes[] = "repeatmins";
inline constexpr char keyChangeColour[] = "changecolour";
inline constexpr char keyNewMailColour[] = "newmailcolour";
inline constexpr char keyBalloon[] = "balloon";
// Sender and subject of new mail asked for and shown. Absent: off for a file that holds an
// account already (written before the switch), on for a new set-up.
inline constexpr char keyShowSenders[] = "showsenders";
inline constexpr char keyDoubleClick[] = "doubleclick";
inline constexpr char keyX[] = "x";
inline constexpr char keyY[] = "y";
inline constexpr char keyVisible[] = "visible";

inline constexpr char settingsFolderName[] = "pellwick";
inline constexpr char settingsFileName[] = "pellwick";
inline constexpr char settingsFileExtension[] = "ini";
inline constexpr char seenListFileExtension[] = "uidl";
// The user's own trusted certificates beside the settings: an update of the program, which
// replaces the bundle beside the executable, never touches this file.
inline constexpr char userTrustFileName[] = "cacert-local";
inline constexpr char userTrustFileExtension[] = "pem";

// Absent position/visible: only the tray icon shows. The other defaults are those of
// account/configuration_values.h.
const bool defaultVisible = false;

// SSL decides first; starttls counts only without it.
ConnectionSecurity connectionSecurityOf(bool useTls, bool startTls);

// The text of the signin key, and back (any letter case; anything else is the password).
const char* signInMethodName(SignInMethod method);
SignInMethod parseSignInMethod(const char* text);
// The text of the protocol key, and back (any letter case; anything else is POP3).
const char* protocolName(MailProtocol protocol);
MailProtocol parseProtocol(const char* text);

// Read buffers, terminating NUL included; longer values are cut to size - 1 (paths at
// settingsPathValueSize).
const int settingsValueSize = 64;
const int settingsColourValueSize = 1024;
const int appDataFolderSize = MAX_PATH;
// Server, user name and password are read whole, never cut (accountValueMaxLength is the
// longest usable one); the first read tries this size.
const int accountValueSize = 256;

enum class AccountValueLength { Usable, TooLong };

// Builds folder\subFolder\name.extension under a special folder (CSIDL_APPDATA), creating
// the sub-folder when it is missing; extension and subFolder may be null. The path is built
// even when the folder is unknown. Returns false only when the path would not fit. The path
// is UTF-8, so that a profile folder named outside the ANSI code page is kept whole; the
// program's file calls take it through the wide-character interface.
bool buildAppDataPath(TextRecord& path, int folderId, const char* name, const char* extension, const char* subFolder);

// Where buildSettingsPath puts the settings file.
enum class SettingsPlace {
    AppData,       // the "pellwick" folder of the user's application data
    BesideProgram, // pellwick.ini beside the program, in a folder only the user can change
    // A pellwick.ini beside the program that another account owns or could change (or plant
    // files beside): not used, the application data's instead.
    AppDataNotShared,
    // No application-data folder: the path starts at the drive's root, where any user may
    // have made the folder; no trust file is taken from there.
    Nowhere,
};

// The settings file: pellwick.ini in `programFolder` (UTF-8, ending in a separator) when one
// stands there, as on a copy carried on a USB stick, so that its files stay beside the program;
// but only when the user owns it and no other account can change it, its folder, or the files
// beside it (a copy shared by the users of a machine). Otherwise pellwick.ini in the "pellwick"
// folder of the user's application data, created when missing. An empty programFolder means
// the latter. The path is empty when it would not fit. `userTrustPath`: the user's own trust
// file beside it; empty when there is none to take.
SettingsPlace buildSettingsPath(TextRecord& path, TextRecord& userTrustPath, const char* programFolder);
// name.extension in the folder of the file `sibling`: the seen-message file and the user's
// trust file lie beside the settings file, wherever that is.
bool buildSiblingPath(TextRecord& path, const char* sibling, const char* name, const char* extension);

// "r,g,b" into a colour, each component's low 8 bits; fewer than three numbers: fallback.
COLORREF parseSettingsColour(const char* text, COLORREF fallback);
// "true", "y", "yes" in any case, or exactly "1".
bool parseSettingsBool(const char* text);

// The settings file pellwick.ini. No cache: every read asks the file, every write goes to it
// at once; failures give defaults or are ignored. The path is UTF-8; sections, keys and values
// are texts of the ANSI code page, stored in the file as the ANSI profile calls store them.
class Settings {
public:
    Settings() = default;
    explicit Settings(const char* path) { setPath(path); }
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    void setPath(const char* path);
    const char* path() const { return filePath.text ? filePath.text : ""; }

    // Copies at most size - 1 characters of the value (or of fallback) into buffer; returns
    // the length copied.
    int readText(const char* section, const char* key, const char* fallback, char* buffer, int size) const;
    // The same into an owned text.
    void readText(const char* section, const char* key, const char* fallback, TextRecord& value, int size) const;
    int readInt(const char* section, const char* key, int fallback) const;
    bool readBool(const char* section, const char* key, bool fallback) const;
    COLORREF readColour(const char* section, const char* key, COLORREF fallback) const;
    // Reads the whole value, however long; TooLong when it cannot go into a POP3 command.
    AccountValueLength readAccountText(const char* key, TextRecord& value) const;
    // The password in clear, from its protected form or from an older file's plain text.
    StoredPassword readPassword(TextRecord& password) const;

    // Writes the text so that it reads back unchanged: a value that begins or ends with a
    // blank or a quote goes inside one more pair of double quotes.
    bool writeString(const char* section, const char* key, const char* text);
    bool writeInt(const char* section, const char* key, int value);
    bool writeBool(const char* section, const char* key, bool value);
    bool writeColour(const char* section, const char* key, COLORREF colour);
    // writeString, except that a null or empty text removes the key, which then reads as absent.
    bool writeOrRemove(const char* section, const char* key, const char* text);

    // Typed access to the keys, with their defaults and buffer sizes.
    bool readUseTls() const { return readBool(sectionConnection, keySsl, defaultUseTls); }
    bool readStartTls() const { return readBool(sectionConnection, keyStartTls, defaultStartTls); }
    ConnectionSecurity readSecurity() const { return connectionSecurityOf(readUseTls(), readStartTls()); }
    // Both within what the program can use (usablePort, usableCheckMinutes). An IMAP account
    // without a port has its security's standard IMAP port.
    int readPort() const;
    int readCheckMinutes() const;
    bool readPlaySound(bool fallback) const { return readBool(sectionNewMail, keyPlaySound, fallback); }
    void readCustomSound(TextRecord& path) const;
    // Within 0 (off) and longestRepeatMinutes.
    int readRepeatMinutes() const;
    bool readChangeColour() const { return readBool(sectionNewMail, keyChangeColour, defaultChangeColour); }
    COLORREF readNewMailColour() const { return readColour(sectionNewMail, keyNewMailColour, defaultNewMailColour); }
    bool readBalloon() const { return readBool(sectionNewMail, keyBalloon, defaultBalloon); }
    bool readShowSenders() const;
    void readDoubleClick(TextRecord& target) const;
    void readCertSha256(TextRecord& fingerprint) const;
    SignInMethod readSignIn() const;
    MailProtocol readProtocol() const;
    // The folder an IMAP account watches; INBOX when absent or empty.
    void readFolder(TextRecord& folder) const;
    bool readMarkOnServer() const { return readBool(sectionConnection, keyMarkOnServer, false); }
    // The refresh token in clear; Unreadable (and empty) for one protected elsewhere, damaged,
    // or stored in clear, which the program never does. Plain with the empty text when none.
    StoredPassword readRefreshToken(TextRecord& token) const;
    // `stored` as protectPassword made it; null or empty removes the token.
    void writeRefreshToken(const char* stored);
    // x and y hold the current position on entry, the stored one (y read first) on return.
    void readPosition(int& positionX, int& positionY) const;
    bool readVisible() const { return readBool(sectionPosition, keyVisible, defaultVisible); }

    // Writes x, then y.
    void writePosition(int positionX, int positionY);
    void writeVisible(bool visible) { writeBool(sectionPosition, keyVisible, visible); }
    // Every key of the configuration dialog, with the defaults and bounds of the typed reads,
    // and the sign-in's client ids and whether a refresh token is stored; how the stored
    // password read (its clear text goes to values.password).
    StoredPassword readConfiguration(ConfigurationValues& values) const;
    // Writes the keys of the configuration dialog in their file order; the password as
    // values.storedPassword holds it. The client keys and the authority are removed when empty;
    // the refresh token is not written here.
    void writeConfiguration(const ConfigurationValues& values);

private:
    const wchar_t* widePath() const { return filePath.wide ? filePath.wide : L""; }

    TextRecord filePath; // with its wide copy, for the profile calls
};
