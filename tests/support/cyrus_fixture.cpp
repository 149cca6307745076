#include "tests/support/cyrus_fixture.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

#include "tests/support/bench_client.h"
#include "tests/support/dovecot_fixture.h"

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace testbench {

namespace {

// An IMAP quoted string; the bench's names and passwords hold no CR or LF.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Users' INBOXes as the admin names them (unixhierarchysep: '/' separates, '.' may be in names).
std::string inboxOf(const std::string& user)
{
    return quoted("user/" + user);
}

// LITERAL+: the message follows its size at once, with no continuation to wait for.
std::string appendArguments(const std::string& message)
{
    return "{" + std::to_string(message.size()) + "+}\r\n" + message;
}

#ifndef _WIN32
std::string firstLineOf(const std::string& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool runScript(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

} // namespace

bool CyrusFixture::fromEnvironment(CyrusFixture& out, std::string& whyNot)
{
#ifdef _WIN32
    (void)out;
    whyNot = "the Cyrus bench runs in the native build only (its users are made by a Unix tool)";
    return false;
#else
    const char* fromEnvironment = std::getenv("PELLWICK_CYRUS_DIR");
    std::string folder = fromEnvironment && *fromEnvironment ? fromEnvironment : "";
#ifdef PELLWICK_CYRUS_FIXTURE_DIR
    if (folder.empty())
        folder = PELLWICK_CYRUS_FIXTURE_DIR;
#endif
    if (folder.empty()) {
        whyNot = "no Cyrus bench configured (PELLWICK_CYRUS_DIR not set)";
        return false;
    }
    std::string reason = firstLineOf(folder + "/unavailable");
    if (!reason.empty()) {
        whyNot = "Cyrus is not available: " + reason;
        return false;
    }
    std::map<std::string, std::string> values = readFixtureEnv(folder + "/fixture.env");
    CyrusFixture fixture;
    fixture.imap = std::atoi(values["IMAP_PORT"].c_str());
    fixture.imaps = std::atoi(values["IMAPS_PORT"].c_str());
    fixture.ca = values["CA_FILE"];
    fixture.script = values["SCRIPT"];
    fixture.adminUser = values["ADMIN_USER"];
    fixture.adminPassword = values["ADMIN_PASSWORD"];
    fixture.dir = folder;
    if (fixture.imap <= 0 || fixture.imaps <= 0 || fixture.ca.empty() || fixture.script.empty() ||
        fixture.adminUser.empty()) {
        whyNot = "the Cyrus bench is not running (no complete " + folder + "/fixture.env)";
        return false;
    }
    out = fixture;
    return true;
#endif
}

bool CyrusFixture::adminCommand(const std::string& command)
{
    if (!admin) {
        std::shared_ptr<BenchClient> client = std::make_shared<BenchClient>();
        if (!logIn(*client, adminUser, adminPassword))
            return false;
        admin = client;
    }
    if (!runCommand(*admin, command)) {
        admin.reset();
        return false;
    }
    return true;
}

bool CyrusFixture::logIn(BenchClient& client, const std::string& user, const std::string& password)
{
    std::string greeting;
    return client.connectPlain(imap) && client.readLine(greeting) &&
           runCommand(client, "LOGIN " + quoted(user) + " " + quoted(password));
}

bool CyrusFixture::runCommand(BenchClient& client, const std::string& command)
{
    // A command here answers in a few lines.
    return imapCommand(client, "c" + std::to_string(nextTag++), command, 1000);
}

bool CyrusFixture::createInbox(const std::string& user)
{
    // The admin may read, append to and delete every user's INBOX.
    adminCommand("CREATE " + inboxOf(user));
    return adminCommand("SETACL " + inboxOf(user) + " " + quoted(adminUser) + " lrswipkxtea");
}

bool CyrusFixture::addUser(const std::string& user, const std::string& password)
{
#ifdef _WIN32
    (void)user;
    (void)password;
    return false;
#else
    if (user.empty() || user.find_first_of("/\"\\\r\n ") != std::string::npos)
        return false;
    if (!runScript({"bash", script, "adduser", dir, user, password}) || !createInbox(user))
        return false;
    passwords[user] = password;
    return true;
#endif
}

bool CyrusFixture::deliver(const std::string& user, const std::string&, const std::string& message)
{
    return adminCommand("APPEND " + inboxOf(user) + " " + appendArguments(message));
}

// Cyrus keeps \Seen per reader: only the owner's own APPEND makes a message read for the owner.
bool CyrusFixture::deliverRead(const std::string& user, const std::string&, const std::string& message)
{
    auto known = passwords.find(user);
    BenchClient owner;
    return known != passwords.end() && logIn(owner, user, known->second) &&
           runCommand(owner, "APPEND INBOX (\\Seen) " + appendArguments(message));
}

// Every message flagged \Deleted and expunged by the admin (UID ranges, so that an empty
// INBOX is no error); the INBOX itself and its UIDVALIDITY stay.
bool CyrusFixture::clearMailbox(const std::string& user)
{
    return adminCommand("SELECT " + inboxOf(user)) && adminCommand("UID STORE 1:* +FLAGS.SILENT (\\Deleted)") &&
           adminCommand("EXPUNGE") && adminCommand("UNSELECT");
}

} // namespace testbench
