#pragma once

#include <string>

#include "mail/session/mail_protocol.h"

// The mail providers whose POP3 and IMAP servers want an OAuth 2.0 access token instead of a
// password, with what a sign-in needs of each: endpoints, scopes, server and the client
// registration.
enum class OAuthProviderId { Microsoft, Google };

struct OAuthProvider {
    OAuthProviderId id;
    const char* name;
    const char* authorizationEndpoint;
    const char* tokenEndpoint;
    // What a sign-in asks for, by the protocol its token is for (scopeFor).
    const char* pop3Scope;
    const char* imapScope;
    // Parameters added to the authorization URL as they stand ("a=b&c=d"); may be empty.
    const char* extraAuthorizationParameters;
    // The `iss` a redirect must carry when it carries one (RFC 9207); empty: not compared.
    const char* issuer;
    bool issuerRequired; // a redirect without `iss` is refused
    const char* server;
    int port;
    // Every mail server (POP3 and IMAP) a token of this provider may go to; null-terminated.
    // A token is for the provider's own mail service: any other server could replay it there.
    const char* const* mailServers;
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

// Test builds point sign-ins at an authorization server of their own: these endpoints replace
// those of every provider, and the issuer theirs (empty: not compared); `mailServers`, when
// not empty, names (one space apart) the servers a token may go to instead of the providers'.
// Only before the first lookup below; the released program never calls it, so that nothing in
// its surroundings can send a refresh token or a client secret elsewhere.
void replaceSignInEndpoints(const char* authorize, const char* token, const char* issuer,
                            const char* mailServers = nullptr);

// The scope a sign-in asks for, and a refresh keeps asking for, so that the token is for the
// account's protocol.
const char* scopeFor(const OAuthProvider& provider, MailProtocol protocol);

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

// True when `host` (any letter case) is one of the provider's own mail servers.
bool servesMail(const OAuthProvider& provider, const char* host);
// The provider that `host` is a mail server of, or null for any other host.
const OAuthProvider* providerServingMail(const char* host);

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
