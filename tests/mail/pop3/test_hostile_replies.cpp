// What a broken or hostile server can send, in one table: each row is the server's side of a
// whole dialogue (greeting, USER, PASS, UIDL), fed from memory in the pieces given, and how
// far the session must get, which ids it keeps, and exactly what it writes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "mail/pop3/pop3_session.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/scripted_stream.h"

using mailtest::idsOf;
using testbench::ScriptedStream;

namespace {

enum class Reached { NoGreeting, NoLogin, ListingFailed, Listed };

using Ids = std::multiset<std::string>;

struct Row {
    const char* name;
    std::vector<std::string> server; // the pieces, in order; the stream ends after the last
    Reached reached;
    Ids ids = {}; // when Listed
    std::string sent = "USER alice\r\nPASS secret\r\nUIDL\r\n";
    std::string user = "alice";
    std::string password = "secret";
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

const std::string greeting = "+OK ready\r\n";
const std::string ok = "+OK\r\n";
const std::string sentBeforeUidl = "USER alice\r\nPASS secret\r\n";

// Greeting and login accepted, then `listing` after the UIDL status line.
std::vector<std::string> listing(const std::string& lines)
{
    return {greeting, ok, ok, "+OK\r\n" + lines};
}

std::string id(size_t length)
{
    return std::string(length, 'i');
}

std::string millionLines()
{
    std::string text;
    text.reserve(16u * 1000 * 1000);
    for (int i = 1; i <= 1000 * 1000; ++i)
        text += std::to_string(i) + " u" + std::to_string(i) + "\r\n";
    return text + ".\r\n";
}

std::vector<Row> rows()
{
    return {
        // Status lines
        {"StatusLineOf513Octets",
         {"+OK " + std::string(507, 's') + "\r\n", ok, ok, "+OK\r\n1 a\r\n.\r\n"},
         Reached::Listed,
         {"a"}},
        {"GreetingOf64KiBWithoutLineFeed",
         {"+OK " + std::string(64 * 1024, 's'), "\r\n", ok, ok},
         Reached::NoGreeting,
         {},
         ""},
        {"ListingStatusOf64KiBWithoutLineFeed",
         {greeting, ok, ok, "+OK " + std::string(64 * 1024, 's'), "\r\n.\r\n"},
         Reached::ListingFailed},
        {"LowerCaseOk", {"+ok ready\r\n"}, Reached::NoGreeting, {}, ""},
        {"OkayIsPositive", {"+OKAY\r\n", ok, ok, "+OK\r\n1 a\r\n.\r\n"}, Reached::Listed, {"a"}},
        {"InUseRefusesTheLogin", {greeting, ok, "-ERR [IN-USE] locked\r\n"}, Reached::NoLogin, {}, sentBeforeUidl},
        {"LoginDelayRefusesTheLogin",
         {greeting, ok, "-ERR [LOGIN-DELAY] wait\r\n"},
         Reached::NoLogin,
         {},
         sentBeforeUidl},
        // Bytes the client did not ask for: read as the next reply, never skipped silently.
        {"JunkAfterGreetingIsTheUserReply", {"+OK hi\r\nJUNK\r\n", ok, ok}, Reached::NoLogin, {}, "USER alice\r\n"},
        {"JunkAfterLoginIsTheListingReply",
         {greeting, ok, "+OK\r\nJUNK\r\n", "+OK\r\n1 a\r\n.\r\n"},
         Reached::ListingFailed},
        // Ids
        {"IdOf70And71And1023Kept",
         listing("1 " + id(70) + "\r\n2 " + id(71) + "\r\n3 " + id(1023) + "\r\n.\r\n"),
         Reached::Listed,
         {id(70), id(71), id(1023)}},
        {"IdOf1024AndOf100000Skipped",
         listing("1 " + id(1024) + "\r\n2 " + id(100000) + "\r\n3 b\r\n.\r\n"),
         Reached::Listed,
         {"b"}},
        {"IdEndsAtSpaceOrTab", listing("1 a b\r\n2 c\td\r\n.\r\n"), Reached::Listed, {"a", "c"}},
        {"NulBytesAreDropped", listing(std::string("1 e\0f\r\n\0.\r\n", 11)), Reached::Listed, {"ef"}},
        {"DeleteAndEightBitBytesKept",
         listing("1 g\x7fh\r\n2 \x80\xff\r\n.\r\n"),
         Reached::Listed,
         {"g\x7fh", "\x80\xff"}},
        {"EmptyIdSkipped", listing("1 \r\n2\r\n3 c\r\n.\r\n"), Reached::Listed, {"c"}},
        // Message numbers: only one that fits an int, with or without a sign, counts
        {"OddMessageNumbers",
         listing("0 zero\r\n-1 minus\r\nx nan\r\n4294967297 big\r\n2147483648 over\r\n2147483647 max\r\n.\r\n"),
         Reached::Listed,
         {"zero", "minus", "max"}},
        // Terminators and line ends
        {"LineFeedOnlyTerminatorIsNotTheEnd", listing("1 a\r\n.\n"), Reached::ListingFailed},
        {"DotSpaceIsNotTheEnd", listing("1 a\r\n. \r\n"), Reached::ListingFailed},
        {"StuffedDotIsNotTheEnd", listing("1 a\r\n..\r\n2 b\r\n.\r\n"), Reached::Listed, {"a", "b"}},
        {"StreamEndsBeforeTheDot", listing("1 a\r\n2 b\r\n"), Reached::ListingFailed},
        {"StreamEndsWithinTheTerminator", listing("1 a\r\n.\r"), Reached::ListingFailed},
        {"LineFeedOnlyLines", listing("1 a\n2 b\n.\r\n"), Reached::Listed, {"a", "b"}},
        {"BareCarriageReturnEndsTheId", listing("1 a\r2 b\r\n.\r\n"), Reached::Listed, {"a"}},
        // Credentials that a command line cannot carry are never sent, nor anything after them
        {"UserWithCarriageReturn", {greeting}, Reached::NoLogin, {}, "", "al\rice"},
        {"UserWithLineFeed", {greeting}, Reached::NoLogin, {}, "", "alice\nPASS x"},
        {"PasswordWithCarriageReturnLineFeed",
         {greeting, ok},
         Reached::NoLogin,
         {},
         "USER alice\r\n",
         "alice",
         "secret\r\nDELE 1"},
        {"UserTooLongForACommandLine", {greeting}, Reached::NoLogin, {}, "", std::string(250, 'u')},
        {"PasswordTooLongForACommandLine",
         {greeting, ok},
         Reached::NoLogin,
         {},
         "USER alice\r\n",
         "alice",
         std::string(249, 'p')},
    };
}

class HostileReplies : public ::testing::TestWithParam<Row> {};

TEST_P(HostileReplies, SessionStopsWhereItMustAndSendsOnlyWhatItMay)
{
    const Row& row = GetParam();
    ScriptedStream server(row.server);
    Pop3Session session;
    session.adopt(server.bio());
    Reached reached = Reached::NoGreeting;
    if (session.readReply(nullptr, 0)) {
        reached = Reached::NoLogin;
        if (session.logIn(row.user.c_str(), row.password.c_str()))
            reached = session.listUids() >= 0 ? Reached::Listed : Reached::ListingFailed;
    }
    EXPECT_EQ(static_cast<int>(reached), static_cast<int>(row.reached));
    if (row.reached == Reached::Listed) {
        EXPECT_EQ(idsOf(session.mailbox.current), row.ids);
        EXPECT_EQ(session.mailbox.totalCount, static_cast<int>(row.ids.size()));
    }
    if (row.reached == Reached::ListingFailed) {
        EXPECT_EQ(session.mailbox.current.size(), 0u);
    }
    session.close();
    EXPECT_EQ(server.written(), row.sent);
}

INSTANTIATE_TEST_SUITE_P(Table, HostileReplies, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// A million-line listing, and the terminator split at every byte of the last lines.
TEST(HostileListings, MillionLinesAreListed)
{
    ScriptedStream server(listing(millionLines()));
    Pop3Session session;
    session.adopt(server.bio());
    ASSERT_TRUE(session.readReply(nullptr, 0) && session.logIn("alice", "secret"));
    EXPECT_EQ(session.listUids(), 1000 * 1000);
}

TEST(HostileListings, TerminatorSplitAtEveryByteStillEndsTheListing)
{
    const std::string tail = "1 a.\r\n2 b\r\n.\r\n";
    Pop3Session session;
    for (size_t cut = 0; cut <= tail.size(); ++cut) {
        ScriptedStream server({greeting, ok, ok, "+OK\r\n" + tail.substr(0, cut), tail.substr(cut)});
        session.adopt(server.bio());
        ASSERT_TRUE(session.readReply(nullptr, 0) && session.logIn("alice", "secret"));
        EXPECT_EQ(session.listUids(), 2) << "cut at " << cut;
    }
}

} // namespace
