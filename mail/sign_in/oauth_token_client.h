#pragma once

#include <string>

#include "mail/sign_in/https_post.h"
#include "mail/sign_in/oauth_provider.h"
#include "mail/sign_in/oauth_token_reply.h"

enum class TokenOutcome {
    Tokens,
    InvalidGrant, // the code or refresh token is no longer good: sign in again
    Refused,      // another OAuth error; as final as InvalidGrant
    Unusable,     // the endpoint answered something that is not a token reply
    Unreachable,  // no answer: network, TLS or time-out; worth another try later
    Aborted,
};

struct TokenResult {
    TokenOutcome outcome = TokenOutcome::Unreachable;
    TokenReply reply;
    HttpsError transport = HttpsError::None;
};

// The token endpoint of one provider for one client: the code exchange after a sign-in, and
// refreshes. Virtual so that the users of tokens can be tested without a server.
class TokenEndpoint {
public:
    TokenEndpoint(const std::string& tokenUrl, const OAuthClient& client);
    virtual ~TokenEndpoint() = default;

    virtual TokenResult exchangeCode(const std::string& code, const std::string& verifier,
                                     const std::string& redirectUri);
    virtual TokenResult refresh(const std::string& refreshToken);
    // From any thread: a post under way gives up soon, and so does every later one until
    // clearAbort().
    void abort() { poster.abort(); }
    void clearAbort() { poster.clearAbort(); }

private:
    TokenResult post(const std::string& form);

    HttpsPoster poster;
    std::string url;
    OAuthClient client;
};
