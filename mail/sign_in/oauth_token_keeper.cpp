#include "mail/sign_in/oauth_token_keeper.h"

#include <algorithm>

TokenKeeper::TokenKeeper(TokenEndpoint& tokenEndpoint, SaveRefreshToken saveRefreshToken)
    : endpoint(tokenEndpoint), save(std::move(saveRefreshToken))
{
}

void TokenKeeper::setRefreshToken(const std::string& token)
{
    refreshToken = token;
    access.clear();
    signInAgain = false;
    refusedSinceAccepted = false;
    clearBackOff();
}

void TokenKeeper::takeSignIn(const OAuthTokens& tokens)
{
    signInAgain = false;
    refusedSinceAccepted = false;
    clearBackOff();
    keep(tokens, tokens.received);
}

bool TokenKeeper::needsRefresh(Clock::time_point now) const
{
    return access.empty() || now + std::chrono::seconds(refreshMarginSeconds) >= expiry;
}

CheckStatus TokenKeeper::accessToken(std::string& token, Clock::time_point now)
{
    token.clear();
    if (signInAgain)
        return CheckStatus::SignInAgain;
    if (!needsRefresh(now)) {
        token = access;
        return CheckStatus::Ok;
    }
    return refresh(token, now);
}

CheckStatus TokenKeeper::serverRefused(std::string& token, Clock::time_point now)
{
    token.clear();
    access.clear();
    if (signInAgain || refusedSinceAccepted) {
        signInAgain = true;
        return CheckStatus::SignInAgain;
    }
    refusedSinceAccepted = true;
    return refresh(token, now);
}

CheckStatus TokenKeeper::refresh(std::string& token, Clock::time_point now)
{
    if (refreshToken.empty()) {
        signInAgain = true;
        return CheckStatus::SignInAgain;
    }
    if (failure != CheckStatus::Ok && now < retryAfter)
        return failure;
    TokenResult result = endpoint.refresh(refreshToken);
    switch (result.outcome) {
    case TokenOutcome::Tokens:
        // Counted from when it was asked for, on the caller's clock.
        keep(result.tokens, now);
        clearBackOff();
        token = access;
        return CheckStatus::Ok;
    case TokenOutcome::InvalidGrant:
    case TokenOutcome::Refused:
        signInAgain = true;
        access.clear();
        return CheckStatus::SignInAgain;
    case TokenOutcome::Aborted:
        return CheckStatus::NoResponse;
    case TokenOutcome::Temporary:
        return backOff(CheckStatus::ServerBusy, now);
    default:
        return backOff(CheckStatus::SignInUnreachable, now);
    }
}

// An endpoint that failed, or asked for patience, is not asked at every check.
CheckStatus TokenKeeper::backOff(CheckStatus shown, Clock::time_point now)
{
    backOffSeconds = backOffSeconds == 0 ? firstBackOffSeconds : std::min(backOffSeconds * 2, maxBackOffSeconds);
    retryAfter = now + std::chrono::seconds(backOffSeconds);
    failure = shown;
    return shown;
}

void TokenKeeper::clearBackOff()
{
    backOffSeconds = 0;
    failure = CheckStatus::Ok;
}

// A reply without a refresh token leaves the old one in use; a new one replaces it and is
// saved before anything else happens.
void TokenKeeper::keep(const OAuthTokens& tokens, Clock::time_point received)
{
    access = tokens.accessToken;
    expiry = received + std::chrono::seconds(tokens.expiresInSeconds);
    if (!tokens.refreshToken.empty() && tokens.refreshToken != refreshToken) {
        refreshToken = tokens.refreshToken;
        if (save)
            save(refreshToken);
    }
}
