#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mail/pop3/pop3_session.h"
#include "mail/mailbox/seen_file.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/temp_directory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using mailtest::idsOf;

namespace {

using Ids = std::multiset<std::string>;

// What a complete listing does to the lists: a fresh `current` in reverse listing order,
// then reconcile.
void completeListing(Pop3Session& session, std::initializer_list<const char*> listed)
{
    session.freshMail = 0;
    session.current.clear();
    for (const char* id : listed)
        session.current.insertFront(id);
    session.reconcile();
}

std::vector<std::string> seenInOrder(const Pop3Session& session)
{
    std::vector<std::string> ids;
    for (const char* id : session.seen)
        ids.push_back(id);
    return ids;
}

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeWhole(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// What the text-mode stream writes for "\n".
#ifdef _WIN32
const std::string lineEnd = "\r\n";
#else
const std::string lineEnd = "\n";
#endif

bool failingReplace(const char*, const char*)
{
    return false;
}

// ---- Counting a listing ----

TEST(NewMailCount, FirstListingAnnouncesEveryMessage)
{
    Pop3Session session;
    completeListing(session, {"a", "b", "c"});
    EXPECT_EQ(session.unseenCount, 3);
    EXPECT_EQ(session.totalCount, 3);
    EXPECT_EQ(idsOf(session.notified), (Ids{"a", "b", "c"}));
    EXPECT_EQ(session.freshMail, 1);
}

TEST(NewMailCount, SameListingAgainCountsButDoesNotAnnounce)
{
    Pop3Session session;
    completeListing(session, {"a", "b", "c"});
    completeListing(session, {"a", "b", "c"});
    EXPECT_EQ(session.unseenCount, 3);
    EXPECT_EQ(session.totalCount, 3);
    EXPECT_EQ(session.freshMail, 0);
    EXPECT_EQ(session.notified.size(), 3u);
}

TEST(NewMailCount, OnlyTheNewArrivalIsAnnounced)
{
    Pop3Session session;
    completeListing(session, {"a", "b"});
    completeListing(session, {"a", "b", "c"});
    EXPECT_EQ(session.unseenCount, 3);
    EXPECT_EQ(session.freshMail, 1);
    EXPECT_EQ(idsOf(session.notified), (Ids{"a", "b", "c"}));
}

TEST(NewMailCount, DuplicateListingLinesCountTwice)
{
    Pop3Session session;
    completeListing(session, {"dup", "dup", "x"});
    EXPECT_EQ(session.totalCount, 3);
    EXPECT_EQ(session.unseenCount, 3);
    EXPECT_EQ(idsOf(session.notified), (Ids{"dup", "x"}));
    session.markAsRead();
    completeListing(session, {"dup", "dup", "x"});
    EXPECT_EQ(session.totalCount, 3);
    EXPECT_EQ(session.unseenCount, 0);
    EXPECT_EQ(idsOf(session.seen), (Ids{"dup", "x"}));
}

TEST(NewMailCount, EmptyMailboxForgetsEverySeenId)
{
    Pop3Session session;
    completeListing(session, {"a", "b"});
    session.markAsRead();
    completeListing(session, {});
    EXPECT_EQ(session.totalCount, 0);
    EXPECT_EQ(session.unseenCount, 0);
    EXPECT_EQ(session.seen.size(), 0u);
}

TEST(NewMailCount, SeenMessageDeletedOnServerIsForgottenAndNewIfListedAgain)
{
    Pop3Session session;
    completeListing(session, {"a", "b"});
    session.markAsRead();
    completeListing(session, {"b"});
    EXPECT_EQ(idsOf(session.seen), (Ids{"b"}));
    EXPECT_EQ(session.unseenCount, 0);
    completeListing(session, {"a", "b"});
    EXPECT_EQ(session.unseenCount, 1);
    EXPECT_EQ(session.freshMail, 1);
}

TEST(NewMailCount, UnseenMessageDeletedOnServerDropsFromCountsButStaysAnnounced)
{
    Pop3Session session;
    completeListing(session, {"a", "b"});
    completeListing(session, {"b"});
    EXPECT_EQ(session.unseenCount, 1);
    EXPECT_EQ(session.totalCount, 1);
    EXPECT_TRUE(session.notified.contains("a"));
    // Listed again before any Mark As Read: counted, not announced a second time.
    completeListing(session, {"a", "b"});
    EXPECT_EQ(session.unseenCount, 2);
    EXPECT_EQ(session.freshMail, 0);
}

TEST(NewMailCount, SeenDuplicatesFromFileArePrunedAsAWhole)
{
    Pop3Session session;
    session.seen.insertFront("gone");
    session.seen.insertFront("kept");
    session.seen.insertFront("gone");
    completeListing(session, {"kept"});
    EXPECT_EQ(idsOf(session.seen), (Ids{"kept"}));
}

// ---- Mark As Read ----

TEST(MarkAsRead, MarksTheListingAndNextArrivalIsNew)
{
    Pop3Session session;
    completeListing(session, {"a", "b", "c"});
    session.markAsRead();
    EXPECT_EQ(idsOf(session.seen), (Ids{"a", "b", "c"}));
    EXPECT_EQ(session.notified.size(), 0u);
    EXPECT_EQ(session.unseenCount, 0);
    EXPECT_EQ(session.totalCount, 3);
    completeListing(session, {"a", "b", "c", "d"});
    EXPECT_EQ(session.unseenCount, 1);
    EXPECT_EQ(session.totalCount, 4);
    EXPECT_EQ(session.freshMail, 1);
}

TEST(MarkAsRead, BeforeAnyListingOnlyForgetsAnnouncements)
{
    Pop3Session session;
    session.seen.insertFront("old");
    session.notified.insertFront("n");
    session.unseenCount = 2;
    session.markAsRead();
    EXPECT_EQ(idsOf(session.seen), (Ids{"old"}));
    EXPECT_EQ(session.notified.size(), 0u);
    EXPECT_EQ(session.unseenCount, 0);
}

TEST(MarkAsRead, DoesNotDuplicateIdsAlreadySeen)
{
    Pop3Session session;
    completeListing(session, {"a"});
    session.markAsRead();
    completeListing(session, {"a", "b"});
    session.markAsRead();
    EXPECT_EQ(idsOf(session.seen), (Ids{"a", "b"}));
}

// ---- The seen-message stream ----

class SeenFile : public ::testing::Test {
protected:
    std::string path(const char* name) const { return directory.path() + "/" + name; }
    testbench::TempDirectory directory;
    Pop3Session session;
};

TEST_F(SeenFile, LoadThenSaveWritesTheIdsInReverseOrder)
{
    std::string file = path("pellwick.uidl");
    writeWhole(file, "one\ntwo\nthree\n");
    ASSERT_TRUE(loadSeenFile(session, file.c_str()));
    EXPECT_EQ(seenInOrder(session), (std::vector<std::string>{"three", "two", "one"}));
    ASSERT_TRUE(saveSeenFile(session, file.c_str()));
    EXPECT_EQ(readWhole(file), "three" + lineEnd + "two" + lineEnd + "one" + lineEnd);
}

TEST_F(SeenFile, CarriageReturnsAndEmptyLinesAreNotIds)
{
    std::string file = path("crlf.uidl");
    writeWhole(file, "one\r\n\r\n\ntwo\r\nthree");
    ASSERT_TRUE(loadSeenFile(session, file.c_str()));
    EXPECT_EQ(idsOf(session.seen), (Ids{"one", "two", "three"}));
}

TEST_F(SeenFile, OverLongLineIsSkippedWholeNotSplit)
{
    std::string file = path("long.uidl");
    std::string longest(Pop3Session::maxSeenIdLength, 'L');
    std::string tooLong(Pop3Session::maxSeenIdLength + 1, 'T');
    std::string farTooLong(3000, 'F');
    writeWhole(file, "before\n" + tooLong + "\n" + farTooLong + "\r\n" + longest + "\r\nafter\n");
    ASSERT_TRUE(loadSeenFile(session, file.c_str()));
    EXPECT_EQ(idsOf(session.seen), (Ids{"before", longest, "after"}));
}

TEST_F(SeenFile, OverLongLastLineWithoutLineEndIsSkipped)
{
    std::string file = path("tail.uidl");
    writeWhole(file, "kept\n" + std::string(2000, 'x'));
    ASSERT_TRUE(loadSeenFile(session, file.c_str()));
    EXPECT_EQ(idsOf(session.seen), (Ids{"kept"}));
}

TEST_F(SeenFile, LineWithANulByteIsSkippedAndTheNextLineKept)
{
    std::string file = path("zero-byte.uidl");
    writeWhole(file, std::string("ab\0cd\nnext\n", 11));
    ASSERT_TRUE(loadSeenFile(session, file.c_str()));
    EXPECT_EQ(idsOf(session.seen), (Ids{"next"}));
}

TEST_F(SeenFile, LoadReplacesWhatWasSeenBefore)
{
    session.seen.insertFront("stale");
    std::string file = path("fresh.uidl");
    writeWhole(file, "fresh\n");
    ASSERT_TRUE(loadSeenFile(session, file.c_str()));
    EXPECT_EQ(idsOf(session.seen), (Ids{"fresh"}));
}

TEST_F(SeenFile, MissingFileIsAnEmptySeenList)
{
    session.seen.insertFront("stale");
    EXPECT_FALSE(loadSeenFile(session, path("absent.uidl").c_str()));
    EXPECT_EQ(session.seen.size(), 0u);
}

TEST_F(SeenFile, MarksSurviveARestart)
{
    std::string file = path("pellwick.uidl");
    completeListing(session, {"m1", "m2"});
    session.markAsRead();
    ASSERT_TRUE(saveSeenFile(session, file.c_str()));

    Pop3Session restarted;
    ASSERT_TRUE(loadSeenFile(restarted, file.c_str()));
    completeListing(restarted, {"m1", "m2", "m3"});
    EXPECT_EQ(restarted.unseenCount, 1);
    EXPECT_EQ(idsOf(restarted.notified), (Ids{"m3"}));
}

TEST_F(SeenFile, EmptySeenListWritesAnEmptyFile)
{
    std::string file = path("pellwick.uidl");
    writeWhole(file, "old\n");
    ASSERT_TRUE(saveSeenFile(session, file.c_str()));
    EXPECT_EQ(readWhole(file), "");
}

TEST_F(SeenFile, FailedReplaceLeavesThePreviousFileWholeAndNoLeftovers)
{
    std::string file = path("pellwick.uidl");
    writeWhole(file, "previous1\nprevious2\n");
    completeListing(session, {"new"});
    session.markAsRead();
    EXPECT_FALSE(saveSeenFile(session, file.c_str(), failingReplace));
    EXPECT_EQ(readWhole(file), "previous1\nprevious2\n");
    Pop3Session reader;
    ASSERT_TRUE(loadSeenFile(reader, file.c_str()));
    EXPECT_EQ(idsOf(reader.seen), (Ids{"previous1", "previous2"}));
    std::FILE* leftover = std::fopen((file + ".new").c_str(), "r");
    EXPECT_EQ(leftover, nullptr);
    if (leftover != nullptr)
        std::fclose(leftover);
}

TEST_F(SeenFile, SaveIntoAMissingFolderFailsWithoutHarm)
{
    completeListing(session, {"a"});
    session.markAsRead();
    EXPECT_FALSE(saveSeenFile(session, path("no-such-folder/pellwick.uidl").c_str()));
    EXPECT_EQ(idsOf(session.seen), (Ids{"a"}));
}

// ---- The seen-message file of a running program ----

// A file that cannot be read (here a folder in its place: opening or reading it fails) is
// not replaced, nothing of the first listing is announced, yet new arrivals are; once it
// can be read, its ids and the marks made meanwhile are both kept.
TEST_F(SeenFile, UnreadableFileIsKeptAndMergedWithTheMarksOnceRead)
{
    std::string file = path("pellwick.uidl");
    std::filesystem::create_directory(file);
    SeenMessageFile seenFile;
    seenFile.setPath(file.c_str());
    EXPECT_FALSE(seenFile.read(session));

    completeListing(session, {"a", "b"});
    EXPECT_EQ(session.unseenCount, 2);
    EXPECT_EQ(session.freshMail, 0) << "every message may have been seen before";
    completeListing(session, {"a", "b", "d"});
    EXPECT_EQ(session.freshMail, 1) << "an arrival during the run is new";
    session.markAsRead();
    EXPECT_FALSE(seenFile.save(session));
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_EQ(session.seenFileState(), Pop3Session::SeenFileState::Unreadable);

    std::filesystem::remove(file);
    writeWhole(file, "c\na\n");
    ASSERT_TRUE(seenFile.save(session));
    EXPECT_EQ(idsOf(session.seen), (Ids{"a", "b", "c", "d"}));
    Pop3Session restarted;
    ASSERT_TRUE(loadSeenFile(restarted, file.c_str()));
    EXPECT_EQ(idsOf(restarted.seen), (Ids{"a", "b", "c", "d"}));
    writeWhole(file, "x\n");
    EXPECT_TRUE(seenFile.read(session));
    EXPECT_EQ(idsOf(session.seen), (Ids{"a", "b", "c", "d"})) << "read once only";
}

TEST_F(SeenFile, MissingFileIsReadWholeAndTheFirstListingAnnounced)
{
    std::string file = path("pellwick.uidl");
    SeenMessageFile seenFile;
    seenFile.setPath(file.c_str());
    EXPECT_TRUE(seenFile.read(session));
    completeListing(session, {"a"});
    EXPECT_EQ(session.freshMail, 1);
    session.markAsRead();
    ASSERT_TRUE(seenFile.save(session));
    EXPECT_EQ(readWhole(file), "a" + lineEnd);
}

TEST_F(SeenFile, SaveReplacesALeftoverTemporaryFile)
{
    std::string file = path("pellwick.uidl");
    writeWhole(file + ".new", "garbage from a crash\n");
    completeListing(session, {"a"});
    session.markAsRead();
    ASSERT_TRUE(saveSeenFile(session, file.c_str()));
    EXPECT_EQ(readWhole(file), "a" + lineEnd);
}

// ---- Damaged files, and faults while saving ----

// Each damaged file loads as these ids, and a listing of the same ids announces nothing: the
// next run does not take the whole mailbox for new.
struct DamagedFile {
    const char* name;
    std::string bytes;
    Ids ids;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const DamagedFile& row, std::ostream* out)
{
    *out << row.name;
}

std::string manyLines(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "id" + std::to_string(i) + "\n";
    return text;
}

std::vector<DamagedFile> damagedFiles()
{
    Ids many;
    for (int i = 0; i < 100000; ++i)
        many.insert("id" + std::to_string(i));
    return {
        {"Empty", "", {}},
        {"CutMidLine", "alpha\nbeta\ngam", {"alpha", "beta", "gam"}},
        {"NoFinalLineEnd", "alpha\nbeta", {"alpha", "beta"}},
        {"CarriageReturnLineEnds", "alpha\r\nbeta\r\n", {"alpha", "beta"}},
        {"ByteOrderMark",
         "\xEF\xBB\xBF"
         "alpha\nbeta\n",
         {"alpha", "beta"}},
        {"Duplicates", "alpha\nalpha\nbeta\n", {"alpha", "alpha", "beta"}},
        {"BinaryJunk",
         std::string("\x01\x02\n\0\0\n \t\n\xFF\xFE\nalpha\n\r\r\n", 19),
         {"\x01\x02", "\xFF\xFE", "alpha"}},
        {"HundredThousandLines", manyLines(100000), many},
    };
}

class DamagedSeenFile : public ::testing::TestWithParam<DamagedFile> {};

TEST_P(DamagedSeenFile, LoadsTheIdsItHoldsAndAnnouncesNoneOfThemAgain)
{
    testbench::TempDirectory directory;
    std::string file = directory.path() + "/pellwick.uidl";
    writeWhole(file, GetParam().bytes);
    Pop3Session session;
    EXPECT_TRUE(loadSeenFile(session, file.c_str()));
    EXPECT_EQ(idsOf(session.seen), GetParam().ids);
    session.current.clear();
    for (const std::string& id : GetParam().ids)
        session.current.insertFront(id.c_str());
    session.reconcile();
    EXPECT_EQ(session.freshMail, 0);
    EXPECT_EQ(session.unseenCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedSeenFile, ::testing::ValuesIn(damagedFiles()),
                         [](const ::testing::TestParamInfo<DamagedFile>& info) {
                             return std::string(info.param.name);
                         });

// Saving over "old" when something goes wrong: afterwards the file is the old one or the new
// one, whole, and a fresh load of it announces nothing that was marked.
class SeenFileFault : public SeenFile {
protected:
    void SetUp() override
    {
        file = path("pellwick.uidl");
        writeWhole(file, "old1\nold2\n");
        completeListing(session, {"old1", "old2", "new"});
        session.markAsRead();
    }
    void expectOldOrNewWhole()
    {
        Pop3Session next;
        ASSERT_TRUE(loadSeenFile(next, file.c_str()));
        Ids loaded = idsOf(next.seen);
        EXPECT_TRUE(loaded == (Ids{"old1", "old2"}) || loaded == (Ids{"old1", "old2", "new"}))
            << "the file holds: " << readWhole(file);
        completeListing(next, {"old1", "old2"});
        EXPECT_EQ(next.freshMail, 0);
    }
    std::string file;
};

#ifndef _WIN32
[[noreturn]] bool dieBeforeReplacing(const char*, const char*)
{
    _exit(9);
}

TEST_F(SeenFileFault, KillBetweenTheWriteAndTheReplaceLeavesTheOldFile)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        saveSeenFile(session, file.c_str(), dieBeforeReplacing); // never returns
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << "the child was not stopped at the replace";
    EXPECT_EQ(readWhole(file), "old1\nold2\n");
    expectOldOrNewWhole();
    EXPECT_TRUE(saveSeenFile(session, file.c_str())) << "the next save is held up by the leftover";
}
#endif

TEST_F(SeenFileFault, ReadOnlyFileIsReplacedWholeOrLeftWhole)
{
#ifdef _WIN32
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
#else
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
#endif
    saveSeenFile(session, file.c_str());
    expectOldOrNewWhole();
#ifdef _WIN32
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
}

#ifdef _WIN32
TEST_F(SeenFileFault, FileHeldOpenWithoutSharingIsLeftWhole)
{
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Pop3Session blocked;
    EXPECT_FALSE(loadSeenFile(blocked, file.c_str())) << "a file that could not be read was taken as read";
    EXPECT_FALSE(saveSeenFile(session, file.c_str()));
    CloseHandle(held);
    EXPECT_EQ(readWhole(file), "old1\nold2\n");
    expectOldOrNewWhole();
}
#endif

} // namespace
