#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/protected_password.h"
#include "mail/connection/connection_security.h"
#include "account/configuration_values.h"
#include "util/text_record.h"

// Sections and keys, spelled as they stand in pellwick.ini (matched without regard to case).
inline constexpr char sectionConnection[] = "connection";
inline constexpr char sectionNewMail[] = "newmail";
inline constexpr char sectionActions[] = "actions";
inline constexpr char sectionPosition[] = "position";
// Accounts after the first: their order in one key, each in a section named by its id.
inline constexpr char sectionAccounts[] = "accounts";
inline constexpr char keyAccountOrder[] = "order";
inline constexpr char accountSectionPrefix[] = "account.";
// The id of the account in [connection] when the file lists no order (a file of one account).
inline constexpr char firstAccountId[] = "0";

// What the user calls the account; absent: its address is shown.
inline constexpr char keyAccountName[] = "name";
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

// The section that holds the account `id`: [connection] for the first, [account.<id>] for
// the others.
std::string accountSection(const std::string& id, bool first);
// The seen-message file of the account `id` beside the settings file: pellwick.uidl for the id
// an older version's one account has, so that it keeps its marks; pellwick-<id>.uidl otherwise.
bool buildSeenFilePath(TextRecord& path, const char* settingsPath, const std::string& id);

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
    AccountValueLength readAccountText(const char* key, TextRecord& value,
                                       const char* section = sectionConnection) const;
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
    // The account keys read [connection] unless given another account's section.
    bool readUseTls(const char* section = sectionConnection) const { return readBool(section, keySsl, defaultUseTls); }
    bool readStartTls(const char* section = sectionConnection) const
    {
        return readBool(section, keyStartTls, defaultStartTls);
    }
    ConnectionSecurity readSecurity(const char* section = sectionConnection) const
    {
        return connectionSecurityOf(readUseTls(section), readStartTls(section));
    }
    // Both within what the program can use (usablePort, usableCheckMinutes). An IMAP account
    // without a port has its security's standard IMAP port.
    int readPort(const char* section = sectionConnection) const;
    int readCheckMinutes(const char* section = sectionConnection) const;
    // Sound, colour and mail program: an account's section may hold its own (`account`, null
    // for none); absent there, the shared ones of [newmail] and [actions].
    bool readPlaySound(bool fallback, const char* account = nullptr) const;
    void readCustomSound(TextRecord& path, const char* account = nullptr) const;
    // Within 0 (off) and longestRepeatMinutes.
    int readRepeatMinutes() const;
    bool readChangeColour(const char* account = nullptr) const;
    COLORREF readNewMailColour(const char* account = nullptr) const;
    bool readBalloon() const { return readBool(sectionNewMail, keyBalloon, defaultBalloon); }
    void readDoubleClick(TextRecord& target, const char* account = nullptr) const;
    void readCertSha256(TextRecord& fingerprint, const char* section = sectionConnection) const;
    SignInMethod readSignIn(const char* section = sectionConnection) const;
    MailProtocol readProtocol(const char* section = sectionConnection) const;
    // The folder an IMAP account watches; INBOX when absent or empty.
    void readFolder(TextRecord& folder, const char* section = sectionConnection) const;
    // Absent: off for a file that already names a server (written before the switch), else on.
    bool readShowSenders(const char* section = sectionConnection) const;
    bool readMarkOnServer(const char* section = sectionConnection) const
    {
        return readBool(section, keyMarkOnServer, false);
    }
    // The refresh token in clear; Unreadable (and empty) for one protected elsewhere, damaged,
    // or stored in clear, which the program never does. Plain with the empty text when none.
    StoredPassword readRefreshToken(TextRecord& token, const char* section = sectionConnection) const;
    // `stored` as protectPassword made it; null or empty removes the token.
    void writeRefreshToken(const char* stored, const char* section = sectionConnection);
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

    // Every account in the user's order: [connection] first, then those [accounts] order lists,
    // each with its id and how its stored password read (`passwordForms`, one per account). An
    // entry that is no id, names an id listed before, or whose section is missing or stands
    // twice in the file is skipped: `skipped` names each such entry, empty when none was.
    void readAccounts(AccountValuesList& accounts, std::vector<StoredPassword>& passwordForms,
                      std::vector<std::string>& skipped) const;
    // Writes every account: the first as writeConfiguration does (so that an older version
    // opens it as its one account), the others in their own sections, holding only the sound,
    // colour and mail program that differ from the first's. An account without an id gets the
    // next one above every id listed; stored refresh tokens move with their accounts, and the
    // sections of accounts no longer listed go.
    void writeAccounts(AccountValuesList& accounts);
    // The ids in the file's order, the first being [connection]'s; damaged entries left out.
    // `skipped`, when given, gets the sections of the entries left out.
    std::vector<std::string> readAccountOrder(std::vector<std::string>* skipped = nullptr) const;

private:
    const wchar_t* widePath() const { return filePath.wide ? filePath.wide : L""; }
    // The keys of one account into `section`, the keys the first holds elsewhere aside.
    void writeAccountKeys(const ConfigurationValues& values, const char* section);
    // An account after the first: its keys, and what it does on new mail where that is its own.
    void writeFurtherAccount(const ConfigurationValues& values, const ConfigurationValues& first);
    void readAccountSection(ConfigurationValues& values, const char* section, bool first, StoredPassword& form) const;
    bool removeKey(const char* section, const char* key);
    bool removeSection(const char* section);

    TextRecord filePath; // with its wide copy, for the profile calls
};
