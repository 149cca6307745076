#include "mail/sign_in/sasl_oauth.h"

#include <cctype>
#include <cstring>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

namespace {

const size_t maxFieldLength = 256;

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

// Strict base64 of a whole text: EVP_DecodeBlock alone would accept blanks around it and
// count padding as zero bytes.
bool base64Decode(const char* text, size_t length, std::string& data)
{
    if (length == 0 || length % 4 != 0)
        return false;
    for (size_t at = 0; at < length; ++at) {
        char c = text[at];
        bool padding = c == '=' && at >= length - 2 && (at == length - 1 || text[length - 1] == '=');
        if (!padding && !std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/')
            return false;
    }
    data.assign(length / 4 * 3 + 1, '\0');
    int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&data[0]),
                                  reinterpret_cast<const unsigned char*>(text), static_cast<int>(length));
    if (decoded < 0)
        return false;
    size_t padding = (text[length - 1] == '=') + (text[length - 2] == '=');
    data.resize(static_cast<size_t>(decoded) - padding);
    return true;
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

std::string textField(const nlohmann::json& object, const char* name)
{
    auto found = object.find(name);
    if (found == object.end() || !found->is_string())
        return std::string();
    const std::string& value = found->get_ref<const std::string&>();
    return value.size() <= maxFieldLength ? value : std::string();
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

bool decodeBearerChallenge(const char* line, size_t length, BearerChallenge& challenge)
{
    challenge = BearerChallenge();
    if (length > maxChallengeLineLength || length < 2 || line[0] != '+' || line[1] != ' ')
        return false;
    if (length >= 1 && line[length - 1] == '\n')
        --length;
    if (length >= 1 && line[length - 1] == '\r')
        --length;
    std::string json;
    if (length < 2 || !base64Decode(line + 2, length - 2, json))
        return false;
    nlohmann::json object = nlohmann::json::parse(json, nullptr, false);
    if (!object.is_object())
        return false;
    challenge.status = textField(object, "status");
    challenge.schemes = textField(object, "schemes");
    challenge.scope = textField(object, "scope");
    return true;
}
