#pragma once

#include <string>

// The token endpoint's answer (RFC 6749 sections 5.1 and 5.2), read from its JSON body.

// A body longer than this is not read: no token endpoint sends one.
static const size_t maxTokenReplyBytes = 64 * 1024;
// Lifetime taken when a reply names none (the providers always do).
static const long defaultTokenLifetimeSeconds = 3600;
// Longest lifetime believed; a longer one is cut to it.
static const long maxTokenLifetimeSeconds = 366L * 24 * 60 * 60;

enum class TokenReplyKind {
    Tokens,       // an access token (and perhaps a new refresh token)
    InvalidGrant, // the code or refresh token is refused for good: sign in again
    Refused,      // another OAuth error (invalid_client, unauthorized_client, ...)
    Unusable,     // not a token reply: malformed, too large, or a failure without an OAuth error
};

struct TokenReply {
    std::string accessToken;
    std::string refreshToken; // empty when the reply brings none: the old one stays in use
    std::string scope;
    long expiresInSeconds = 0;
    std::string error; // the OAuth error code, for InvalidGrant and Refused
};

// `httpStatus` is the reply's status code. Tokens need status 200, a non-empty access token that
// isSendableToken accepts, token_type Bearer (any letter case) and expires_in, when present, a
// whole number or a text of digits; an error object is read whatever the status.
TokenReplyKind parseTokenReply(int httpStatus, const std::string& body, TokenReply& reply);
