#include "app/settings.h"

#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/private_files.h"
#include "util/decimal_text.h"
#include "util/copy_bounded.h"
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
    return true;
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

AccountValueLength Settings::readAccountText(const char* key, TextRecord& value) const
{
    // The profile read reports size - 1 characters when the value did not fit.
    for (int size = accountValueSize;; size *= 16) {
        std::unique_ptr<char[]> buffer(new char[size]);
        int length = readText(sectionConnection, key, "", buffer.get(), size);
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
    return WritePrivateProfileStringW(wideFromAnsi(section).c_str(), wideFromAnsi(key).c_str(), nullptr, widePath()) !=
           0;
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

int Settings::readPort() const
{
    ConnectionSecurity security = readSecurity();
    MailProtocol protocol = readProtocol();
    int absent = protocol == MailProtocol::Imap ? standardPort(security, protocol) : defaultPort;
    return usablePort(readInt(sectionConnection, keyPortRead, absent), security, protocol);
}

int Settings::readCheckMinutes() const
{
    return usableCheckMinutes(readInt(sectionConnection, keyCheckMinutes, defaultCheckMinutes));
}

void Settings::readCustomSound(TextRecord& soundPath) const
{
    readText(sectionNewMail, keyCustomSound, "", soundPath, settingsPathValueSize);
}

int Settings::readRepeatMinutes() const
{
    return usableRepeatMinutes(readInt(sectionNewMail, keyRepeatMinutes, defaultRepeatMinutes));
}

void Settings::readCertSha256(TextRecord& fingerprint) const
{
    readText(sectionConnection, keyCertSha256, "", fingerprint, settingsValueSize * 2);
}

SignInMethod Settings::readSignIn() const
{
    char value[settingsValueSize];
    readText(sectionConnection, keySignIn, "", value, sizeof value);
    return parseSignInMethod(value);
}

MailProtocol Settings::readProtocol() const
{
    char value[settingsValueSize];
    readText(sectionConnection, keyProtocol, "", value, sizeof value);
    return parseProtocol(value);
}

void Settings::readFolder(TextRecord& folder) const
{
    readAccountText(keyFolder, folder);
    if (folder.text == nullptr || folder.text[0] == '\0')
        folder.assign(defaultFolder);
}

StoredPassword Settings::readRefreshToken(TextRecord& token) const
{
    TextRecord stored;
    readAccountText(keyRefreshToken, stored);
    StoredPassword form = revealPassword(stored.text, token);
    if (form != StoredPassword::Plain || token.text == nullptr || token.text[0] == '\0')
        return form;
    token.assign("");
    return StoredPassword::Unreadable;
}

void Settings::writeRefreshToken(const char* stored)
{
    if (stored != nullptr && stored[0] != '\0') {
        writeString(sectionConnection, keyRefreshToken, stored);
        return;
    }
    // No token, no key: an account that never signed in gets no empty entry.
    WritePrivateProfileStringW(wideFromAnsi(sectionConnection).c_str(), wideFromAnsi(keyRefreshToken).c_str(), nullptr,
                               widePath());
}

bool Settings::readShowSenders() const
{
    TextRecord server;
    readAccountText(keyServer, server);
    bool holdsAccount = server.text != nullptr && server.text[0] != '\0';
    return readBool(sectionConnection, keyShowSenders, !holdsAccount);
}

void Settings::readDoubleClick(TextRecord& target) const
{
    readText(sectionActions, keyDoubleClick, "", target, settingsPathValueSize);
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

StoredPassword Settings::readConfiguration(ConfigurationValues& values) const
{
    readAccountText(keyServer, values.server);
    readAccountText(keyUsername, values.username);
    readAccountText(keyPassword, values.storedPassword);
    StoredPassword form = revealPassword(values.storedPassword.text, values.password);
    values.security = readSecurity();
    values.port = readPort();
    values.protocol = readProtocol();
    readFolder(values.folder);
    values.markOnServer = readMarkOnServer();
    values.checkMinutes = readCheckMinutes();
    readCertSha256(values.certSha256);
    values.signIn = readSignIn();
    readAccountText(keyMicrosoftClientId, values.microsoftClientId);
    readAccountText(keyGoogleClientId, values.googleClientId);
    readAccountText(keyGoogleClientSecret, values.googleClientSecret);
    readAccountText(keyMicrosoftAuthority, values.microsoftAuthority);
    TextRecord storedToken;
    readAccountText(keyRefreshToken, storedToken);
    values.refreshTokenStored = storedToken.text != nullptr && storedToken.text[0] != '\0';
    values.playSound = readPlaySound(defaultPlaySoundForDialog);
    readCustomSound(values.customSound);
    values.repeatMinutes = readRepeatMinutes();
    values.changeColour = readChangeColour();
    values.newMailColour = readNewMailColour();
    values.balloon = readBalloon();
    values.showSenders = readShowSenders();
    readDoubleClick(values.doubleClick);
    return form;
}

void Settings::writeConfiguration(const ConfigurationValues& values)
{
    writeString(sectionConnection, keyServer, values.server.text);
    writeString(sectionConnection, keyUsername, values.username.text);
    writeString(sectionConnection, keyPassword, values.storedPassword.text);
    // SSL as older versions read it; starttls beside it, which they ignore.
    writeBool(sectionConnection, keySsl, values.security == ConnectionSecurity::TlsOnConnect);
    writeBool(sectionConnection, keyStartTls, values.security == ConnectionSecurity::StartTls);
    writeInt(sectionConnection, keyPort, values.port);
    writeInt(sectionConnection, keyCheckMinutes, values.checkMinutes);
    writeString(sectionConnection, keyCertSha256, values.certSha256.text);
    writeString(sectionConnection, keySignIn, signInMethodName(values.signIn));
    writeOrRemove(sectionConnection, keyMicrosoftClientId, values.microsoftClientId.text);
    writeOrRemove(sectionConnection, keyGoogleClientId, values.googleClientId.text);
    writeOrRemove(sectionConnection, keyGoogleClientSecret, values.googleClientSecret.text);
    writeOrRemove(sectionConnection, keyMicrosoftAuthority, values.microsoftAuthority.text);
    writeString(sectionConnection, keyProtocol, protocolName(values.protocol));
    // A POP3 account leaves the IMAP keys as they were, for a switch back.
    if (values.protocol == MailProtocol::Imap) {
        writeString(sectionConnection, keyFolder, values.folder.text);
        writeBool(sectionConnection, keyMarkOnServer, values.markOnServer);
    }
    writeBool(sectionConnection, keyShowSenders, values.showSenders);
    writeBool(sectionNewMail, keyPlaySound, values.playSound);
    writeString(sectionNewMail, keyCustomSound, values.customSound.text);
    writeInt(sectionNewMail, keyRepeatMinutes, values.repeatMinutes);
    writeBool(sectionNewMail, keyChangeColour, values.changeColour);
    writeColour(sectionNewMail, keyNewMailColour, values.newMailColour);
    writeBool(sectionNewMail, keyBalloon, values.balloon);
    writeString(sectionActions, keyDoubleClick, values.doubleClick.text);
}
