#include "mail/sign_in/microsoft_authority.h"

#include <cctype>

#include <openssl/crypto.h>

namespace {

const size_t maxDomainLength = 253;
const size_t maxLabelLength = 63;

bool isHex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool isAlphanumeric(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// 8-4-4-4-12 hexadecimal digits.
bool isGuid(const std::string& text)
{
    if (text.size() != 36)
        return false;
    for (size_t at = 0; at < text.size(); ++at) {
        bool dash = at == 8 || at == 13 || at == 18 || at == 23;
        if (dash ? text[at] != '-' : !isHex(text[at]))
            return false;
    }
    return true;
}

// Letters, digits and inner hyphens.
bool isLabel(const std::string& text, size_t begin, size_t end)
{
    if (end <= begin || end - begin > maxLabelLength || text[begin] == '-' || text[end - 1] == '-')
        return false;
    for (size_t at = begin; at < end; ++at)
        if (!isAlphanumeric(text[at]) && text[at] != '-')
            return false;
    return true;
}

// Two labels or more, the last of them not all digits (an address is no tenant).
bool isDomainName(const std::string& text)
{
    size_t lastDot = text.rfind('.');
    if (text.size() > maxDomainLength || lastDot == std::string::npos)
        return false;
    for (size_t begin = 0; begin <= text.size();) {
        size_t end = text.find('.', begin);
        if (end == std::string::npos)
            end = text.size();
        if (!isLabel(text, begin, end))
            return false;
        begin = end + 1;
    }
    return text.find_first_not_of("0123456789", lastDot + 1) != std::string::npos;
}

} // namespace

bool microsoftEndpoints(const std::string& authority, MicrosoftEndpoints& endpoints)
{
    std::string name = authority.empty() ? defaultMicrosoftAuthority : authority;
    bool known = false;
    for (const char* keyword : {"common", "consumers", "organizations"}) {
        if (OPENSSL_strcasecmp(name.c_str(), keyword) == 0) {
            name = keyword;
            known = true;
        }
    }
    if (!known && !isGuid(name) && !isDomainName(name))
        return false;
    std::string base = "https://login.microsoftonline.com/" + name + "/oauth2/v2.0/";
    endpoints.authorization = base + "authorize";
    endpoints.token = base + "token";
    endpoints.deviceAuthorization = base + "devicecode";
    return true;
}
