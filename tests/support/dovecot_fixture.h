// The private Dovecot that ctest starts once per build tree (dovecot/dovecot-fixture.sh), seen
// from a test: its POP3 and IMAP ports, its CA, and its users and their maildirs.
#pragma once

#include <map>
#include <string>

#include "tests/support/imap_test_server.h"

namespace testbench {

class DovecotFixture : public ImapTestServer {
public:
    // Reads PELLWICK_DOVECOT_DIR/fixture.env (a Unix path; Z:\... under Windows). False when the
    // fixture is not running or its file is incomplete.
    static bool fromEnvironment(DovecotFixture& out);

    int plainPort() const { return plain; }
    int tlsPort() const { return tls; }
    // IMAP, plain (with STARTTLS) and inside TLS; the same users and maildirs as POP3.
    int imapPort() const override { return imap; }
    int imapsPort() const override { return imaps; }
    // PEM of the CA that signed Dovecot's certificate (CN localhost, SAN localhost + 127.0.0.1).
    std::string caFile() const override { return ca; }
    const char* name() const override { return "Dovecot"; }

    // Writes the user's passwd-file entry and makes an empty Maildir if the user has none.
    // Re-adding resets the password and keeps the messages; it takes up to a second, because
    // Dovecot looks at a changed passwd file only once a second. User names are letters, digits,
    // '.', '-' and '_' (not starting with '.'), since they become file names.
    bool addUser(const std::string& user, const std::string& password) override;
    // Drops one message into the user's Maildir/new, written to tmp/ first and renamed as
    // maildir wants. fileName must be unique in the mailbox (same character rules as users);
    // false if it is taken.
    bool deliver(const std::string& user, const std::string& fileName, const std::string& message) override;
    // Written straight into cur/ with the S flag, as Dovecot keeps a message read elsewhere.
    bool deliverRead(const std::string& user, const std::string& fileName, const std::string& message) override;
    // Removes every message of the user (Dovecot's own state stays).
    bool clearMailbox(const std::string& user) override;
    // The user's Maildir folder, in this platform's spelling.
    std::string maildir(const std::string& user) const;

private:
    std::string passwdFile(const std::string& user) const;

    int plain = 0;
    int tls = 0;
    int imap = 0;
    int imaps = 0;
    std::string ca;
    std::string passwdPattern; // with %u for the user name
    std::string homeRoot;
};

// The KEY=VALUE lines of a fixture's fixture.env; empty when the file is missing.
std::map<std::string, std::string> readFixtureEnv(const std::string& file);

// "/a/b" -> "Z:\a\b" under Windows (Wine maps Z: to the Unix root); unchanged elsewhere.
std::string unixPathForPlatform(const std::string& unixPath);

} // namespace testbench
