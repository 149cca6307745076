// The release as a user gets it: the zip's program run from an unzipped folder, and the
// installer run silently, the installed program started, and the uninstaller run.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/app/program_driver.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/poll_until.h"
#include "tests/support/temp_directory.h"

using apptest::ProgramDriver;
using apptest::ProgramFiles;
using testbench::DovecotFixture;

namespace {

const char password[] = "release-password";
const int checkMs = 15000;
const int setupMs = 60000;
const int removalMs = 30000;
const char runKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char uninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\pellwick";
const wchar_t shellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const int idMarkAsRead = 40005, idStartWithWindows = 40015;

// A Unix path handed over by ctest, in this platform's spelling; empty when unset.
std::string pathFromEnvironment(const char* name)
{
    const char* value = getenv(name);
    return value ? testbench::unixPathForPlatform(value) : std::string();
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string specialFolder(int which)
{
    char folder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, folder, which, FALSE);
    return folder;
}

// What a user does to trust a server: its CA's certificate pasted at the end of the file.
bool appendCertificate(const std::string& caFile, const std::filesystem::path& trustFile)
{
    std::ifstream in(caFile, std::ios::binary);
    std::ofstream out(trustFile, std::ios::binary | std::ios::app);
    out << "\r\n" << in.rdbuf();
    return in.good() && out.good();
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A string value of HKCU\key; "<absent>" when the key or the value is missing.
std::string userRegistryText(const char* key, const char* name)
{
    char value[512] = "";
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return "<absent>";
    return value;
}

// Runs a command line to its end; its exit code, or -1 when it did not start or end in time.
long runToEnd(const std::string& commandLine, int timeoutMs)
{
    std::string line = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

class ReleaseRuns : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DovecotFixture::fromEnvironment(dovecot)) << "PELLWICK_DOVECOT_DIR not set";
        user = std::string("release_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(dovecot.addUser(user, password));
        ASSERT_TRUE(dovecot.clearMailbox(user));
        ASSERT_TRUE(dovecot.deliver(user, "m1", "Subject: One\r\n\r\nOne.\r\n"));
        // An account on the fixture's TLS port, whose certificate only the test CA vouches for.
        ASSERT_TRUE(files.startFresh({"[connection]", "server=localhost", "username=" + user,
                                      "password=" + std::string(password), "SSL=true",
                                      "port=" + std::to_string(dovecot.tlsPort()), "checkmins=30"}));
    }

    // Starts `program` in `workFolder` and waits for the window to show `expected`.
    void expectStatus(ProgramDriver& program, const std::string& path, const std::string& workFolder,
                      const std::string& expected)
    {
        ASSERT_TRUE(program.start(workFolder, path)) << path;
        ASSERT_NE(program.waitForWindow(), nullptr) << "no floating window from " << path;
        EXPECT_TRUE(program.waitForStatus(expected, checkMs)) << "shows: " << program.statusText();
    }

    DovecotFixture dovecot;
    std::string user;
    ProgramFiles files;
};

TEST_F(ReleaseRuns, ZipProgramTrustsTheServerOnceItsCertificateIsInTheZipsTrustFile)
{
    std::string folder = pathFromEnvironment("PELLWICK_UNZIPPED");
    std::string program = folder + "\\pellwick.exe";
    ASSERT_TRUE(exists(program)) << "no unzipped program: " << program;
    for (const char* file : {"cacert.pem", "README.txt", "LICENSE.txt"})
        EXPECT_TRUE(exists(folder + "\\" + file)) << file;

    {
        ProgramDriver shipped;
        expectStatus(shipped, program, folder, "Certificate not trusted");
        DWORD code = 99;
        EXPECT_TRUE(shipped.exitFromMenu(code));
    }
    ASSERT_TRUE(appendCertificate(dovecot.caFile(), folder + "\\cacert.pem"));
    ProgramDriver trusting;
    expectStatus(trusting, program, folder, "1 / 1");
}

TEST_F(ReleaseRuns, InstallerInstallsAndUpdatesForTheUserAndTheUninstallerKeepsTheSettings)
{
    std::string setup = pathFromEnvironment("PELLWICK_RELEASE_SETUP");
    ASSERT_TRUE(exists(setup)) << "no installer: " << setup;
    ASSERT_EQ(runToEnd("\"" + setup + "\" /S", setupMs), 0);

    std::string folder = specialFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\pellwick";
    std::string program = folder + "\\pellwick.exe";
    std::string shortcut = specialFolder(CSIDL_PROGRAMS) + "\\pellwick.lnk";
    for (const char* file : {"pellwick.exe", "cacert.pem", "README.txt", "LICENSE.txt", "uninstall.exe"})
        EXPECT_TRUE(exists(folder + "\\" + file)) << file;
    EXPECT_TRUE(exists(shortcut));
    EXPECT_EQ(userRegistryText(runKey, "pellwick"), "\"" + program + "\"");
    EXPECT_EQ(userRegistryText(uninstallKey, "UninstallString"), "\"" + folder + "\\uninstall.exe\"");
    EXPECT_EQ(userRegistryText(uninstallKey, "DisplayName"), "pellwick");

    // An update puts the shipped bundle in place of an old one, and moves the certificate the
    // user added to the old one, as an older README said, to the end of the user's own file.
    std::string bundle = folder + "\\cacert.pem";
    std::string shipped = fileText(bundle);
    std::string userFile = files.folder() + "\\cacert-local.pem";
    const std::string kept = "# the user's own\r\n";
    std::ofstream(userFile, std::ios::binary) << kept;
    ASSERT_TRUE(appendCertificate(dovecot.caFile(), bundle));
    ASSERT_EQ(runToEnd("\"" + setup + "\" /S", setupMs), 0);
    EXPECT_TRUE(fileText(bundle) == shipped) << "the update kept an old bundle";
    std::string local = fileText(userFile);
    EXPECT_EQ(local.rfind(kept, 0), 0u) << local;
    size_t first = local.find("-----BEGIN CERTIFICATE-----");
    EXPECT_TRUE(first != std::string::npos && local.find("-----BEGIN", first + 1) == std::string::npos) << local;

    // Started from elsewhere, as the Run key starts it: the user's file counts.
    testbench::TempDirectory elsewhere;
    ProgramDriver installed;
    expectStatus(installed, program, testbench::unixPathForPlatform(elsewhere.path()), "1 / 1");

    // Uninstalling while it runs: it is asked to exit, and all but the settings goes.
    ASSERT_EQ(runToEnd("\"" + folder + "\\uninstall.exe\" /S", setupMs), 0);
    DWORD code = 99;
    EXPECT_TRUE(installed.waitForEnd(removalMs, code)) << "the uninstaller left the program running";
    EXPECT_TRUE(testbench::pollUntil([&] { return !exists(folder); }, removalMs)) << folder << " is still there";
    EXPECT_FALSE(exists(shortcut));
    EXPECT_EQ(userRegistryText(runKey, "pellwick"), "<absent>");
    EXPECT_EQ(userRegistryText(uninstallKey, "UninstallString"), "<absent>");
    EXPECT_TRUE(exists(files.iniPath())) << "the uninstaller removed the settings";
}

// The zip's program in a folder named outside the ANSI code page (Greek and CJK letters are
// outside the Western one), and the profile's application data in such a folder too, installed
// and portable (a pellwick.ini beside the program): the settings are read and written where
// they belong, the marks kept, the Run value names the program where it is, the trust files
// beside it count, and the other place gets nothing (the portable row runs first, on a clean
// profile).
TEST_F(ReleaseRuns, ZipProgramFindsItsFilesInFoldersNamedOutsideTheCodePage)
{
    namespace fs = std::filesystem;
    fs::path unzipped = fs::u8path(pathFromEnvironment("PELLWICK_UNZIPPED"));
    testbench::TempDirectory scratch;
    fs::path elsewhere = fs::u8path(testbench::unixPathForPlatform(scratch.path()));
    fs::path profile = elsewhere / L"profile \u03A9\u7528";
    std::string settings = fileText(files.iniPath());
    std::error_code failed;
    fs::create_directories(profile, failed);
    fs::remove(files.iniPath(), failed); // found only where the profile now says
    ASSERT_FALSE(failed) << failed.message();
    std::wstring appData = profile.wstring();
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, shellFoldersKey, L"AppData", REG_EXPAND_SZ, appData.c_str(),
                              static_cast<DWORD>((appData.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);

    for (bool portable : {true, false}) {
        SCOPED_TRACE(portable ? "portable" : "installed");
        fs::path programFolder = elsewhere / (portable ? L"portable \u03A9\u7528" : L"program \u03A9\u7528");
        fs::path home = portable ? programFolder : profile / "pellwick";
        fs::path other = portable ? profile / "pellwick" : programFolder;
        fs::create_directories(home, failed);
        fs::create_directories(programFolder, failed);
        for (const char* file : {"pellwick.exe", "cacert.pem"})
            fs::copy_file(unzipped / file, programFolder / file, failed);
        ASSERT_FALSE(failed) << failed.message();
        std::ofstream(home / "pellwick.ini", std::ios::binary) << settings;
        // Trusted through the bundle, or through the user's own file that a portable copy keeps.
        ASSERT_TRUE(
            appendCertificate(dovecot.caFile(), programFolder / (portable ? "cacert-local.pem" : "cacert.pem")));

        std::string program = (programFolder / "pellwick.exe").u8string();
        {
            ProgramDriver first;
            expectStatus(first, program, elsewhere.u8string(), "1 / 1");
            first.command(idMarkAsRead);
            EXPECT_TRUE(first.waitForStatus("0 / 1", checkMs)) << "shows: " << first.statusText();
            RegDeleteKeyValueA(HKEY_CURRENT_USER, runKey, "pellwick"); // the row before set it
            first.command(idStartWithWindows);
            first.sync();
            wchar_t runValue[1024] = L"";
            DWORD size = sizeof runValue;
            RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"pellwick",
                         RRF_RT_REG_SZ, nullptr, runValue, &size);
            EXPECT_TRUE(runValue == L"\"" + (programFolder / "pellwick.exe").wstring() + L"\"");
            DWORD code = 99;
            EXPECT_TRUE(first.exitFromMenu(code));
        }
        wchar_t left[16] = L"";
        GetPrivateProfileStringW(L"position", L"x", L"", left, 16, (home / "pellwick.ini").c_str());
        EXPECT_NE(left[0], L'\0') << "no position written at exit";
        EXPECT_FALSE(fs::exists(other / "pellwick.ini") || fs::exists(other / "pellwick.uidl"))
            << "written to " << other.u8string();
        ProgramDriver again;
        expectStatus(again, program, elsewhere.u8string(), "0 / 1");
    }
}

} // namespace
