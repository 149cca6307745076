#include "mail/imap/imap_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <openssl/crypto.h>

#include "mail/imap/imap_mailbox_name.h"
#include "mail/sign_in/sasl_oauth.h"

static_assert(ImapSession::maxSaslLineBytes >= (maxTokenLength + 1024) / 3 * 4 + 64,
              "a SASL line holds the base64 of any token that sasl_oauth encodes");

namespace {

// A quoted string carries 7-bit text without CR and LF (RFC 3501's QUOTED-CHAR); anything
// else goes as a literal.
bool isQuotable(const std::string& text)
{
    for (unsigned char c : text)
        if (c == 0 || c >= 0x80 || c == '\r' || c == '\n')
            return false;
    return true;
}

void noteCapability(const ImapToken& name, ImapCapabilities& listed)
{
    struct Known {
        const char* name;
        bool ImapCapabilities::*flag;
    };
    static const Known names[] = {
        {"STARTTLS", &ImapCapabilities::startTls},        {"LOGINDISABLED", &ImapCapabilities::loginDisabled},
        {"SASL-IR", &ImapCapabilities::saslIr},           {"LITERAL+", &ImapCapabilities::literalPlus},
        {"LITERAL-", &ImapCapabilities::literalMinus},    {"IDLE", &ImapCapabilities::idle},
        {"ESEARCH", &ImapCapabilities::esearch},          {"AUTH=PLAIN", &ImapCapabilities::authPlain},
        {"AUTH=XOAUTH2", &ImapCapabilities::authXoauth2}, {"AUTH=OAUTHBEARER", &ImapCapabilities::authOauthBearer},
    };
    for (const Known& known : names)
        if (name.is(known.name))
            listed.*known.flag = true;
}

// The compact form of ascending UIDs from `at` on ("1:4,7"), up to about `room` bytes;
// `at` moves past the UIDs it names.
std::string uidSet(const std::vector<uint32_t>& uids, size_t& at, size_t room)
{
    std::string set;
    while (at < uids.size() && set.size() < room) {
        size_t last = at;
        while (last + 1 < uids.size() && uids[last + 1] == uids[last] + 1)
            ++last;
        if (!set.empty())
            set += ',';
        set += std::to_string(uids[at]);
        if (last > at)
            set += ':' + std::to_string(uids[last]);
        at = last + 1;
    }
    return set;
}

} // namespace

// A command line in parts: each part but the last ends with a synchronizing literal's
// "{n}" CR LF, after which the server's "+" must come before the next part is sent.
class ImapSession::Command {
public:
    Command(const std::string& words, const ImapCapabilities& capabilities)
        : parts(1, words), literalPlus(capabilities.literalPlus), literalMinus(capabilities.literalMinus)
    {
    }

    Command& word(const std::string& text)
    {
        append(" " + text);
        return *this;
    }

    // A string as a quoted string when it can be one, else as a literal.
    Command& astring(const std::string& text)
    {
        if (text.find('\0') != std::string::npos) {
            refused = true;
            return *this;
        }
        if (isQuotable(text)) {
            std::string quoted = " \"";
            for (char c : text) {
                if (c == '"' || c == '\\')
                    quoted += '\\';
                quoted += c;
            }
            append(quoted + "\"");
            return *this;
        }
        bool withoutGoAhead = literalPlus || (literalMinus && text.size() <= maxLiteralMinusBytes);
        append(" {" + std::to_string(text.size()) + (withoutGoAhead ? "+" : "") + "}\r\n");
        if (!withoutGoAhead)
            parts.emplace_back();
        append(text);
        return *this;
    }

    bool sendable() const { return !refused && size + 2 <= maxCommandBytes; }

    std::vector<std::string> parts;

private:
    void append(const std::string& text)
    {
        parts.back() += text;
        size += text.size();
    }

    bool literalPlus;
    bool literalMinus;
    bool refused = false;
    size_t size = 0;
};

ImapSession::ImapSession() : reader(*this) {}

void ImapSession::beginStream()
{
    reader.reset();
    known = ImapCapabilities();
    selectedFolder = ImapFolder();
    preauthenticated = false;
    privateStream = false;
    folderChanged = false;
    tag[0] = '\0';
}

ImapStatus ImapSession::connect(const char* host, int port, ConnectionSecurity security)
{
    beginStream();
    serverHost = host != nullptr ? host : "";
    serverPort = port;
    if (!open(host, port, security))
        return ImapStatus::StreamFailed;
    ImapStatus greeted = readGreeting();
    if (greeted != ImapStatus::Ok || security != ConnectionSecurity::StartTls)
        return greeted;
    return startTls();
}

void ImapSession::adoptPrivateStream(BIO* connected)
{
    adopt(connected);
    beginStream();
    privateStream = true;
    serverHost = "localhost";
    serverPort = imapTlsPort;
}

ImapStatus ImapSession::readGreeting()
{
    reader.startCommand();
    ImapReader::Start start;
    if (!reader.beginResponse(start) || !reader.next())
        return outcome(Reply::Failed);
    const ImapToken& word = reader.token();
    if (start == ImapReader::Start::Untagged && word.is("BYE")) {
        reader.skipText();
        close();
        return ImapStatus::Bye;
    }
    preauthenticated = start == ImapReader::Start::Untagged && word.is("PREAUTH");
    if (start != ImapReader::Start::Untagged || (!preauthenticated && !word.is("OK"))) {
        reader.refuse(ImapReadError::Malformed);
        return outcome(Reply::Failed);
    }
    return readCode() ? ImapStatus::Ok : outcome(Reply::Failed);
}

// STARTTLS (RFC 2595, RFC 9051): only when listed, and never a login in plain text instead.
// A server that greets as logged in has skipped the step that would protect the login.
ImapStatus ImapSession::startTls()
{
    if (preauthenticated)
        return failStartTls();
    if (!known.read) {
        ImapStatus listed = readCapabilities();
        if (listed != ImapStatus::Ok)
            return listed == ImapStatus::No || listed == ImapStatus::Bad ? failStartTls() : listed;
    }
    if (!known.startTls)
        return failStartTls();
    Reply reply = run(Command("STARTTLS", known));
    if (reply == Reply::No || reply == Reply::Bad)
        return failStartTls();
    if (reply != Reply::Ok)
        return outcome(reply);
    // Bytes after the OK came in plain text, where anyone on the path could have put them, to
    // be read once TLS is up as if it had protected them.
    if (reader.holdsInput()) {
        reader.reset();
        failOpen(ConnectionError::TlsFailed);
        return ImapStatus::StreamFailed;
    }
    known = ImapCapabilities();
    if (!upgradeToTls())
        return ImapStatus::StreamFailed;
    return readCapabilities();
}

// A stream that broke or stalled keeps its reason; a server that answered has refused.
ImapStatus ImapSession::failStartTls()
{
    ConnectionError why = lastError();
    reader.reset();
    failOpen(why == ConnectionError::None ? ConnectionError::StartTlsNotOffered : why);
    return ImapStatus::StreamFailed;
}

ImapStatus ImapSession::readCapabilities()
{
    known = ImapCapabilities();
    ImapStatus status = outcome(run(Command("CAPABILITY", known)));
    if (status == ImapStatus::Ok && !known.read) {
        reader.refuse(ImapReadError::Malformed);
        return outcome(Reply::Failed);
    }
    return status;
}

// The capabilities read on this stream, asked for when they are not known yet.
ImapStatus ImapSession::ensureCapabilities()
{
    return known.read ? ImapStatus::Ok : readCapabilities();
}

ImapStatus ImapSession::logIn(const std::string& user, const std::string& password)
{
    if (preauthenticated)
        return ensureCapabilities(); // greeted as logged in: no login
    ImapStatus listed = ensureCapabilities();
    if (listed != ImapStatus::Ok)
        return listed;
    if (known.loginDisabled) {
        if (!known.authPlain)
            return ImapStatus::NotOffered;
        std::string response = plainInitialResponse(user, password);
        if (response.empty())
            return ImapStatus::Unsendable;
        return finishLogin(authenticate("PLAIN", response, "*"));
    }
    Command command("LOGIN", known);
    command.astring(user).astring(password);
    if (!command.sendable())
        return ImapStatus::Unsendable;
    known = ImapCapabilities(); // they change with the login
    return finishLogin(outcome(run(command), true));
}

ImapStatus ImapSession::logInWithToken(const std::string& user, const std::string& token)
{
    // A token opens the mailbox as a password does: never where anyone on the path reads it.
    if (!isTls() && !privateStream)
        return ImapStatus::NotOffered;
    if (preauthenticated)
        return ensureCapabilities(); // greeted as logged in: no login
    ImapStatus listed = ensureCapabilities();
    if (listed != ImapStatus::Ok)
        return listed;
    bool xoauth2 = known.authXoauth2;
    if (!xoauth2 && !known.authOauthBearer)
        return ImapStatus::NotOffered;
    std::string response =
        xoauth2 ? xoauth2InitialResponse(user, token) : oauthBearerInitialResponse(user, serverHost, serverPort, token);
    if (response.empty())
        return ImapStatus::Unsendable;
    return finishLogin(authenticate(xoauth2 ? "XOAUTH2" : "OAUTHBEARER", response, xoauth2 ? "" : "AQ=="));
}

// With SASL-IR the response rides on the command line; without, it follows the server's "+".
// A "+" after the response is an error challenge, answered with `errorAnswer` so that the
// server sends its NO.
ImapStatus ImapSession::authenticate(const char* mechanism, const std::string& response, const char* errorAnswer)
{
    bool initialResponse = known.saslIr;
    std::snprintf(tag, sizeof tag, "a%u", ++tagNumber);
    std::string line = std::string(tag) + " AUTHENTICATE " + mechanism;
    if (initialResponse)
        line += " " + response;
    if (line.size() + 2 > maxSaslLineBytes || response.size() + 2 > maxSaslLineBytes)
        return ImapStatus::Unsendable;
    known = ImapCapabilities();
    reader.startCommand();
    if (!send(line + "\r\n"))
        return outcome(Reply::Failed);
    Reply reply = Reply::Continuation;
    if (!initialResponse) {
        reply = awaitReply();
        if (reply != Reply::Continuation)
            return outcome(reply, true);
        if (!send(response + "\r\n"))
            return outcome(Reply::Failed);
    }
    reply = awaitReply();
    if (reply == Reply::Continuation) {
        if (!send(std::string(errorAnswer) + "\r\n"))
            return outcome(Reply::Failed);
        reply = awaitReply();
    }
    return outcome(reply, true);
}

// The capabilities after a login are the OK's [CAPABILITY ...], or asked for when it had none.
ImapStatus ImapSession::finishLogin(ImapStatus status)
{
    if (status != ImapStatus::Ok || known.read)
        return status;
    return readCapabilities();
}

ImapStatus ImapSession::examine(const std::string& folder, bool writable)
{
    selectedFolder = ImapFolder();
    selectedFolder.readOnly = !writable;
    std::string name = imapMailboxName(folder);
    Command command(writable ? "SELECT" : "EXAMINE", known);
    command.astring(name);
    if (name.empty() || !command.sendable())
        return ImapStatus::Unsendable;
    ImapStatus status = outcome(run(command));
    if (status != ImapStatus::Ok)
        return status;
    if (selectedFolder.uidValidity == 0) {
        reader.refuse(ImapReadError::Malformed);
        return outcome(Reply::Failed);
    }
    selectedFolder.selected = true;
    return ImapStatus::Ok;
}

ImapStatus ImapSession::search(const char* criteria)
{
    return outcome(run(Command(std::string("UID SEARCH ") + criteria, known)));
}

ImapStatus ImapSession::countUnseen(uint32_t& count)
{
    if (!selectedFolder.selected)
        return ImapStatus::NotOffered;
    count = 0;
    countTarget = &count;
    ImapStatus status = search(known.esearch ? "RETURN (COUNT) UNSEEN" : "UNSEEN");
    countTarget = nullptr;
    return status;
}

ImapStatus ImapSession::searchUids(ImapSearch which, std::vector<uint32_t>& uids)
{
    if (!selectedFolder.selected)
        return ImapStatus::NotOffered;
    uids.clear();
    searchTarget = &uids;
    const char* criteria = which == ImapSearch::All ? "ALL" : "UNSEEN";
    ImapStatus status = search((std::string(known.esearch ? "RETURN (ALL) " : "") + criteria).c_str());
    searchTarget = nullptr;
    if (status != ImapStatus::Ok) {
        uids.clear();
        return status;
    }
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    return status;
}

ImapStatus ImapSession::status(const std::string& folder, ImapFolderStatus& figures)
{
    figures = ImapFolderStatus();
    std::string name = imapMailboxName(folder);
    Command command("STATUS", known);
    command.astring(name).word("(MESSAGES UNSEEN UIDNEXT UIDVALIDITY)");
    if (name.empty() || !command.sendable())
        return ImapStatus::Unsendable;
    statusTarget = &figures;
    ImapStatus result = outcome(run(command));
    statusTarget = nullptr;
    return result;
}

ImapStatus ImapSession::idle(int seconds, IdleWake& wake)
{
    if (!known.idle || !selectedFolder.selected)
        return ImapStatus::NotOffered;
    if (seconds > maxIdleSeconds)
        seconds = maxIdleSeconds;
    reader.startCycle();
    folderChanged = false;
    std::snprintf(tag, sizeof tag, "a%u", ++tagNumber);
    reader.startCommand();
    if (!send(std::string(tag) + " IDLE\r\n"))
        return outcome(Reply::Failed);
    Reply reply = awaitReply();
    if (reply != Reply::Continuation) // an OK without the go-ahead is no IDLE either
        return outcome(reply == Reply::Ok ? Reply::Untagged : reply);
    idling.store(1);
    ImapStatus waited = waitIdle(wake, seconds);
    idling.store(0);
    if (waited != ImapStatus::Ok || wake == IdleWake::Dropped || wake == IdleWake::Slept)
        return waited;
    if (!send("DONE\r\n"))
        return outcome(Reply::Failed);
    reader.restartClock();
    return outcome(awaitReply());
}

// Responses while idling are untagged only; each must arrive whole within the response
// time limit once its first byte has come.
ImapStatus ImapSession::waitIdle(IdleWake& wake, int seconds)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!folderChanged) {
        switch (reader.waitForInput(until, idleStopRequested)) {
        case ImapReader::Wait::Input: {
            reader.restartClock();
            Reply reply = readResponse();
            if (reply == Reply::Untagged)
                continue;
            return outcome(reply == Reply::Bye || reply == Reply::Failed ? reply : Reply::Untagged);
        }
        case ImapReader::Wait::TimeUp:
            wake = IdleWake::TimeLimit;
            return ImapStatus::Ok;
        case ImapReader::Wait::Interrupted:
            wake = idleStopRequested.exchange(0) == endAndDrop ? IdleWake::Dropped : IdleWake::Ended;
            return ImapStatus::Ok;
        case ImapReader::Wait::Slept:
            wake = IdleWake::Slept;
            return ImapStatus::Ok;
        case ImapReader::Wait::Failed:
            return outcome(Reply::Failed);
        }
    }
    wake = IdleWake::Changed;
    return ImapStatus::Ok;
}

ImapStatus ImapSession::markSeen(const std::vector<uint32_t>& uids)
{
    if (!selectedFolder.selected || selectedFolder.readOnly)
        return ImapStatus::NotOffered;
    std::vector<uint32_t> ascending(uids);
    std::sort(ascending.begin(), ascending.end());
    ascending.erase(std::unique(ascending.begin(), ascending.end()), ascending.end());
    ascending.erase(std::remove(ascending.begin(), ascending.end(), 0u), ascending.end());
    const char words[] = " +FLAGS.SILENT (\\Seen)";
    const size_t room = maxCommandBytes - 64; // the tag, the words and the set's last range
    size_t at = 0;
    while (at < ascending.size()) {
        std::string set = uidSet(ascending, at, room - sizeof words);
        ImapStatus status = outcome(run(Command("UID STORE " + set + words, known)));
        if (status != ImapStatus::Ok)
            return status;
    }
    return ImapStatus::Ok;
}

ImapStatus ImapSession::fetchHeaders(const std::vector<uint32_t>& uids, std::vector<FetchedHeader>& headers)
{
    if (!selectedFolder.selected)
        return ImapStatus::NotOffered;
    std::vector<uint32_t> ascending(uids);
    std::sort(ascending.begin(), ascending.end());
    ascending.erase(std::unique(ascending.begin(), ascending.end()), ascending.end());
    ascending.erase(std::remove(ascending.begin(), ascending.end(), 0u), ascending.end());
    if (ascending.size() > maxFetchedHeaders)
        ascending.erase(ascending.begin(), ascending.end() - maxFetchedHeaders);
    if (ascending.empty())
        return ImapStatus::Ok;
    size_t at = 0;
    std::string set = uidSet(ascending, at, maxCommandBytes);
    std::string items = " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE)]<0." + std::to_string(headerFetchBytes) + ">)";
    fetchTarget = &headers;
    ImapStatus status = outcome(run(Command("UID FETCH " + set + items, known)));
    fetchTarget = nullptr;
    return status;
}

bool ImapSession::send(const std::string& text)
{
    int length = static_cast<int>(text.size());
    return write(text.data(), length) == length;
}

// Sends the command under a new tag, each literal's bytes after the server's go-ahead, and
// reads to its tagged reply.
ImapSession::Reply ImapSession::run(const Command& command)
{
    std::snprintf(tag, sizeof tag, "a%u", ++tagNumber);
    reader.startCommand();
    for (size_t part = 0; part < command.parts.size(); ++part) {
        bool last = part + 1 == command.parts.size();
        std::string text = (part == 0 ? std::string(tag) + " " : std::string()) + command.parts[part];
        if (!send(last ? text + "\r\n" : text))
            return Reply::Failed;
        if (!last) {
            Reply reply = awaitReply();
            if (reply != Reply::Continuation)
                return reply;
        }
    }
    Reply reply = awaitReply();
    if (reply == Reply::Continuation) {
        reader.refuse(ImapReadError::Malformed);
        return Reply::Failed;
    }
    return reply;
}

ImapSession::Reply ImapSession::awaitReply()
{
    for (;;) {
        Reply reply = readResponse();
        if (reply != Reply::Untagged)
            return reply;
    }
}

ImapSession::Reply ImapSession::readResponse()
{
    ImapReader::Start start;
    if (!reader.beginResponse(start))
        return Reply::Failed;
    if (start == ImapReader::Start::Continuation)
        return reader.skipText() ? Reply::Continuation : Reply::Failed;
    if (start == ImapReader::Start::Untagged)
        return handleUntagged();
    const ImapToken& word = reader.token();
    if (word.cut || std::strcmp(word.text, tag) != 0 || !reader.next()) {
        reader.refuse(ImapReadError::Malformed);
        return Reply::Failed;
    }
    Reply kind = word.is("OK") ? Reply::Ok : word.is("NO") ? Reply::No : word.is("BAD") ? Reply::Bad : Reply::Failed;
    if (kind == Reply::Failed) {
        reader.refuse(ImapReadError::Malformed);
        return Reply::Failed;
    }
    lastCode = Code::None;
    return readCode() ? kind : Reply::Failed;
}

ImapSession::Reply ImapSession::handleUntagged()
{
    if (!reader.next())
        return Reply::Failed;
    const ImapToken& word = reader.token();
    bool handled = true;
    if (word.kind == ImapToken::Kind::Number) {
        handled = handleNumbered(word.number);
    } else if (word.text[0] >= '0' && word.text[0] <= '9') {
        reader.refuse(ImapReadError::NumberTooLarge); // a message number past 32 bits
        return Reply::Failed;
    } else if (word.is("BYE")) {
        reader.skipText();
        close();
        return Reply::Bye;
    } else if (word.is("OK") || word.is("NO") || word.is("BAD")) {
        handled = readCode();
    } else if (word.is("CAPABILITY")) {
        handled = readCapabilityList(ImapToken::Kind::LineEnd);
    } else if (word.is("SEARCH")) {
        handled = handleSearch();
    } else if (word.is("ESEARCH")) {
        handled = handleEsearch();
    } else if (word.is("STATUS")) {
        handled = handleStatus();
    } else {
        handled = reader.skipResponse();
    }
    return handled ? Reply::Untagged : Reply::Failed;
}

// The response code after a status word, if any, then the text to the line's end.
bool ImapSession::readCode()
{
    bool found = false;
    if (!reader.beginCode(found))
        return false;
    if (found) {
        if (!reader.next())
            return false;
        const ImapToken& name = reader.token();
        bool read = true;
        if (name.is("CAPABILITY"))
            read = readCapabilityList(ImapToken::Kind::CodeEnd);
        else if (name.is("UIDVALIDITY"))
            read = reader.nextNumber(selectedFolder.uidValidity);
        else if (name.is("UIDNEXT"))
            read = reader.nextNumber(selectedFolder.uidNext);
        else if (name.is("READ-ONLY") || name.is("READ-WRITE"))
            selectedFolder.readOnly = name.is("READ-ONLY");
        else if (name.is("UNAVAILABLE"))
            lastCode = Code::Unavailable;
        while (read && reader.token().kind != ImapToken::Kind::CodeEnd &&
               reader.token().kind != ImapToken::Kind::LineEnd)
            read = reader.next();
        if (!read)
            return false;
    }
    return reader.skipText();
}

bool ImapSession::readCapabilityList(ImapToken::Kind end)
{
    ImapCapabilities listed;
    for (;;) {
        if (!reader.next())
            return false;
        const ImapToken& name = reader.token();
        if (name.kind == end || name.kind == ImapToken::Kind::LineEnd)
            break;
        noteCapability(name, listed);
    }
    listed.read = true;
    known = listed;
    return true;
}

bool ImapSession::handleNumbered(uint32_t number)
{
    if (!reader.next())
        return false;
    const ImapToken& word = reader.token();
    if (word.is("EXISTS")) {
        selectedFolder.exists = number;
        folderChanged = true;
    } else if (word.is("EXPUNGE")) {
        if (selectedFolder.exists > 0)
            --selectedFolder.exists;
        folderChanged = true;
    } else if (word.is("FETCH")) {
        folderChanged = true;
        if (fetchTarget != nullptr)
            return handleFetch();
    }
    return reader.skipResponse();
}

// "* 12 FETCH (UID 345 BODY[HEADER.FIELDS (FROM SUBJECT DATE)]<0> {n}...)": the UID and the
// section's string, read among whatever else the server puts in the list.
bool ImapSession::handleFetch()
{
    FetchedHeader fetched;
    bool afterSection = false;
    bool haveHeader = false;
    int depth = 0;
    for (;;) {
        if (!reader.next())
            return false;
        const ImapToken& item = reader.token();
        if (item.kind == ImapToken::Kind::LineEnd)
            break;
        depth += item.kind == ImapToken::Kind::ListOpen ? 1 : item.kind == ImapToken::Kind::ListClose ? -1 : 0;
        if (depth != 1 || item.kind == ImapToken::Kind::ListOpen)
            continue;
        if (item.kind == ImapToken::Kind::Atom && item.is("UID")) {
            if (!reader.nextNumber(fetched.uid))
                return false;
        } else if (item.kind == ImapToken::Kind::Atom && OPENSSL_strncasecmp(item.text, "BODY[", 5) == 0) {
            afterSection = true;
        } else if (afterSection && item.kind == ImapToken::Kind::String) {
            fetched.header.assign(item.text, item.length);
            haveHeader = true;
            afterSection = false;
        }
    }
    if (fetched.uid != 0 && haveHeader && fetchTarget->size() < maxFetchedHeaders)
        fetchTarget->push_back(fetched);
    return true;
}

// "* SEARCH 3 7 12", a number at a time; a (MODSEQ n) at the end is skipped.
bool ImapSession::handleSearch()
{
    for (;;) {
        if (!reader.next())
            return false;
        const ImapToken& item = reader.token();
        if (item.kind == ImapToken::Kind::LineEnd)
            return true;
        if (item.kind == ImapToken::Kind::ListOpen && !reader.skipList())
            return false;
        if (item.kind != ImapToken::Kind::Number)
            continue;
        if (countTarget != nullptr)
            ++*countTarget;
        if (searchTarget != nullptr) {
            if (searchTarget->size() >= maxListedUids)
                return reader.refuse(ImapReadError::ListTooLong);
            searchTarget->push_back(item.number);
        }
    }
}

// "* ESEARCH (TAG "a4") UID COUNT 3 ALL 2:4" (RFC 4731): taken only when its tag is ours.
bool ImapSession::handleEsearch()
{
    if (!reader.next())
        return false;
    bool ours = false;
    if (reader.token().kind == ImapToken::Kind::ListOpen) {
        if (!reader.next())
            return false;
        if (reader.token().is("TAG")) {
            if (!reader.next())
                return false;
            ours = !reader.token().cut && std::strcmp(reader.token().text, tag) == 0;
        }
        while (reader.token().kind != ImapToken::Kind::ListClose)
            if (!reader.next())
                return false;
        if (!reader.next())
            return false;
    }
    if (reader.token().is("UID") && !reader.next())
        return false;
    while (reader.token().kind != ImapToken::Kind::LineEnd) {
        const ImapToken& name = reader.token();
        bool read = true;
        uint32_t count = 0;
        if (name.is("COUNT")) {
            read = reader.nextNumber(count);
            if (read && ours && countTarget != nullptr)
                *countTarget = count;
        } else if (name.is("ALL") && ours && searchTarget != nullptr) {
            read = reader.readSequenceSet(*searchTarget, maxListedUids);
        } else {
            read = reader.next() && (reader.token().kind != ImapToken::Kind::ListOpen || reader.skipList());
        }
        if (!read || !reader.next())
            return false;
    }
    return true;
}

// "* STATUS INBOX (MESSAGES 3 UNSEEN 1 UIDNEXT 9 UIDVALIDITY 1)".
bool ImapSession::handleStatus()
{
    if (!reader.next() || !reader.next())
        return false;
    if (reader.token().kind != ImapToken::Kind::ListOpen)
        return reader.refuse(ImapReadError::Malformed);
    for (;;) {
        if (!reader.next())
            return false;
        if (reader.token().kind == ImapToken::Kind::ListClose)
            break;
        ImapToken::Kind kind = reader.token().kind;
        bool messages = reader.token().is("MESSAGES");
        bool unseen = reader.token().is("UNSEEN");
        bool uidNext = reader.token().is("UIDNEXT");
        bool uidValidity = reader.token().is("UIDVALIDITY");
        uint32_t value = 0;
        if (kind != ImapToken::Kind::Atom || !reader.nextNumber(value))
            return reader.refuse(ImapReadError::Malformed);
        if (statusTarget == nullptr)
            continue;
        if (messages)
            statusTarget->messages = value;
        else if (unseen)
            statusTarget->unseen = value;
        else if (uidNext)
            statusTarget->uidNext = value;
        else if (uidValidity)
            statusTarget->uidValidity = value;
    }
    return reader.skipResponse();
}

// A stream that failed keeps the connection's reason; a reply that broke a bound or the
// protocol ends the connection, whose state nobody knows any more.
ImapStatus ImapSession::outcome(Reply reply, bool login)
{
    switch (reply) {
    case Reply::Ok:
        return ImapStatus::Ok;
    case Reply::No:
        if (lastCode == Code::Unavailable)
            return ImapStatus::Unavailable;
        return login ? ImapStatus::LoginRefused : ImapStatus::No;
    case Reply::Bad:
        return ImapStatus::Bad;
    case Reply::Bye:
        return ImapStatus::Bye;
    case Reply::Untagged:
    case Reply::Continuation:
        reader.refuse(ImapReadError::Malformed); // a reply where none belongs
        break;
    case Reply::Failed:
        break;
    }
    if (reader.error() == ImapReadError::None || reader.error() == ImapReadError::Stream)
        return ImapStatus::StreamFailed;
    close();
    return ImapStatus::ReplyRefused;
}
