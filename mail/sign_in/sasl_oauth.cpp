#include "mail/sign_in/sasl_oauth.h"

#include <openssl/evp.h>

namespace {

bool holdsControlCharacter(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string base64Encode(const std::string& data)
{
    std::string text(4 * ((data.size() + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                                  reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    text.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return text;
}

// RFC 5801's saslname: ',' and '=' cannot stand for themselves in the authorization identity.
std::string escapeSaslName(const std::string& name)
{
    std::string escaped;
    for (char c : name) {
        if (c == ',')
            escaped += "=2C";
        else if (c == '=')
            escaped += "=3D";
        else
            escaped += c;
    }
    return escaped;
}

bool canSend(const std::string& address, const std::string& token)
{
    return !address.empty() && !holdsControlCharacter(address) && isSendableToken(token);
}

} // namespace

bool isSendableToken(const std::string& token)
{
    if (token.empty() || token.size() > maxTokenLength)
        return false;
    for (unsigned char c : token)
        if (c <= 0x20 || c >= 0x7F)
            return false;
    return true;
}

std::string xoauth2InitialResponse(const std::string& address, const std::string& token)
{
    if (!canSend(address, token))
        return std::string();
    return base64Encode("user=" + address +
                        "\x01"
                        "auth=Bearer " +
                        token + "\x01\x01");
}

std::string oauthBearerInitialResponse(const std::string& address, const std::string& host, int port,
                                       const std::string& token)
{
    if (!canSend(address, token) || host.empty() || holdsControlCharacter(host) || port <= 0 || port > 65535)
        return std::string();
    return base64Encode("n,a=" + escapeSaslName(address) +
                        ",\x01"
                        "host=" +
                        host +
                        "\x01"
                        "port=" +
                        std::to_string(port) +
                        "\x01"
                        "auth=Bearer " +
                        token + "\x01\x01");
}

std::string plainInitialResponse(const std::string& user, const std::string& password)
{
    if (user.empty() || user.find('\0') != std::string::npos || password.find('\0') != std::string::npos ||
        user.size() + password.size() > maxTokenLength)
        return std::string();
    return base64Encode(std::string(1, '\0') + user + std::string(1, '\0') + password);
}
