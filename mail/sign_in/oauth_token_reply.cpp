#include "mail/sign_in/oauth_token_reply.h"

#include <nlohmann/json.hpp>
#include <openssl/crypto.h>

#include "mail/sign_in/sasl_oauth.h"

// Whatever headers the build found: older versions can overflow the stack on a reply nested
// deeply enough, which any server on the way could send.
static_assert(NLOHMANN_JSON_VERSION_MAJOR > 3 ||
                  (NLOHMANN_JSON_VERSION_MAJOR == 3 && NLOHMANN_JSON_VERSION_MINOR >= 10),
              "nlohmann-json 3.10 or newer is needed");

namespace {

const size_t maxErrorLength = 128;
const size_t maxScopeLength = 2048;
const int httpOk = 200;

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

TokenReplyKind readError(const Json& object, TokenReply& reply)
{
    if (!readText(object, "error", maxErrorLength, reply.error) || reply.error.empty())
        return TokenReplyKind::Unusable;
    return reply.error == "invalid_grant" ? TokenReplyKind::InvalidGrant : TokenReplyKind::Refused;
}

TokenReplyKind readTokens(const Json& object, TokenReply& reply)
{
    std::string type;
    if (!readText(object, "access_token", maxTokenLength, reply.accessToken) || !isSendableToken(reply.accessToken) ||
        !readText(object, "token_type", maxErrorLength, type) || OPENSSL_strcasecmp(type.c_str(), "Bearer") != 0 ||
        !readLifetime(object, reply.expiresInSeconds))
        return TokenReplyKind::Unusable;
    if (member(object, "refresh_token") != nullptr &&
        (!readText(object, "refresh_token", maxTokenLength, reply.refreshToken) ||
         !isSendableToken(reply.refreshToken)))
        return TokenReplyKind::Unusable;
    readText(object, "scope", maxScopeLength, reply.scope);
    return TokenReplyKind::Tokens;
}

} // namespace

TokenReplyKind parseTokenReply(int httpStatus, const std::string& body, TokenReply& reply)
{
    reply = TokenReply();
    if (body.size() > maxTokenReplyBytes)
        return TokenReplyKind::Unusable;
    Json object = Json::parse(body, nullptr, false);
    if (!object.is_object())
        return TokenReplyKind::Unusable;
    TokenReplyKind kind = member(object, "error") != nullptr ? readError(object, reply)
                          : httpStatus == httpOk             ? readTokens(object, reply)
                                                             : TokenReplyKind::Unusable;
    if (kind != TokenReplyKind::Tokens) {
        std::string error = std::move(reply.error);
        reply = TokenReply();
        reply.error = std::move(error);
    }
    return kind;
}
