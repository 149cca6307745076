// What token endpoints and mail servers send a sign-in, fed arbitrary bytes. The first byte
// chooses the reader: the token reply (JSON body, its status from the second byte), the
// error challenge of a refused token, or the HTTP reply around a token reply (the rest as
// pieces, fuzz_input.h, so that the input decides where the stream splits).
//
// Checked besides memory safety: a token reply taken as tokens has a token fit to send and a
// positive lifetime; a challenge's fields stay short; an HTTP body never passes its bound.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.h"
#include "mail/sign_in/http_reply_reader.h"
#include "mail/sign_in/oauth_token_reply.h"
#include "mail/sign_in/sasl_oauth.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void tokenReply(const uint8_t* data, size_t size)
{
    if (size < 1)
        return;
    int status = (data[0] & 1) != 0 ? 200 : 400;
    TokenReply reply;
    TokenReplyKind kind =
        parseTokenReply(status, std::string(reinterpret_cast<const char*>(data + 1), size - 1), reply);
    if (kind == TokenReplyKind::Tokens) {
        require(isSendableToken(reply.accessToken));
        require(reply.expiresInSeconds > 0 && reply.expiresInSeconds <= maxTokenLifetimeSeconds);
        require(reply.refreshToken.empty() || isSendableToken(reply.refreshToken));
    } else {
        require(reply.accessToken.empty() && reply.refreshToken.empty());
    }
}

void challenge(const uint8_t* data, size_t size)
{
    BearerChallenge decoded;
    if (decodeBearerChallenge(reinterpret_cast<const char*>(data), size, decoded))
        require(decoded.status.size() <= 256 && decoded.schemes.size() <= 256 && decoded.scope.size() <= 256);
}

void httpReply(const uint8_t* data, size_t size)
{
    fuzzing::Pieces pieces(data, size);
    HttpReplyReader reader;
    HttpReplyReader::State state = HttpReplyReader::State::NeedMore;
    while (!pieces.done() && state == HttpReplyReader::State::NeedMore) {
        std::string piece = pieces.next();
        state = reader.feed(piece.data(), piece.size());
    }
    if (state == HttpReplyReader::State::NeedMore)
        state = reader.finish();
    require(reader.reply().body.size() <= HttpsPoster::maxBodyBytes);
    require((state == HttpReplyReader::State::Done) == (reader.error() == HttpsError::None));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    switch (data[0] % 3) {
    case 0:
        tokenReply(data + 1, size - 1);
        break;
    case 1:
        challenge(data + 1, size - 1);
        break;
    default:
        httpReply(data + 1, size - 1);
        break;
    }
    return 0;
}
