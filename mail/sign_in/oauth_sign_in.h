#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "mail/sign_in/oauth_provider.h"
#include "mail/sign_in/oauth_redirect_listener.h"
#include "mail/sign_in/token_endpoint.h"

// One sign-in by the authorization code flow with PKCE (RFC 6749, RFC 7636, RFC 8252): makes
// the verifier and `state`, listens on loopback, opens the provider's page in the browser,
// waits for the redirect and exchanges the code for tokens.
//
// run() blocks for as long as the user takes (bounded by waitSeconds): call it on a thread of
// its own. abort() may be called from any other thread.
class SignInFlow {
public:
    enum class Outcome {
        SignedIn,
        NoRandom,      // no random bytes for the verifier and `state`
        NoListener,    // no loopback port could be had
        BrowserFailed, // the browser could not be started
        TimedOut,      // no redirect came back in time
        Aborted,
        Denied,          // the provider sent an error instead of a code (access_denied, ...)
        ExchangeRefused, // the token endpoint refused the code
        ExchangeFailed,  // the token endpoint could not be reached, or answered nonsense
    };
    struct Result {
        Outcome outcome = Outcome::Aborted;
        OAuthTokens tokens; // for SignedIn
        std::string error;  // the provider's error code, for Denied and ExchangeRefused
    };
    using OpenBrowser = std::function<bool(const std::string& url)>;

    // The token asked for is for `protocol` (scopeFor).
    SignInFlow(const OAuthProvider& provider, const OAuthClient& client, MailProtocol protocol);

    // `address` is offered to the provider as the account to sign in with.
    Result run(const std::string& address);
    void abort();

    // How the authorization URL reaches a browser; the platform's default browser unless a
    // test sets another.
    OpenBrowser openBrowser;
    int waitSeconds = RedirectListener::defaultWaitSeconds;

private:
    Result exchange(const std::string& code, const std::string& verifier, const std::string& redirectUri);

    const OAuthProvider& provider;
    OAuthClient client;
    const char* scope;
    RedirectListener listener;
    TokenEndpoint endpoint;
    std::atomic<int> abortRequested{0};
};
