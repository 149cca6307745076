#include "mail/sign_in/oauth_provider.h"

#include <cstring>
#include <iterator>
#include <list>
#include <mutex>
#include <sstream>
#include <string>

#include <openssl/crypto.h>

#include "mail/sign_in/microsoft_authority.h"

// Set by the build (PELLWICK_MICROSOFT_CLIENT_ID and the like in CMake); empty by default.
#ifndef PELLWICK_MICROSOFT_CLIENT_ID
#define PELLWICK_MICROSOFT_CLIENT_ID ""
#endif
#ifndef PELLWICK_GOOGLE_CLIENT_ID
#define PELLWICK_GOOGLE_CLIENT_ID ""
#endif
#ifndef PELLWICK_GOOGLE_CLIENT_SECRET
#define PELLWICK_GOOGLE_CLIENT_SECRET ""
#endif

namespace {

// From the providers' help pages on POP and IMAP settings. Microsoft's tokens are for the
// resource outlook.office.com, whose servers answer POP and IMAP under both names.
const char* const microsoftMailServers[] = {"outlook.office365.com", "outlook.office.com", nullptr};
const char* const googleMailServers[] = {"pop.gmail.com", "imap.gmail.com", nullptr};

// Microsoft's `common` endpoints serve personal and work accounts alike; offline_access
// brings the refresh token. Microsoft's scopes differ by protocol, as its page "Authenticate an
// IMAP, POP or SMTP connection using OAuth" lists them (learn.microsoft.com/exchange/
// client-developer/legacy-protocols/how-to-authenticate-an-imap-pop-smtp-application-by-using-oauth);
// Google's one scope serves both (developers.google.com/gmail/imap/xoauth2-protocol). Google
// returns a refresh token only when consent is given, so every sign-in asks for it.
const OAuthProvider providers[] = {
    {OAuthProviderId::Microsoft, "Microsoft", "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/common/oauth2/v2.0/token",
     "https://outlook.office.com/POP.AccessAsUser.All offline_access",
     "https://outlook.office.com/IMAP.AccessAsUser.All offline_access", "", "", false, "outlook.office365.com", 995,
     microsoftMailServers, PELLWICK_MICROSOFT_CLIENT_ID, "", false,
     "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode"},
    {OAuthProviderId::Google, "Google", "https://accounts.google.com/o/oauth2/v2/auth",
     "https://oauth2.googleapis.com/token", "https://mail.google.com/", "https://mail.google.com/",
     "access_type=offline&prompt=consent", "https://accounts.google.com", false, "pop.gmail.com", 995,
     googleMailServers, PELLWICK_GOOGLE_CLIENT_ID, PELLWICK_GOOGLE_CLIENT_SECRET, true},
};

struct DomainEntry {
    const char* domain;
    OAuthProviderId provider;
};

const DomainEntry domains[] = {
    {"outlook.com", OAuthProviderId::Microsoft}, {"hotmail.com", OAuthProviderId::Microsoft},
    {"live.com", OAuthProviderId::Microsoft},    {"msn.com", OAuthProviderId::Microsoft},
    {"gmail.com", OAuthProviderId::Google},      {"googlemail.com", OAuthProviderId::Google},
};

bool isSet(const char* text)
{
    return text != nullptr && text[0] != '\0';
}

struct SignInEndpoints {
    std::string authorize, token, issuer, mailServers;
};

// What replaceSignInEndpoints set; empty in the released program.
SignInEndpoints& replacedEndpoints()
{
    static SignInEndpoints endpoints;
    return endpoints;
}

// The providers as this run uses them: the built-in entries, or their copies with the
// replaced endpoints.
static_assert(std::size(providers) == 2, "every built-in provider is copied below");

struct ProviderTable {
    static const int maxMailServers = 4;

    OAuthProvider entries[std::size(providers)];
    std::string authorize, token, issuer;
    std::string mailServerNames[maxMailServers];
    const char* mailServers[maxMailServers + 1] = {};

    ProviderTable() : entries{providers[0], providers[1]}
    {
        const SignInEndpoints& replaced = replacedEndpoints();
        if (replaced.authorize.empty() || replaced.token.empty())
            return;
        authorize = replaced.authorize;
        token = replaced.token;
        issuer = replaced.issuer;
        std::istringstream names(replaced.mailServers);
        int named = 0;
        for (std::string name; named < maxMailServers && names >> name;)
            mailServerNames[named++] = name;
        for (int i = 0; i < named; ++i)
            mailServers[i] = mailServerNames[i].c_str();
        for (OAuthProvider& entry : entries) {
            entry.authorizationEndpoint = authorize.c_str();
            entry.tokenEndpoint = token.c_str();
            entry.issuer = issuer.c_str();
            entry.issuerRequired = false;
            entry.deviceAuthorizationEndpoint = "";
            if (named > 0)
                entry.mailServers = mailServers;
        }
    }
    bool replaced() const { return !authorize.empty(); }
};

const ProviderTable& providerTable()
{
    static const ProviderTable table;
    return table;
}

// Microsoft's entry for one authority other than common, with the endpoints it points into.
struct AuthorityEntry {
    MicrosoftEndpoints endpoints;
    OAuthProvider provider;
};

// Made once per authority and never moved (a list), so that pointers to them stay valid.
const OAuthProvider* microsoftProviderFor(const char* authority)
{
    const OAuthProvider* common = findProvider(OAuthProviderId::Microsoft);
    MicrosoftEndpoints endpoints;
    if (!microsoftEndpoints(authority != nullptr ? authority : "", endpoints))
        return nullptr;
    if (providerTable().replaced() || endpoints.authorization == common->authorizationEndpoint)
        return common;
    static std::mutex lock;
    static std::list<AuthorityEntry> made;
    std::lock_guard<std::mutex> hold(lock);
    for (const AuthorityEntry& entry : made)
        if (entry.endpoints.authorization == endpoints.authorization)
            return &entry.provider;
    made.push_back(AuthorityEntry{std::move(endpoints), *common});
    AuthorityEntry& entry = made.back();
    entry.provider.authorizationEndpoint = entry.endpoints.authorization.c_str();
    entry.provider.tokenEndpoint = entry.endpoints.token.c_str();
    entry.provider.deviceAuthorizationEndpoint = entry.endpoints.deviceAuthorization.c_str();
    return &entry.provider;
}

} // namespace

void replaceSignInEndpoints(const char* authorize, const char* token, const char* issuer, const char* mailServers)
{
    replacedEndpoints() = {authorize != nullptr ? authorize : "", token != nullptr ? token : "",
                           issuer != nullptr ? issuer : "", mailServers != nullptr ? mailServers : ""};
}

const char* scopeFor(const OAuthProvider& provider, MailProtocol protocol)
{
    return protocol == MailProtocol::Imap ? provider.imapScope : provider.pop3Scope;
}

const OAuthProvider* findProvider(OAuthProviderId id)
{
    for (const OAuthProvider& provider : providerTable().entries)
        if (provider.id == id)
            return &provider;
    return nullptr;
}

const OAuthProvider* providerForMethod(SignInMethod method)
{
    switch (method) {
    case SignInMethod::Microsoft:
        return findProvider(OAuthProviderId::Microsoft);
    case SignInMethod::Google:
        return findProvider(OAuthProviderId::Google);
    case SignInMethod::Password:
        break;
    }
    return nullptr;
}

const OAuthProvider* providerForSignIn(SignInMethod method, const char* microsoftAuthority)
{
    return method == SignInMethod::Microsoft ? microsoftProviderFor(microsoftAuthority) : providerForMethod(method);
}

const OAuthProvider* providerForAddress(const char* address)
{
    const char* at = address != nullptr ? std::strrchr(address, '@') : nullptr;
    if (at == nullptr)
        return nullptr;
    for (const DomainEntry& entry : domains)
        if (OPENSSL_strcasecmp(at + 1, entry.domain) == 0)
            return findProvider(entry.provider);
    return nullptr;
}

bool servesMail(const OAuthProvider& provider, const char* host)
{
    if (host == nullptr || provider.mailServers == nullptr)
        return false;
    for (const char* const* server = provider.mailServers; *server != nullptr; ++server)
        if (OPENSSL_strcasecmp(host, *server) == 0)
            return true;
    return false;
}

const OAuthProvider* providerServingMail(const char* host)
{
    for (const OAuthProvider& provider : providerTable().entries)
        if (servesMail(provider, host))
            return &provider;
    return nullptr;
}

ClientSetup resolveClient(const OAuthProvider& provider, const char* userClientId, const char* userClientSecret,
                          OAuthClient& client)
{
    bool user = isSet(userClientId);
    client.id = user ? userClientId : provider.builtInClientId;
    client.secret = user ? (isSet(userClientSecret) ? userClientSecret : "") : provider.builtInClientSecret;
    if (client.id.empty())
        return ClientSetup::MissingClientId;
    if (provider.needsClientSecret && client.secret.empty())
        return ClientSetup::MissingClientSecret;
    return ClientSetup::Ready;
}
