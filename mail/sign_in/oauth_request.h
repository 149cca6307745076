#pragma once

#include <cstddef>
#include <string>

#include "mail/sign_in/oauth_provider.h"

// What a sign-in sends: the PKCE pair and `state` (RFC 7636, RFC 6749), the authorization URL
// the browser opens, and the forms posted to the token endpoint.

// base64url without padding (RFC 4648 section 5), as PKCE and `state` use it.
std::string base64UrlEncode(const unsigned char* data, size_t length);

// S256: base64url of the SHA-256 of the verifier's characters.
std::string codeChallengeS256(const std::string& verifier);

struct PkcePair {
    std::string verifier;  // 43 characters from 32 random bytes
    std::string challenge; // codeChallengeS256(verifier)
};

// False when the random generator fails; nothing is then to be sent.
bool makePkcePair(PkcePair& pair);
// 22 characters from 16 random bytes.
bool makeState(std::string& state);

// Every byte but RFC 3986's unreserved characters as %XX, so that the text is safe as a query
// value and as a form value alike.
std::string percentEncode(const std::string& text);
// Undoes percentEncode and a form's '+' for a space. False for a broken escape or a NUL.
bool percentDecode(const char* text, size_t length, std::string& decoded);

struct AuthorizationRequest {
    std::string redirectUri;
    std::string challenge;
    std::string state;
    std::string loginHint; // the mail address, so that the provider offers the right account
    std::string scope;     // scopeFor the account's protocol
};

std::string authorizationUrl(const OAuthProvider& provider, const OAuthClient& client,
                             const AuthorizationRequest& request);

// Form bodies for the token endpoint (application/x-www-form-urlencoded).
std::string codeExchangeForm(const OAuthClient& client, const std::string& code, const std::string& verifier,
                             const std::string& redirectUri);
// `scope` (empty: none sent) keeps a refreshed token for the protocol it was signed in for: a
// Microsoft refresh token may bring a token for another of the resource's scopes.
std::string refreshForm(const OAuthClient& client, const std::string& refreshToken, const std::string& scope);
