// The reply and listing reader fed arbitrary bytes. The input is the user name, the password
// and then the server's side of the dialogue as pieces (fuzz_input.h): each read of the
// session returns at most one piece, so the input decides where the stream splits. The
// session reads the greeting, logs in and lists twice (the second listing is whatever
// follows the first), marking as read in between. A user name that is an address (holds '@')
// logs in with the password as an access token (CAPA, AUTH, the continuations and the error
// challenge), over a stream taken as private, as a signed-in account does over TLS. A
// password of odd length has the session describe new mail (CAPA and TOP after the listing).
//
// Checked besides memory safety: every line the session writes is one line with no CR or LF
// inside, of at most 255 bytes (a SASL response line at most its own bound); a listing that
// succeeds leaves counts that agree with the lists, ids without white space, and only listed
// ids seen.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "mail/pop3/pop3_session.h"
#include "tests/support/scripted_stream.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool holdsWhiteSpace(const char* text)
{
    return std::strpbrk(text, " \t\r\n\v\f") != nullptr;
}

// Each written command is a whole line: CR LF only at its end, at most `maxLength` bytes.
void checkCommands(const std::string& written, size_t maxLength)
{
    size_t start = 0;
    while (start < written.size()) {
        size_t lineFeed = written.find('\n', start);
        require(lineFeed != std::string::npos);
        size_t length = lineFeed + 1 - start;
        require(length >= 2 && length <= maxLength);
        require(written[lineFeed - 1] == '\r');
        require(written.find('\r', start) == lineFeed - 1);
        start = lineFeed + 1;
    }
}

void checkListing(const Mailbox& mailbox)
{
    require(mailbox.totalCount == static_cast<int>(mailbox.current.size()));
    require(mailbox.unseenCount >= 0 && mailbox.unseenCount <= mailbox.totalCount);
    for (const char* id : mailbox.current) {
        require(id != nullptr && id[0] != '\0');
        require(!holdsWhiteSpace(id));
        require(std::strlen(id) < static_cast<size_t>(Pop3Session::scratchSize));
    }
    for (const char* id : mailbox.seen)
        require(mailbox.current.contains(id));
}

bool logIn(Pop3Session& session, const std::string& user, const std::string& password, bool withToken)
{
    if (withToken)
        return session.logInWithToken(user.c_str(), password) == TokenLogin::LoggedIn;
    return session.logIn(user.c_str(), password.c_str());
}

void startAfresh(Pop3Session& session)
{
    Mailbox& mailbox = session.mailbox;
    mailbox.current.clear();
    mailbox.seen.clear();
    mailbox.notified.clear();
    mailbox.totalCount = 0;
    mailbox.unseenCount = 0;
    mailbox.freshMail = 0;
    session.setTimeouts(1, 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzing::Pieces input(data, size);
    std::string user = input.next();
    std::string password = input.next();
    bool withToken = user.find('@') != std::string::npos;
    testbench::ScriptedStream server;
    while (!input.done())
        server.add(input.next());
    {
        // Made once: a session loads the trusted certificates as it is made, which is slow.
        // Each input starts from empty lists and counts, as a freshly started program does.
        static Pop3Session session;
        startAfresh(session);
        session.adoptPrivateStream(server.bio());
        session.describeNewMail = password.size() % 2 == 1;
        char rest[16];
        if (session.readReply(rest, sizeof rest) && logIn(session, user, password, withToken)) {
            for (int listing = 0; listing < 2; ++listing) {
                if (session.listUids() >= 0)
                    checkListing(session.mailbox);
                require(session.mailbox.takeCounts().previews.size() <= MessagePreviews::maxKept);
                session.mailbox.markAsRead();
                require(session.mailbox.unseenCount == 0);
            }
        }
        session.close(); // frees the stream
    }
    checkCommands(server.written(),
                  static_cast<size_t>(withToken ? Pop3Session::maxSaslLineLength : Pop3Session::maxCommandLength));
    return 0;
}
