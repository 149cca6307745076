#include "app/settings.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/private_files.h"
#include "util/decimal_text.h"
#include "util/copy_bounded.h"
#include "util/holders/win32_holders.h"
#include "util/settings_values.h"

namespace {

const char trueText[] = "true";
const char falseText[] = "false";
// Room for any integer formatted "%d" and for "255,255,255".
const int numberTextSize = 32;
// An account value that fills its first buffer is read again in larger ones, up to this.
const int accountValueReadLimit = 65536;
// The folder, two separators, the sub-folder, the name, a full stop and the extension.
const int appDataPathSize = 1024;

// The profile read drops the blanks around a value (control characters and 8-bit spaces
// among them, depending on the platform) and then one pair of matching quotes. Any edge
// byte other than a visible ASCII character other than a quote is taken as such.
bool mayBeStripped(char c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return byte <= ' ' || byte >= 0x7F || c == '"' || c == '\'';
}

// A value that begins or ends with a byte the read may strip would come back altered.
bool needsQuotes(const char* text)
{
    size_t length = strlen(text);
    return length > 0 && (mayBeStripped(text[0]) || mayBeStripped(text[length - 1]));
}

// The program's texts are in the ANSI code page. The profile calls that take the path wide take
// sections, keys and values wide too; they store them in the file in the ANSI code page, as the
// ANSI calls do, so the file reads the same to either.
std::wstring wideFromAnsi(const char* text)
{
    int units = text != nullptr ? MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0) : 0;
    if (units <= 1)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], units);
    wide.resize(static_cast<size_t>(units - 1));
    return wide;
}

// `length` units of `wide` into `buffer` in the ANSI code page, cut to size - 1 bytes; returns
// the length copied.
int copyAsAnsi(const wchar_t* wide, int length, char* buffer, int size)
{
    int bytes = length > 0 ? WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr) : 0;
    std::string ansi(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, wide, length, &ansi[0], bytes, nullptr, nullptr);
    copyBounded(buffer, static_cast<size_t>(size), ansi.c_str());
    return static_cast<int>(strlen(buffer));
}

// The folder as UTF-8 into `path`; false when it does not fit.
bool specialFolderUtf8(int folderId, char* path, size_t size)
{
    wchar_t folder[appDataFolderSize];
    if (FAILED(SHGetFolderPathW(nullptr, folderId, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return false;
    return WideCharToMultiByte(CP_UTF8, 0, folder, -1, path, static_cast<int>(size), nullptr, nullptr) > 0;
}

// How often `name` stands among the NUL-separated section names (any letter case).
int countSections(const wchar_t* names, DWORD length, const std::string& name)
{
    std::wstring wanted = wideFromAnsi(name.c_str());
    int count = 0;
    for (DWORD at = 0; at < length && names[at] != L'\0'; at += static_cast<DWORD>(wcslen(names + at)) + 1)
        if (lstrcmpiW(names + at, wanted.c_str()) == 0)
            ++count;
    return count;
}

bool appendBounded(char* path, size_t size, const char* piece)
{
    size_t used = strlen(path);
    size_t length = strlen(piece);
    if (used + length + 1 > size)
        return false;
    memcpy(path + used, piece, length + 1);
    return true;
}

} // namespace

ConnectionSecurity connectionSecurityOf(bool useTls, bool startTls)
{
    if (useTls)
        return ConnectionSecurity::TlsOnConnect;
    return startTls ? ConnectionSecurity::StartTls : ConnectionSecurity::None;
}

const char* signInMethodName(SignInMethod method)
{
    switch (method) {
    case SignInMethod::Microsoft:
        return "microsoft";
    case SignInMethod::Google:
        return "google";
    case SignInMethod::Password:
        break;
    }
    return "password";
}

SignInMethod parseSignInMethod(const char* text)
{
    for (SignInMethod method : {SignInMethod::Microsoft, SignInMethod::Google})
        if (text != nullptr && lstrcmpiA(text, signInMethodName(method)) == 0)
            return method;
    return SignInMethod::Password;
}

const char* protocolName(MailProtocol protocol)
{
    return protocol == MailProtocol::Imap ? "imap" : "pop3";
}

MailProtocol parseProtocol(const char* text)
{
    return text != nullptr && lstrcmpiA(text, protocolName(MailProtocol::Imap)) == 0 ? MailProtocol::Imap
                                                                                     : MailProtocol::Pop3;
}

bool parseSettingsBool(const char* text)
{
    return decodeSettingsBool(text);
}

COLORREF parseSettingsColour(const char* text, COLORREF fallback)
{
    return static_cast<COLORREF>(decodeSettingsColour(text, static_cast<uint32_t>(fallback)));
}

bool buildAppDataPath(TextRecord& path, int folderId, const char* name, const char* extension, const char* subFolder)
{
    char built[appDataPathSize];
    // Without a folder the path is built anyway; its reads then give defaults.
    if (!specialFolderUtf8(folderId, built, sizeof built))
        built[0] = '\0';
    bool fits = true;
    if (subFolder) {
        fits = appendBounded(built, sizeof built, "\\") && appendBounded(built, sizeof built, subFolder);
        // An existing folder is the usual case; any failure shows later as defaults.
        if (fits) {
            TextRecord folder;
            folder.assign(built);
            folder.toWide();
            CreateDirectoryW(folder.wide, nullptr);
        }
    }
    fits = fits && appendBounded(built, sizeof built, "\\") && appendBounded(built, sizeof built, name);
    if (fits && extension)
        fits = appendBounded(built, sizeof built, ".") && appendBounded(built, sizeof built, extension);
    if (!fits) {
        path.assign("");
        return false;
    }
    path.assign(built);
    return true;
}

namespace {

// name.extension in `folder` (UTF-8, ending in a separator) into `path`; false when it does
// not fit. Without a name, the folder itself (the separator kept only after a drive).
bool buildPathIn(TextRecord& path, const char* folder, const char* name, const char* extension)
{
    char built[appDataPathSize] = "";
    bool fits = appendBounded(built, sizeof built, folder);
    if (fits && name != nullptr)
        fits = appendBounded(built, sizeof built, name) && appendBounded(built, sizeof built, ".") &&
               appendBounded(built, sizeof built, extension);
    size_t length = strlen(built);
    if (fits && name == nullptr && length > 1 && built[length - 1] == '\\' && built[length - 2] != ':')
        built[length - 1] = '\0';
    path.assign(fits ? built : "");
    path.toWide();
    return fits;
}

bool isFile(const TextRecord& path)
{
    DWORD attributes = path.wide != nullptr ? GetFileAttributesW(path.wide) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The seen-message files of the accounts after the first, pellwick-<id>.uidl.
bool furtherSeenFilesArePrivate(const char* folder)
{
    std::string pattern = std::string(settingsFileName) + "-*";
    TextRecord search;
    if (!buildPathIn(search, folder, pattern.c_str(), seenListFileExtension))
        return false;
    WIN32_FIND_DATAW found;
    OwnedFileSearch files(FindFirstFileW(search.wide, &found));
    if (files.get() == INVALID_HANDLE_VALUE)
        return true;
    std::wstring folderPath(search.wide);
    folderPath.resize(folderPath.rfind(L'\\') + 1);
    do {
        if (!onlyUserMayChange((folderPath + found.cFileName).c_str()))
            return false;
    } while (FindNextFileW(files.get(), &found));
    return true;
}

// The folder and every file of the program's own that stands in it: the settings, the seen
// list and the user's trust file.
bool portableFilesArePrivate(const char* folder)
{
    const char* const files[][2] = {{settingsFileName, settingsFileExtension},
                                    {settingsFileName, seenListFileExtension},
                                    {userTrustFileName, userTrustFileExtension}};
    TextRecord path;
    if (!buildPathIn(path, folder, nullptr, nullptr) || !onlyUserMayChange(path.wide))
        return false;
    for (const auto& file : files)
        if (buildPathIn(path, folder, file[0], file[1]) && isFile(path) && !onlyUserMayChange(path.wide))
            return false;
    return furtherSeenFilesArePrivate(folder);
}

SettingsPlace placeSettings(TextRecord& path, const char* programFolder)
{
    bool besideProgram = programFolder != nullptr && programFolder[0] != '\0' &&
                         buildPathIn(path, programFolder, settingsFileName, settingsFileExtension) && isFile(path);
    if (besideProgram && portableFilesArePrivate(programFolder))
        return SettingsPlace::BesideProgram;
    char folder[appDataPathSize];
    bool known = specialFolderUtf8(CSIDL_APPDATA, folder, sizeof folder);
    buildAppDataPath(path, CSIDL_APPDATA, settingsFileName, settingsFileExtension, settingsFolderName);
    if (!known)
        return SettingsPlace::Nowhere;
    return besideProgram ? SettingsPlace::AppDataNotShared : SettingsPlace::AppData;
}

} // namespace

SettingsPlace buildSettingsPath(TextRecord& path, TextRecord& userTrustPath, const char* programFolder)
{
    SettingsPlace place = placeSettings(path, programFolder);
    if (place == SettingsPlace::Nowhere ||
        !buildSiblingPath(userTrustPath, textOrEmpty(path), userTrustFileName, userTrustFileExtension))
        userTrustPath.assign("");
    return place;
}

bool buildSiblingPath(TextRecord& path, const char* sibling, const char* name, const char* extension)
{
    char built[appDataPathSize] = "";
    const char* separator = strrchr(sibling, '\\');
    size_t folderLength = separator != nullptr ? static_cast<size_t>(separator - sibling) + 1 : 0;
    // Without a folder the name would follow the working folder: no path then.
    bool fits = folderLength > 0 && folderLength < sizeof built;
    if (fits)
        memcpy(built, sibling, folderLength);
    fits = fits && appendBounded(built, sizeof built, name) && appendBounded(built, sizeof built, ".") &&
           appendBounded(built, sizeof built, extension);
    path.assign(fits ? built : "");
    return fits;
}

void Settings::setPath(const char* path)
{
    filePath.assign(path);
    if (filePath.text != nullptr)
        filePath.toWide();
}

int Settings::readText(const char* section, const char* key, const char* fallback, char* buffer, int size) const
{
    if (size <= 0)
        return 0;
    std::wstring value(static_cast<size_t>(size), L'\0');
    DWORD length =
        GetPrivateProfileStringW(wideFromAnsi(section).c_str(), wideFromAnsi(key).c_str(),
                                 wideFromAnsi(fallback).c_str(), &value[0], static_cast<DWORD>(size), widePath());
    return copyAsAnsi(value.c_str(), static_cast<int>(length), buffer, size);
}

void Settings::readText(const char* section, const char* key, const char* fallback, TextRecord& value, int size) const
{
    std::unique_ptr<char[]> buffer(new char[size]);
    int length = readText(section, key, fallback, buffer.get(), size);
    value.assign(buffer.get(), length);
}

int Settings::readInt(const char* section, const char* key, int fallback) const
{
    char fallbackText[numberTextSize];
    snprintf(fallbackText, sizeof fallbackText, "%d", fallback);
    char value[settingsValueSize];
    readText(section, key, fallbackText, value, sizeof value);
    return parseDecimal(value);
}

bool Settings::readBool(const char* section, const char* key, bool fallback) const
{
    char value[settingsValueSize];
    readText(section, key, fallback ? trueText : falseText, value, sizeof value);
    return parseSettingsBool(value);
}

COLORREF Settings::readColour(const char* section, const char* key, COLORREF fallback) const
{
    char value[settingsColourValueSize];
    readText(section, key, "", value, sizeof value);
    return parseSettingsColour(value, fallback);
}

AccountValueLength Settings::readAccountText(const char* key, TextRecord& value, const char* section) const
{
    // The profile read reports size - 1 characters when the value did not fit.
    for (int size = accountValueSize;; size *= 16) {
        std::unique_ptr<char[]> buffer(new char[size]);
        int length = readText(section, key, "", buffer.get(), size);
        bool filled = length >= size - 1;
        if (!filled || size >= accountValueReadLimit) {
            value.assign(buffer.get(), length);
            return length > accountValueMaxLength ? AccountValueLength::TooLong : AccountValueLength::Usable;
        }
    }
}

StoredPassword Settings::readPassword(TextRecord& password) const
{
    TextRecord stored;
    readAccountText(keyPassword, stored);
    return revealPassword(stored.text, password);
}

bool Settings::writeString(const char* section, const char* key, const char* text)
{
    // A null text would delete the entry; an absent value is stored as empty.
    const char* value = text ? text : "";
    // One more pair of double quotes, which the read removes, so the value reads back as typed.
    std::string stored = needsQuotes(value) ? std::string("\"") + value + "\"" : std::string(value);
    return WritePrivateProfileStringW(wideFromAnsi(section).c_str(), wideFromAnsi(key).c_str(),
                                      wideFromAnsi(stored.c_str()).c_str(), widePath()) != 0;
}

bool Settings::writeOrRemove(const char* section, const char* key, const char* text)
{
    if (text != nullptr && text[0] != '\0')
        return writeString(section, key, text);
    return removeKey(section, key);
}

bool Settings::removeKey(const char* section, const char* key)
{
    return WritePrivateProfileStringW(wideFromAnsi(section).c_str(), wideFromAnsi(key).c_str(), nullptr, widePath()) !=
           0;
}

bool Settings::removeSection(const char* section)
{
    return WritePrivateProfileStringW(wideFromAnsi(section).c_str(), nullptr, nullptr, widePath()) != 0;
}

bool Settings::writeInt(const char* section, const char* key, int value)
{
    char text[numberTextSize];
    snprintf(text, sizeof text, "%d", value);
    return writeString(section, key, text);
}

bool Settings::writeBool(const char* section, const char* key, bool value)
{
    return writeString(section, key, value ? trueText : falseText);
}

bool Settings::writeColour(const char* section, const char* key, COLORREF colour)
{
    char text[numberTextSize];
    snprintf(text, sizeof text, "%d,%d,%d", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    return writeString(section, key, text);
}

int Settings::readPort(const char* section) const
{
    ConnectionSecurity security = readSecurity(section);
    MailProtocol protocol = readProtocol(section);
    int absent = protocol == MailProtocol::Imap ? standardPort(security, protocol) : defaultPort;
    return usablePort(readInt(section, keyPortRead, absent), security, protocol);
}

int Settings::readCheckMinutes(const char* section) const
{
    return usableCheckMinutes(readInt(section, keyCheckMinutes, defaultCheckMinutes));
}

bool Settings::readPlaySound(bool fallback, const char* account) const
{
    bool shared = readBool(sectionNewMail, keyPlaySound, fallback);
    return account != nullptr ? readBool(account, keyPlaySound, shared) : shared;
}

void Settings::readCustomSound(TextRecord& soundPath, const char* account) const
{
    readText(sectionNewMail, keyCustomSound, "", soundPath, settingsPathValueSize);
    if (account != nullptr)
        readText(account, keyCustomSound, textOrEmpty(soundPath), soundPath, settingsPathValueSize);
}

bool Settings::readChangeColour(const char* account) const
{
    bool shared = readBool(sectionNewMail, keyChangeColour, defaultChangeColour);
    return account != nullptr ? readBool(account, keyChangeColour, shared) : shared;
}

COLORREF Settings::readNewMailColour(const char* account) const
{
    COLORREF shared = readColour(sectionNewMail, keyNewMailColour, defaultNewMailColour);
    return account != nullptr ? readColour(account, keyNewMailColour, shared) : shared;
}

int Settings::readRepeatMinutes() const
{
    return usableRepeatMinutes(readInt(sectionNewMail, keyRepeatMinutes, defaultRepeatMinutes));
}

void Settings::readCertSha256(TextRecord& fingerprint, const char* section) const
{
    readText(section, keyCertSha256, "", fingerprint, settingsValueSize * 2);
}

SignInMethod Settings::readSignIn(const char* section) const
{
    char value[settingsValueSize];
    readText(section, keySignIn, "", value, sizeof value);
    return parseSignInMethod(value);
}

MailProtocol Settings::readProtocol(const char* section) const
{
    char value[settingsValueSize];
    readText(section, keyProtocol, "", value, sizeof value);
    return parseProtocol(value);
}

void Settings::readFolder(TextRecord& folder, const char* section) const
{
    readAccountText(keyFolder, folder, section);
    if (folder.text == nullptr || folder.text[0] == '\0')
        folder.assign(defaultFolder);
}

StoredPassword Settings::readRefreshToken(TextRecord& token, const char* section) const
{
    TextRecord stored;
    readAccountText(keyRefreshToken, stored, section);
    StoredPassword form = revealPassword(stored.text, token);
    if (form != StoredPassword::Plain || token.text == nullptr || token.text[0] == '\0')
        return form;
    token.assign("");
    return StoredPassword::Unreadable;
}

void Settings::writeRefreshToken(const char* stored, const char* section)
{
    // No token, no key: an account that never signed in gets no empty entry.
    writeOrRemove(section, keyRefreshToken, stored);
}

bool Settings::readShowSenders(const char* section) const
{
    TextRecord server;
    readAccountText(keyServer, server, section);
    bool holdsAccount = server.text != nullptr && server.text[0] != '\0';
    return readBool(section, keyShowSenders, !holdsAccount);
}

void Settings::readDoubleClick(TextRecord& target, const char* account) const
{
    readText(sectionActions, keyDoubleClick, "", target, settingsPathValueSize);
    if (account != nullptr)
        readText(account, keyDoubleClick, textOrEmpty(target), target, settingsPathValueSize);
}

void Settings::readPosition(int& positionX, int& positionY) const
{
    positionY = readInt(sectionPosition, keyY, positionY);
    positionX = readInt(sectionPosition, keyX, positionX);
}

void Settings::writePosition(int positionX, int positionY)
{
    writeInt(sectionPosition, keyX, positionX);
    writeInt(sectionPosition, keyY, positionY);
}

std::string accountSection(const std::string& id, bool first)
{
    return first ? std::string(sectionConnection) : std::string(accountSectionPrefix) + id;
}

bool buildSeenFilePath(TextRecord& path, const char* settingsPath, const std::string& id)
{
    std::string name = id == firstAccountId ? std::string(settingsFileName) : std::string(settingsFileName) + "-" + id;
    return buildSiblingPath(path, settingsPath, name.c_str(), seenListFileExtension);
}

namespace {

// The order key's room: 16 accounts need under 50 characters; a few hundred fit.
const int accountOrderValueSize = 4096;
// Section names of a settings file, NULs between them.
const DWORD sectionNamesSize = 65536;
// An id is a decimal number of at most this many digits, so that it always fits an unsigned long.
const size_t longestAccountId = 9;

bool isAccountId(const std::string& text)
{
    if (text.empty() || text.size() > longestAccountId)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string trimmed(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::vector<std::string> splitAtCommas(const char* text)
{
    std::vector<std::string> pieces;
    std::string rest = text != nullptr ? text : "";
    if (trimmed(rest).empty())
        return pieces;
    size_t start = 0;
    for (;;) {
        size_t comma = rest.find(',', start);
        pieces.push_back(trimmed(rest.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos)
            return pieces;
        start = comma + 1;
    }
}

unsigned long highestId(const std::vector<std::string>& ids, const AccountValuesList& accounts)
{
    unsigned long highest = 0;
    for (const std::string& id : ids)
        highest = std::max(highest, strtoul(id.c_str(), nullptr, 10));
    for (const auto& account : accounts)
        if (isAccountId(account->accountId))
            highest = std::max(highest, strtoul(account->accountId.c_str(), nullptr, 10));
    return highest;
}

} // namespace

StoredPassword Settings::readConfiguration(ConfigurationValues& values) const
{
    StoredPassword form = StoredPassword::Plain;
    readAccountSection(values, sectionConnection, true, form);
    return form;
}

void Settings::readAccountSection(ConfigurationValues& values, const char* section, bool first,
                                  StoredPassword& form) const
{
    readAccountText(keyAccountName, values.accountName, section);
    readAccountText(keyServer, values.server, section);
    readAccountText(keyUsername, values.username, section);
    readAccountText(keyPassword, values.storedPassword, section);
    form = revealPassword(values.storedPassword.text, values.password);
    values.security = readSecurity(section);
    values.port = readPort(section);
    values.protocol = readProtocol(section);
    readFolder(values.folder, section);
    values.markOnServer = readMarkOnServer(section);
    values.showSenders = readShowSenders(section);
    values.checkMinutes = readCheckMinutes(section);
    readCertSha256(values.certSha256, section);
    values.signIn = readSignIn(section);
    readAccountText(keyMicrosoftClientId, values.microsoftClientId, section);
    readAccountText(keyGoogleClientId, values.googleClientId, section);
    readAccountText(keyGoogleClientSecret, values.googleClientSecret, section);
    readAccountText(keyMicrosoftAuthority, values.microsoftAuthority, section);
    TextRecord storedToken;
    readAccountText(keyRefreshToken, storedToken, section);
    values.refreshTokenStored = storedToken.text != nullptr && storedToken.text[0] != '\0';
    // The first account's sound, colour and mail program are the shared ones.
    const char* own = first ? nullptr : section;
    values.playSound = readPlaySound(defaultPlaySoundForDialog, own);
    readCustomSound(values.customSound, own);
    values.repeatMinutes = readRepeatMinutes();
    values.changeColour = readChangeColour(own);
    values.newMailColour = readNewMailColour(own);
    values.balloon = readBalloon();
    readDoubleClick(values.doubleClick, own);
}

void Settings::writeAccountKeys(const ConfigurationValues& values, const char* section)
{
    writeOrRemove(section, keyAccountName, values.accountName.text);
    writeString(section, keyServer, values.server.text);
    writeString(section, keyUsername, values.username.text);
    writeString(section, keyPassword, values.storedPassword.text);
    // SSL as older versions read it; starttls beside it, which they ignore.
    writeBool(section, keySsl, values.security == ConnectionSecurity::TlsOnConnect);
    writeBool(section, keyStartTls, values.security == ConnectionSecurity::StartTls);
    writeInt(section, keyPort, values.port);
    writeInt(section, keyCheckMinutes, values.checkMinutes);
    writeString(section, keyCertSha256, values.certSha256.text);
    writeString(section, keySignIn, signInMethodName(values.signIn));
    writeOrRemove(section, keyMicrosoftClientId, values.microsoftClientId.text);
    writeOrRemove(section, keyGoogleClientId, values.googleClientId.text);
    writeOrRemove(section, keyGoogleClientSecret, values.googleClientSecret.text);
    writeOrRemove(section, keyMicrosoftAuthority, values.microsoftAuthority.text);
    writeString(section, keyProtocol, protocolName(values.protocol));
    if (values.protocol == MailProtocol::Imap)
        writeString(section, keyFolder, values.folder.text);
    writeOrRemove(section, keyMarkOnServer, values.markOnServer ? trueText : nullptr);
    writeBool(section, keyShowSenders, values.showSenders);
}

void Settings::writeConfiguration(const ConfigurationValues& values)
{
    writeAccountKeys(values, sectionConnection);
    writeBool(sectionNewMail, keyPlaySound, values.playSound);
    writeString(sectionNewMail, keyCustomSound, values.customSound.text);
    writeInt(sectionNewMail, keyRepeatMinutes, values.repeatMinutes);
    writeBool(sectionNewMail, keyChangeColour, values.changeColour);
    writeColour(sectionNewMail, keyNewMailColour, values.newMailColour);
    writeBool(sectionNewMail, keyBalloon, values.balloon);
    writeString(sectionActions, keyDoubleClick, values.doubleClick.text);
}

// Only what differs from the shared values stands in the account's section, so that a change of
// the shared ones reaches every account that never chose its own.
void Settings::writeFurtherAccount(const ConfigurationValues& values, const ConfigurationValues& first)
{
    std::string section = accountSection(values.accountId, false);
    writeAccountKeys(values, section.c_str());
    if (values.playSound != first.playSound)
        writeBool(section.c_str(), keyPlaySound, values.playSound);
    if (strcmp(textOrEmpty(values.customSound), textOrEmpty(first.customSound)) != 0)
        writeString(section.c_str(), keyCustomSound, values.customSound.text);
    if (values.changeColour != first.changeColour)
        writeBool(section.c_str(), keyChangeColour, values.changeColour);
    if (values.newMailColour != first.newMailColour)
        writeColour(section.c_str(), keyNewMailColour, values.newMailColour);
    if (strcmp(textOrEmpty(values.doubleClick), textOrEmpty(first.doubleClick)) != 0)
        writeString(section.c_str(), keyDoubleClick, values.doubleClick.text);
}

// The order is one key rather than a number in each section: a move rewrites one line, and a
// section copied or left behind by hand cannot make two accounts claim one place.
std::vector<std::string> Settings::readAccountOrder(std::vector<std::string>* skipped) const
{
    TextRecord orderText;
    readText(sectionAccounts, keyAccountOrder, "", orderText, accountOrderValueSize);
    std::vector<std::string> entries = splitAtCommas(orderText.text);
    std::vector<std::string> ids;
    ids.push_back(!entries.empty() && isAccountId(entries[0]) ? entries[0] : std::string(firstAccountId));
    std::unique_ptr<wchar_t[]> names(new wchar_t[sectionNamesSize]);
    DWORD length = GetPrivateProfileSectionNamesW(names.get(), sectionNamesSize, widePath());
    for (size_t i = 1; i < entries.size(); ++i) {
        bool usable = isAccountId(entries[i]) && std::find(ids.begin(), ids.end(), entries[i]) == ids.end() &&
                      countSections(names.get(), length, accountSection(entries[i], false)) == 1;
        if (usable)
            ids.push_back(entries[i]);
        else if (skipped != nullptr)
            skipped->push_back(accountSection(entries[i], false));
    }
    return ids;
}

void Settings::readAccounts(AccountValuesList& accounts, std::vector<StoredPassword>& passwordForms,
                            std::vector<std::string>& skipped) const
{
    std::vector<std::string> ids = readAccountOrder(&skipped);
    for (size_t i = 0; i < ids.size(); ++i) {
        std::unique_ptr<ConfigurationValues> values(new ConfigurationValues);
        StoredPassword form = StoredPassword::Plain;
        readAccountSection(*values, accountSection(ids[i], i == 0).c_str(), i == 0, form);
        values->accountId = ids[i];
        accounts.push_back(std::move(values));
        passwordForms.push_back(form);
    }
}

void Settings::writeAccounts(AccountValuesList& accounts)
{
    std::vector<std::string> before = readAccountOrder();
    // Each stored refresh token, as stored, to go with its account wherever it now stands.
    std::vector<std::string> tokens;
    for (size_t i = 0; i < before.size(); ++i) {
        TextRecord token;
        readAccountText(keyRefreshToken, token, accountSection(before[i], i == 0).c_str());
        tokens.push_back(textOrEmpty(token));
    }
    unsigned long next = highestId(before, accounts) + 1;
    for (auto& account : accounts)
        if (!isAccountId(account->accountId))
            account->accountId = std::to_string(next++);
    for (size_t i = 1; i < before.size(); ++i)
        removeSection(accountSection(before[i], false).c_str());
    if (accounts.empty())
        return;
    writeConfiguration(*accounts[0]);
    std::string order;
    for (size_t i = 0; i < accounts.size(); ++i) {
        if (i > 0)
            writeFurtherAccount(*accounts[i], *accounts[0]);
        auto held = std::find(before.begin(), before.end(), accounts[i]->accountId);
        const char* token = held != before.end() ? tokens[static_cast<size_t>(held - before.begin())].c_str() : "";
        writeRefreshToken(token, accountSection(accounts[i]->accountId, i == 0).c_str());
        order += (i > 0 ? "," : "") + accounts[i]->accountId;
    }
    // One account with the first id is a file as older versions write it: no order then.
    if (accounts.size() == 1 && accounts[0]->accountId == firstAccountId)
        removeSection(sectionAccounts);
    else
        writeString(sectionAccounts, keyAccountOrder, order.c_str());
}
