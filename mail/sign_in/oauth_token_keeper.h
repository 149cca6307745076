#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "mail/sign_in/oauth_token_client.h"

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
// Used by one thread.
class TokenKeeper {
public:
    using Clock = std::chrono::steady_clock;
    using SaveRefreshToken = std::function<void(const std::string& refreshToken)>;
    static constexpr int refreshMarginSeconds = 60;

    enum class Status {
        Ready,       // `token` holds an access token to send
        SignInAgain, // the refresh token is refused, or there is none
        NoAnswer,    // the endpoint could not be asked now; try again at the next check
        Aborted,
    };

    TokenKeeper(TokenEndpoint& endpoint, SaveRefreshToken save);

    // The refresh token read from the settings; clears SignInAgain.
    void setRefreshToken(const std::string& refreshToken);
    // The tokens of a finished sign-in; clears SignInAgain and saves a refresh token it brings.
    void takeSignIn(const TokenReply& tokens, Clock::time_point now);

    // An access token valid for at least the margin, refreshed first when needed.
    Status accessToken(std::string& token, Clock::time_point now);
    // The mail server refused the token last handed out. The first time since the last
    // acceptance: one refresh, and `token` the new one to try. The second time: SignInAgain.
    Status serverRefused(std::string& token, Clock::time_point now);
    // The mail server accepted the token: a later refusal may refresh once again.
    void serverAccepted() { refusedSinceAccepted = false; }

    bool needsRefresh(Clock::time_point now) const;
    // The endpoint's error code that ended in SignInAgain (empty when there was no token).
    const std::string& refusal() const { return refusalCode; }

private:
    Status refresh(std::string& token, Clock::time_point now);
    void keep(const TokenReply& tokens, Clock::time_point now);

    TokenEndpoint& endpoint;
    SaveRefreshToken save;
    std::string access;
    std::string refreshToken;
    Clock::time_point expiry;
    bool signInAgain = false;
    bool refusedSinceAccepted = false;
    std::string refusalCode;
};
