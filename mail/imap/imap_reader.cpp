#include "mail/imap/imap_reader.h"

#include <algorithm>
#include <cstring>

#include "mail/connection/connection.h"

namespace {

using Clock = std::chrono::steady_clock;

const uint64_t largestNumber = 0xFFFFFFFFu;
const int maxNumberDigits = 10;
// A wait for the server is cut into reads this long, to look at the interrupt between them.
const int waitSliceSeconds = 1;

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(const ImapToken& token)
{
    if (token.length == 0)
        return false;
    for (size_t at = 0; at < token.length; ++at)
        if (!isDigit(token.text[at]))
            return false;
    return true;
}

} // namespace

bool ImapToken::is(const char* word) const
{
    if ((kind != Kind::Atom && kind != Kind::Number) || cut || std::strlen(word) != length)
        return false;
    for (size_t at = 0; at < length; ++at)
        if (upper(text[at]) != upper(word[at]))
            return false;
    return true;
}

void ImapReader::reset()
{
    inputStart = inputEnd = 0;
    failure = ImapReadError::None;
    lineBytes = 0;
    cycleBytes = 0;
    untagged = 0;
    depth = 0;
    inCode = false;
    atLineStart = true;
    deadline = Clock::time_point::max();
}

void ImapReader::startCommand()
{
    untagged = 0;
    restartClock();
}

void ImapReader::restartClock()
{
    deadline = Clock::now() + std::chrono::milliseconds(responseMilliseconds);
}

bool ImapReader::refuse(ImapReadError why)
{
    if (failure == ImapReadError::None)
        failure = why;
    return false;
}

// One read into the empty buffer. Each read has the connection's own time limit; the
// response clock bounds a server that sends a byte now and then.
bool ImapReader::fill()
{
    if (Clock::now() > deadline)
        return refuse(ImapReadError::TooSlow);
    int count = source.read(input, readChunk);
    if (count <= 0)
        return refuse(ImapReadError::Stream);
    cycleBytes += static_cast<size_t>(count);
    if (cycleBytes > maxCycleBytes)
        return refuse(ImapReadError::CycleTooLong);
    inputStart = 0;
    inputEnd = count;
    return true;
}

bool ImapReader::peek(char& c)
{
    if (failure != ImapReadError::None || (inputStart == inputEnd && !fill()))
        return false;
    c = input[inputStart];
    return true;
}

bool ImapReader::take(char& c)
{
    if (!peek(c))
        return false;
    ++inputStart;
    if (++lineBytes > maxLineBytes)
        return refuse(ImapReadError::LineTooLong);
    return true;
}

bool ImapReader::skipSpaces(char& c)
{
    for (;;) {
        if (!peek(c))
            return false;
        if (c != ' ')
            return true;
        take(c);
    }
}

bool ImapReader::beginResponse(Start& start)
{
    if (!atLineStart && !skipResponse())
        return false;
    atLineStart = false;
    if (!readToken())
        return false;
    if (current.kind != ImapToken::Kind::Atom && current.kind != ImapToken::Kind::Number)
        return refuse(ImapReadError::Malformed);
    if (current.is("*")) {
        start = Start::Untagged;
        if (++untagged > maxUntaggedPerCommand)
            return refuse(ImapReadError::TooManyUntagged);
    } else {
        start = current.is("+") ? Start::Continuation : Start::Tagged;
    }
    return true;
}

// After a LineEnd the response is over: a further call repeats it rather than read on into
// the next response.
bool ImapReader::next()
{
    if (failure != ImapReadError::None)
        return false;
    if (atLineStart) {
        current.kind = ImapToken::Kind::LineEnd;
        return true;
    }
    return readToken();
}

bool ImapReader::readToken()
{
    char c;
    if (!skipSpaces(c))
        return false;
    current.length = 0;
    current.text[0] = '\0';
    current.cut = false;
    if (c == '\r' || c == '\n')
        return lineEnd(c);
    if (c == '\0')
        return refuse(ImapReadError::Malformed);
    if (c != '(' && c != ')' && c != '"' && c != '{' && !(c == ']' && inCode && depth == codeDepth))
        return atom();
    if (!take(c))
        return false;
    switch (c) {
    case '(':
        current.kind = ImapToken::Kind::ListOpen;
        return ++depth <= maxNestingDepth || refuse(ImapReadError::TooDeep);
    case ')':
        current.kind = ImapToken::Kind::ListClose;
        return depth-- > 0 || refuse(ImapReadError::Malformed);
    case '"':
        return quoted();
    case '{':
        return literal();
    default: // the "]" that closes the code
        inCode = false;
        current.kind = ImapToken::Kind::CodeEnd;
        return true;
    }
}

// CR LF, or LF alone. A list still open there is a broken response; a code still open is
// taken as closed, so that a server's odd text after "[" does not end the conversation.
bool ImapReader::lineEnd(char c)
{
    if (!take(c))
        return false;
    if (c == '\r' && (!take(c) || c != '\n'))
        return refuse(ImapReadError::Malformed);
    if (depth != 0)
        return refuse(ImapReadError::Malformed);
    current.kind = ImapToken::Kind::LineEnd;
    lineBytes = 0;
    inCode = false;
    atLineStart = true;
    return true;
}

bool ImapReader::isAtomEnd(char c) const
{
    return c == ' ' || c == '(' || c == ')' || c == '\r' || c == '\n' || (c == ']' && inCode && depth == codeDepth);
}

void ImapReader::keep(char c)
{
    if (current.length == ImapToken::maxTextBytes) {
        current.cut = true;
        return;
    }
    current.text[current.length++] = c;
    current.text[current.length] = '\0';
}

bool ImapReader::atom()
{
    current.kind = ImapToken::Kind::Atom;
    char c;
    for (;;) {
        if (!peek(c))
            return false;
        if (isAtomEnd(c))
            break;
        if (c == '\0')
            return refuse(ImapReadError::Malformed);
        take(c);
        keep(c);
    }
    if (failure != ImapReadError::None)
        return false;
    if (allDigits(current) && current.length <= static_cast<size_t>(maxNumberDigits)) {
        uint64_t value = 0;
        for (size_t at = 0; at < current.length; ++at)
            value = value * 10 + static_cast<uint64_t>(current.text[at] - '0');
        if (value <= largestNumber) {
            current.kind = ImapToken::Kind::Number;
            current.number = static_cast<uint32_t>(value);
        }
    }
    return true;
}

bool ImapReader::quoted()
{
    current.kind = ImapToken::Kind::String;
    char c;
    for (;;) {
        if (!take(c))
            return false;
        if (c == '"')
            return true;
        if (c == '\\' && !take(c))
            return false;
        if (c == '\r' || c == '\n' || c == '\0')
            return refuse(ImapReadError::Malformed);
        keep(c);
    }
}

// "{" is read: the size, an optional "+", "}", the line end, then that many bytes of any
// value. The size is refused as soon as its digits pass the bound, before any byte of it.
bool ImapReader::literal()
{
    uint64_t size = 0;
    int digits = 0;
    char c;
    while (peek(c) && isDigit(c)) {
        take(c);
        size = size * 10 + static_cast<uint64_t>(c - '0');
        if (size > maxLiteralBytes)
            return refuse(ImapReadError::LiteralTooLarge);
        ++digits;
    }
    if (failure != ImapReadError::None)
        return false;
    if (digits == 0)
        return refuse(ImapReadError::Malformed);
    if (c == '+')
        take(c);
    if (!take(c) || c != '}' || !take(c))
        return refuse(ImapReadError::Malformed);
    if (c == '\r' && (!take(c) || c != '\n'))
        return refuse(ImapReadError::Malformed);
    if (c != '\n')
        return refuse(ImapReadError::Malformed);
    return literalBytes(static_cast<uint32_t>(size));
}

// The literal's bytes, a buffer's run at a time; the first maxTextBytes are kept.
bool ImapReader::literalBytes(uint32_t size)
{
    current.kind = ImapToken::Kind::String;
    size_t left = size;
    while (left > 0) {
        if (inputStart == inputEnd && !fill())
            return false;
        size_t run = std::min(left, static_cast<size_t>(inputEnd - inputStart));
        size_t kept = std::min(run, ImapToken::maxTextBytes - current.length);
        std::memcpy(current.text + current.length, input + inputStart, kept);
        current.length += kept;
        current.text[current.length] = '\0';
        current.cut = current.cut || kept < run;
        inputStart += static_cast<int>(run);
        left -= run;
        lineBytes += run;
        if (lineBytes > maxLineBytes)
            return refuse(ImapReadError::LineTooLong);
    }
    return true;
}

bool ImapReader::beginCode(bool& found)
{
    found = false;
    char c;
    if (failure != ImapReadError::None || atLineStart)
        return failure == ImapReadError::None;
    if (!skipSpaces(c))
        return false;
    if (c != '[')
        return true;
    if (!take(c))
        return false;
    found = true;
    inCode = true;
    codeDepth = depth;
    return true;
}

bool ImapReader::skipText()
{
    char c;
    while (!atLineStart) {
        if (!take(c))
            return false;
        if (c == '\n') {
            lineBytes = 0;
            depth = 0;
            inCode = false;
            atLineStart = true;
            current.kind = ImapToken::Kind::LineEnd;
        }
    }
    return true;
}

bool ImapReader::skipResponse()
{
    while (!atLineStart)
        if (!next())
            return false;
    return true;
}

bool ImapReader::skipList()
{
    int outside = depth - 1;
    while (depth > outside)
        if (!next())
            return false;
    return true;
}

bool ImapReader::nextNumber(uint32_t& value)
{
    if (!next())
        return false;
    if (current.kind == ImapToken::Kind::Number) {
        value = current.number;
        return true;
    }
    bool digits = current.kind == ImapToken::Kind::Atom && allDigits(current);
    return refuse(digits ? ImapReadError::NumberTooLarge : ImapReadError::Malformed);
}

// One number of a set: 1 to 2^32 - 1 (a message number or UID is never 0).
bool ImapReader::readSetNumber(uint32_t& value)
{
    uint64_t number = 0;
    int digits = 0;
    char c;
    while (peek(c) && isDigit(c)) {
        take(c);
        number = number * 10 + static_cast<uint64_t>(c - '0');
        if (number > largestNumber)
            return refuse(ImapReadError::NumberTooLarge);
        ++digits;
    }
    if (failure != ImapReadError::None)
        return false;
    if (digits == 0 || number == 0)
        return refuse(ImapReadError::Malformed);
    value = static_cast<uint32_t>(number);
    return true;
}

bool ImapReader::readSequenceSet(std::vector<uint32_t>& numbers, size_t maxCount)
{
    char c;
    if (failure != ImapReadError::None || atLineStart || !skipSpaces(c))
        return refuse(ImapReadError::Malformed);
    for (;;) {
        uint32_t first = 0;
        uint32_t last = 0;
        if (!readSetNumber(first))
            return false;
        last = first;
        if (peek(c) && c == ':' && (!take(c) || !readSetNumber(last)))
            return false;
        if (first > last)
            std::swap(first, last);
        if (numbers.size() > maxCount || last - first >= maxCount - numbers.size())
            return refuse(ImapReadError::ListTooLong);
        for (uint64_t number = first; number <= last; ++number)
            numbers.push_back(static_cast<uint32_t>(number));
        if (!peek(c))
            return false;
        if (c != ',')
            return isAtomEnd(c) || refuse(ImapReadError::Malformed);
        if (!take(c))
            return false;
    }
}

std::chrono::system_clock::time_point ImapReader::systemWallClock()
{
    return std::chrono::system_clock::now();
}

ImapReader::Wait ImapReader::waitForInput(Clock::time_point until, const std::atomic<int>& interrupt)
{
    if (failure != ImapReadError::None)
        return Wait::Failed;
    if (holdsInput())
        return Wait::Input;
    const int connectSeconds = source.connectTimeoutSeconds();
    const int ioSeconds = source.ioTimeoutSeconds();
    source.setTimeouts(connectSeconds, waitSliceSeconds);
    Wait result = Wait::Failed;
    Clock::time_point sliceStart = Clock::now();
    std::chrono::system_clock::time_point wallStart = wallClock();
    for (;;) {
        Clock::time_point now = Clock::now();
        std::chrono::system_clock::time_point wallNow = wallClock();
        // Some monotonic clocks stop while the machine sleeps and some do not; the wall clock
        // always runs on. Either one far ahead of the slice means a sleep.
        const auto slept = std::chrono::seconds(sleptAfterSeconds);
        if (now - sliceStart > slept || wallNow - wallStart > slept) {
            result = Wait::Slept;
            break;
        }
        sliceStart = now;
        wallStart = wallNow;
        if (interrupt.load() != 0) {
            result = Wait::Interrupted;
            break;
        }
        if (now >= until) {
            result = Wait::TimeUp;
            break;
        }
        int count = source.read(input, readChunk);
        if (count > 0) {
            inputStart = 0;
            inputEnd = count;
            cycleBytes += static_cast<size_t>(count);
            result = cycleBytes > maxCycleBytes ? (refuse(ImapReadError::CycleTooLong), Wait::Failed) : Wait::Input;
            break;
        }
        if (source.lastError() != ConnectionError::TimedOut) {
            refuse(ImapReadError::Stream);
            break;
        }
    }
    source.setTimeouts(connectSeconds, ioSeconds);
    return result;
}
