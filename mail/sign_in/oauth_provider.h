#pragma once

#include <string>

// The mail providers whose POP3 servers want an OAuth 2.0 access token instead of a password,
// with what a sign-in needs of each: endpoints, scope, server and the client registration.
enum class OAuthProviderId { Microsoft, Google };

struct OAuthProvider {
    OAuthProviderId id;
    const char* name;
    const char* authorizationEndpoint;
    const char* tokenEndpoint;
    const char* scope;
    // Parameters added to the authorization URL as they stand ("a=b&c=d"); may be empty.
    const char* extraAuthorizationParameters;
    // The `iss` a redirect must carry when it carries one (RFC 9207); empty: not compared.
    const char* issuer;
    bool issuerRequired; // a redirect without `iss` is refused
    const char* server;
    int port;
    // The client registration a distributor built in; empty when none was.
    const char* builtInClientId;
    const char* builtInClientSecret;
    bool needsClientSecret; // the token endpoint wants the (non-secret) desktop client secret
    // RFC 8628's device authorization endpoint; empty where the provider offers no sign-in with
    // a code for mail.
    const char* deviceAuthorizationEndpoint = "";
};

// How an account logs in: with its password, or with an access token from a provider.
enum class SignInMethod { Password, Microsoft, Google };

// Tests point sign-ins at an authorization server of their own: "AUTHORIZE_URL TOKEN_URL
// [ISSUER]" in this environment variable replaces the endpoints (and the issuer, which is not
// compared when absent) of every provider. Whoever sets the program's environment could read
// its tokens anyway.
inline constexpr char signInEndpointsVariable[] = "PELLWICK_SIGN_IN_ENDPOINTS";

// The provider entry, or null for an id without one.
const OAuthProvider* findProvider(OAuthProviderId id);
// The provider of a sign-in method; null for Password.
const OAuthProvider* providerForMethod(SignInMethod method);
// The same, with Microsoft's endpoints under `microsoftAuthority` (null or empty: common); null
// also for an authority microsoftEndpoints refuses. Each authority's entry is made once and
// lives as long as the program, so that a sign-in and the checker may hold it; the endpoints
// of signInEndpointsVariable count over any authority.
const OAuthProvider* providerForSignIn(SignInMethod method, const char* microsoftAuthority);

// The provider whose mail domain `address` is at (after its last '@', any letter case), or
// null for any other address.
const OAuthProvider* providerForAddress(const char* address);

// The client a sign-in presents to the provider.
struct OAuthClient {
    std::string id;
    std::string secret;
};

enum class ClientSetup {
    Ready,
    MissingClientId,     // neither the build nor the user set one
    MissingClientSecret, // the provider wants a secret with this client id, and none was set
};

// The user's client id, with the user's secret, when the user set one; otherwise the built-in
// pair. A user's id never goes with the built-in secret, which belongs to another client.
ClientSetup resolveClient(const OAuthProvider& provider, const char* userClientId, const char* userClientSecret,
                          OAuthClient& client);
