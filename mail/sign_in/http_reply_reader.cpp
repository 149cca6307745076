#include "mail/sign_in/http_reply_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <openssl/crypto.h>

namespace {

const size_t maxChunkSizeLine = 256;

// The value of header `name` in the head's lines (after the status line), or false.
bool headerValue(const std::string& head, const char* name, std::string& value)
{
    size_t nameLength = std::strlen(name);
    size_t at = head.find("\r\n");
    while (at != std::string::npos && at + 2 < head.size()) {
        size_t start = at + 2;
        size_t end = head.find("\r\n", start);
        if (end == std::string::npos)
            end = head.size();
        if (end - start > nameLength && head[start + nameLength] == ':' &&
            OPENSSL_strncasecmp(head.c_str() + start, name, nameLength) == 0) {
            size_t first = head.find_first_not_of(" \t", start + nameLength + 1);
            size_t last = head.find_last_not_of(" \t", end - 1);
            value = first < end && last != std::string::npos && last >= first ? head.substr(first, last - first + 1)
                                                                              : std::string();
            return true;
        }
        at = end;
    }
    return false;
}

// "HTTP/1.1 200 Reason": the status, or 0 for anything else.
int statusOf(const std::string& head)
{
    if (head.size() < 12 || head.compare(0, 7, "HTTP/1.") != 0 || head[8] != ' ')
        return 0;
    for (int i = 9; i < 12; ++i)
        if (head[i] < '0' || head[i] > '9')
            return 0;
    if (head.size() > 12 && head[12] != ' ' && head[12] != '\r')
        return 0;
    return std::atoi(head.substr(9, 3).c_str());
}

bool endsWithChunked(const std::string& codings)
{
    const char chunked[] = "chunked";
    size_t length = sizeof chunked - 1;
    return codings.size() >= length && OPENSSL_strcasecmp(codings.c_str() + codings.size() - length, chunked) == 0 &&
           (codings.size() == length || codings[codings.size() - length - 1] == ' ' ||
            codings[codings.size() - length - 1] == ',');
}

} // namespace

HttpReplyReader::State HttpReplyReader::fail(HttpsError why)
{
    stage = Stage::Failed;
    failure = why;
    return State::Failed;
}

HttpReplyReader::State HttpReplyReader::feed(const char* data, size_t length)
{
    if (stage == Stage::Done)
        return State::Done;
    if (stage == Stage::Failed)
        return State::Failed;
    pending.append(data, length);
    return stage == Stage::Head ? readHead() : readBody();
}

HttpReplyReader::State HttpReplyReader::finish()
{
    if (stage == Stage::ToEnd) {
        stage = Stage::Done;
        return State::Done;
    }
    if (stage == Stage::Done)
        return State::Done;
    return fail(stage == Stage::Failed ? failure : HttpsError::BadReply);
}

// Informational heads (1xx) are passed over; the final head decides how the body ends.
HttpReplyReader::State HttpReplyReader::readHead()
{
    for (;;) {
        size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos)
            return pending.size() > HttpsPoster::maxHeadBytes ? fail(HttpsError::ReplyTooLarge) : State::NeedMore;
        if (end + 4 > HttpsPoster::maxHeadBytes)
            return fail(HttpsError::ReplyTooLarge);
        std::string head = pending.substr(0, end + 2);
        pending.erase(0, end + 4);
        result.status = statusOf(head);
        if (result.status < 100)
            return fail(HttpsError::BadReply);
        if (result.status >= 200)
            return startBody(head);
    }
}

HttpReplyReader::State HttpReplyReader::startBody(const std::string& head)
{
    std::string value;
    if (result.status == 204 || result.status == 304) {
        stage = Stage::Done;
    } else if (headerValue(head, "Transfer-Encoding", value)) {
        if (!endsWithChunked(value))
            return fail(HttpsError::BadReply);
        stage = Stage::ChunkSize;
    } else if (headerValue(head, "Content-Length", value)) {
        if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
            return fail(value.size() > 9 ? HttpsError::ReplyTooLarge : HttpsError::BadReply);
        remaining = static_cast<size_t>(std::atol(value.c_str()));
        if (remaining > HttpsPoster::maxBodyBytes)
            return fail(HttpsError::ReplyTooLarge);
        stage = remaining == 0 ? Stage::Done : Stage::Sized;
    } else {
        stage = Stage::ToEnd;
    }
    return readBody();
}

bool HttpReplyReader::takeLine(std::string& line)
{
    size_t end = pending.find("\r\n");
    if (end == std::string::npos)
        return false;
    line = pending.substr(0, end);
    pending.erase(0, end + 2);
    return true;
}

HttpReplyReader::State HttpReplyReader::appendBody(size_t length)
{
    if (result.body.size() + length > HttpsPoster::maxBodyBytes)
        return fail(HttpsError::ReplyTooLarge);
    result.body.append(pending, 0, length);
    pending.erase(0, length);
    return State::NeedMore;
}

HttpReplyReader::State HttpReplyReader::readBody()
{
    std::string line;
    for (;;) {
        switch (stage) {
        case Stage::Done:
            return State::Done;
        case Stage::ToEnd:
            if (appendBody(pending.size()) == State::Failed)
                return State::Failed;
            return State::NeedMore;
        case Stage::Sized:
        case Stage::ChunkData: {
            size_t take = std::min(remaining, pending.size());
            if (take == 0)
                return State::NeedMore;
            if (appendBody(take) == State::Failed)
                return State::Failed;
            remaining -= take;
            if (remaining == 0)
                stage = stage == Stage::Sized ? Stage::Done : Stage::ChunkDataEnd;
            break;
        }
        case Stage::ChunkDataEnd:
            if (!takeLine(line))
                return pending.size() >= 2 ? fail(HttpsError::BadReply) : State::NeedMore;
            if (!line.empty())
                return fail(HttpsError::BadReply);
            stage = Stage::ChunkSize;
            break;
        case Stage::ChunkSize: {
            if (!takeLine(line))
                return pending.size() > maxChunkSizeLine ? fail(HttpsError::BadReply) : State::NeedMore;
            std::string size = line.substr(0, line.find(';'));
            while (!size.empty() && (size.back() == ' ' || size.back() == '\t'))
                size.pop_back();
            if (size.empty() || size.size() > 8 ||
                size.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return fail(HttpsError::BadReply);
            remaining = static_cast<size_t>(std::strtoul(size.c_str(), nullptr, 16));
            if (remaining > HttpsPoster::maxBodyBytes)
                return fail(HttpsError::ReplyTooLarge);
            stage = remaining == 0 ? Stage::Trailer : Stage::ChunkData;
            break;
        }
        case Stage::Trailer:
            if (!takeLine(line))
                return pending.size() > HttpsPoster::maxHeadBytes ? fail(HttpsError::ReplyTooLarge) : State::NeedMore;
            if (line.empty())
                stage = Stage::Done;
            break;
        default:
            return State::Failed;
        }
    }
}
