#include "mail/sign_in/oauth_token_keeper.h"

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
    refusalCode.clear();
}

void TokenKeeper::takeSignIn(const TokenReply& tokens, Clock::time_point now)
{
    signInAgain = false;
    refusedSinceAccepted = false;
    refusalCode.clear();
    keep(tokens, now);
}

bool TokenKeeper::needsRefresh(Clock::time_point now) const
{
    return access.empty() || now + std::chrono::seconds(refreshMarginSeconds) >= expiry;
}

TokenKeeper::Status TokenKeeper::accessToken(std::string& token, Clock::time_point now)
{
    token.clear();
    if (signInAgain)
        return Status::SignInAgain;
    if (!needsRefresh(now)) {
        token = access;
        return Status::Ready;
    }
    return refresh(token, now);
}

TokenKeeper::Status TokenKeeper::serverRefused(std::string& token, Clock::time_point now)
{
    token.clear();
    access.clear();
    if (signInAgain || refusedSinceAccepted) {
        signInAgain = true;
        return Status::SignInAgain;
    }
    refusedSinceAccepted = true;
    return refresh(token, now);
}

TokenKeeper::Status TokenKeeper::refresh(std::string& token, Clock::time_point now)
{
    if (refreshToken.empty()) {
        signInAgain = true;
        return Status::SignInAgain;
    }
    TokenResult result = endpoint.refresh(refreshToken);
    switch (result.outcome) {
    case TokenOutcome::Tokens:
        keep(result.reply, now);
        token = access;
        return Status::Ready;
    case TokenOutcome::InvalidGrant:
    case TokenOutcome::Refused:
        signInAgain = true;
        refusalCode = result.reply.error;
        access.clear();
        return Status::SignInAgain;
    case TokenOutcome::Aborted:
        return Status::Aborted;
    default:
        return Status::NoAnswer;
    }
}

// A reply without a refresh token leaves the old one in use; a new one replaces it and is
// saved before anything else happens.
void TokenKeeper::keep(const TokenReply& tokens, Clock::time_point now)
{
    access = tokens.accessToken;
    expiry = now + std::chrono::seconds(tokens.expiresInSeconds);
    if (!tokens.refreshToken.empty() && tokens.refreshToken != refreshToken) {
        refreshToken = tokens.refreshToken;
        if (save)
            save(refreshToken);
    }
}
