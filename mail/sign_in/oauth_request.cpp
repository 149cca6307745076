#include "mail/sign_in/oauth_request.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include "util/decimal_text.h"

namespace {

const int verifierBytes = 32; // 43 characters, the least RFC 7636 allows
const int stateBytes = 16;

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

std::string randomText(int bytes)
{
    unsigned char random[verifierBytes];
    if (bytes > static_cast<int>(sizeof random) || RAND_bytes(random, bytes) != 1)
        return std::string();
    return base64UrlEncode(random, static_cast<size_t>(bytes));
}

void addParameter(std::string& to, const char* name, const std::string& value)
{
    if (!to.empty())
        to += '&';
    to += name;
    to += '=';
    to += percentEncode(value);
}

void addClient(std::string& form, const OAuthClient& client)
{
    addParameter(form, "client_id", client.id);
    if (!client.secret.empty())
        addParameter(form, "client_secret", client.secret);
}

} // namespace

std::string base64UrlEncode(const unsigned char* data, size_t length)
{
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]), data, static_cast<int>(length));
    text.resize(written > 0 ? static_cast<size_t>(written) : 0);
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    for (char& c : text) {
        if (c == '+')
            c = '-';
        else if (c == '/')
            c = '_';
    }
    return text;
}

std::string codeChallengeS256(const std::string& verifier)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return base64UrlEncode(digest, sizeof digest);
}

bool makePkcePair(PkcePair& pair)
{
    pair.verifier = randomText(verifierBytes);
    pair.challenge = pair.verifier.empty() ? std::string() : codeChallengeS256(pair.verifier);
    return !pair.verifier.empty();
}

bool makeState(std::string& state)
{
    state = randomText(stateBytes);
    return !state.empty();
}

std::string percentEncode(const std::string& text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (unsigned char c : text) {
        if (isUnreserved(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += digits[c >> 4];
            encoded += digits[c & 0x0F];
        }
    }
    return encoded;
}

bool percentDecode(const char* text, size_t length, std::string& decoded)
{
    decoded.clear();
    for (size_t at = 0; at < length; ++at) {
        char c = text[at];
        if (c == '%') {
            int high = at + 2 < length ? hexValue(text[at + 1]) : -1;
            int low = at + 2 < length ? hexValue(text[at + 2]) : -1;
            if (high < 0 || low < 0)
                return false;
            c = static_cast<char>(high * 16 + low);
            at += 2;
        } else if (c == '+') {
            c = ' ';
        }
        if (c == '\0')
            return false;
        decoded += c;
    }
    return true;
}

std::string authorizationUrl(const OAuthProvider& provider, const OAuthClient& client,
                             const AuthorizationRequest& request)
{
    std::string query;
    addParameter(query, "response_type", "code");
    addParameter(query, "client_id", client.id);
    addParameter(query, "redirect_uri", request.redirectUri);
    addParameter(query, "scope", request.scope);
    addParameter(query, "state", request.state);
    addParameter(query, "code_challenge", request.challenge);
    addParameter(query, "code_challenge_method", "S256");
    if (!request.loginHint.empty())
        addParameter(query, "login_hint", request.loginHint);
    if (provider.extraAuthorizationParameters[0] != '\0')
        query += std::string("&") + provider.extraAuthorizationParameters;
    return std::string(provider.authorizationEndpoint) + '?' + query;
}

std::string codeExchangeForm(const OAuthClient& client, const std::string& code, const std::string& verifier,
                             const std::string& redirectUri)
{
    std::string form;
    addParameter(form, "grant_type", "authorization_code");
    addParameter(form, "code", code);
    addParameter(form, "code_verifier", verifier);
    addParameter(form, "redirect_uri", redirectUri);
    addClient(form, client);
    return form;
}

std::string refreshForm(const OAuthClient& client, const std::string& refreshToken, const std::string& scope)
{
    std::string form;
    addParameter(form, "grant_type", "refresh_token");
    addParameter(form, "refresh_token", refreshToken);
    if (!scope.empty())
        addParameter(form, "scope", scope);
    addClient(form, client);
    return form;
}
