#include "tests/support/dovecot_fixture.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace testbench {

namespace fs = std::filesystem;

namespace {

const size_t kMaxNameLength = 100;
const char* const kMaildirFolders[] = {"cur", "new", "tmp"};

bool isSafeName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameLength || name[0] == '.')
        return false;
    for (char c : name) {
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-' || c == '_';
        if (!allowed)
            return false;
    }
    return true;
}

int parsePort(const std::string& text)
{
    if (text.empty() || text.size() > 5)
        return 0;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : 0;
}

bool writeWholeFile(const std::string& file, const std::string& content)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    return !out.fail();
}

// Replaces `to` by `from` in one step, so that a reader sees the old or the new file, never half.
bool replaceFile(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// Dovecot re-reads a passwd file when its mtime (whole seconds) or size changes: a password of
// the same length rewritten within a second must still move the mtime on.
void stampNewerThan(const std::string& file, const std::string& previous)
{
    std::error_code error;
    fs::file_time_type now = fs::file_time_type::clock::now();
    fs::file_time_type old = fs::last_write_time(previous, error);
    if (error)
        return;
    fs::file_time_type later = old + std::chrono::seconds(1);
    fs::last_write_time(file, later > now ? later : now, error);
}

// Dovecot looks at a passwd file at most once per wall-clock second: after changing an existing
// one, let that second pass so the next login sees the new password.
void waitForNextSecond()
{
    using namespace std::chrono;
    system_clock::time_point now = system_clock::now();
    system_clock::time_point nextSecond = time_point_cast<seconds>(now) + seconds(1);
    std::this_thread::sleep_until(nextSecond + milliseconds(20));
}

// Maildirs are created by root and worked in by Dovecot as nobody: open them to all. (Under
// Windows this sets nothing; the fixture's inherited ACL gives the same result there.)
bool makeOpenFolder(const fs::path& folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        return false;
    fs::permissions(folder, fs::perms::all, error);
    return fs::is_directory(folder, error);
}

// Dovecot moves a delivered file into cur/ with ":2,<flags>" appended to its name.
bool nameTaken(const fs::path& box, const std::string& fileName)
{
    std::error_code error;
    if (fs::exists(box / "new" / fileName, error) || fs::exists(box / "tmp" / fileName, error))
        return true;
    fs::directory_iterator entries(box / "cur", error);
    if (error)
        return false;
    for (const fs::directory_entry& entry : entries) {
        std::string name = entry.path().filename().string();
        if (name == fileName || name.compare(0, fileName.size() + 1, fileName + ":") == 0)
            return true;
    }
    return false;
}

std::string uniqueSuffix()
{
    static std::atomic<unsigned> counter{0};
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::to_string(ticks) + "-" + std::to_string(counter++);
}

} // namespace

std::map<std::string, std::string> readFixtureEnv(const std::string& file)
{
    std::map<std::string, std::string> values;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

std::string unixPathForPlatform(const std::string& unixPath)
{
#ifdef _WIN32
    if (unixPath.empty() || unixPath[0] != '/')
        return unixPath;
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
#else
    return unixPath;
#endif
}

bool DovecotFixture::fromEnvironment(DovecotFixture& out)
{
    const char* dir = std::getenv("PELLWICK_DOVECOT_DIR");
    if (!dir || !*dir)
        return false;
    std::map<std::string, std::string> values = readFixtureEnv(unixPathForPlatform(std::string(dir) + "/fixture.env"));
    DovecotFixture fixture;
    fixture.plain = parsePort(values["PLAIN_PORT"]);
    fixture.tls = parsePort(values["TLS_PORT"]);
    fixture.imap = parsePort(values["IMAP_PORT"]);
    fixture.imaps = parsePort(values["IMAPS_PORT"]);
    fixture.ca = unixPathForPlatform(values["CA_FILE"]);
    fixture.passwdPattern = unixPathForPlatform(values["PASSWD_FILE"]);
    fixture.homeRoot = unixPathForPlatform(values["HOME_ROOT"]);
    if (!fixture.plain || !fixture.tls || !fixture.imap || !fixture.imaps || fixture.ca.empty() ||
        fixture.homeRoot.empty() || fixture.passwdPattern.find("%u") == std::string::npos)
        return false;
    out = fixture;
    return true;
}

std::string DovecotFixture::passwdFile(const std::string& user) const
{
    std::string file = passwdPattern;
    file.replace(file.find("%u"), 2, user);
    return file;
}

std::string DovecotFixture::maildir(const std::string& user) const
{
    return (fs::path(homeRoot) / user / "Maildir").string();
}

bool DovecotFixture::addUser(const std::string& user, const std::string& password)
{
    if (!isSafeName(user) || password.find_first_of(":\r\n") != std::string::npos)
        return false;
    fs::path box = maildir(user);
    if (!makeOpenFolder(box.parent_path()) || !makeOpenFolder(box))
        return false;
    for (const char* folder : kMaildirFolders)
        if (!makeOpenFolder(box / folder))
            return false;

    std::string file = passwdFile(user);
    std::error_code error;
    bool replacing = fs::exists(file, error);
    std::string staging = file + ".new-" + uniqueSuffix();
    if (!writeWholeFile(staging, user + ":{PLAIN}" + password + "\n"))
        return false;
    stampNewerThan(staging, file);
    if (!replaceFile(staging, file)) {
        std::remove(staging.c_str());
        return false;
    }
    if (replacing)
        waitForNextSecond();
    return true;
}

bool DovecotFixture::deliver(const std::string& user, const std::string& fileName, const std::string& message)
{
    if (!isSafeName(user) || !isSafeName(fileName))
        return false;
    fs::path box = maildir(user);
    fs::path staging = box / "tmp" / fileName;
    fs::path target = box / "new" / fileName;
    std::error_code error;
    if (!fs::is_directory(box / "new", error) || nameTaken(box, fileName))
        return false;
    if (!writeWholeFile(staging.string(), message))
        return false;
    fs::permissions(staging,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write |
                        fs::perms::others_read | fs::perms::others_write,
                    error);
    fs::rename(staging, target, error);
    return !error;
}

bool DovecotFixture::deliverRead(const std::string& user, const std::string& fileName, const std::string& message)
{
    if (!deliver(user, fileName, message))
        return false;
    fs::path box = maildir(user);
    std::error_code error;
    fs::rename(box / "new" / fileName, box / "cur" / (fileName + ":2,S"), error);
    return !error;
}

bool DovecotFixture::clearMailbox(const std::string& user)
{
    if (!isSafeName(user))
        return false;
    fs::path box = maildir(user);
    std::error_code error;
    // Dovecot renames delivered files into cur/ with flags appended: clear every folder.
    for (const char* folder : kMaildirFolders) {
        fs::directory_iterator entries(box / folder, error);
        if (error)
            return false;
        for (const fs::directory_entry& entry : entries) {
            fs::remove(entry.path(), error);
            if (error)
                return false;
        }
    }
    return true;
}

} // namespace testbench
