// What token endpoints send a sign-in, fed arbitrary bytes. The first byte chooses the reader:
// the token reply (JSON body, its status from the second byte), or the HTTP reply around a
// token reply (the rest as pieces, fuzz_input.h, so that the input decides where the stream
// splits).
//
// Checked besides memory safety: a token reply taken as tokens has a token fit to send and a
// positive lifetime; an HTTP body never passes its bound.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.h"
#include "mail/sign_in/http_reply_reader.h"
#include "mail/sign_in/token_endpoint.h"
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
    TokenResult reply;
    TokenOutcome outcome =
        parseTokenReply(status, std::string(reinterpret_cast<const char*>(data + 1), size - 1), reply);
    const OAuthTokens& tokens = reply.tokens;
    if (outcome == TokenOutcome::Tokens) {
        require(isSendableToken(tokens.accessToken));
        require(tokens.expiresInSeconds > 0 && tokens.expiresInSeconds <= maxTokenLifetimeSeconds);
        require(tokens.refreshToken.empty() || isSendableToken(tokens.refreshToken));
    } else {
        require(tokens.accessToken.empty() && tokens.refreshToken.empty());
    }
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
    if (data[0] % 2 == 0)
        tokenReply(data + 1, size - 1);
    else
        httpReply(data + 1, size - 1);
    return 0;
}
