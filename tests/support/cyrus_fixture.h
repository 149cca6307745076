// The private Cyrus IMAP server that ctest starts once per native build tree
// (cyrus/cyrus-fixture.sh), seen from a test: its ports and CA, its users (each with an INBOX
// created by the admin) and delivery by APPEND, which Cyrus reports to an IDLE'ing client at once.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "tests/support/imap_test_server.h"

namespace testbench {

class BenchClient;

class CyrusFixture : public ImapTestServer {
public:
    // Reads the fixture's fixture.env (PELLWICK_CYRUS_DIR, or the folder built in). False with
    // the reason when Cyrus is not running: not unpacked on this machine, or a Windows build (its
    // users are made by a Unix tool).
    static bool fromEnvironment(CyrusFixture& out, std::string& whyNot);
    // False in a Windows build, which never has the Cyrus bench: tables leave its rows out there
    // rather than reporting a whole case skipped after its other rows ran.
#ifdef _WIN32
    static constexpr bool inThisBuild = false;
#else
    static constexpr bool inThisBuild = true;
#endif

    const char* name() const override
    {
        return "Cyrus";
    }
    int imapPort() const override
    {
        return imap;
    }
    int imapsPort() const override
    {
        return imaps;
    }
    std::string caFile() const override
    {
        return ca;
    }
    bool addUser(const std::string& user, const std::string& password) override;
    bool deliver(const std::string& user, const std::string& fileName, const std::string& message) override;
    bool deliverRead(const std::string& user, const std::string& fileName, const std::string& message) override;
    bool clearMailbox(const std::string& user) override;

private:
    // One command on the admin's connection (opened and logged in on first use); true on OK.
    bool adminCommand(const std::string& command);
    bool logIn(BenchClient& client, const std::string& user, const std::string& password);
    bool runCommand(BenchClient& client, const std::string& command);
    bool createInbox(const std::string& user);

    int imap = 0;
    int imaps = 0;
    std::string ca;
    std::string dir;
    std::string script;
    std::string adminUser;
    std::string adminPassword;
    std::shared_ptr<BenchClient> admin;
    std::map<std::string, std::string> passwords;
    int nextTag = 1;
};

} // namespace testbench
