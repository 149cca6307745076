#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/private_files.h"
#include "app/settings.h"
#include "util/decimal_text.h"

namespace {

// A settings file in a folder of its own under the temporary folder, removed afterwards.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
        static int counter = 0;
        folder = std::string(temp) + "pellwick-settings-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(++counter);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        filePath = folder + "\\pellwick.ini";
        settings.setPath(filePath.c_str());
    }

    void TearDown() override
    {
        DeleteFileA(filePath.c_str());
        RemoveDirectoryA(folder.c_str());
    }

    void writeFile(const std::string& text)
    {
        FILE* file = fopen(filePath.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }

    std::string readFile()
    {
        std::string text;
        FILE* file = fopen(filePath.c_str(), "rb");
        if (!file)
            return text;
        char chunk[512];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
            text.append(chunk, got);
        fclose(file);
        return text;
    }

    // The lines of the file without blank ones and without line ends.
    std::vector<std::string> fileLines()
    {
        std::vector<std::string> lines;
        std::string text = readFile();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                lines.push_back(line);
            start = end + 1;
        }
        return lines;
    }

    std::string text(const char* section, const char* key, int size = settingsValueSize)
    {
        TextRecord value;
        settings.readText(section, key, "<absent>", value, size);
        return value.text;
    }

    std::string folder;
    std::string filePath;
    Settings settings;
};

TEST_F(SettingsFile, BooleansReadTrueOnlyForTrueYesYAndOne)
{
    writeFile("[connection]\r\na=Yes\r\nb=on\r\nc=\r\nd=1\r\ne=TRUE\r\nf=y\r\ng=false\r\nh=01\r\ni=yess\r\n");
    EXPECT_TRUE(settings.readBool("connection", "a", false));
    EXPECT_FALSE(settings.readBool("connection", "b", true));
    EXPECT_FALSE(settings.readBool("connection", "c", true)) << "an empty value is not the default";
    EXPECT_TRUE(settings.readBool("connection", "d", false));
    EXPECT_TRUE(settings.readBool("connection", "e", false));
    EXPECT_TRUE(settings.readBool("connection", "f", false));
    EXPECT_FALSE(settings.readBool("connection", "g", true));
    EXPECT_FALSE(settings.readBool("connection", "h", true));
    EXPECT_FALSE(settings.readBool("connection", "i", true));
}

TEST_F(SettingsFile, MissingBooleanGivesItsDefault)
{
    writeFile("[connection]\r\nserver=pop.example.org\r\n");
    EXPECT_TRUE(settings.readUseTls());
    EXPECT_FALSE(settings.readBool("connection", "SSL", false));
    EXPECT_FALSE(settings.readPlaySound(defaultPlaySoundForNewMail));
    EXPECT_TRUE(settings.readPlaySound(defaultPlaySoundForDialog));
    EXPECT_FALSE(settings.readVisible());
    EXPECT_TRUE(settings.readChangeColour());
    EXPECT_FALSE(settings.readShowSenders()) << "a file from before the switch holds an account";
}

TEST_F(SettingsFile, PortWrittenLowerCaseIsReadUnderEitherCase)
{
    writeFile("[connection]\r\nport=110\r\n");
    EXPECT_EQ(settings.readPort(), 110);
    EXPECT_EQ(settings.readCheckMinutes(), 5);
}

TEST_F(SettingsFile, DialogPortWriteReplacesTheStartUpEntry)
{
    writeFile("[Connection]\r\nPort=110\r\n");
    settings.writeInt(sectionConnection, keyPort, 995);
    EXPECT_EQ(settings.readPort(), 995);
    int entries = 0;
    for (const std::string& line : fileLines())
        entries += _strnicmp(line.c_str(), "port=", 5) == 0;
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsFile, MissingFileGivesEveryDefault)
{
    EXPECT_EQ(settings.readPort(), 995);
    EXPECT_EQ(settings.readCheckMinutes(), 5);
    EXPECT_TRUE(settings.readUseTls());
    EXPECT_EQ(settings.readNewMailColour(), static_cast<COLORREF>(0x5FFF5F));
    TextRecord server;
    EXPECT_EQ(settings.readAccountText(keyServer, server), AccountValueLength::Usable);
    EXPECT_STREQ(server.text, "");
    EXPECT_EQ(settings.readProtocol(), MailProtocol::Pop3);
    TextRecord folder;
    settings.readFolder(folder);
    EXPECT_STREQ(folder.text, "INBOX");
    EXPECT_FALSE(settings.readMarkOnServer());
    EXPECT_TRUE(settings.readShowSenders()) << "a new set-up";
    int x = 17, y = -4;
    settings.readPosition(x, y);
    EXPECT_EQ(x, 17);
    EXPECT_EQ(y, -4);
}

TEST_F(SettingsFile, IntegersStopAtTheFirstOtherCharacter)
{
    writeFile("[position]\r\nx=abc\r\ny=12abc\r\n[connection]\r\ncheckmins=-7\r\nport=+143\r\n");
    int x = 300, y = 200;
    settings.readPosition(x, y);
    EXPECT_EQ(x, 0) << "a position of abc places the window at 0";
    EXPECT_EQ(y, 12);
    EXPECT_EQ(settings.readInt(sectionConnection, keyCheckMinutes, 5), -7);
    EXPECT_EQ(settings.readPort(), 143);
}

TEST_F(SettingsFile, IntegersBeyondThirtyTwoBitsSaturate)
{
    writeFile("[position]\r\nx=99999999999\r\ny=-99999999999\r\n[connection]\r\nport=2147483648\r\n"
              "checkmins=-2147483648\r\n");
    int x = 0, y = 0;
    settings.readPosition(x, y);
    EXPECT_EQ(x, 2147483647);
    EXPECT_EQ(y, -2147483647 - 1);
    EXPECT_EQ(settings.readInt(sectionConnection, keyPort, 995), 2147483647);
    EXPECT_EQ(settings.readInt(sectionConnection, keyCheckMinutes, 5), -2147483647 - 1);
}

// A hand-edited interval below one minute would reconnect without pause, a port out of range
// cannot connect, a repeat must fit a timer: start-up reads each as the dialog would allow.
TEST_F(SettingsFile, StartUpReadsIntervalAndPortWithinTheirRange)
{
    struct Case {
        const char* entries;
        int port;
        int minutes;
        int repeat = 0;
    } cases[] = {
        {"checkmins=0\r\nport=0\r\n", 995, 1},
        {"checkmins=-5\r\nport=-995\r\n", 995, 1},
        {"checkmins=x\r\nport=65536\r\n", 995, 1},
        {"SSL=false\r\nport=0\r\n", 110, 5},
        {"SSL=false\r\nport=2147483648\r\ncheckmins=-2147483648\r\n", 110, 1},
        {"port=\r\ncheckmins=\r\n", 995, 1},
        {"SSL=false\r\nport=1\r\ncheckmins=1\r\n", 1, 1},
        {"port=65535\r\ncheckmins=2\r\n", 65535, 2},
        {"SSL=false\r\nstarttls=true\r\nport=0\r\n", 110, 5},
        {"[newmail]\r\nrepeatmins=-3\r\n", 995, 5, 0},
        {"[newmail]\r\nrepeatmins=10000\r\n", 995, 5, 9999},
        {"protocol=imap\r\nport=0\r\n", 993, 5},
        {"protocol=IMAP\r\nSSL=false\r\nstarttls=true\r\nport=0\r\n", 143, 5},
        {"protocol=imap4\r\nport=0\r\n", 995, 5},
        {"protocol=imap\r\nport=995\r\n", 995, 5},
        {"protocol=imap\r\n", 993, 5},
        {"protocol=imap\r\nSSL=false\r\n", 143, 5},
        {"SSL=false\r\n", 995, 5},
    };
    for (const Case& expected : cases) {
        writeFile(std::string("[connection]\r\n") + expected.entries);
        EXPECT_EQ(settings.readPort(), expected.port) << expected.entries;
        EXPECT_EQ(settings.readCheckMinutes(), expected.minutes) << expected.entries;
        EXPECT_EQ(settings.readRepeatMinutes(), expected.repeat) << expected.entries;
    }
}

TEST_F(SettingsFile, ColoursNeedThreeNumbersAndKeepTheirLowBytes)
{
    writeFile("[newmail]\r\na=255,0\r\nb=300,0,0\r\nc=1,2,3\r\nd=-1,256,511\r\ne=99999999999,0,0\r\n"
              "f=1 ,2,3\r\ng=1, 2, 3xyz\r\nh=red\r\n");
    const COLORREF fallback = RGB(9, 8, 7);
    EXPECT_EQ(settings.readColour("newmail", "a", fallback), fallback);
    EXPECT_EQ(settings.readColour("newmail", "b", fallback), RGB(44, 0, 0));
    EXPECT_EQ(settings.readColour("newmail", "c", fallback), RGB(1, 2, 3));
    EXPECT_EQ(settings.readColour("newmail", "d", fallback), RGB(255, 0, 255));
    // 99999999999 is 0x174876E7FF.
    EXPECT_EQ(settings.readColour("newmail", "e", fallback), RGB(0xFF, 0, 0));
    EXPECT_EQ(settings.readColour("newmail", "f", fallback), fallback) << "a blank before the comma stops the scan";
    EXPECT_EQ(settings.readColour("newmail", "g", fallback), RGB(1, 2, 3));
    EXPECT_EQ(settings.readColour("newmail", "h", fallback), fallback);
    EXPECT_EQ(settings.readNewMailColour(), static_cast<COLORREF>(0x5FFF5F));
}

TEST_F(SettingsFile, ColourRoundTripsAsDecimalTriple)
{
    settings.writeColour(sectionNewMail, keyNewMailColour, RGB(12, 34, 250));
    EXPECT_EQ(text(sectionNewMail, keyNewMailColour), "12,34,250");
    EXPECT_EQ(settings.readNewMailColour(), RGB(12, 34, 250));
}

// The profile read strips blanks and a pair of quotes around a value: the dialog's write must
// keep every password as typed, and start-up's read must give it back.
TEST_F(SettingsFile, PasswordsReadBackExactlyAsTyped)
{
    const char* passwords[] = {"a=b%d%s=c%", " pw",          "pw ",      "  pw  ",      "\"abc\"", "'abc'", "\"abc",
                               "abc\"",      "'abc",         "abc'",     "\"abc'",      "\"",      "'",     "\"\"",
                               " \" ",       "\t tab",       "=lead",    ";semi",       "#hash",   "%%",    "[x]",
                               "\xE9t\xE9",  "\xA0nbsp\xA0", "caf\xE9 ", "\xFF\xA3\xB5"};
    for (const char* password : passwords) {
        ConfigurationValues values;
        ASSERT_TRUE(protectPassword(password, values.storedPassword));
        values.username.assign(password);
        settings.writeConfiguration(values);
        TextRecord read;
        EXPECT_EQ(settings.readPassword(read), StoredPassword::Protected) << password;
        EXPECT_STREQ(read.text, password);
        settings.readAccountText(keyUsername, read);
        EXPECT_STREQ(read.text, password) << "the entry before it is untouched";
    }
    // A plain value is written as it is, without quotes.
    settings.writeString(sectionConnection, keyPassword, "plain");
    std::vector<std::string> lines = fileLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "password=plain"), lines.end());
}

TEST_F(SettingsFile, SurroundingBlanksAndMatchingQuotesAreDropped)
{
    writeFile(
        "[actions]\r\ndoubleclick=   http://mail.example.org/   \r\n[newmail]\r\ncustomsound=\"C:\\a b.wav\"\r\n");
    TextRecord target;
    settings.readDoubleClick(target);
    EXPECT_STREQ(target.text, "http://mail.example.org/");
    TextRecord sound;
    settings.readCustomSound(sound);
    EXPECT_STREQ(sound.text, "C:\\a b.wav");
}

TEST_F(SettingsFile, EmptyValueIsEmptyNotTheDefault)
{
    writeFile("[connection]\r\nport=\r\nserver=\r\n");
    EXPECT_EQ(settings.readInt(sectionConnection, keyPort, 995), 0);
    EXPECT_EQ(text(sectionConnection, keyServer), "");
    EXPECT_EQ(text(sectionConnection, keyUsername), "<absent>");
}

TEST_F(SettingsFile, LongPathValuesAreCutAt259Characters)
{
    std::string longPath(400, 'p');
    settings.writeString(sectionNewMail, keyCustomSound, longPath.c_str());
    settings.writeString(sectionActions, keyDoubleClick, longPath.c_str());
    TextRecord sound, target;
    settings.readCustomSound(sound);
    settings.readDoubleClick(target);
    EXPECT_EQ(std::string(sound.text), longPath.substr(0, 259));
    EXPECT_EQ(std::string(target.text), longPath.substr(0, 259));
}

TEST_F(SettingsFile, OtherTextsAreCutToTheirBuffer)
{
    std::string value(100, 'v');
    settings.writeString("extra", "key", value.c_str());
    EXPECT_EQ(text("extra", "key"), value.substr(0, 63));
    char small[8];
    EXPECT_EQ(settings.readText("extra", "key", "", small, sizeof small), 7);
    EXPECT_STREQ(small, "vvvvvvv");
}

TEST_F(SettingsFile, SixtyFourCharacterPasswordIsReadWhole)
{
    std::string password(64, 'k');
    settings.writeString(sectionConnection, keyPassword, password.c_str());
    TextRecord read;
    EXPECT_EQ(settings.readAccountText(keyPassword, read), AccountValueLength::Usable);
    EXPECT_EQ(std::string(read.text), password);
}

TEST_F(SettingsFile, AccountValueUpToTheCommandLimitIsUsable)
{
    std::string longest(accountValueMaxLength, 'u');
    settings.writeString(sectionConnection, keyUsername, longest.c_str());
    TextRecord read;
    EXPECT_EQ(settings.readAccountText(keyUsername, read), AccountValueLength::Usable);
    EXPECT_EQ(std::string(read.text), longest);
    EXPECT_EQ(accountValueMaxLength + 5 + 2, 255) << "USER or PASS, a blank, the value and CR LF";
}

TEST_F(SettingsFile, OverlongAccountValueIsReportedAndNeverCut)
{
    for (size_t length : {size_t(accountValueMaxLength + 1), size_t(255), size_t(256), size_t(5000)}) {
        std::string value(length, 's');
        value[length - 1] = 'E';
        settings.writeString(sectionConnection, keyPassword, value.c_str());
        TextRecord read;
        EXPECT_EQ(settings.readAccountText(keyPassword, read), AccountValueLength::TooLong) << length;
        EXPECT_EQ(std::string(read.text), value) << length;
    }
}

TEST_F(SettingsFile, FirstSaveWritesSectionsAndKeysInDialogOrder)
{
    // A client key emptied in the dialog goes from the file.
    writeFile("[connection]\r\nmicrosoftclientid=typed before\r\n");
    ConfigurationValues values;
    values.server.assign("pop.example.org");
    values.username.assign("ann");
    ASSERT_TRUE(protectPassword("se=cr%et", values.storedPassword));
    values.security = ConnectionSecurity::StartTls;
    values.port = 110;
    values.checkMinutes = 12;
    values.certSha256.assign("AB:CD");
    values.signIn = SignInMethod::Google;
    values.googleClientId.assign("g-id");
    values.googleClientSecret.assign("g-secret");
    values.microsoftAuthority.assign("organizations");
    values.protocol = MailProtocol::Imap;
    values.folder.assign("Lists/pellwick");
    values.markOnServer = true;
    values.showSenders = false;
    values.playSound = true;
    values.customSound.assign("C:\\ding.wav");
    values.repeatMinutes = 15;
    values.changeColour = false;
    values.newMailColour = RGB(1, 2, 3);
    values.balloon = false;
    values.doubleClick.assign("https://mail.example.org/");
    settings.writeConfiguration(values);
    settings.writePosition(40, 50);
    settings.writeVisible(true);

    std::vector<std::string> lines = fileLines();
    ASSERT_GT(lines.size(), 3u);
    EXPECT_EQ(lines[3].rfind("password=", 0), 0u) << lines[3];
    EXPECT_EQ(lines[3].find("se=cr%et"), std::string::npos) << "the password is in clear";
    TextRecord password;
    EXPECT_EQ(settings.readPassword(password), StoredPassword::Protected);
    EXPECT_STREQ(password.text, "se=cr%et");
    lines[3] = "password=<protected>";
    std::vector<std::string> expected = {"[connection]",
                                         "server=pop.example.org",
                                         "username=ann",
                                         "password=<protected>",
                                         "SSL=false",
                                         "starttls=true",
                                         "port=110",
                                         "checkmins=12",
                                         "certsha256=AB:CD",
                                         "signin=google",
                                         "googleclientid=g-id",
                                         "googleclientsecret=g-secret",
                                         "microsoftauthority=organizations",
                                         "protocol=imap",
                                         "folder=Lists/pellwick",
                                         "markonserver=true",
                                         "showsenders=false",
                                         "[newmail]",
                                         "playsound=true",
                                         "customsound=C:\\ding.wav",
                                         "repeatmins=15",
                                         "changecolour=false",
                                         "newmailcolour=1,2,3",
                                         "balloon=false",
                                         "[actions]",
                                         "doubleclick=https://mail.example.org/",
                                         "[position]",
                                         "x=40",
                                         "y=50",
                                         "visible=true"};
    EXPECT_EQ(lines, expected);
    ConfigurationValues read;
    settings.readConfiguration(read);
    EXPECT_EQ(read.protocol, MailProtocol::Imap);
    EXPECT_STREQ(read.folder.text, "Lists/pellwick");
    EXPECT_TRUE(read.markOnServer);
}

TEST_F(SettingsFile, PasswordReadsFromEveryFormAFileCanHold)
{
    TextRecord otherMachine;
    ASSERT_TRUE(protectPasswordFor("another-machine", "se=cr%et", otherMachine));
    struct Case {
        const char* name;
        std::string stored; // empty: written by the configuration dialog's save
        const char* typed;
        StoredPassword form;
        const char* read;
    } cases[] = {
        {"older plain file", "se=cr%et", nullptr, StoredPassword::Plain, "se=cr%et"},
        {"saved by the dialog", "", "se=cr%et", StoredPassword::Protected, "se=cr%et"},
        {"saved empty by the dialog", "", "", StoredPassword::Protected, ""},
        {"copied from another machine", otherMachine.text, nullptr, StoredPassword::Unreadable, ""},
        {"damaged", std::string(protectedPasswordPrefix) + "not*base64", nullptr, StoredPassword::Unreadable, ""},
    };
    for (const Case& each : cases) {
        if (each.typed) {
            ConfigurationValues values;
            ASSERT_TRUE(protectPassword(each.typed, values.storedPassword));
            settings.writeConfiguration(values);
        } else {
            writeFile("[connection]\r\npassword=" + each.stored + "\r\n");
        }
        TextRecord password;
        EXPECT_EQ(settings.readPassword(password), each.form) << each.name;
        EXPECT_STREQ(password.text, each.read) << each.name;
    }
}

// The sign-in method as the dialog writes it or a hand types it; the refresh token only in the
// protected form this machine and account made, never in clear.
TEST_F(SettingsFile, SignInMethodAndRefreshTokenForms)
{
    struct {
        const char* value;
        SignInMethod method;
    } methods[] = {{nullptr, SignInMethod::Password},
                   {"MICROSOFT", SignInMethod::Microsoft},
                   {"google", SignInMethod::Google},
                   {"oauth", SignInMethod::Password}};
    for (const auto& each : methods) {
        writeFile(std::string("[connection]\r\n") + (each.value ? std::string("signin=") + each.value : ""));
        EXPECT_EQ(settings.readSignIn(), each.method) << (each.value ? each.value : "absent");
    }
    TextRecord mine;
    TextRecord otherMachine;
    ASSERT_TRUE(protectPassword("r1", mine) && protectPasswordFor("another-machine", "r1", otherMachine));
    struct {
        const char* stored;
        StoredPassword form;
        const char* read;
    } tokens[] = {{mine.text, StoredPassword::Protected, "r1"},
                  {"r1", StoredPassword::Unreadable, ""},
                  {otherMachine.text, StoredPassword::Unreadable, ""},
                  {"", StoredPassword::Plain, ""}};
    for (const auto& each : tokens) {
        settings.writeRefreshToken(each.stored);
        TextRecord token;
        EXPECT_EQ(settings.readRefreshToken(token), each.form) << each.stored;
        EXPECT_STREQ(token.text, each.read);
    }
    EXPECT_EQ(readFile().find(keyRefreshToken), std::string::npos) << "no token, yet a key";
}

TEST_F(SettingsFile, ConfigurationReadsBackThroughTheTypedReaders)
{
    ConfigurationValues values;
    values.server.assign("pop.example.org");
    values.port = 110;
    values.security = ConnectionSecurity::None;
    values.checkMinutes = 30;
    values.playSound = false;
    values.newMailColour = RGB(200, 100, 50);
    settings.writeConfiguration(values);
    TextRecord server;
    settings.readAccountText(keyServer, server);
    EXPECT_STREQ(server.text, "pop.example.org");
    EXPECT_EQ(settings.readPort(), 110);
    EXPECT_EQ(settings.readSecurity(), ConnectionSecurity::None);
    EXPECT_EQ(settings.readCheckMinutes(), 30);
    EXPECT_FALSE(settings.readPlaySound(defaultPlaySoundForDialog));
    EXPECT_EQ(settings.readNewMailColour(), RGB(200, 100, 50));
}

// SSL decides as older versions read it; starttls counts only without it.
TEST_F(SettingsFile, SecurityIsSslFirstThenStartTls)
{
    struct Case {
        const char* entries;
        ConnectionSecurity security;
    } cases[] = {
        {"", ConnectionSecurity::TlsOnConnect},
        {"SSL=false\r\n", ConnectionSecurity::None},
        {"SSL=false\r\nstarttls=Yes\r\n", ConnectionSecurity::StartTls},
        {"SSL=false\r\nstarttls=on\r\n", ConnectionSecurity::None},
        {"SSL=true\r\nstarttls=true\r\n", ConnectionSecurity::TlsOnConnect},
    };
    for (const Case& expected : cases) {
        writeFile(std::string("[connection]\r\n") + expected.entries);
        EXPECT_EQ(settings.readSecurity(), expected.security) << expected.entries;
    }
}

// An older file is the first account as it was; more accounts leave its keys where an older
// version looks, keep only their own sound, and take their stored tokens along when they move.
TEST_F(SettingsFile, AccountsKeepTheFirstWhereOlderVersionsLook)
{
    writeFile("[connection]\r\nserver=old.example.org\r\nrefreshtoken=T0\r\n[newmail]\r\nplaysound=true\r\n");
    AccountValuesList accounts;
    std::vector<StoredPassword> forms;
    std::vector<std::string> skipped;
    settings.readAccounts(accounts, forms, skipped);
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0]->accountId, "0");
    EXPECT_STREQ(accounts[0]->server.text, "old.example.org");
    for (const char* server : {"work.example.org", "home.example.org"}) {
        accounts.emplace_back(new ConfigurationValues);
        accounts.back()->server.assign(server);
        accounts.back()->playSound = true;
    }
    accounts[2]->playSound = false;
    accounts[1]->accountName.assign("Work");
    settings.writeAccounts(accounts);
    EXPECT_EQ(text(sectionConnection, keyServer), "old.example.org");
    EXPECT_EQ(text(sectionAccounts, keyAccountOrder), "0,1,2");
    EXPECT_EQ(text("account.1", keyPlaySound), "<absent>") << "a shared value copied";
    EXPECT_EQ(text("account.2", keyPlaySound), "false");
    // Home moves first, the old account is removed: its token goes, Work keeps its section.
    accounts.erase(accounts.begin());
    std::swap(accounts[0], accounts[1]);
    settings.writeAccounts(accounts);
    EXPECT_EQ(text(sectionAccounts, keyAccountOrder), "2,1");
    EXPECT_EQ(text(sectionConnection, keyServer), "home.example.org");
    EXPECT_EQ(text(sectionConnection, keyRefreshToken), "<absent>");
    EXPECT_EQ(text("account.2", keyServer), "<absent>");
    AccountValuesList read;
    settings.readAccounts(read, forms, skipped);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1]->accountId, "1");
    EXPECT_STREQ(read[1]->accountName.text, "Work");
    EXPECT_FALSE(read[0]->playSound);
    EXPECT_TRUE(read[1]->playSound) << "the shared sound";
    EXPECT_TRUE(skipped.empty());
}

// A damaged or doubled entry costs only itself: every other account loads, the skipped is named.
TEST_F(SettingsFile, DamagedAccountEntriesAreSkippedAndNamed)
{
    struct Case {
        const char* file;
        std::vector<std::string> ids;
        std::vector<std::string> skipped;
    } cases[] = {
        {"", {"0"}, {}},
        {"[accounts]\r\norder=4, 7\r\n[account.7]\r\nserver=s\r\n", {"4", "7"}, {}},
        {"[accounts]\r\norder=0,x,3\r\n[account.3]\r\nserver=s\r\n", {"0", "3"}, {"account.x"}},
        {"[accounts]\r\norder=0,3,3,5\r\n[account.3]\r\nserver=s\r\n", {"0", "3"}, {"account.3", "account.5"}},
        {"[accounts]\r\norder=0,3,4\r\n[account.3]\r\nserver=s\r\n[account.4]\r\n[ACCOUNT.3]\r\nserver=t\r\n",
         {"0", "4"},
         {"account.3"}},
    };
    for (const Case& each : cases) {
        writeFile(each.file);
        AccountValuesList accounts;
        std::vector<StoredPassword> forms;
        std::vector<std::string> skipped;
        settings.readAccounts(accounts, forms, skipped);
        std::vector<std::string> ids;
        for (const auto& account : accounts)
            ids.push_back(account->accountId);
        EXPECT_EQ(ids, each.ids) << each.file;
        EXPECT_EQ(skipped, each.skipped) << each.file;
        EXPECT_EQ(forms.size(), accounts.size());
    }
}

TEST_F(SettingsFile, PositionIsWrittenXThenYAndReadBack)
{
    settings.writePosition(-20, 700);
    std::vector<std::string> expected = {"[position]", "x=-20", "y=700"};
    EXPECT_EQ(fileLines(), expected);
    int x = 0, y = 0;
    settings.readPosition(x, y);
    EXPECT_EQ(x, -20);
    EXPECT_EQ(y, 700);
}

TEST_F(SettingsFile, MissingFolderGivesDefaultsAndWritesFailQuietly)
{
    std::string missing = folder + "\\absent\\pellwick.ini";
    Settings elsewhere(missing.c_str());
    EXPECT_FALSE(elsewhere.writeInt(sectionConnection, keyPort, 110));
    EXPECT_EQ(elsewhere.readPort(), 995);
    EXPECT_EQ(GetFileAttributesA((folder + "\\absent").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(AppDataPath, BuildsTheFileUnderTheUsersApplicationDataAndCreatesTheFolder)
{
    char appData[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE));
    std::string subFolder = "pellwick-path-test-" + std::to_string(GetCurrentProcessId());
    std::string expectedFolder = std::string(appData) + "\\" + subFolder;
    RemoveDirectoryA(expectedFolder.c_str());

    TextRecord path;
    ASSERT_TRUE(buildAppDataPath(path, CSIDL_APPDATA, "pellwick", "ini", subFolder.c_str()));
    EXPECT_EQ(std::string(path.text), expectedFolder + "\\pellwick.ini");
    DWORD attributes = GetFileAttributesA(expectedFolder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);

    // A second build finds the folder there, which is no failure.
    TextRecord seen;
    ASSERT_TRUE(buildAppDataPath(seen, CSIDL_APPDATA, "pellwick", "uidl", subFolder.c_str()));
    EXPECT_EQ(std::string(seen.text), expectedFolder + "\\pellwick.uidl");

    Settings settings(path.text);
    EXPECT_TRUE(settings.writeBool(sectionPosition, keyVisible, true));
    EXPECT_TRUE(settings.readVisible());
    DeleteFileA(path.text);
    RemoveDirectoryA(expectedFolder.c_str());
}

// The user this test runs as, as an SDDL string.
std::string currentUserSid()
{
    HANDLE token = nullptr;
    char buffer[256];
    DWORD size = 0;
    char* text = nullptr;
    std::string sid;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
        sid = text;
    LocalFree(text);
    CloseHandle(token);
    return sid;
}

// "ME" in `sddl` stands for the current user.
std::string forCurrentUser(std::string sddl)
{
    for (size_t at = sddl.find("ME"); at != std::string::npos; at = sddl.find("ME"))
        sddl.replace(at, 2, currentUserSid());
    return sddl;
}

// Owners and access lists as Wine, which keeps only a file's mode bits, cannot make them.
TEST(PrivateFiles, OnlyTheUserAndAccountsThatMayChangeAnythingAnyway)
{
    struct Case {
        const char* sddl;
        bool onlyUser;
    } cases[] = {
        {"O:MED:(A;OICI;FA;;;ME)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true}, // a profile's folder
        {"O:BAD:(A;;FA;;;ME)(A;OICIIO;FA;;;WD)", true},    // only for what is created inside
        {"O:S-1-5-21-7-8-9-1001D:(A;;FA;;;ME)", false},    // another user owns it
        {"O:BAD:(A;;FA;;;ME)(A;CI;0x100006;;;BU)", false}, // users may create in it, as under ProgramData
        {"O:MED:(A;;GW;;;AU)", false},
        {"O:ME", false}, // no access list: anyone may do anything
    };
    PSID userSid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA(currentUserSid().c_str(), &userSid));
    for (const Case& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(forCurrentUser(c.sddl).c_str(),
                                                                         SDDL_REVISION_1, &descriptor, nullptr))
            << c.sddl;
        EXPECT_EQ(onlyUserMayChange(descriptor, userSid), c.onlyUser) << c.sddl;
        LocalFree(descriptor);
    }
    LocalFree(userSid);
}

// A pellwick.ini beside the program is taken only when no other account can change it, the
// files beside it, or what its folder holds; the user's trust file lies beside the settings,
// and is none at all when the application-data folder is unknown.
TEST_F(SettingsFile, PortableCopyOnlyWhenNoOtherAccountCanChangeIt)
{
    struct Case {
        const char* name;
        const char* opened; // opened to everyone: "" the folder, else a file in it
        SettingsPlace place;
    } cases[] = {
        {"PrivateCopy", nullptr, SettingsPlace::BesideProgram},
        {"FolderOthersMayCreateIn", "", SettingsPlace::AppDataNotShared},
        {"SettingsOthersMayChange", "pellwick.ini", SettingsPlace::AppDataNotShared},
        {"TrustFileOthersMayChange", "cacert-local.pem", SettingsPlace::AppDataNotShared},
        {"AccountSeenFileOthersMayChange", "pellwick-3.uidl", SettingsPlace::AppDataNotShared},
    };
    char appData[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE));
    std::string inAppData = std::string(appData) + "\\pellwick\\";
    for (const Case& c : cases) {
        std::string copy = folder + "\\" + c.name + "\\";
        ASSERT_TRUE(CreateDirectoryA(copy.c_str(), nullptr));
        for (const char* name : {"pellwick.ini", "cacert-local.pem", "pellwick-3.uidl"})
            CloseHandle(CreateFileA((copy + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        PSECURITY_DESCRIPTOR everyone = nullptr;
        PACL list = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                                         &everyone, nullptr) &&
                    GetSecurityDescriptorDacl(everyone, &present, &list, &defaulted));
        if (c.opened) {
            EXPECT_EQ(SetNamedSecurityInfoA(const_cast<char*>((copy + c.opened).c_str()), SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION, nullptr, nullptr, list, nullptr),
                      ERROR_SUCCESS);
        }
        LocalFree(everyone);
        TextRecord path, userTrust;
        EXPECT_EQ(buildSettingsPath(path, userTrust, copy.c_str()), c.place) << c.name;
        std::string home = c.place == SettingsPlace::BesideProgram ? copy : inAppData;
        EXPECT_EQ(std::string(path.text), home + "pellwick.ini") << c.name;
        EXPECT_EQ(std::string(userTrust.text), home + "cacert-local.pem") << c.name;
        for (const char* name : {"pellwick.ini", "cacert-local.pem", "pellwick-3.uidl"})
            DeleteFileA((copy + name).c_str());
        RemoveDirectoryA(copy.c_str());
    }
    // This process's own HKEY_CURRENT_USER, whose shell folders name no application data.
    HKEY scratch = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\pellwick-tests-no-appdata", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &scratch, nullptr),
              ERROR_SUCCESS);
    RegSetKeyValueA(scratch, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", "AppData",
                    REG_EXPAND_SZ, "", 1);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch), ERROR_SUCCESS);
    TextRecord path, userTrust;
    SettingsPlace place = buildSettingsPath(path, userTrust, "");
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(scratch);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\pellwick-tests-no-appdata");
    EXPECT_EQ(place, SettingsPlace::Nowhere);
    EXPECT_STREQ(userTrust.text, "");
}

TEST(AppDataPath, ExtensionAndSubFolderMayBeAbsent)
{
    char appData[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE));
    TextRecord path;
    ASSERT_TRUE(buildAppDataPath(path, CSIDL_APPDATA, "plain", nullptr, nullptr));
    EXPECT_EQ(std::string(path.text), std::string(appData) + "\\plain");
}

TEST(SettingsParsing, IntegerTextFromTheDialogConvertsLikeTheFile)
{
    EXPECT_EQ(parseDecimal("  42x"), 42);
    EXPECT_EQ(parseDecimal(""), 0);
    EXPECT_EQ(parseDecimal("-"), 0);
    EXPECT_EQ(parseDecimal("\t-0012"), -12);
    EXPECT_EQ(parseDecimal("4294967296"), 2147483647);
}

} // namespace
