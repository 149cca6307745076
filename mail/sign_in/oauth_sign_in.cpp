#include "mail/sign_in/oauth_sign_in.h"

#include "mail/sign_in/oauth_request.h"
#include "mail/platform/browser_open.h"

SignInFlow::SignInFlow(const OAuthProvider& signInProvider, const OAuthClient& signInClient, MailProtocol protocol)
    : openBrowser([](const std::string& url) { return openInBrowser(url.c_str()); }), provider(signInProvider),
      client(signInClient), scope(scopeFor(signInProvider, protocol)),
      endpoint(signInProvider.tokenEndpoint, signInClient)
{
}

void SignInFlow::abort()
{
    abortRequested.store(1);
    listener.abort();
    endpoint.abort();
}

SignInFlow::Result SignInFlow::run(const std::string& address)
{
    Result result;
    PkcePair pkce;
    AuthorizationRequest request;
    if (!makePkcePair(pkce) || !makeState(request.state)) {
        result.outcome = Outcome::NoRandom;
        return result;
    }
    if (!listener.open()) {
        result.outcome = Outcome::NoListener;
        return result;
    }
    request.redirectUri = listener.redirectUri();
    request.challenge = pkce.challenge;
    request.loginHint = address;
    request.scope = scope;
    if (abortRequested.load())
        return result;
    if (!openBrowser(authorizationUrl(provider, client, request))) {
        listener.close();
        result.outcome = Outcome::BrowserFailed;
        return result;
    }
    RedirectListener::Expected expected;
    expected.state = request.state;
    expected.issuer = provider.issuer;
    expected.issuerRequired = provider.issuerRequired;
    RedirectListener::Result redirect = listener.waitForRedirect(expected, waitSeconds);
    switch (redirect.outcome) {
    case RedirectListener::Outcome::Code:
        return exchange(redirect.code, pkce.verifier, request.redirectUri);
    case RedirectListener::Outcome::ProviderError:
        result.outcome = Outcome::Denied;
        result.error = redirect.error;
        return result;
    case RedirectListener::Outcome::TimedOut:
        result.outcome = Outcome::TimedOut;
        return result;
    case RedirectListener::Outcome::Aborted:
        return result;
    default:
        result.outcome = Outcome::NoListener;
        return result;
    }
}

SignInFlow::Result SignInFlow::exchange(const std::string& code, const std::string& verifier,
                                        const std::string& redirectUri)
{
    Result result;
    TokenResult tokens = endpoint.exchangeCode(code, verifier, redirectUri);
    switch (tokens.outcome) {
    case TokenOutcome::Tokens:
        result.outcome = Outcome::SignedIn;
        result.tokens = tokens.tokens;
        break;
    case TokenOutcome::InvalidGrant:
    case TokenOutcome::Refused:
        result.outcome = Outcome::ExchangeRefused;
        result.error = tokens.error;
        break;
    case TokenOutcome::Aborted:
        result.outcome = Outcome::Aborted;
        break;
    default:
        result.outcome = Outcome::ExchangeFailed;
        break;
    }
    return result;
}
