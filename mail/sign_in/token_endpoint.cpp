#include "mail/sign_in/token_endpoint.h"

#include <nlohmann/json.hpp>
#include <openssl/crypto.h>

#include "mail/sign_in/oauth_request.h"
#include "mail/sign_in/sasl_oauth.h"

// Whatever headers the build found: older versions can overflow the stack on a reply nested
// deeply enough, which any server on the way could send.
static_assert(NLOHMANN_JSON_VERSION_MAJOR > 3 ||
                  (NLOHMANN_JSON_VERSION_MAJOR == 3 && NLOHMANN_JSON_VERSION_MINOR >= 10),
              "nlohmann-json 3.10 or newer is needed");

namespace {

const size_t maxErrorLength = 128;
const int httpOk = 200;
const int httpTooManyRequests = 429;
const int httpServerErrors = 500;

using Json = nlohmann::json;

const Json* member(const Json& object, const char* name)
{
    auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

bool readText(const Json& object, const char* name, size_t maxLength, std::string& text)
{
    const Json* value = member(object, name);
    if (value == nullptr || !value->is_string() || value->get_ref<const std::string&>().size() > maxLength)
        return false;
    text = value->get_ref<const std::string&>();
    return true;
}

// A number (as the providers send it) or a text of digits (as some servers do).
bool readLifetime(const Json& object, long& seconds)
{
    const Json* value = member(object, "expires_in");
    if (value == nullptr) {
        seconds = defaultTokenLifetimeSeconds;
        return true;
    }
    long long whole = -1;
    if (value->is_number_unsigned() || value->is_number_integer()) {
        whole = value->get<long long>();
    } else if (value->is_string()) {
        const std::string& digits = value->get_ref<const std::string&>();
        if (digits.empty() || digits.size() > 12 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        whole = std::stoll(digits);
    }
    if (whole <= 0)
        return false;
    seconds = static_cast<long>(whole < maxTokenLifetimeSeconds ? whole : maxTokenLifetimeSeconds);
    return true;
}

TokenOutcome readError(const Json& object, std::string& error)
{
    if (!readText(object, "error", maxErrorLength, error) || error.empty())
        return TokenOutcome::Unusable;
    if (error == "invalid_grant")
        return TokenOutcome::InvalidGrant;
    if (error == "temporarily_unavailable" || error == "server_error" || error == "slow_down")
        return TokenOutcome::Temporary;
    return TokenOutcome::Refused;
}

bool isBusyStatus(int httpStatus)
{
    return httpStatus == httpTooManyRequests || httpStatus >= httpServerErrors;
}

TokenOutcome readTokens(const Json& object, OAuthTokens& tokens)
{
    std::string type;
    if (!readText(object, "access_token", maxTokenLength, tokens.accessToken) || !isSendableToken(tokens.accessToken) ||
        !readText(object, "token_type", maxErrorLength, type) || OPENSSL_strcasecmp(type.c_str(), "Bearer") != 0 ||
        !readLifetime(object, tokens.expiresInSeconds))
        return TokenOutcome::Unusable;
    if (member(object, "refresh_token") != nullptr &&
        (!readText(object, "refresh_token", maxTokenLength, tokens.refreshToken) ||
         !isSendableToken(tokens.refreshToken)))
        return TokenOutcome::Unusable;
    return TokenOutcome::Tokens;
}

} // namespace

TokenOutcome parseTokenReply(int httpStatus, const std::string& body, TokenResult& result)
{
    result.tokens = OAuthTokens();
    result.error.clear();
    result.outcome = TokenOutcome::Unusable;
    if (body.size() > maxTokenReplyBytes)
        return result.outcome;
    Json object = Json::parse(body, nullptr, false);
    if (!object.is_object()) {
        // A proxy's or load balancer's page for a busy endpoint.
        if (isBusyStatus(httpStatus))
            result.outcome = TokenOutcome::Temporary;
        return result.outcome;
    }
    if (member(object, "error") != nullptr)
        result.outcome = readError(object, result.error);
    else if (httpStatus == httpOk)
        result.outcome = readTokens(object, result.tokens);
    if (result.outcome == TokenOutcome::Unusable && isBusyStatus(httpStatus))
        result.outcome = TokenOutcome::Temporary;
    if (result.outcome != TokenOutcome::Tokens)
        result.tokens = OAuthTokens();
    return result.outcome;
}

TokenEndpoint::TokenEndpoint(const std::string& tokenUrl, const OAuthClient& tokenClient,
                             const std::string& refreshScope)
    : url(tokenUrl), client(tokenClient), scope(refreshScope)
{
}

TokenResult TokenEndpoint::exchangeCode(const std::string& code, const std::string& verifier,
                                        const std::string& redirectUri)
{
    return post(codeExchangeForm(client, code, verifier, redirectUri));
}

TokenResult TokenEndpoint::refresh(const std::string& refreshToken)
{
    return post(refreshForm(client, refreshToken, scope));
}

// A reply too large to read is the endpoint's answer all the same, if not a usable one.
TokenResult TokenEndpoint::post(const std::string& form)
{
    TokenResult result;
    HttpsReply reply;
    result.transport = poster.postForm(url, form, reply);
    if (result.transport == HttpsError::None) {
        if (parseTokenReply(reply.status, reply.body, result) == TokenOutcome::Tokens)
            result.tokens.received = std::chrono::steady_clock::now();
    } else if (result.transport == HttpsError::Aborted) {
        result.outcome = TokenOutcome::Aborted;
    } else if (result.transport == HttpsError::ReplyTooLarge || result.transport == HttpsError::BadReply) {
        result.outcome = TokenOutcome::Unusable;
    } else {
        result.outcome = TokenOutcome::Unreachable;
    }
    return result;
}
