#include "mail/pop3/pop3_session.h"

#include <chrono>
#include <climits>
#include <cstring>

#include <openssl/crypto.h>

#include "mail/headers/message_preview.h"
#include "mail/sign_in/sasl_oauth.h"
#include "util/copy_bounded.h"
#include "util/decimal_text.h"

namespace {

const char positiveReply[] = "+OK";
const int statusLength = 3;

bool holdsLineBreak(const char* text)
{
    return std::strpbrk(text, "\r\n") != nullptr;
}

bool beginsWith(const char* line, const char* prefix)
{
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// "+" alone or "+ " and text: the server waits for the client's next SASL line (RFC 5034).
bool isContinuation(const char* line)
{
    return line[0] == '+' && (line[1] == ' ' || line[1] == '\r' || line[1] == '\n');
}

// Enough of a reply line to tell "+OK", "-ERR" and a continuation apart; the rest is consumed.
const int replyStartSize = 8;
// Enough of a login reply for "-ERR" and its response code.
const int loginReplySize = 32;

// "-ERR [IN-USE]" (another client holds the mailbox), "[LOGIN-DELAY]" (too soon since the
// last login) and "[SYS/TEMP]" (a fault of the server's) pass by themselves; "[AUTH]", another
// code or none is a refusal.
bool saysTryLater(const char* line)
{
    if (!beginsWith(line, "-ERR "))
        return false;
    const char* code = line + 5;
    for (const char* temporary : {"[IN-USE]", "[LOGIN-DELAY]", "[SYS/TEMP]"})
        if (OPENSSL_strncasecmp(code, temporary, std::strlen(temporary)) == 0)
            return true;
    return false;
}

static_assert(Pop3Session::maxSaslLineLength >= (maxTokenLength + 1024) / 3 * 4 + 8,
              "a SASL line holds the base64 of any token that sasl_oauth encodes");

void upperCase(char* text)
{
    for (; *text != '\0'; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = static_cast<char>(*text - 'a' + 'A');
}

// One line of a CAPA reply: the capability's name, and for SASL the mechanism names after it.
void noteCapability(char* line, Pop3Capabilities& listed)
{
    line[std::strcspn(line, "\r\n")] = '\0';
    upperCase(line);
    char* arguments = line + std::strcspn(line, " ");
    if (*arguments != '\0')
        *arguments++ = '\0';
    if (std::strcmp(line, "STLS") == 0)
        listed.stls = true;
    else if (std::strcmp(line, "TOP") == 0)
        listed.top = true;
    else if (std::strcmp(line, "SASL") == 0)
        copyBounded(listed.sasl, sizeof listed.sasl, arguments);
}

// Scans one listing line "number id" as its bytes arrive, so that no line needs to be held
// whole: optional white space, a decimal number in the range of int with an optional sign,
// white space, then the id as the run up to the next white space; the rest is ignored. The
// terminator is the line "." CR alone. NUL bytes never belong to a line and are skipped.
class ListingLine {
public:
    explicit ListingLine(char (&idBuffer)[Pop3Session::scratchSize]) : id(idBuffer) {}

    // Takes the bytes of [p, end) up to the line's LF; returns where that LF is, or end.
    const char* feed(const char* p, const char* end)
    {
        while (p < end) {
            if (stage == Stage::Id) {
                p = takeIdRun(p, end);
                continue;
            }
            if (stage == Stage::Number && *p >= '0' && *p <= '9') {
                takeDigit(*p++);
                ++length;
                continue;
            }
            char c = *p;
            if (c == '\n')
                return p;
            ++p;
            if (c != '\0')
                take(c);
        }
        return end;
    }

    bool isTerminator() const { return terminatorSoFar && length == 2; }
    // The message number of a line that scanned (finishId true).
    int messageNumber() const { return negative ? -static_cast<int>(number) : static_cast<int>(number); }

    // At the line's end: true when it scanned and its id fits, which is then NUL-terminated.
    bool finishId()
    {
        if ((stage != Stage::Id && stage != Stage::AfterId) || idTooLong)
            return false;
        id[idLength] = '\0';
        return true;
    }

    void reset()
    {
        stage = Stage::BeforeNumber;
        negative = false;
        number = 0;
        idLength = 0;
        idTooLong = false;
        length = 0;
        terminatorSoFar = true;
    }

private:
    enum class Stage { BeforeNumber, Sign, Number, BeforeId, Id, AfterId, Refused };

    void take(char c)
    {
        terminatorSoFar = terminatorSoFar && length < 2 && c == ".\r"[length];
        ++length;
        switch (stage) {
        case Stage::BeforeNumber:
            if (c == '-' || c == '+') {
                negative = c == '-';
                stage = Stage::Sign;
            } else if (!isBlank(c)) {
                takeDigit(c);
            }
            break;
        case Stage::Sign:
            takeDigit(c);
            break;
        case Stage::Number:
            if (isBlank(c))
                stage = Stage::BeforeId;
            else
                takeDigit(c);
            break;
        case Stage::BeforeId:
            if (!isBlank(c)) {
                stage = Stage::Id;
                appendToId(&c, 1);
            }
            break;
        case Stage::Id:
        case Stage::AfterId:
        case Stage::Refused:
            break;
        }
    }

    void takeDigit(char c)
    {
        if (c < '0' || c > '9') {
            stage = Stage::Refused;
            return;
        }
        number = number * 10 + (c - '0');
        stage = number > static_cast<long long>(INT_MAX) + (negative ? 1 : 0) ? Stage::Refused : Stage::Number;
    }

    // The id's bytes in one run, up to white space (the LF included), a NUL or `end`.
    const char* takeIdRun(const char* p, const char* end)
    {
        const char* run = p;
        while (run < end && *run != '\0' && !isBlank(*run))
            ++run;
        appendToId(p, static_cast<size_t>(run - p));
        length += static_cast<int>(run - p);
        if (run < end && *run != '\0')
            stage = Stage::AfterId;
        if (run < end && *run != '\n')
            ++run; // the white space after the id, or a NUL, is consumed here
        return run;
    }

    void appendToId(const char* bytes, size_t count)
    {
        if (idTooLong || idLength + count >= static_cast<size_t>(Pop3Session::scratchSize)) {
            idTooLong = true;
            return;
        }
        std::memcpy(id + idLength, bytes, count);
        idLength += count;
    }

    char* id;
    Stage stage = Stage::BeforeNumber;
    bool negative = false;
    long long number = 0;
    size_t idLength = 0;
    bool idTooLong = false;
    int length = 0;
    bool terminatorSoFar = true;
};

} // namespace

bool Pop3Capabilities::offersSasl(const char* mechanism) const
{
    size_t length = std::strlen(mechanism);
    for (const char* name = sasl + std::strspn(sasl, " "); *name != '\0'; name += std::strspn(name, " ")) {
        size_t nameLength = std::strcspn(name, " ");
        if (nameLength == length && std::memcmp(name, mechanism, length) == 0)
            return true;
        name += nameLength;
    }
    return false;
}

bool Pop3Session::connect(const char* host, int port, ConnectionSecurity security)
{
    discardInput();
    known = Pop3Capabilities();
    privateStream = false;
    capabilitiesAfterLogin = false;
    copyBounded(serverHost, sizeof serverHost, host != nullptr ? host : "");
    serverPort = port;
    return open(host, port, security) && readReply(nullptr, 0) && secureStream(security);
}

// Between the greeting and the login. STARTTLS (RFC 2595): STLS only when CAPA lists it, and
// never a login in plain text instead; after its +OK, TLS before another byte is read, and
// what the server said in plain text forgotten.
bool Pop3Session::secureStream(ConnectionSecurity security)
{
    if (security != ConnectionSecurity::StartTls)
        return true;
    if (!readCapabilities() || !known.stls || !sendCommand("STLS", nullptr) || !readReply(nullptr, 0))
        return failStartTls();
    // Bytes after the +OK line came in plain text, where anyone on the path could have put
    // them, to be read once TLS is up as if it had protected them (a reply to USER, say).
    if (inputStart != inputEnd) {
        discardInput();
        failOpen(ConnectionError::TlsFailed);
        return false;
    }
    known = Pop3Capabilities();
    return upgradeToTls();
}

// A stream that broke or stalled keeps its reason; a server that answered has refused.
bool Pop3Session::failStartTls()
{
    ConnectionError why = lastError();
    discardInput();
    failOpen(why == ConnectionError::None ? ConnectionError::StartTlsNotOffered : why);
    return false;
}

bool Pop3Session::readCapabilities()
{
    known = Pop3Capabilities();
    if (!sendCommand("CAPA", nullptr) || !readReply(nullptr, 0))
        return false;
    Pop3Capabilities listed;
    char line[maxCapabilityLine + 1];
    for (int count = 0; count <= maxCapabilityLines; ++count) {
        if (!readRestOfLine(line, sizeof line, 0))
            return false;
        if (std::strcmp(line, ".\r\n") == 0) {
            listed.read = true;
            known = listed;
            return true;
        }
        noteCapability(line, listed);
    }
    return false;
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
    return readRestOfLine(rest, capacity, statusLength);
}

// Consumes the line up to its LF, keeping what fits in `rest`; `consumed` bytes of it are
// already read.
bool Pop3Session::readRestOfLine(char* rest, int capacity, int consumed)
{
    int kept = 0;
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
        lastLineBytes = consumed;
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

bool Pop3Session::logIn(const char* user, const char* password)
{
    busy = false;
    return sendCommand("USER", user) && readLoginReply() && sendCommand("PASS", password) && readLoginReply();
}

bool Pop3Session::readLoginReply()
{
    char line[loginReplySize];
    if (!readLine(line, sizeof line))
        return false;
    busy = saysTryLater(line);
    return beginsWith(line, positiveReply);
}

void Pop3Session::adoptPrivateStream(BIO* connected)
{
    adopt(connected);
    discardInput();
    known = Pop3Capabilities();
    privateStream = true;
}

const char* Pop3Session::tokenMechanism() const
{
    if (known.offersSasl("XOAUTH2"))
        return "XOAUTH2";
    if (known.offersSasl("OAUTHBEARER"))
        return "OAUTHBEARER";
    return nullptr;
}

TokenLogin Pop3Session::logInWithToken(const char* user, const std::string& token)
{
    busy = false;
    // A token opens the mailbox as a password does: never where anyone on the path reads it.
    if (!isTls() && !privateStream)
        return TokenLogin::NotOffered;
    if (!known.read && !readCapabilities())
        return TokenLogin::NotOffered;
    const char* mechanism = tokenMechanism();
    if (mechanism == nullptr)
        return TokenLogin::NotOffered;
    std::string address = user != nullptr ? user : "";
    std::string response = std::strcmp(mechanism, "XOAUTH2") == 0
                               ? xoauth2InitialResponse(address, token)
                               : oauthBearerInitialResponse(address, serverHost, serverPort, token);
    char line[replyStartSize];
    if (response.empty() || !sendCommand("AUTH", mechanism) || !readLine(line, sizeof line) || !isContinuation(line))
        return TokenLogin::Failed;
    char reply[loginReplySize];
    if (!sendLine(response) || !readLine(reply, sizeof reply))
        return TokenLogin::Failed;
    if (beginsWith(reply, positiveReply))
        return TokenLogin::LoggedIn;
    // An error challenge: the server waits for the client's answer before its -ERR; RFC 7628
    // asks OAUTHBEARER for %x01 (base64 "AQ=="), XOAUTH2 takes an empty line.
    const char* challengeAnswer = std::strcmp(mechanism, "OAUTHBEARER") == 0 ? "AQ==" : "";
    if (isContinuation(reply) && (!sendLine(challengeAnswer) || !readLine(reply, sizeof reply)))
        return TokenLogin::Failed;
    busy = saysTryLater(reply);
    if (busy)
        return TokenLogin::Busy;
    return beginsWith(reply, "-ERR") ? TokenLogin::Refused : TokenLogin::Failed;
}

// `text` and CR LF in one write, for SASL responses, which do not fit a command line.
bool Pop3Session::sendLine(const std::string& text)
{
    if (text.size() > static_cast<size_t>(maxSaslLineLength) - 2 || holdsLineBreak(text.c_str()))
        return false;
    std::string line = text + "\r\n";
    int length = static_cast<int>(line.size());
    return write(line.data(), length) == length;
}

bool Pop3Session::readListing()
{
    char id[scratchSize];
    ListingLine line(id);
    size_t received = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(listingMilliseconds);
    for (;;) {
        if (inputStart == inputEnd) {
            // Each read has its own time limit; this one bounds a server that trickles on.
            if (std::chrono::steady_clock::now() > deadline || !fillInput())
                return false;
        }
        // Every byte counts toward the cap, NULs included, so that no stream is endless.
        size_t available = static_cast<size_t>(inputEnd - inputStart);
        if (received == maxListingBytes)
            return false;
        if (available > maxListingBytes - received)
            available = maxListingBytes - received;
        const char* end = input + inputStart + available;
        // The mailbox's lists share one storage, which Mark As Read on the window's thread
        // changes too: locked for one buffer's lines at a time, never while waiting.
        Mailbox::ListingBatch batch(mailbox);
        for (const char* p = line.feed(input + inputStart, end); p < end; p = line.feed(p + 1, end)) {
            if (line.isTerminator()) {
                inputStart = static_cast<int>(p + 1 - input);
                return true;
            }
            if (line.finishId() && batch.add(id) && describeNewMail) // an id the storage cannot take is skipped
                lastListedNumbers[lastListedCount++ % MessagePreviews::maxKept] = line.messageNumber();
            line.reset();
        }
        inputStart += static_cast<int>(available);
        received += available;
    }
}

int Pop3Session::listUids()
{
    listingFailed = false;
    char scratch[scratchSize];
    if (!sendCommand("UIDL", nullptr) || !readReply(scratch, scratchSize))
        return failListing();
    mailbox.startListing();
    lastListedCount = 0;
    if (!mailbox.finishListing(readListing()))
        return failListing();
    if (describeNewMail)
        describeNewMessages();
    else
        mailbox.dropPreviews();
    // A long count gives up at a stop request, as the stream's waits do.
    if (!mailbox.reconcile([this] { return abortPending(); }))
        return failListing();
    return mailbox.totalCount; // written by reconcile alone, on this thread
}

int Pop3Session::failListing()
{
    listingFailed = true;
    return -1;
}

// Before the reconcile, so that the window hears of new mail and what it is about together.
// Newest first: new mail is listed last, and only the newest MessagePreviews::maxKept are
// kept anyway.
void Pop3Session::describeNewMessages()
{
    std::vector<DescribedMessage> described;
    size_t cycleBytes = 0;
    const size_t ring = MessagePreviews::maxKept;
    std::vector<std::string> newest = mailbox.newestListed(lastListedCount < ring ? lastListedCount : ring);
    for (size_t back = 1; back <= newest.size() && !abortPending(); ++back) {
        int number = lastListedNumbers[(lastListedCount - back) % ring];
        const std::string& id = newest[back - 1];
        if (number <= 0 || !mailbox.needsPreview(id.c_str()))
            continue;
        std::string header;
        TopReply reply = offersTop() ? readTop(number, header, cycleBytes) : TopReply::Failed;
        // A header past its bound is not asked for again: shown as without sender or subject.
        if (reply != TopReply::Failed)
            described.push_back(DescribedMessage{id, readMessagePreview(header.data(), header.size())});
        if (reply != TopReply::Read)
            break;
    }
    mailbox.addPreviews(described);
}

// TOP is optional (RFC 2449): used only when CAPA lists it, asked after the login, as what a
// server offers may change with it.
bool Pop3Session::offersTop()
{
    if (!known.top && !capabilitiesAfterLogin) {
        capabilitiesAfterLogin = true;
        readCapabilities();
    }
    return known.top;
}

// TOP n 0: the header lines, unstuffed, up to the terminator; what is past the kept bound is
// read and dropped. Anything but Read leaves the stream out of step: the describing ends, and
// the session is closed after the cycle anyway.
Pop3Session::TopReply Pop3Session::readTop(int number, std::string& header, size_t& cycleBytes)
{
    char argument[24];
    std::snprintf(argument, sizeof argument, "%d 0", number);
    if (!sendCommand("TOP", argument) || !readReply(nullptr, 0))
        return TopReply::Failed;
    size_t replyBytes = 0;
    char line[scratchSize];
    for (;;) {
        if (!readRestOfLine(line, sizeof line, 0))
            return TopReply::Failed;
        replyBytes += static_cast<size_t>(lastLineBytes);
        cycleBytes += static_cast<size_t>(lastLineBytes);
        if (cycleBytes > maxTopBytesPerCycle)
            return TopReply::Failed;
        if (replyBytes > maxTopReplyBytes)
            return TopReply::TooLong;
        if (std::strcmp(line, ".\r\n") == 0 || std::strcmp(line, ".\n") == 0)
            return TopReply::Read;
        const char* text = line[0] == '.' ? line + 1 : line;
        if (header.size() < MessagePreviewBounds::maxHeaderBytes) {
            header.append(text, std::strlen(text));
            if (header.back() != '\n')
                header += '\n'; // the rest of a cut line is dropped, the next one stays its own
        }
    }
}
