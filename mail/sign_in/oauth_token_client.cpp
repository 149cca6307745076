#include "mail/sign_in/oauth_token_client.h"

#include "mail/sign_in/oauth_request.h"

namespace {

TokenOutcome outcomeOf(TokenReplyKind kind)
{
    switch (kind) {
    case TokenReplyKind::Tokens:
        return TokenOutcome::Tokens;
    case TokenReplyKind::InvalidGrant:
        return TokenOutcome::InvalidGrant;
    case TokenReplyKind::Refused:
        return TokenOutcome::Refused;
    default:
        return TokenOutcome::Unusable;
    }
}

} // namespace

TokenEndpoint::TokenEndpoint(const std::string& tokenUrl, const OAuthClient& tokenClient)
    : url(tokenUrl), client(tokenClient)
{
}

TokenResult TokenEndpoint::exchangeCode(const std::string& code, const std::string& verifier,
                                        const std::string& redirectUri)
{
    return post(codeExchangeForm(client, code, verifier, redirectUri));
}

TokenResult TokenEndpoint::refresh(const std::string& refreshToken)
{
    return post(refreshForm(client, refreshToken));
}

// A reply too large to read is the endpoint's answer all the same, if not a usable one.
TokenResult TokenEndpoint::post(const std::string& form)
{
    TokenResult result;
    HttpsReply reply;
    result.transport = poster.postForm(url, form, reply);
    if (result.transport == HttpsError::None)
        result.outcome = outcomeOf(parseTokenReply(reply.status, reply.body, result.reply));
    else if (result.transport == HttpsError::Aborted)
        result.outcome = TokenOutcome::Aborted;
    else if (result.transport == HttpsError::ReplyTooLarge || result.transport == HttpsError::BadReply)
        result.outcome = TokenOutcome::Unusable;
    else
        result.outcome = TokenOutcome::Unreachable;
    return result;
}
