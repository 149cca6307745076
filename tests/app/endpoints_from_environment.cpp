// Linked into the test build of the program only: "AUTHORIZE_URL TOKEN_URL [ISSUER]" in the
// environment variable the program tests set points every sign-in at the bench's mock server.
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
        std::string authorize, token, issuer;
        if (fields >> authorize >> token) {
            fields >> issuer;
            replaceSignInEndpoints(authorize.c_str(), token.c_str(), issuer.c_str());
        }
    }
} const endpointsFromEnvironment;

} // namespace
