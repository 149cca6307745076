// The sign-in bench that ctest starts once per build tree (oauth/oauth-fixture.py), seen from a
// test: the mock authorization server, the Dovecots that take OAuth logins (alice's mailbox
// holds two messages), and their CA.
#pragma once

#include <string>

#include "mail/sign_in/oauth_provider.h"

namespace testbench {

class OAuthFixture {
public:
    OAuthFixture() = default;
    OAuthFixture(const OAuthFixture&) = delete; // the provider entry points into this object
    OAuthFixture& operator=(const OAuthFixture&) = delete;

    // Reads PELLWICK_OAUTH_DIR/fixture.env; false when the bench is not running.
    static bool fromEnvironment(OAuthFixture& out);

    int pop3Port() const { return pop3; }
    int pop3sPort() const { return pop3s; }
    // The first Dovecot's plain IMAP, against the same oauth2 passdb.
    int imapPort() const { return imap; }
    // The second Dovecot, on 127.0.0.2: OAUTHBEARER alone, plain logins refused (STLS first).
    int strictPop3Port() const { return strictPop3; }
    std::string caFile() const { return ca; }
    // https://localhost:PORT/path of the mock; of its untrusted twin when `untrusted`.
    std::string url(const char* path, bool untrusted = false) const;
    // A provider entry for the mock: its endpoints, its issuer required in every redirect, and
    // the Dovecot above as the server.
    const OAuthProvider& provider() const { return entry; }
    // A fresh access token the mock vouches for at /tokeninfo, for `email`; empty on failure.
    std::string mintAccessToken(const std::string& email) const;

private:
    int https = 0;
    int untrustedHttps = 0;
    int pop3 = 0;
    int pop3s = 0;
    int imap = 0;
    int strictPop3 = 0;
    std::string ca;
    std::string authorize, token, issuer;
    OAuthProvider entry{};
};

} // namespace testbench
