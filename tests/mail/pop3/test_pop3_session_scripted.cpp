#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include <openssl/bio.h>

#include "mail/pop3/pop3_session.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/scripted_pop3_server.h"

using mailtest::idsOf;
using mailtest::Stopwatch;
using testbench::loggedIn;
using testbench::Script;
using testbench::ScriptedPop3Server;

namespace {

const char loopback[] = "127.0.0.1";
const char greeting[] = "+OK POP3 ready\r\n";

class ScriptedSession : public ::testing::Test {
protected:
    void serve(const Script& script)
    {
        server.addConnection(script);
        ASSERT_TRUE(server.start());
        session.setTimeouts(5, 5);
    }
    bool connect() { return session.connect(loopback, server.port(), ConnectionSecurity::None); }
    bool connectAndLogIn() { return connect() && session.logIn("alice", "secret"); }
    // What the server received, once it has finished with the connection.
    std::vector<std::string> linesReceived()
    {
        session.close();
        server.stop();
        return server.receivedLines();
    }

    ScriptedPop3Server server;
    Pop3Session session;
};

// ---- Greeting ----

TEST_F(ScriptedSession, GreetingInOneByteWritesIsAccepted)
{
    serve(Script().sendSplit(greeting, 1, 2).stall(2000));
    EXPECT_TRUE(connect());
}

TEST_F(ScriptedSession, PositiveStatusSplitAcrossReadsIsAccepted)
{
    serve(Script().send("+").pause(150).send("O").pause(150).send("K there\r\n").stall(2000));
    EXPECT_TRUE(connect());
}

TEST_F(ScriptedSession, AnyTextAfterPositiveStatusIsAccepted)
{
    serve(Script().send("+OK<1896.697170952@dbc.mtview.ca.us> hello\r\n").stall(2000));
    EXPECT_TRUE(connect());
}

TEST_F(ScriptedSession, LowerCaseStatusIsRefused)
{
    serve(Script().send("+ok ready\r\n").stall(2000));
    EXPECT_FALSE(connect());
}

TEST_F(ScriptedSession, NegativeGreetingIsRefused)
{
    serve(Script().send("-ERR busy\r\n").stall(2000));
    EXPECT_FALSE(connect());
}

TEST_F(ScriptedSession, DisconnectBeforeGreetingFailsConnect)
{
    serve(Script().disconnect());
    EXPECT_FALSE(connect());
}

TEST_F(ScriptedSession, GreetingCutShortFailsConnect)
{
    serve(Script().send("+O").disconnect());
    EXPECT_FALSE(connect());
}

TEST_F(ScriptedSession, SilentServerFailsConnectAfterTheTimeLimit)
{
    serve(Script().stall(10000));
    session.setTimeouts(2, 1);
    Stopwatch watch;
    EXPECT_FALSE(connect());
    EXPECT_EQ(session.lastError(), ConnectionError::TimedOut);
    EXPECT_LT(watch.seconds(), 3.0);
}

TEST_F(ScriptedSession, AbortEndsAWaitForTheGreeting)
{
    serve(Script().stall(10000));
    // Once accepted, the client is waiting for the greeting; an abort landing a moment
    // earlier still ends the connect, as abort is sticky.
    std::thread stopper([this] {
        server.waitForConnections(1, 5000);
        session.abort();
    });
    Stopwatch watch;
    bool connected = connect();
    double waited = watch.seconds();
    stopper.join();
    EXPECT_FALSE(connected);
    EXPECT_EQ(session.lastError(), ConnectionError::Aborted);
    EXPECT_LT(waited, 2.0);
}

// ---- Status lines ----

TEST_F(ScriptedSession, RestOfStatusLineIsKeptWithinCapacity)
{
    serve(Script().send("+OK 2 messages\r\n").stall(2000));
    ASSERT_TRUE(session.open(loopback, server.port(), ConnectionSecurity::None));
    char rest[8];
    std::memset(rest, '#', sizeof rest);
    ASSERT_TRUE(session.readReply(rest, 6));
    EXPECT_STREQ(rest, " 2 me");
    EXPECT_EQ(rest[6], '#');
}

TEST_F(ScriptedSession, OversizeStatusLineIsConsumedAndTheNextLineRead)
{
    std::string longLine = "+OK " + std::string(5000, 'x') + "\r\n";
    serve(Script().send(longLine).send("+OK second\r\n").stall(2000));
    ASSERT_TRUE(session.open(loopback, server.port(), ConnectionSecurity::None));
    char rest[Pop3Session::scratchSize];
    ASSERT_TRUE(session.readReply(rest, sizeof rest));
    EXPECT_EQ(std::strlen(rest), sizeof rest - 1);
    ASSERT_TRUE(session.readReply(rest, sizeof rest));
    EXPECT_STREQ(rest, " second\r\n");
}

// ---- Capabilities ----

TEST_F(ScriptedSession, CapabilitiesAreReadWhateverTheirCase)
{
    serve(Script()
              .send(greeting)
              .expectLine("CAPA")
              .send("+OK\r\nTOP\r\nuser\r\nSasl PLAIN  xoauth2 OAUTHBEARER\r\nIMPLEMENTATION stls\r\n.\r\n")
              .stall(2000));
    ASSERT_TRUE(connect());
    ASSERT_TRUE(session.readCapabilities());
    const Pop3Capabilities& listed = session.capabilities();
    EXPECT_TRUE(listed.read);
    EXPECT_FALSE(listed.stls) << "STLS only as another capability's argument";
    EXPECT_TRUE(listed.offersSasl("PLAIN") && listed.offersSasl("XOAUTH2") && listed.offersSasl("OAUTHBEARER"));
    EXPECT_FALSE(listed.offersSasl("OAUTH") || listed.offersSasl(""));
}

TEST_F(ScriptedSession, CapabilityReplyLongerThanTheCapIsRefused)
{
    std::string reply = "+OK\r\n";
    for (int i = 0; i <= Pop3Session::maxCapabilityLines; ++i)
        reply += "X-" + std::to_string(i) + "\r\n";
    serve(Script().send(greeting).expectLine("CAPA").send(reply + "STLS\r\n.\r\n").stall(2000));
    ASSERT_TRUE(connect());
    EXPECT_FALSE(session.readCapabilities());
    EXPECT_FALSE(session.capabilities().stls);
}

// ---- Login ----

TEST_F(ScriptedSession, LoginSendsUserThenPassAsStored)
{
    serve(loggedIn().stall(2000));
    ASSERT_TRUE(connect());
    EXPECT_TRUE(session.logIn("alice", "s3 cr;t"));
    std::vector<std::string> lines = linesReceived();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "USER alice");
    EXPECT_EQ(lines[1], "PASS s3 cr;t");
}

TEST_F(ScriptedSession, EmptyPasswordStillSendsKeywordAndSpace)
{
    serve(loggedIn().stall(2000));
    ASSERT_TRUE(connect());
    EXPECT_TRUE(session.logIn("alice", ""));
    std::vector<std::string> lines = linesReceived();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "PASS ");
}

TEST_F(ScriptedSession, RefusedUserFailsLoginWithoutSendingThePassword)
{
    serve(Script().send(greeting).expectLine("USER ").send("-ERR who?\r\n").expectLine().stall(500));
    ASSERT_TRUE(connect());
    EXPECT_FALSE(session.logIn("mallory", "secret"));
    std::vector<std::string> lines = linesReceived();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "USER mallory");
}

TEST_F(ScriptedSession, RefusedPasswordFailsLogin)
{
    serve(loggedIn("-ERR denied\r\n").stall(2000));
    ASSERT_TRUE(connect());
    EXPECT_FALSE(session.logIn("alice", "wrong"));
}

TEST_F(ScriptedSession, DisconnectDuringLoginFailsLogin)
{
    serve(Script().send(greeting).expectLine("USER ").disconnect());
    ASSERT_TRUE(connect());
    EXPECT_FALSE(session.logIn("alice", "secret"));
}

TEST_F(ScriptedSession, PasswordWithLineBreakIsNeverSent)
{
    serve(Script().send(greeting).expectLine("USER ").send("+OK\r\n").expectLine().stall(500));
    ASSERT_TRUE(connect());
    EXPECT_FALSE(session.logIn("alice", "secret\r\nDELE 1"));
    std::vector<std::string> lines = linesReceived();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "USER alice");
}

TEST_F(ScriptedSession, UserNameWithLineFeedIsNeverSent)
{
    serve(Script().send(greeting).expectLine().stall(500));
    ASSERT_TRUE(connect());
    EXPECT_FALSE(session.logIn("alice\nPASS x", "secret"));
    EXPECT_TRUE(linesReceived().empty());
}

TEST_F(ScriptedSession, PasswordTooLongForACommandLineIsNeverSent)
{
    serve(Script().send(greeting).expectLine("USER ").send("+OK\r\n").expectLine().stall(500));
    ASSERT_TRUE(connect());
    std::string password(251, 'p'); // "PASS " + 251 + CR LF = 258 characters
    EXPECT_FALSE(session.logIn("alice", password.c_str()));
    std::vector<std::string> lines = linesReceived();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "USER alice");
}

TEST_F(ScriptedSession, PasswordThatJustFitsACommandLineIsSentWhole)
{
    serve(loggedIn().stall(2000));
    ASSERT_TRUE(connect());
    std::string password(248, 'p'); // exactly 255 characters with "PASS " and CR LF
    EXPECT_TRUE(session.logIn("alice", password.c_str()));
    std::vector<std::string> lines = linesReceived();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "PASS " + password);
}

// ---- Listing ----

TEST_F(ScriptedSession, ListingYieldsEveryId)
{
    serve(loggedIn()
              .expectLine("UIDL")
              .send("+OK\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n2 QhdPYR:00WBw1Ph7x7\r\n.\r\n")
              .stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 2);
    EXPECT_EQ(idsOf(session.mailbox.current),
              (std::multiset<std::string>{"whqtswO00WBw418f9t5JxYwZ", "QhdPYR:00WBw1Ph7x7"}));
    EXPECT_EQ(session.mailbox.totalCount, 2);
    EXPECT_FALSE(session.lastListingFailed());
    std::vector<std::string> lines = linesReceived();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "UIDL");
}

TEST_F(ScriptedSession, EmptyMailboxListsNothing)
{
    serve(loggedIn().expectLine("UIDL").send("+OK\r\n.\r\n").stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 0);
    EXPECT_EQ(session.mailbox.current.size(), 0u);
    EXPECT_EQ(session.mailbox.totalCount, 0);
}

TEST_F(ScriptedSession, ListingInOneByteWritesCompletes)
{
    serve(loggedIn().expectLine("UIDL").sendSplit("+OK\r\n1 a1\r\n2 b2\r\n3 c3\r\n.\r\n", 1).stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 3);
    EXPECT_EQ(idsOf(session.mailbox.current), (std::multiset<std::string>{"a1", "b2", "c3"}));
}

TEST_F(ScriptedSession, TerminatorSplitAcrossReadsCompletes)
{
    serve(loggedIn().expectLine("UIDL").send("+OK\r\n1 a1\r\n.\r").pause(200).send("\n").stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 1);
}

TEST_F(ScriptedSession, IdEndingInDotAtAReadBoundaryDoesNotEndTheListing)
{
    serve(loggedIn()
              .expectLine("UIDL")
              .send("+OK\r\n1 abc.")
              .pause(200)
              .send("\r\n2 def.\r")
              .pause(200)
              .send("\n.\r\n")
              .stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 2);
    EXPECT_EQ(idsOf(session.mailbox.current), (std::multiset<std::string>{"abc.", "def."}));
}

TEST_F(ScriptedSession, BareLineFeedLinesScanLikeFullLineEnds)
{
    serve(loggedIn().expectLine("UIDL").send("+OK\n1 a1\n2 b2\r\n.\r\n").stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 2);
    EXPECT_EQ(idsOf(session.mailbox.current), (std::multiset<std::string>{"a1", "b2"}));
}

TEST_F(ScriptedSession, LinesThatDoNotScanAreSkipped)
{
    serve(loggedIn()
              .expectLine("UIDL")
              .send("+OK\r\n\r\n7\r\nx y\r\n 3   spaced\r\n99999999999 toolarge\r\n4 last\r\n.\r\n")
              .stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 2);
    EXPECT_EQ(idsOf(session.mailbox.current), (std::multiset<std::string>{"spaced", "last"}));
}

TEST_F(ScriptedSession, DuplicatedIdIsListedTwice)
{
    serve(loggedIn().expectLine("UIDL").send("+OK\r\n1 same\r\n2 same\r\n.\r\n").stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 2);
    EXPECT_EQ(session.mailbox.current.size(), 2u);
}

TEST_F(ScriptedSession, OversizeIdIsSkippedAndTheOthersKept)
{
    std::string huge(Pop3Session::scratchSize, 'u'); // one more than fits with its NUL
    std::string fits(Pop3Session::scratchSize - 1, 'f');
    serve(loggedIn().expectLine("UIDL").send("+OK\r\n1 " + huge + "\r\n2 " + fits + "\r\n3 ok\r\n.\r\n").stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 2);
    EXPECT_EQ(idsOf(session.mailbox.current), (std::multiset<std::string>{fits, "ok"}));
}

TEST_F(ScriptedSession, OversizeListingStatusLineStillLists)
{
    serve(loggedIn().expectLine("UIDL").send("+OK " + std::string(3000, 's') + "\r\n1 a1\r\n.\r\n").stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 1);
}

TEST_F(ScriptedSession, NulByteDoesNotSwallowTheRestOfARead)
{
    serve(loggedIn().expectLine("UIDL").send(std::string("+OK\r\n1 a\0b\r\n2 c2\r\n.\r\n", 21)).stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), 2);
    EXPECT_EQ(session.mailbox.current.size(), 2u);
}

TEST_F(ScriptedSession, RefusedListingKeepsTheEarlierCounts)
{
    server.addConnection(loggedIn().expectLine("UIDL").send("+OK\r\n1 a1\r\n2 b2\r\n.\r\n").stall(2000));
    serve(loggedIn().expectLine("UIDL").send("-ERR not now\r\n").stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    ASSERT_EQ(session.listUids(), 2);
    session.close();
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), -1);
    EXPECT_TRUE(session.lastListingFailed());
    EXPECT_EQ(session.mailbox.totalCount, 2);
    EXPECT_EQ(session.mailbox.unseenCount, 2);
    EXPECT_EQ(session.mailbox.current.size(), 2u);
}

TEST_F(ScriptedSession, DisconnectMidListingFailsItAndKeepsTheCounts)
{
    server.addConnection(loggedIn().expectLine("UIDL").send("+OK\r\n1 a1\r\n.\r\n").stall(2000));
    serve(loggedIn().expectLine("UIDL").send("+OK\r\n1 a1\r\n2 b").disconnect());
    ASSERT_TRUE(connectAndLogIn());
    ASSERT_EQ(session.listUids(), 1);
    session.close();
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), -1);
    EXPECT_EQ(session.mailbox.totalCount, 1);
    EXPECT_EQ(idsOf(session.mailbox.current), (std::multiset<std::string>{"a1"}));
    // The first listing's announcement waits for the window, whatever later listings do.
    EXPECT_EQ(session.mailbox.freshMail.load(), 1);
}

TEST_F(ScriptedSession, MarkAsReadAfterACutShortListingMarksTheLastCompleteOne)
{
    server.addConnection(loggedIn().expectLine("UIDL").send("+OK\r\n1 a1\r\n2 b2\r\n.\r\n").stall(2000));
    server.addConnection(loggedIn().expectLine("UIDL").send("+OK\r\n1 a1\r\n2 b").disconnect());
    serve(loggedIn().expectLine("UIDL").send("+OK\r\n1 a1\r\n2 b2\r\n.\r\n").stall(2000));
    ASSERT_TRUE(connectAndLogIn());
    ASSERT_EQ(session.listUids(), 2);
    session.close();
    ASSERT_TRUE(connectAndLogIn());
    ASSERT_EQ(session.listUids(), -1);
    session.mailbox.markAsRead();
    session.close();
    // The next complete listing finds both messages read and announces nothing again.
    ASSERT_TRUE(connectAndLogIn());
    ASSERT_EQ(session.listUids(), 2);
    EXPECT_EQ(session.mailbox.unseenCount, 0);
    EXPECT_EQ(session.mailbox.freshMail.load(), 0);
}

TEST_F(ScriptedSession, SilenceMidListingFailsItAfterTheTimeLimit)
{
    serve(loggedIn().expectLine("UIDL").send("+OK\r\n1 a1\r\n").stall(10000));
    ASSERT_TRUE(connectAndLogIn());
    session.setTimeouts(1, 1);
    Stopwatch watch;
    EXPECT_EQ(session.listUids(), -1);
    EXPECT_EQ(session.lastError(), ConnectionError::TimedOut);
    EXPECT_LT(watch.seconds(), 3.0);
}

TEST_F(ScriptedSession, ListingWithoutTerminatorBeyondTheCapFails)
{
    // Lines that never end the reply, sent past the cap in 1 MiB writes.
    std::string megabyte;
    while (megabyte.size() < 1024 * 1024)
        megabyte += "1 abcdefghijklmnopqrstuvwxyz0123456789\r\n";
    Script script = loggedIn().expectLine("UIDL").send("+OK\r\n");
    for (size_t sent = 0; sent <= Pop3Session::maxListingBytes; sent += megabyte.size())
        script.send(megabyte);
    serve(script.stall(10000));
    ASSERT_TRUE(connectAndLogIn());
    EXPECT_EQ(session.listUids(), -1);
    EXPECT_EQ(session.mailbox.current.size(), 0u);
}

// ---- Who new mail is from: TOP n 0 for new ids only ----

struct Exchange {
    std::string command; // the line the client must send
    std::string reply;
};

struct DescribingCase {
    const char* name;
    bool describe;
    int cycles; // listings on the one connection
    std::vector<Exchange> dialogue;
    std::vector<std::string> sent;    // the lines after the login
    std::vector<std::string> senders; // the previews, newest first
};

const std::string threeListed = "+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n";
const std::string capaWithTop = "+OK\r\nUIDL\r\nTOP\r\n.\r\n";
const std::string headerOfC = "+OK\r\nFrom: Cee <c@example.org>\r\nSubject: third\r\n\r\n.\r\n";
const std::string headerOfB = "+OK\r\nFrom: b@example.org\r\n..dot\r\n\r\n.\r\n";
const std::string longHeader = "+OK\r\nFrom: Long <l@example.org>\r\n" + std::string(20000, 'x') + "\r\n.\r\n";
const std::string endlessHeader = "+OK\r\n" + std::string(Pop3Session::maxTopReplyBytes, 'x') + "\r\n.\r\n";

// "a" is seen in every row.
const DescribingCase describingCases[] = {
    {"NewIdsDescribedNewestFirst",
     true,
     1,
     {{"UIDL", threeListed}, {"CAPA", capaWithTop}, {"TOP 3 0", headerOfC}, {"TOP 2 0", headerOfB}},
     {"UIDL", "CAPA", "TOP 3 0", "TOP 2 0"},
     {"Cee", "b@example.org"}},
    {"SwitchedOffAsksForIdsAlone", false, 1, {{"UIDL", threeListed}}, {"UIDL"}, {}},
    {"ServerWithoutTopGetsCounts",
     true,
     1,
     {{"UIDL", threeListed}, {"CAPA", "+OK\r\nUIDL\r\n.\r\n"}},
     {"UIDL", "CAPA"},
     {}},
    {"RefusedTopEndsDescribing",
     true,
     1,
     {{"UIDL", threeListed}, {"CAPA", capaWithTop}, {"TOP 3 0", "-ERR no\r\n"}},
     {"UIDL", "CAPA", "TOP 3 0"},
     {}},
    {"DescribedIdNotAskedAgain",
     true,
     2,
     {{"UIDL", "+OK\r\n1 a\r\n2 b\r\n.\r\n"},
      {"CAPA", capaWithTop},
      {"TOP 2 0", headerOfB},
      {"UIDL", threeListed},
      {"TOP 3 0", headerOfC}},
     {"UIDL", "CAPA", "TOP 2 0", "UIDL", "TOP 3 0"},
     {"Cee", "b@example.org"}},
    {"LongHeaderReadToItsEnd",
     true,
     1,
     {{"UIDL", threeListed}, {"CAPA", capaWithTop}, {"TOP 3 0", longHeader}, {"TOP 2 0", headerOfB}},
     {"UIDL", "CAPA", "TOP 3 0", "TOP 2 0"},
     {"Long", "b@example.org"}},
    {"ReplyPastItsBoundDescribedEmptyAndEndsDescribing",
     true,
     1,
     {{"UIDL", threeListed}, {"CAPA", capaWithTop}, {"TOP 3 0", endlessHeader}},
     {"UIDL", "CAPA", "TOP 3 0"},
     {""}},
};

TEST(ScriptedDescribing, TopOnlyForNewIdsAndOnlyWhenAsked)
{
    for (const DescribingCase& row : describingCases) {
        SCOPED_TRACE(row.name);
        ScriptedPop3Server server;
        Pop3Session session;
        session.mailbox.seen.insertFront("a");
        Script script = loggedIn();
        for (const Exchange& step : row.dialogue)
            script.expectLine(step.command).send(step.reply);
        server.addConnection(script.stall(2000));
        ASSERT_TRUE(server.start());
        session.setTimeouts(5, 5);
        session.describeNewMail = row.describe;
        ASSERT_TRUE(session.connect(loopback, server.port(), ConnectionSecurity::None));
        ASSERT_TRUE(session.logIn("alice", "secret"));
        for (int cycle = 0; cycle < row.cycles; ++cycle)
            EXPECT_EQ(session.listUids(), cycle + 1 < row.cycles ? 2 : 3);
        std::vector<std::string> senders;
        for (const MessagePreview& preview : session.mailbox.takeCounts().previews)
            senders.push_back(preview.sender);
        EXPECT_EQ(senders, row.senders);
        session.close();
        server.stop();
        std::vector<std::string> lines = server.receivedLines();
        lines.erase(lines.begin(), lines.begin() + std::min<size_t>(2, lines.size())); // USER, PASS
        EXPECT_EQ(lines, row.sent);
    }
}

// ---- Listings fed from memory: size, stop and bounds ----

// What a server sends after "+OK\r\n": `unit` `units` times, then `tail`. The source asks
// the session to stop once `abortAfter` bytes have been served, as Exit would.
struct GeneratedListing {
    const char* name;
    std::string unit;
    size_t units;
    std::string tail;
    size_t abortAfter;
    int listingMilliseconds;
    int expectedCount; // -1: the listing fails
    size_t maxServed;  // bytes the session may take before it ends
};

const size_t never = SIZE_MAX;
const size_t endless = SIZE_MAX;
const size_t cap = Pop3Session::maxListingBytes;
const std::string copyLine = "1 dup\r\n";
const size_t manyCopies = 200000;
const size_t manyCopiesBytes = manyCopies * 7 + 3;
const std::string lastLines = "1 a\r\n.\r\n";

const GeneratedListing generatedListings[] = {
    {"many copies of one id", copyLine, manyCopies, ".\r\n", never, Pop3Session::defaultListingMilliseconds,
     static_cast<int>(manyCopies), never},
    {"stop during a long parse", copyLine, manyCopies, ".\r\n", 1 << 20, Pop3Session::defaultListingMilliseconds, -1,
     (1 << 20) + Pop3Session::readChunk},
    {"stop as its last byte arrives", copyLine, manyCopies, ".\r\n", manyCopiesBytes,
     Pop3Session::defaultListingMilliseconds, -1, never},
    {"NUL bytes up to the cap", std::string(1, '\0'), cap - lastLines.size(), lastLines, never,
     Pop3Session::defaultListingMilliseconds, 1, never},
    {"NUL bytes past the cap", std::string(1, '\0'), cap - lastLines.size() + 1, lastLines, never,
     Pop3Session::defaultListingMilliseconds, -1, cap + Pop3Session::readChunk},
    {"lines past the overall time limit", copyLine, endless, "", never, 0, -1, 4 * Pop3Session::readChunk},
};

class ListingSource {
public:
    ListingSource(const GeneratedListing& row, Pop3Session& session) : row(row), session(session) { text = "+OK\r\n"; }

    // A BIO whose reads serve the listing and whose writes swallow the UIDL command.
    BIO* makeStream()
    {
        method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "generated listing");
        BIO_meth_set_write(method, [](BIO*, const char*, int length) { return length; });
        BIO_meth_set_read(method, [](BIO* bio, char* out, int size) {
            return static_cast<ListingSource*>(BIO_get_data(bio))->serve(out, size);
        });
        BIO_meth_set_ctrl(method, [](BIO*, int, long, void*) -> long { return 1; });
        BIO_meth_set_create(method, [](BIO* bio) {
            BIO_set_init(bio, 1);
            return 1;
        });
        BIO* bio = BIO_new(method);
        BIO_set_data(bio, this);
        return bio;
    }
    ~ListingSource() { BIO_meth_free(method); }

    size_t served = 0; // listing bytes, after the status line

private:
    int serve(char* out, int size)
    {
        int filled = 0;
        while (filled < size) {
            if (next == text.size() && !refill())
                break;
            size_t take = std::min(text.size() - next, static_cast<size_t>(size - filled));
            if (statusSent && row.abortAfter != never && served < row.abortAfter)
                take = std::min(take, row.abortAfter - served);
            std::memcpy(out + filled, text.data() + next, take);
            filled += static_cast<int>(take);
            next += take;
            if (statusSent) {
                served += take;
                if (served == row.abortAfter)
                    session.abort();
            }
        }
        return filled;
    }

    bool refill()
    {
        next = 0;
        statusSent = true;
        if (row.units == endless || unitsSent < row.units) {
            text.clear();
            for (int i = 0; i < 4096 && (row.units == endless || unitsSent < row.units); ++i, ++unitsSent)
                text += row.unit;
            return true;
        }
        if (tailSent)
            return false;
        text = row.tail;
        tailSent = true;
        return !text.empty();
    }

    const GeneratedListing& row;
    Pop3Session& session;
    BIO_METHOD* method = nullptr;
    std::string text;
    size_t next = 0;
    size_t unitsSent = 0;
    bool statusSent = false;
    bool tailSent = false;
};

TEST(GeneratedListing, LargeListingsStopsAndBounds)
{
    for (const GeneratedListing& row : generatedListings) {
        SCOPED_TRACE(row.name);
        Pop3Session session;
        session.listingMilliseconds = row.listingMilliseconds;
        ListingSource source(row, session);
        session.adopt(source.makeStream());
        EXPECT_EQ(session.listUids(), row.expectedCount);
        EXPECT_LE(source.served, row.maxServed);
        if (row.expectedCount < 0) {
            EXPECT_TRUE(session.lastListingFailed());
            EXPECT_EQ(session.mailbox.totalCount, 0);
        } else {
            EXPECT_EQ(session.mailbox.current.size(), static_cast<size_t>(row.expectedCount));
        }
    }
}

} // namespace
