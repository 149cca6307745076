// Linked into the test build of the program only: "AUTHORIZE_URL TOKEN_URL [ISSUER]
// [MAIL_SERVER...]" in the environment variable the program tests set points every sign-in at
// the bench's mock server (the issuer is the one https:// field after the endpoints) and its
// tokens at the bench's mail servers.
#include <cstdlib>
#include <sstream>
#include <string>

#include "mail/sign_in/oauth_provider.h"
#include "tests/app/program_driver.h"

namespace {

// Before WinMain, and so before the first provider lookup.
struct EndpointsFromEnvironment {
    EndpointsFromEnvironment()
    {
        const char* value = std::getenv(apptest::signInEndpointsVariable);
        std::istringstream fields(value != nullptr ? value : "");
        std::string authorize, token, issuer, mailServers;
        if (fields >> authorize >> token) {
            for (std::string field; fields >> field;) {
                if (field.compare(0, 8, "https://") == 0)
                    issuer = field;
                else
                    mailServers += field + " ";
            }
            replaceSignInEndpoints(authorize.c_str(), token.c_str(), issuer.c_str(), mailServers.c_str());
        }
    }
} const endpointsFromEnvironment;

} // namespace
