// What the IMAP tests and benchmarks need of a real server in the bench, so that one table of
// cases runs against Dovecot and Cyrus alike.
#pragma once

#include <string>

namespace testbench {

class ImapTestServer {
public:
    virtual ~ImapTestServer() = default;

    virtual const char* name() const = 0;
    // IMAP, plain (with STARTTLS) and inside TLS, on 127.0.0.1.
    virtual int imapPort() const = 0;
    virtual int imapsPort() const = 0;
    // PEM of the CA that signed the server's certificate (CN localhost, SAN localhost + 127.0.0.1).
    virtual std::string caFile() const = 0;
    // Gives the user the password and an INBOX of its own (kept when the user exists).
    virtual bool addUser(const std::string& user, const std::string& password) = 0;
    // Puts one new message into the user's INBOX; fileName is unique in the mailbox. Read
    // messages carry \Seen, as if read in another mail program.
    virtual bool deliver(const std::string& user, const std::string& fileName, const std::string& message) = 0;
    virtual bool deliverRead(const std::string& user, const std::string& fileName, const std::string& message) = 0;
    virtual bool clearMailbox(const std::string& user) = 0;
};

} // namespace testbench
