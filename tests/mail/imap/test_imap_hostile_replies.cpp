// What a broken or hostile IMAP server can send, in one table: each row is the server's side
// of a whole dialogue (greeting, login, EXAMINE, unseen count, UID list, IDLE), fed from
// memory, and the step where the session must stop, with which status and which bound.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "mail/imap/imap_mail_session.h"
#include "mail/imap/imap_session.h"
#include "mail/sign_in/sasl_oauth.h"
#include "tests/support/scripted_stream.h"

using testbench::ScriptedStream;
using Status = ImapStatus;
using Why = ImapReadError;

namespace {

enum class Step { Greeting, StartTls, Login, Examine, Unseen, List, Idle, Done };

// The server's replies, one per step, as a well-behaved server sends them.
struct Replies {
    std::string greeting = "* OK [CAPABILITY IMAP4rev1 IDLE LITERAL+] ready\r\n";
    std::string login = "a1 OK [CAPABILITY IMAP4rev1 IDLE] in\r\n";
    std::string examine = "* 3 EXISTS\r\n* OK [UIDVALIDITY 7] v\r\na2 OK [READ-ONLY] done\r\n";
    std::string unseen = "* SEARCH 2\r\na3 OK\r\n";
    std::string list = "* SEARCH 1 2 3\r\na4 OK\r\n";
    std::string idle = "+ idling\r\n* 4 EXISTS\r\na5 OK\r\n";
};

const std::string unchecked = "<not checked>";

struct Row {
    const char* name;
    // The server's pieces, made when the row runs: some are tens of megabytes.
    std::function<std::vector<std::string>()> server;
    Step stops; // Done: every step went through
    ImapStatus status = ImapStatus::Ok;
    ImapReadError why = ImapReadError::None;
    size_t listed = 3;            // when Done
    std::string sent = unchecked; // all the session wrote
    std::string user = "alice";
    std::string password = "secret";
    bool token = false;    // log in with the password as a token
    bool startTls = false; // STARTTLS after the greeting
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

const int stepCount = 6;

std::string Replies::*const fields[stepCount] = {&Replies::greeting, &Replies::login, &Replies::examine,
                                                 &Replies::unseen,   &Replies::list,  &Replies::idle};

int indexOf(Step step)
{
    return step == Step::StartTls ? 1 : step >= Step::Login ? static_cast<int>(step) - 1 : 0;
}

using Pieces = std::function<std::vector<std::string>()>;

// A reply's text, or what makes it when the row runs.
struct Text {
    Text(std::string text) : make([text] { return text; }) {}
    Text(const char* text) : Text(std::string(text)) {}
    Text(std::function<std::string()> make) : make(std::move(make)) {}
    std::function<std::string()> make;
};

// The replies up to `step`, with `text` as that step's reply, and then the stream ends.
Pieces endingAt(Step step, Text text, Replies replies = Replies())
{
    return [=] {
        std::vector<std::string> pieces;
        for (int at = 0; at < indexOf(step); ++at)
            pieces.push_back(replies.*fields[at]);
        pieces.push_back(text.make());
        return pieces;
    };
}

// Every reply as usual but `step`'s.
Pieces replacing(Step step, Text text, Replies replies = Replies())
{
    return [=] {
        Replies changed = replies;
        changed.*fields[indexOf(step)] = text.make();
        std::vector<std::string> pieces;
        for (std::string Replies::*field : fields)
            pieces.push_back(changed.*field);
        return pieces;
    };
}

Text lazy(std::string (*make)())
{
    return Text(std::function<std::string()>(make));
}

Pieces byteByByte(Pieces whole)
{
    return [whole] {
        std::vector<std::string> bytes;
        for (const std::string& piece : whole())
            for (char c : piece)
                bytes.push_back(std::string(1, c));
        return bytes;
    };
}

std::string repeated(const std::string& text, size_t times)
{
    std::string all;
    all.reserve(text.size() * times);
    for (size_t i = 0; i < times; ++i)
        all += text;
    return all;
}

std::string searchOf(uint32_t count)
{
    std::string line = "* SEARCH";
    for (uint32_t uid = 1; uid <= count; ++uid)
        line += " " + std::to_string(uid);
    return line + "\r\na4 OK\r\n";
}

std::string nested(int depth)
{
    return "* 1 FETCH " + std::string(depth, '(') + std::string(depth, ')') + "\r\n";
}

const std::string examineTail = "* OK [UIDVALIDITY 7] v\r\na2 OK done\r\n";
const int untaggedBound = ImapReader::maxUntaggedPerCommand;

Replies tokenServer(const char* capabilities)
{
    Replies replies;
    replies.greeting = std::string("* OK [CAPABILITY IMAP4rev1 ") + capabilities + "] ready\r\n";
    return replies;
}

std::vector<Row> rows()
{
    const std::string challenge = "+ eyJzdGF0dXMiOiI0MDEifQ==\r\n";
    Replies plainOnly = tokenServer("LOGINDISABLED AUTH=PLAIN SASL-IR");
    Replies esearch;
    esearch.login = "a1 OK [CAPABILITY IMAP4rev1 IDLE ESEARCH] in\r\n";
    esearch.unseen = "* ESEARCH (TAG \"a3\") UID COUNT 2\r\na3 OK\r\n";
    esearch.list = "* ESEARCH (TAG \"zz\") UID ALL 5:9\r\n* ESEARCH (TAG \"a4\") UID ALL 1:99999,100001\r\na4 OK\r\n";
    Replies literalNeeded;
    literalNeeded.greeting = "* OK [CAPABILITY IMAP4rev1] ready\r\n";
    literalNeeded.login = "+ go on\r\na1 OK [CAPABILITY IMAP4rev1 IDLE] in\r\n";
    Replies startTls = tokenServer("STARTTLS LOGINDISABLED");
    Replies preauth;
    preauth.greeting = "* PREAUTH hi\r\n";
    return {
        // Splits and what a well-behaved server may send
        {"EveryByteInAReadOfItsOwnWithADripDuringIdle",
         byteByByte(replacing(Step::Idle, "+ idling\r\n* OK Still here\r\n* OK Still here\r\n* 4 EXISTS\r\na5 OK\r\n")),
         Step::Done},
        {"SearchOf100000UidsOnOneLine",
         replacing(Step::List, lazy([] { return searchOf(100000); })),
         Step::Done,
         {},
         {},
         100000},
        {"EsearchRangesOfThisCommandOnly", replacing(Step::List, esearch.list, esearch), Step::Done, {}, {}, 100000},
        {"LiteralOfTheBoundIsRead",
         replacing(Step::Examine, "* 1 FETCH (BODY[] {65536}\r\n" + std::string(65536, 'x') + ")\r\n" + examineTail),
         Step::Done},
        {"NestingAtTheBoundIsRead", replacing(Step::Examine, nested(32) + examineTail), Step::Done},
        {"UntaggedRepliesUpToTheBound",
         replacing(Step::Examine, lazy([] { return repeated("* 1 EXISTS\r\n", untaggedBound - 1) + examineTail; })),
         Step::Done},
        // Bounds
        {"LiteralLongerThanTheStream", endingAt(Step::Examine, "* 1 FETCH (BODY[] {100}\r\nshort)\r\n"), Step::Examine,
         Status::StreamFailed, Why::Stream},
        {"LiteralOneByteOverTheBound",
         endingAt(Step::Examine, "* 1 FETCH (BODY[] {65537}\r\n" + std::string(65537, 'x')), Step::Examine,
         Status::ReplyRefused, Why::LiteralTooLarge},
        {"LiteralSizeOfTwentyDigits", endingAt(Step::Examine, "* 1 FETCH (BODY[] {99999999999999999999}\r\n"),
         Step::Examine, Status::ReplyRefused, Why::LiteralTooLarge},
        {"FloodOfExists",
         endingAt(Step::Examine, lazy([] { return repeated("* 1 EXISTS\r\n", untaggedBound) + examineTail; })),
         Step::Examine, Status::ReplyRefused, Why::TooManyUntagged},
        {"NestingPastTheBound", endingAt(Step::Examine, nested(33) + examineTail), Step::Examine, Status::ReplyRefused,
         Why::TooDeep},
        {"LineWithoutEnd",
         endingAt(Step::Examine, lazy([] { return "* OK " + std::string(ImapReader::maxLineBytes, 'x'); })),
         Step::Examine, Status::ReplyRefused, Why::LineTooLong},
        {"EndlessReplies",
         endingAt(Step::Examine, lazy([] { return repeated("* OK " + std::string(1024 * 1024, 'x') + "\r\n", 65); })),
         Step::Examine, Status::ReplyRefused, Why::CycleTooLong},
        {"EsearchPastTheListBound",
         replacing(Step::List, "* ESEARCH (TAG \"a4\") UID ALL 1:4294967295\r\na4 OK\r\n", esearch), Step::List,
         Status::ReplyRefused, Why::ListTooLong},
        {"ExistsPast32Bits", endingAt(Step::Examine, "* 4294967296 EXISTS\r\n" + examineTail), Step::Examine,
         Status::ReplyRefused, Why::NumberTooLarge},
        {"UidValidityPast32Bits", endingAt(Step::Examine, "* OK [UIDVALIDITY 4294967296] v\r\na2 OK\r\n"),
         Step::Examine, Status::ReplyRefused, Why::NumberTooLarge},
        // Replies that are no IMAP
        {"NoUidValidity", endingAt(Step::Examine, "a2 OK done\r\n"), Step::Examine, Status::ReplyRefused,
         Why::Malformed},
        {"TagOfAnotherCommand", endingAt(Step::Login, "a9 OK in\r\n"), Step::Login, Status::ReplyRefused,
         Why::Malformed},
        {"ContinuationWhereNoneBelongs", endingAt(Step::Examine, "+ go on\r\n"), Step::Examine, Status::ReplyRefused,
         Why::Malformed},
        {"NulInAResponse", endingAt(Step::Examine, std::string("* 3 EX\0ISTS\r\n", 13)), Step::Examine,
         Status::ReplyRefused, Why::Malformed},
        {"QuotedStringBrokenByTheLineEnd", endingAt(Step::Examine, "* STATUS \"INB\r\n"), Step::Examine,
         Status::ReplyRefused, Why::Malformed},
        {"TaggedGreeting", endingAt(Step::Greeting, "a1 OK hello\r\n"), Step::Greeting, Status::ReplyRefused,
         Why::Malformed},
        // The server ends it
        {"ByeGreeting", endingAt(Step::Greeting, "* BYE too many connections\r\n"), Step::Greeting, Status::Bye},
        {"ByeInTheMiddleOfALogin", endingAt(Step::Login, "* BYE going down\r\n"), Step::Login, Status::Bye},
        {"LoginRefused", endingAt(Step::Login, "a1 NO [AUTHENTICATIONFAILED] no\r\n"), Step::Login,
         Status::LoginRefused},
        {"LoginUnavailableIsTemporary", endingAt(Step::Login, "a1 NO [UNAVAILABLE] later\r\n"), Step::Login,
         Status::Unavailable},
        {"IdleOkWithoutTheGoAhead", endingAt(Step::Idle, "a5 OK\r\n"), Step::Idle, Status::ReplyRefused,
         Why::Malformed},
        {"PreauthGreetingNeedsNoLogin", replacing(Step::Login, "* CAPABILITY IMAP4rev1 IDLE\r\na1 OK\r\n", preauth),
         Step::Done, Status::Ok, Why::None, 3,
         "a1 CAPABILITY\r\na2 EXAMINE \"INBOX\"\r\na3 UID SEARCH UNSEEN\r\na4 UID SEARCH ALL\r\na5 IDLE\r\nDONE\r\n"},
        {"ExamineRefused", endingAt(Step::Examine, "a2 NO no such folder\r\n"), Step::Examine, Status::No},
        // STARTTLS
        {"InjectedReplyBehindStartTlsOk",
         endingAt(Step::StartTls, "a1 OK begin\r\na2 OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] injected\r\n", startTls),
         Step::StartTls, Status::StreamFailed, Why::None, 0, "a1 STARTTLS\r\n", "alice", "secret", false, true},
        {"StartTlsNotListed", endingAt(Step::Greeting, "* OK [CAPABILITY IMAP4rev1] ready\r\n"), Step::StartTls,
         Status::StreamFailed, Why::None, 0, "", "alice", "secret", false, true},
        {"PreauthGreetingBeforeStartTls", endingAt(Step::Greeting, "* PREAUTH [CAPABILITY IMAP4rev1 STARTTLS] in\r\n"),
         Step::StartTls, Status::StreamFailed, Why::None, 0, "", "alice", "secret", false, true},
        // What the login sends
        {"OddCredentialsQuotedOrLiteral", endingAt(Step::Login, literalNeeded.login, literalNeeded), Step::Examine,
         Status::StreamFailed, Why::Stream, 0,
         "a1 LOGIN \"al\\\"i\\\\ce\" {7}\r\ns\xc3\xa9"
         "cret\r\na2 EXAMINE \"INBOX\"\r\n",
         "al\"i\\ce",
         "s\xc3\xa9"
         "cret"},
        {"NulInThePasswordIsNeverSent", endingAt(Step::Greeting, Replies().greeting), Step::Login, Status::Unsendable,
         Why::None, 0, "", "alice", std::string("sec\0ret", 7)},
        {"LoginDisabledWithoutPlain", endingAt(Step::Greeting, tokenServer("LOGINDISABLED").greeting), Step::Login,
         Status::NotOffered, Why::None, 0, ""},
        {"LoginDisabledUsesPlain", endingAt(Step::Login, Replies().login, plainOnly), Step::Examine,
         Status::StreamFailed, Why::Stream, 0,
         "a1 AUTHENTICATE PLAIN AGFsaWNlAHNlY3JldA==\r\na2 EXAMINE \"INBOX\"\r\n"},
        // Tokens
        {"Xoauth2ErrorChallengeGetsAnEmptyLine",
         endingAt(Step::Login, challenge + "a1 NO [AUTHENTICATIONFAILED] no\r\n", tokenServer("AUTH=XOAUTH2 SASL-IR")),
         Step::Login, Status::LoginRefused, Why::None, 0,
         "a1 AUTHENTICATE XOAUTH2 " + xoauth2InitialResponse("alice", "secret") + "\r\n\r\n", "alice", "secret", true},
        {"OauthBearerErrorChallengeGetsAQ",
         endingAt(Step::Login, "+ \r\n" + challenge + "a1 NO [AUTHENTICATIONFAILED] no\r\n",
                  tokenServer("AUTH=OAUTHBEARER")),
         Step::Login, Status::LoginRefused, Why::None, 0,
         "a1 AUTHENTICATE OAUTHBEARER\r\n" + oauthBearerInitialResponse("alice", "localhost", 993, "secret") +
             "\r\nAQ==\r\n",
         "alice", "secret", true},
    };
}

class ImapHostileReplies : public ::testing::TestWithParam<Row> {};

ImapStatus runStep(ImapSession& session, Step step, const Row& row, std::vector<uint32_t>& uids)
{
    uint32_t unseen = 0;
    IdleWake wake = IdleWake::TimeLimit;
    switch (step) {
    case Step::Greeting:
        return session.readGreeting();
    case Step::StartTls:
        return session.startTls();
    case Step::Login:
        return row.token ? session.logInWithToken(row.user, row.password) : session.logIn(row.user, row.password);
    case Step::Examine:
        return session.examine();
    case Step::Unseen:
        return session.countUnseen(unseen);
    case Step::List:
        return session.searchUids(ImapSearch::All, uids);
    case Step::Idle:
        return session.idle(5, wake);
    case Step::Done:
        break;
    }
    return ImapStatus::Ok;
}

TEST_P(ImapHostileReplies, SessionStopsWhereItMustWithTheBoundItHit)
{
    const Row& row = GetParam();
    ScriptedStream server(row.server());
    ImapSession session;
    session.setTimeouts(2, 2);
    session.adoptPrivateStream(server.bio());
    std::vector<Step> steps = {Step::Greeting};
    if (row.startTls)
        steps.push_back(Step::StartTls);
    steps.insert(steps.end(), {Step::Login, Step::Examine, Step::Unseen, Step::List, Step::Idle, Step::Done});
    std::vector<uint32_t> uids;
    ImapStatus status = ImapStatus::Ok;
    size_t at = 0;
    while (steps[at] != Step::Done && (status = runStep(session, steps[at], row, uids)) == ImapStatus::Ok)
        ++at;
    EXPECT_EQ(static_cast<int>(steps[at]), static_cast<int>(row.stops));
    EXPECT_EQ(static_cast<int>(status), static_cast<int>(row.status));
    EXPECT_EQ(static_cast<int>(session.readError()), static_cast<int>(row.why));
    if (row.stops == Step::Done) {
        EXPECT_EQ(uids.size(), row.listed);
        EXPECT_EQ(session.folder().exists, 4u);
    }
    if (row.startTls) {
        ConnectionError expected = row.sent.empty() ? ConnectionError::StartTlsNotOffered : ConnectionError::TlsFailed;
        EXPECT_EQ(static_cast<int>(session.lastError()), static_cast<int>(expected));
    }
    session.close();
    if (row.sent != unchecked) {
        EXPECT_EQ(server.written(), row.sent);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ImapHostileReplies, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// ---- Who new mail is from: the header fields of new UIDs, with BODY.PEEK ----

std::string fetchOf(int number, int uid, const std::string& header)
{
    return "* " + std::to_string(number) + " FETCH (UID " + std::to_string(uid) +
           " BODY[HEADER.FIELDS (FROM SUBJECT DATE)]<0> {" + std::to_string(header.size()) + "}\r\n" + header +
           " FLAGS ())\r\n";
}

struct DescribingRow {
    const char* name;
    bool describe;
    const char* seen; // an id marked read before the cycle, or ""
    std::string fetchReply;
    std::string sent; // what follows the search
    std::vector<std::string> senders;
};

const std::string fetchOfBoth = fetchOf(2, 3, "From: Cee <c@example.org>\r\n\r\n") +
                                fetchOf(1, 2, "Subject: b\r\nFrom: b@example.org\r\n\r\n") + "a4 OK\r\n";
const std::string peek = " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE)]<0.16384>)\r\n";

const DescribingRow describingRows[] = {
    {"NewUidsFetchedWithPeekNewestFirst", true, "", fetchOfBoth, "a4 UID FETCH 2:3" + peek, {"Cee", "b@example.org"}},
    {"SwitchedOffFetchesNothing", false, "", fetchOfBoth, "", {}},
    {"SeenUidNotFetched", true, "7/2", fetchOfBoth, "a4 UID FETCH 3" + peek, {"Cee"}},
    {"RefusedFetchKeepsTheCount", true, "", "a4 NO no\r\n", "a4 UID FETCH 2:3" + peek, {}},
    {"AnswerForAnUnaskedUidIgnored",
     true,
     "",
     fetchOf(5, 9, "From: x@example.org\r\n") + "a4 OK\r\n",
     "a4 UID FETCH 2:3" + peek,
     {}},
};

TEST(ImapDescribing, HeaderFieldsOfNewUidsOnlyAndOnlyWhenAsked)
{
    for (const DescribingRow& row : describingRows) {
        SCOPED_TRACE(row.name);
        ScriptedStream server({"* OK [CAPABILITY IMAP4rev1] ready\r\n", "a1 OK [CAPABILITY IMAP4rev1] in\r\n",
                               "* 3 EXISTS\r\n* OK [UIDVALIDITY 7] v\r\na2 OK [READ-ONLY] done\r\n",
                               "* SEARCH 2 3\r\na3 OK\r\n", row.fetchReply});
        Mailbox mailbox;
        if (*row.seen != '\0')
            mailbox.seen.insertFront(row.seen);
        ImapMailSession session(mailbox);
        session.imap.setTimeouts(2, 2);
        session.imap.adoptPrivateStream(server.bio());
        session.describeNewMail = row.describe;
        ASSERT_EQ(static_cast<int>(session.imap.readGreeting()), static_cast<int>(ImapStatus::Ok));
        ASSERT_TRUE(session.logIn("alice", "secret"));
        EXPECT_TRUE(session.updateMailbox());
        MailboxCounts counts = mailbox.takeCounts();
        EXPECT_EQ(counts.unseenCount, *row.seen != '\0' ? 1 : 2);
        std::vector<std::string> senders;
        for (const MessagePreview& preview : counts.previews)
            senders.push_back(preview.sender);
        EXPECT_EQ(senders, row.senders);
        session.close();
        std::string search = "a3 UID SEARCH UNSEEN\r\n";
        size_t after = server.written().find(search);
        ASSERT_NE(after, std::string::npos);
        EXPECT_EQ(server.written().substr(after + search.size()), row.sent);
    }
}

} // namespace
