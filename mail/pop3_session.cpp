#include "mail/pop3_session.h"

#include <cstring>

#include "util/decimal_text.h"

namespace {

const char positiveReply[] = "+OK";
const int statusLength = 3;

bool holdsLineBreak(const char* text)
{
    return std::strpbrk(text, "\r\n") != nullptr;
}

// Watches the end of a multi-line reply byte by byte: it is complete when it is the
// terminator line alone or ends with LF "." CR LF. Only the last four bytes are kept.
class TerminatorWatch {
public:
    bool complete(char c)
    {
        std::memmove(last, last + 1, sizeof last - 1);
        last[sizeof last - 1] = c;
        if (seen < sizeof last)
            ++seen;
        if (seen == 3 && std::memcmp(last + 1, ".\r\n", 3) == 0)
            return true;
        return seen == sizeof last && std::memcmp(last, "\n.\r\n", 4) == 0;
    }

private:
    char last[4] = {0, 0, 0, 0};
    size_t seen = 0;
};

// A listing line "number id": optional white space, a decimal number in the range of int
// with an optional sign, white space, then the id as the run up to the next white space.
bool scanListingLine(const char* line, const char* end, const char*& id, size_t& idLength)
{
    const char* p = line;
    DecimalNumber number;
    if (!scanDecimal(p, end, number) || !number.fitsInt || p == end || !isBlank(*p))
        return false;
    while (p < end && isBlank(*p))
        ++p;
    id = p;
    while (p < end && !isBlank(*p))
        ++p;
    idLength = static_cast<size_t>(p - id);
    return idLength > 0;
}

// Inserts every listed id at the front of `listed`; lines that do not scan are skipped, and
// so are ids too long for the scratch area.
void parseListing(const char* text, size_t length, UidList& listed)
{
    char id[Pop3Session::scratchSize];
    const char* end = text + length;
    for (const char* line = text; line < end;) {
        const char* lineEnd = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
        if (lineEnd == nullptr)
            lineEnd = end;
        const char* idStart;
        size_t idLength;
        if (scanListingLine(line, lineEnd, idStart, idLength) && idLength < sizeof id) {
            std::memcpy(id, idStart, idLength);
            id[idLength] = '\0';
            listed.insertFront(id);
        }
        line = lineEnd + 1;
    }
}

}  // namespace

Pop3Session::Pop3Session() = default;

Pop3Session::~Pop3Session()
{
    notified.clear();
    seen.clear();
    current.clear();
}

bool Pop3Session::connect(const char* host, int port, int useTls)
{
    discardInput();
    return open(host, port, useTls) && readReply(nullptr, 0);
}

// One read into the empty input buffer.
bool Pop3Session::fillInput()
{
    int count = read(input, readChunk);
    if (count <= 0)
        return false;
    inputStart = 0;
    inputEnd = count;
    return true;
}

bool Pop3Session::readReply(char* rest, int capacity)
{
    char status[statusLength];
    for (int have = 0; have < statusLength; ++have) {
        if (inputStart == inputEnd && !fillInput())
            return false;
        status[have] = input[inputStart++];
    }
    // A negative reply is not read further: the conversation ends with it.
    if (std::memcmp(status, positiveReply, statusLength) != 0)
        return false;
    return readRestOfLine(rest, capacity);
}

// Consumes the line up to its LF, keeping what fits in `rest`.
bool Pop3Session::readRestOfLine(char* rest, int capacity)
{
    int kept = 0;
    int consumed = statusLength;
    for (;;) {
        if (inputStart == inputEnd && !fillInput())
            return false;
        const char* start = input + inputStart;
        int available = inputEnd - inputStart;
        const char* lineFeed = static_cast<const char*>(std::memchr(start, '\n', static_cast<size_t>(available)));
        int take = lineFeed != nullptr ? static_cast<int>(lineFeed - start) + 1 : available;
        if (rest != nullptr && capacity > 0) {
            int room = capacity - 1 - kept;
            int copy = take < room ? take : room;
            std::memcpy(rest + kept, start, static_cast<size_t>(copy));
            kept += copy;
            rest[kept] = '\0';
        }
        inputStart += take;
        consumed += take;
        if (lineFeed != nullptr)
            return true;
        if (consumed > maxStatusLineBytes)
            return false;
    }
}

bool Pop3Session::sendCommand(const char* keyword, const char* argument)
{
    if (keyword == nullptr || holdsLineBreak(keyword) || (argument != nullptr && holdsLineBreak(argument)))
        return false;
    char line[maxCommandLength + 1];
    int length = argument != nullptr ? std::snprintf(line, sizeof line, "%s %s\r\n", keyword, argument)
                                     : std::snprintf(line, sizeof line, "%s\r\n", keyword);
    // A longer line would be cut, and a cut password must never reach the server.
    if (length <= 0 || length > maxCommandLength)
        return false;
    return write(line, length) == length;
}

bool Pop3Session::login(const char* user, const char* password)
{
    return sendCommand("USER", user) && readReply(nullptr, 0) &&
           sendCommand("PASS", password) && readReply(nullptr, 0);
}

bool Pop3Session::readMultiline(TextAccumulator& accumulator)
{
    char chunk[readChunk + 1];
    TerminatorWatch watch;
    size_t total = 0;
    for (;;) {
        if (inputStart == inputEnd && !fillInput())
            return false;
        int length = 0;
        bool complete = false;
        while (inputStart < inputEnd && !complete) {
            char c = input[inputStart++];
            if (c == '\0')
                continue;  // the accumulator holds NUL-terminated text
            chunk[length++] = c;
            complete = watch.complete(c);
        }
        chunk[length] = '\0';
        total += static_cast<size_t>(length);
        if (total > maxListingBytes)
            return false;
        accumulator.append(chunk);
        if (complete)
            return true;
    }
}

int Pop3Session::listUids()
{
    listingFailed = false;
    char scratch[scratchSize];
    if (!sendCommand("UIDL", nullptr) || !readReply(scratch, scratchSize))
        return failListing();
    // The last complete listing stays in `current` until a new one has fully arrived, so
    // that Mark As Read after a cut-short listing still marks what the user was shown.
    freshMail = 0;
    TextAccumulator accumulator;
    if (!readMultiline(accumulator))
        return failListing();
    size_t size = 0;
    char* text = accumulator.flatten(&size);
    accumulator.release();
    UidList listed;
    parseListing(text, size - 1, listed);
    delete[] text;
    {
        std::lock_guard<std::mutex> hold(listLock);
        current.swap(listed);
    }
    reconcile();
    std::lock_guard<std::mutex> hold(listLock);
    return totalCount;
}

int Pop3Session::failListing()
{
    listingFailed = true;
    return -1;
}
