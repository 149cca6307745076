#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

class Connection;

// Why the reader stopped reading. Every bound has a value of its own, so that what the server
// overstepped can be told.
enum class ImapReadError {
    None,
    Stream,          // the connection failed, timed out, was aborted or ended: lastError() tells
    Malformed,       // bytes that are no IMAP response (a NUL, an unbalanced parenthesis, ...)
    NumberTooLarge,  // a number where one is wanted that does not fit 32 bits
    LiteralTooLarge, // a literal announced larger than maxLiteralBytes
    LineTooLong,     // one response (its literals included) past maxLineBytes
    TooDeep,         // parentheses nested past maxNestingDepth
    TooManyUntagged, // more untagged responses than maxUntaggedPerCommand for one command
    CycleTooLong,    // more than maxCycleBytes read since the cycle began
    TooSlow,         // a response took longer than responseMilliseconds to arrive whole
    ListTooLong,     // a search answer naming more numbers than its reader takes
};

// One token of a response, as ImapReader::next() leaves it.
struct ImapToken {
    static const size_t maxTextBytes = 1024;

    enum class Kind {
        Atom,      // a run of bytes up to a space, parenthesis, line end (or ']' closing a code)
        Number,    // an atom of digits that fits 32 bits; text holds the digits too
        String,    // a quoted string (unescaped) or a literal's bytes
        ListOpen,  // "("
        ListClose, // ")"
        CodeEnd,   // the "]" that closes a response code
        LineEnd,   // the end of the response
    };
    Kind kind = Kind::LineEnd;
    uint32_t number = 0;
    // The atom's or string's first bytes, NUL-terminated; `cut` when there were more.
    char text[maxTextBytes + 1] = {};
    size_t length = 0;
    bool cut = false;

    // An atom (or number) whose whole text is `word`, ignoring the case of letters.
    bool is(const char* word) const;
};

// Reads IMAP responses (RFC 3501 and RFC 9051) from a Connection through one buffer that
// copes with any split of the stream, token by token, so that no response is ever held
// whole: a search answer of a million numbers on one line is read in readChunk pieces.
// Memory does not grow with what the server sends: the buffer, one token's text, and what a
// caller chooses to keep (readSequenceSet's numbers, up to the caller's bound).
//
// Every bound below ends the reading with its own error; after any error every call fails
// until the reader is reset. A response is read as: beginResponse, then next() (or the
// skip and code calls) up to its LineEnd.
class ImapReader {
public:
    static const int readChunk = 4096;
    // Literals carry mailbox names and unsolicited message data, never a body we ask for.
    static const uint32_t maxLiteralBytes = 64 * 1024;
    // A search answer is one line: 16 MiB holds the UIDs of about 1.5 million messages. Counted
    // as the bytes go by, never held.
    static const size_t maxLineBytes = 16u * 1024 * 1024;
    // BODYSTRUCTURE of a deep multipart message nests a few levels per part.
    static const int maxNestingDepth = 32;
    // Two per message of a 100,000-message mailbox: an expunge or flag change for each.
    static const int maxUntaggedPerCommand = 200 * 1000;
    static const size_t maxCycleBytes = 64u * 1024 * 1024;
    // However a response trickles in, it must be whole within this.
    static const int defaultResponseMilliseconds = 5 * 60 * 1000;

    enum class Start { Tagged, Untagged, Continuation };
    // Slept: a slice of the wait took far longer than itself by the monotonic or the wall
    // clock, so the machine slept meanwhile and the connection is most likely dead.
    enum class Wait { Input, TimeUp, Interrupted, Slept, Failed };
    using WallClock = std::chrono::system_clock::time_point (*)();
    // A wait slice longer than this by either clock was spent asleep. Slices take about a
    // second; a minute leaves room for a busy machine and for the clock's own corrections.
    static const int sleptAfterSeconds = 60;

    explicit ImapReader(Connection& source) : source(source) {}
    ImapReader(const ImapReader&) = delete;
    ImapReader& operator=(const ImapReader&) = delete;

    // Forgets buffered bytes and any error, for a new stream; starts a cycle.
    void reset();
    // The byte count against maxCycleBytes starts again.
    void startCycle() { cycleBytes = 0; }
    // The untagged count and the response clock start again, as a command is sent.
    void startCommand();
    // The response clock alone starts again, for a response that a wait announced.
    void restartClock();
    // True while bytes are buffered that no call has consumed yet.
    bool holdsInput() const { return inputStart < inputEnd; }

    // Reads the first token of the next response: "*", "+" or a tag, which token() then holds.
    bool beginResponse(Start& start);
    // Reads the next token of the current response into token().
    bool next();
    const ImapToken& token() const { return current; }
    // Consumes a "[" that follows, if one does (`found`); the code's name and arguments are
    // then read with next() up to CodeEnd.
    bool beginCode(bool& found);
    // Consumes the rest of the response as text (after a status word and its code).
    bool skipText();
    // Consumes the tokens up to the response's end, literals and lists included.
    bool skipResponse();
    // After a ListOpen: consumes the tokens up to its ListClose.
    bool skipList();
    // Reads the next token, which must be a number.
    bool nextNumber(uint32_t& value);
    // Reads a sequence set ("1:4,7,9:12") and appends each number it names to `numbers`,
    // at most `maxCount` in all (ListTooLong past that). Read byte by byte, never whole.
    bool readSequenceSet(std::vector<uint32_t>& numbers, size_t maxCount);
    // Waits for the first byte of a response until `until`, or until `interrupt` is set
    // (looked at about once a second), with the connection's abort in force as always, or
    // until a slice shows that the machine slept.
    Wait waitForInput(std::chrono::steady_clock::time_point until, const std::atomic<int>& interrupt);

    // Ends the reading with `why`, for a fault the caller found in what was read.
    bool refuse(ImapReadError why);
    ImapReadError error() const { return failure; }

    // Shortened by tests.
    int responseMilliseconds = defaultResponseMilliseconds;
    // The wall clock the wait compares the monotonic one with; tests make it jump.
    static std::chrono::system_clock::time_point systemWallClock();
    WallClock wallClock = &ImapReader::systemWallClock;

private:
    bool fill();
    bool peek(char& c);
    bool take(char& c);
    bool skipSpaces(char& c);
    bool lineEnd(char c);
    bool readSetNumber(uint32_t& value);
    bool readToken();
    bool atom();
    bool quoted();
    bool literal();
    bool literalBytes(uint32_t size);
    void keep(char c);
    bool isAtomEnd(char c) const;

    Connection& source;
    char input[readChunk];
    int inputStart = 0;
    int inputEnd = 0;
    ImapToken current;
    ImapReadError failure = ImapReadError::None;
    size_t lineBytes = 0;
    size_t cycleBytes = 0;
    int untagged = 0;
    int depth = 0;
    bool inCode = false;
    int codeDepth = 0; // the nesting at the "[", where "]" closes the code
    bool atLineStart = true;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};
