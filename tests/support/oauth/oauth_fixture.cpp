#include "tests/support/oauth/oauth_fixture.h"

#include <cstdlib>
#include <fstream>
#include <map>

#include "mail/sign_in/https_post.h"
#include "tests/support/dovecot_fixture.h"

namespace testbench {

namespace {

// The names the bench's POP3 servers answer under.
const char* const mockMailServers[] = {"localhost", "127.0.0.2", nullptr};

} // namespace

bool OAuthFixture::fromEnvironment(OAuthFixture& out)
{
    const char* folder = std::getenv("PELLWICK_OAUTH_DIR");
    if (folder == nullptr)
        return false;
    auto values = readFixtureEnv(unixPathForPlatform(std::string(folder) + "/fixture.env"));
    out.https = std::atoi(values["HTTPS_PORT"].c_str());
    out.untrustedHttps = std::atoi(values["UNTRUSTED_PORT"].c_str());
    out.pop3 = std::atoi(values["POP3_PORT"].c_str());
    out.pop3s = std::atoi(values["POP3S_PORT"].c_str());
    out.imap = std::atoi(values["IMAP_PORT"].c_str());
    out.strictPop3 = std::atoi(values["STRICT_POP3_PORT"].c_str());
    out.ca = unixPathForPlatform(values["CA_FILE"]);
    out.authorize = out.url("/authorize");
    out.token = out.url("/token");
    out.issuer = "https://localhost:" + std::to_string(out.https);
    out.entry = {OAuthProviderId::Microsoft,
                 "Mock",
                 out.authorize.c_str(),
                 out.token.c_str(),
                 "mail offline_access",
                 "mail offline_access",
                 "",
                 out.issuer.c_str(),
                 true,
                 "localhost",
                 out.pop3s,
                 mockMailServers,
                 "",
                 "",
                 false};
    return out.https > 0 && out.untrustedHttps > 0 && out.pop3 > 0 && out.pop3s > 0 && out.strictPop3 > 0 &&
           !values["CA_FILE"].empty();
}

std::string OAuthFixture::url(const char* path, bool untrusted) const
{
    return "https://localhost:" + std::to_string(untrusted ? untrustedHttps : https) + path;
}

std::string OAuthFixture::mintAccessToken(const std::string& email) const
{
    HttpsPoster poster;
    HttpsReply reply;
    if (poster.postForm(url("/mint"), "email=" + email, reply) != HttpsError::None || reply.status != 200)
        return std::string();
    size_t start = reply.body.find("\"access_token\": \"");
    size_t end = start == std::string::npos ? start : reply.body.find('"', start + 17);
    return end == std::string::npos ? std::string() : reply.body.substr(start + 17, end - start - 17);
}

} // namespace testbench
