// The reply and listing reader fed arbitrary bytes. The input is the user name, the password
// and then the server's side of the dialogue as pieces (fuzz_input.h): each read of the
// session returns at most one piece, so the input decides where the stream splits. The
// session reads the greeting, logs in and lists twice (the second listing is whatever
// follows the first), marking as read in between.
//
// Checked besides memory safety: every command line the session writes is one line of at
// most 255 bytes with no CR or LF inside; a listing that succeeds leaves counts that agree
// with the lists, ids without white space, and only listed ids seen.
#include <openssl/bio.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "mail/pop3_session.h"

namespace {

struct Feed {
    std::vector<std::string> pieces;
    size_t next = 0;
    size_t offset = 0;
    std::string written;
};

int feedRead(BIO* bio, char* buffer, int size)
{
    Feed* feed = static_cast<Feed*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    while (feed->next < feed->pieces.size() && feed->offset == feed->pieces[feed->next].size()) {
        ++feed->next;
        feed->offset = 0;
    }
    if (feed->next == feed->pieces.size())
        return 0;  // end of stream
    const std::string& piece = feed->pieces[feed->next];
    size_t count = piece.size() - feed->offset;
    if (count > static_cast<size_t>(size))
        count = static_cast<size_t>(size);
    std::memcpy(buffer, piece.data() + feed->offset, count);
    feed->offset += count;
    return static_cast<int>(count);
}

int feedWrite(BIO* bio, const char* data, int length)
{
    static_cast<Feed*>(BIO_get_data(bio))->written.append(data, static_cast<size_t>(length));
    return length;
}

long feedControl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* feedMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "fuzz feed");
        BIO_meth_set_read(made, feedRead);
        BIO_meth_set_write(made, feedWrite);
        BIO_meth_set_ctrl(made, feedControl);
        return made;
    }();
    return method;
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool holdsWhiteSpace(const char* text)
{
    return std::strpbrk(text, " \t\r\n\v\f") != nullptr;
}

// Each written command is a whole line: CR LF only at its end, at most 255 bytes.
void checkCommands(const std::string& written)
{
    size_t start = 0;
    while (start < written.size()) {
        size_t lineFeed = written.find('\n', start);
        require(lineFeed != std::string::npos);
        size_t length = lineFeed + 1 - start;
        require(length >= 2 && length <= static_cast<size_t>(Pop3Session::maxCommandLength));
        require(written[lineFeed - 1] == '\r');
        require(written.find('\r', start) == lineFeed - 1);
        start = lineFeed + 1;
    }
}

void checkListing(Pop3Session& session)
{
    require(session.totalCount == static_cast<int>(session.current.size()));
    require(session.unseenCount >= 0 && session.unseenCount <= session.totalCount);
    for (const UidList::Node* node = session.current.head(); node != nullptr; node = node->next) {
        require(node->id.text != nullptr && node->id.text[0] != '\0');
        require(!holdsWhiteSpace(node->id.text));
        require(std::strlen(node->id.text) < static_cast<size_t>(Pop3Session::scratchSize));
    }
    for (const UidList::Node* node = session.seen.head(); node != nullptr; node = node->next)
        require(session.current.contains(node->id.text));
}

void startAfresh(Pop3Session& session)
{
    session.current.clear();
    session.seen.clear();
    session.notified.clear();
    session.totalCount = 0;
    session.unseenCount = 0;
    session.freshMail = 0;
    session.resetReader();
    session.setTimeouts(1, 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzing::Pieces input(data, size);
    std::string user = input.next();
    std::string password = input.next();
    Feed feed;
    while (!input.done())
        feed.pieces.push_back(input.next());

    BIO* stream = BIO_new(feedMethod());
    BIO_set_data(stream, &feed);
    BIO_set_init(stream, 1);
    {
        // Made once: a session loads the trusted certificates as it is made, which is slow.
        // Each input starts from empty lists and counts, as a freshly started program does.
        static Pop3Session session;
        startAfresh(session);
        session.adopt(stream);
        char rest[16];
        if (session.readReply(rest, sizeof rest) && session.login(user.c_str(), password.c_str())) {
            for (int listing = 0; listing < 2; ++listing) {
                if (session.listUids() >= 0)
                    checkListing(session);
                session.markAsRead();
                require(session.unseenCount == 0);
            }
        }
        session.close();  // frees the stream
    }
    checkCommands(feed.written);
    return 0;
}
