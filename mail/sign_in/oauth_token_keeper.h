#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "mail/checker/check_status.h"
#include "mail/sign_in/token_endpoint.h"

// The tokens of a signed-in account, for the checker: the access token lives only here, in
// memory, with its expiry; the refresh token is the one from the settings, or the one a
// sign-in or a refresh brought, which the save callback receives at once, so that a crash never
// leaves the old, rotated-away one on disk.
//
// Refreshes when the access token is within refreshMarginSeconds of its expiry, and once more
// after the mail server refuses a token. A refresh the endpoint refuses (invalid_grant and the
// like) puts the keeper in the SignInAgain state, which no call leaves but a new sign-in: it
// never asks the endpoint again by itself.
//
// A token is asked for with the status the window shows without one: Ok when `token` holds an
// access token to send; SignInAgain when the refresh token is refused or there is none;
// SignInUnreachable when the endpoint could not be asked now or gave no usable answer, and
// ServerBusy when it said to try later: it is asked again only after a back-off that doubles
// from firstBackOffSeconds to maxBackOffSeconds, and until then the same status comes back;
// NoResponse when an abort cut the refresh short (only a stop does, and then nothing shows).
//
// Used by one thread.
class TokenKeeper {
public:
    using Clock = std::chrono::steady_clock;
    using SaveRefreshToken = std::function<void(const std::string& refreshToken)>;
    static constexpr int refreshMarginSeconds = 60;
    static constexpr int firstBackOffSeconds = 30;
    static constexpr int maxBackOffSeconds = 60 * 60;

    TokenKeeper(TokenEndpoint& endpoint, SaveRefreshToken save);

    // The refresh token read from the settings; clears SignInAgain.
    void setRefreshToken(const std::string& refreshToken);
    // The tokens of a finished sign-in; clears SignInAgain and saves a refresh token it brings.
    void takeSignIn(const OAuthTokens& tokens);

    // An access token valid for at least the margin, refreshed first when needed.
    CheckStatus accessToken(std::string& token, Clock::time_point now);
    // The mail server refused the token last handed out. The first time since the last
    // acceptance: one refresh, and `token` the new one to try. The second time: SignInAgain.
    CheckStatus serverRefused(std::string& token, Clock::time_point now);
    // The mail server accepted the token: a later refusal may refresh once again.
    void serverAccepted() { refusedSinceAccepted = false; }

    bool needsRefresh(Clock::time_point now) const;

private:
    CheckStatus refresh(std::string& token, Clock::time_point now);
    CheckStatus backOff(CheckStatus shown, Clock::time_point now);
    void clearBackOff();
    // The access token's lifetime counts from `received`.
    void keep(const OAuthTokens& tokens, Clock::time_point received);

    TokenEndpoint& endpoint;
    SaveRefreshToken save;
    std::string access;
    std::string refreshToken;
    Clock::time_point expiry;
    bool signInAgain = false;
    bool refusedSinceAccepted = false;
    // After an endpoint failure: not asked again before retryAfter; what was shown meanwhile.
    Clock::time_point retryAfter;
    int backOffSeconds = 0;
    CheckStatus failure = CheckStatus::Ok;
};
