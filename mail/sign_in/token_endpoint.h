#pragma once

#include <chrono>
#include <string>

#include "mail/sign_in/https_post.h"
#include "mail/sign_in/oauth_provider.h"

// A body longer than this is not read: no token endpoint sends one.
static const size_t maxTokenReplyBytes = 64 * 1024;
// Lifetime taken when a reply names none (the providers always do).
static const long defaultTokenLifetimeSeconds = 3600;
// Longest lifetime believed; a longer one is cut to it.
static const long maxTokenLifetimeSeconds = 366L * 24 * 60 * 60;

// The tokens a sign-in or a refresh brought. The one type they travel in, unchanged, from the
// token endpoint through the configuration dialog and the application to the checker.
struct OAuthTokens {
    std::string accessToken;
    std::string refreshToken; // empty when the reply brings none: the old one stays in use
    long expiresInSeconds = 0;
    // When the endpoint's reply arrived: the access token's lifetime counts from here.
    std::chrono::steady_clock::time_point received;
};

enum class TokenOutcome {
    Tokens,       // an access token (and perhaps a new refresh token)
    InvalidGrant, // the code or refresh token is no longer good: sign in again
    Refused,      // another OAuth error (invalid_client, unauthorized_client, ...); as final
    Temporary,    // the endpoint is busy (temporarily_unavailable, server_error, slow_down, 5xx, 429)
    Unusable,     // not a token reply: malformed, too large, or a failure without an OAuth error
    Unreachable,  // no answer: network, TLS or time-out; worth another try later
    Aborted,
};

struct TokenResult {
    TokenOutcome outcome = TokenOutcome::Unreachable;
    OAuthTokens tokens; // for Tokens
    std::string error;  // the OAuth error code, for InvalidGrant and Refused
    HttpsError transport = HttpsError::None;
};

// The token endpoint's answer (RFC 6749 sections 5.1 and 5.2), read from its JSON body into
// `result` (all but `transport` and `tokens.received`). `httpStatus` is the reply's status code.
// Tokens need status 200, a non-empty access token that isSendableToken accepts, token_type
// Bearer (any letter case) and expires_in, when present, a whole number or a text of digits; an
// error object is read whatever the status.
TokenOutcome parseTokenReply(int httpStatus, const std::string& body, TokenResult& result);

// The token endpoint of one provider for one client: the code exchange after a sign-in, and
// refreshes, which ask for `scope` (empty: what the grant had). Virtual so that the users of
// tokens can be tested without a server.
class TokenEndpoint {
public:
    TokenEndpoint(const std::string& tokenUrl, const OAuthClient& client, const std::string& scope = "");
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
    std::string scope;
};
