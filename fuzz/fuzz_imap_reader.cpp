// The IMAP response reader, through the session, fed arbitrary bytes. The input is the user
// name, the password and then the server's side of the dialogue as pieces (fuzz_input.h):
// each read of the session returns at most one piece, so the input decides where the stream
// splits. The session reads the greeting, logs in (with the password as a token when the
// user name holds '@'), examines INBOX, counts the unseen messages, lists the UIDs, asks
// STATUS, fetches the header fields of the UIDs (for a user name of odd length), idles and
// marks the UIDs seen, each step only after the one before it succeeded.
//
// Checked besides memory safety: every line the session writes ends in CR LF and holds no
// other CR or LF, except inside a literal it announced; no line passes the session's bound;
// a listing is ascending, without 0, and within its bound.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "mail/imap/imap_session.h"
#include "tests/support/scripted_stream.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// Each line ends in CR LF; a literal's announcement "{n}" or "{n+}" at a line's end is
// followed by n bytes that may hold anything.
void checkCommands(const std::string& written)
{
    size_t start = 0;
    while (start < written.size()) {
        size_t lineFeed = written.find('\n', start);
        require(lineFeed != std::string::npos && lineFeed > start && written[lineFeed - 1] == '\r');
        require(written.find('\r', start) == lineFeed - 1);
        require(lineFeed + 1 - start <= ImapSession::maxSaslLineBytes);
        std::string line = written.substr(start, lineFeed - 1 - start);
        start = lineFeed + 1;
        size_t open = line.rfind('{');
        if (!line.empty() && line.back() == '}' && open != std::string::npos)
            start += std::strtoul(line.c_str() + open + 1, nullptr, 10);
    }
}

void checkListing(const std::vector<uint32_t>& uids)
{
    require(uids.size() <= ImapSession::maxListedUids);
    for (size_t at = 0; at < uids.size(); ++at)
        require(uids[at] != 0 && (at == 0 || uids[at - 1] < uids[at]));
}

void converse(ImapSession& session, const std::string& user, const std::string& password)
{
    bool withToken = user.find('@') != std::string::npos;
    if (session.readGreeting() != ImapStatus::Ok)
        return;
    ImapStatus login = withToken ? session.logInWithToken(user, password) : session.logIn(user, password);
    if (login != ImapStatus::Ok || session.examine("INBOX", password.size() % 2 == 1) != ImapStatus::Ok)
        return;
    uint32_t unseen = 0;
    std::vector<uint32_t> uids;
    ImapFolderStatus figures;
    IdleWake wake;
    if (session.countUnseen(unseen) != ImapStatus::Ok || session.searchUids(ImapSearch::All, uids) != ImapStatus::Ok)
        return;
    checkListing(uids);
    if (session.status("INBOX", figures) != ImapStatus::Ok)
        return;
    std::vector<FetchedHeader> headers;
    if (user.size() % 2 == 1 && session.fetchHeaders(uids, headers) != ImapStatus::Ok)
        return;
    require(headers.size() <= ImapSession::maxFetchedHeaders);
    ImapStatus idled = session.idle(1, wake);
    if (idled == ImapStatus::Ok || idled == ImapStatus::NotOffered)
        session.markSeen(uids);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzing::Pieces input(data, size);
    std::string user = input.next();
    std::string password = input.next();
    testbench::ScriptedStream server;
    while (!input.done())
        server.add(input.next());
    {
        // Made once: a session loads the trusted certificates as it is made, which is slow.
        static ImapSession session;
        session.setTimeouts(1, 1);
        session.adoptPrivateStream(server.bio());
        converse(session, user, password);
        session.close(); // frees the stream
    }
    checkCommands(server.written());
    return 0;
}
