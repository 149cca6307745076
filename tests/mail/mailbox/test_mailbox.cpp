#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "mail/mailbox/mailbox.h"
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
void completeListing(Mailbox& mailbox, std::initializer_list<const char*> listed)
{
    mailbox.freshMail = 0;
    mailbox.current.clear();
    for (const char* id : listed)
        mailbox.current.insertFront(id);
    mailbox.reconcile();
}

std::vector<std::string> seenInOrder(const Mailbox& mailbox)
{
    std::vector<std::string> ids;
    for (const char* id : mailbox.seen)
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
    Mailbox mailbox;
    completeListing(mailbox, {"a", "b", "c"});
    EXPECT_EQ(mailbox.unseenCount, 3);
    EXPECT_EQ(mailbox.totalCount, 3);
    EXPECT_EQ(idsOf(mailbox.notified), (Ids{"a", "b", "c"}));
    EXPECT_EQ(mailbox.freshMail, 1);
}

TEST(NewMailCount, SameListingAgainCountsButDoesNotAnnounce)
{
    Mailbox mailbox;
    completeListing(mailbox, {"a", "b", "c"});
    completeListing(mailbox, {"a", "b", "c"});
    EXPECT_EQ(mailbox.unseenCount, 3);
    EXPECT_EQ(mailbox.totalCount, 3);
    EXPECT_EQ(mailbox.freshMail, 0);
    EXPECT_EQ(mailbox.notified.size(), 3u);
}

TEST(NewMailCount, OnlyTheNewArrivalIsAnnounced)
{
    Mailbox mailbox;
    completeListing(mailbox, {"a", "b"});
    completeListing(mailbox, {"a", "b", "c"});
    EXPECT_EQ(mailbox.unseenCount, 3);
    EXPECT_EQ(mailbox.freshMail, 1);
    EXPECT_EQ(idsOf(mailbox.notified), (Ids{"a", "b", "c"}));
}

TEST(NewMailCount, DuplicateListingLinesCountTwice)
{
    Mailbox mailbox;
    completeListing(mailbox, {"dup", "dup", "x"});
    EXPECT_EQ(mailbox.totalCount, 3);
    EXPECT_EQ(mailbox.unseenCount, 3);
    EXPECT_EQ(idsOf(mailbox.notified), (Ids{"dup", "x"}));
    mailbox.markAsRead();
    completeListing(mailbox, {"dup", "dup", "x"});
    EXPECT_EQ(mailbox.totalCount, 3);
    EXPECT_EQ(mailbox.unseenCount, 0);
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"dup", "x"}));
}

TEST(NewMailCount, EmptyMailboxForgetsEverySeenId)
{
    Mailbox mailbox;
    completeListing(mailbox, {"a", "b"});
    mailbox.markAsRead();
    completeListing(mailbox, {});
    EXPECT_EQ(mailbox.totalCount, 0);
    EXPECT_EQ(mailbox.unseenCount, 0);
    EXPECT_EQ(mailbox.seen.size(), 0u);
}

TEST(NewMailCount, SeenMessageDeletedOnServerIsForgottenAndNewIfListedAgain)
{
    Mailbox mailbox;
    completeListing(mailbox, {"a", "b"});
    mailbox.markAsRead();
    completeListing(mailbox, {"b"});
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"b"}));
    EXPECT_EQ(mailbox.unseenCount, 0);
    completeListing(mailbox, {"a", "b"});
    EXPECT_EQ(mailbox.unseenCount, 1);
    EXPECT_EQ(mailbox.freshMail, 1);
}

TEST(NewMailCount, UnseenMessageDeletedOnServerDropsFromCountsButStaysAnnounced)
{
    Mailbox mailbox;
    completeListing(mailbox, {"a", "b"});
    completeListing(mailbox, {"b"});
    EXPECT_EQ(mailbox.unseenCount, 1);
    EXPECT_EQ(mailbox.totalCount, 1);
    EXPECT_TRUE(mailbox.notified.contains("a"));
    // Listed again before any Mark As Read: counted, not announced a second time.
    completeListing(mailbox, {"a", "b"});
    EXPECT_EQ(mailbox.unseenCount, 2);
    EXPECT_EQ(mailbox.freshMail, 0);
}

TEST(NewMailCount, SeenDuplicatesFromFileArePrunedAsAWhole)
{
    Mailbox mailbox;
    mailbox.seen.insertFront("gone");
    mailbox.seen.insertFront("kept");
    mailbox.seen.insertFront("gone");
    completeListing(mailbox, {"kept"});
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"kept"}));
}

// ---- Mark As Read ----

TEST(MarkAsRead, MarksTheListingAndNextArrivalIsNew)
{
    Mailbox mailbox;
    completeListing(mailbox, {"a", "b", "c"});
    mailbox.markAsRead();
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"a", "b", "c"}));
    EXPECT_EQ(mailbox.notified.size(), 0u);
    EXPECT_EQ(mailbox.unseenCount, 0);
    EXPECT_EQ(mailbox.totalCount, 3);
    completeListing(mailbox, {"a", "b", "c", "d"});
    EXPECT_EQ(mailbox.unseenCount, 1);
    EXPECT_EQ(mailbox.totalCount, 4);
    EXPECT_EQ(mailbox.freshMail, 1);
}

TEST(MarkAsRead, BeforeAnyListingOnlyForgetsAnnouncements)
{
    Mailbox mailbox;
    mailbox.seen.insertFront("old");
    mailbox.notified.insertFront("n");
    mailbox.unseenCount = 2;
    mailbox.markAsRead();
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"old"}));
    EXPECT_EQ(mailbox.notified.size(), 0u);
    EXPECT_EQ(mailbox.unseenCount, 0);
}

TEST(MarkAsRead, DoesNotDuplicateIdsAlreadySeen)
{
    Mailbox mailbox;
    completeListing(mailbox, {"a"});
    mailbox.markAsRead();
    completeListing(mailbox, {"a", "b"});
    mailbox.markAsRead();
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"a", "b"}));
}

// ---- The seen-message stream ----

class SeenFile : public ::testing::Test {
protected:
    std::string path(const char* name) const { return directory.path() + "/" + name; }
    testbench::TempDirectory directory;
    Mailbox mailbox;
};

TEST_F(SeenFile, LoadThenSaveWritesTheIdsInReverseOrder)
{
    std::string file = path("pellwick.uidl");
    writeWhole(file, "one\ntwo\nthree\n");
    ASSERT_TRUE(loadSeenFile(mailbox, file.c_str()));
    EXPECT_EQ(seenInOrder(mailbox), (std::vector<std::string>{"three", "two", "one"}));
    ASSERT_TRUE(saveSeenFile(mailbox, file.c_str()));
    EXPECT_EQ(readWhole(file), "three" + lineEnd + "two" + lineEnd + "one" + lineEnd);
}

TEST_F(SeenFile, CarriageReturnsAndEmptyLinesAreNotIds)
{
    std::string file = path("crlf.uidl");
    writeWhole(file, "one\r\n\r\n\ntwo\r\nthree");
    ASSERT_TRUE(loadSeenFile(mailbox, file.c_str()));
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"one", "two", "three"}));
}

TEST_F(SeenFile, OverLongLineIsSkippedWholeNotSplit)
{
    std::string file = path("long.uidl");
    std::string longest(Mailbox::maxSeenIdLength, 'L');
    std::string tooLong(Mailbox::maxSeenIdLength + 1, 'T');
    std::string farTooLong(3000, 'F');
    writeWhole(file, "before\n" + tooLong + "\n" + farTooLong + "\r\n" + longest + "\r\nafter\n");
    ASSERT_TRUE(loadSeenFile(mailbox, file.c_str()));
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"before", longest, "after"}));
}

TEST_F(SeenFile, OverLongLastLineWithoutLineEndIsSkipped)
{
    std::string file = path("tail.uidl");
    writeWhole(file, "kept\n" + std::string(2000, 'x'));
    ASSERT_TRUE(loadSeenFile(mailbox, file.c_str()));
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"kept"}));
}

TEST_F(SeenFile, LineWithANulByteIsSkippedAndTheNextLineKept)
{
    std::string file = path("zero-byte.uidl");
    writeWhole(file, std::string("ab\0cd\nnext\n", 11));
    ASSERT_TRUE(loadSeenFile(mailbox, file.c_str()));
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"next"}));
}

TEST_F(SeenFile, LoadReplacesWhatWasSeenBefore)
{
    mailbox.seen.insertFront("stale");
    std::string file = path("fresh.uidl");
    writeWhole(file, "fresh\n");
    ASSERT_TRUE(loadSeenFile(mailbox, file.c_str()));
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"fresh"}));
}

TEST_F(SeenFile, MissingFileIsAnEmptySeenList)
{
    mailbox.seen.insertFront("stale");
    EXPECT_FALSE(loadSeenFile(mailbox, path("absent.uidl").c_str()));
    EXPECT_EQ(mailbox.seen.size(), 0u);
}

TEST_F(SeenFile, MarksSurviveARestart)
{
    std::string file = path("pellwick.uidl");
    completeListing(mailbox, {"m1", "m2"});
    mailbox.markAsRead();
    ASSERT_TRUE(saveSeenFile(mailbox, file.c_str()));

    Mailbox restarted;
    ASSERT_TRUE(loadSeenFile(restarted, file.c_str()));
    completeListing(restarted, {"m1", "m2", "m3"});
    EXPECT_EQ(restarted.unseenCount, 1);
    EXPECT_EQ(idsOf(restarted.notified), (Ids{"m3"}));
}

TEST_F(SeenFile, EmptySeenListWritesAnEmptyFile)
{
    std::string file = path("pellwick.uidl");
    writeWhole(file, "old\n");
    ASSERT_TRUE(saveSeenFile(mailbox, file.c_str()));
    EXPECT_EQ(readWhole(file), "");
}

TEST_F(SeenFile, FailedReplaceLeavesThePreviousFileWholeAndNoLeftovers)
{
    std::string file = path("pellwick.uidl");
    writeWhole(file, "previous1\nprevious2\n");
    completeListing(mailbox, {"new"});
    mailbox.markAsRead();
    EXPECT_FALSE(saveSeenFile(mailbox, file.c_str(), failingReplace));
    EXPECT_EQ(readWhole(file), "previous1\nprevious2\n");
    Mailbox reader;
    ASSERT_TRUE(loadSeenFile(reader, file.c_str()));
    EXPECT_EQ(idsOf(reader.seen), (Ids{"previous1", "previous2"}));
    std::FILE* leftover = std::fopen((file + ".new").c_str(), "r");
    EXPECT_EQ(leftover, nullptr);
    if (leftover != nullptr)
        std::fclose(leftover);
}

TEST_F(SeenFile, SaveIntoAMissingFolderFailsWithoutHarm)
{
    completeListing(mailbox, {"a"});
    mailbox.markAsRead();
    EXPECT_FALSE(saveSeenFile(mailbox, path("no-such-folder/pellwick.uidl").c_str()));
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"a"}));
}

// ---- The seen-message file of a running program ----

// A file that cannot be read (a folder in its place, which opening or reading fails, or one
// too large to be read) is not replaced, nothing of the first listing is announced, yet new
// arrivals are; once it can be read, its ids and the marks made meanwhile are both kept.
struct UnreadableFile {
    const char* name;
    bool folder; // otherwise a sparse file, so that the test writes next to nothing
};

class UnreadableSeenFile : public SeenFile, public ::testing::WithParamInterface<UnreadableFile> {};

TEST_P(UnreadableSeenFile, IsKeptAndMergedWithTheMarksOnceRead)
{
    std::string file = path("pellwick.uidl");
    if (GetParam().folder)
        std::filesystem::create_directory(file);
    else {
        writeWhole(file, "a\n");
        std::filesystem::resize_file(file, std::uintmax_t(maxSeenFileBytes) + 1);
    }
    std::error_code notAFile;
    std::uintmax_t size = std::filesystem::file_size(file, notAFile);
    SeenMessageFile seenFile;
    seenFile.setPath(file.c_str());
    EXPECT_FALSE(seenFile.read(mailbox));

    completeListing(mailbox, {"a", "b"});
    EXPECT_EQ(mailbox.unseenCount, 2);
    EXPECT_EQ(mailbox.freshMail, 0) << "every message may have been seen before";
    completeListing(mailbox, {"a", "b", "d"});
    EXPECT_EQ(mailbox.freshMail, 1) << "an arrival during the run is new";
    mailbox.markAsRead();
    EXPECT_FALSE(seenFile.save(mailbox));
    EXPECT_EQ(GetParam().folder, std::filesystem::is_directory(file));
    EXPECT_EQ(size, std::filesystem::file_size(file, notAFile));
    EXPECT_EQ(mailbox.seenFileState(), Mailbox::SeenFileState::Unreadable);

    std::filesystem::remove(file);
    writeWhole(file, "c\na\n");
    ASSERT_TRUE(seenFile.save(mailbox));
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"a", "b", "c", "d"}));
    Mailbox restarted;
    ASSERT_TRUE(loadSeenFile(restarted, file.c_str()));
    EXPECT_EQ(idsOf(restarted.seen), (Ids{"a", "b", "c", "d"}));
    writeWhole(file, "x\n");
    EXPECT_TRUE(seenFile.read(mailbox));
    EXPECT_EQ(idsOf(mailbox.seen), (Ids{"a", "b", "c", "d"})) << "read once only";
}

INSTANTIATE_TEST_SUITE_P(Table, UnreadableSeenFile,
                         ::testing::Values(UnreadableFile{"Folder", true}, UnreadableFile{"Oversized", false}),
                         [](const ::testing::TestParamInfo<UnreadableFile>& info) { return info.param.name; });

TEST_F(SeenFile, MissingFileIsReadWholeAndTheFirstListingAnnounced)
{
    std::string file = path("pellwick.uidl");
    SeenMessageFile seenFile;
    seenFile.setPath(file.c_str());
    EXPECT_TRUE(seenFile.read(mailbox));
    completeListing(mailbox, {"a"});
    EXPECT_EQ(mailbox.freshMail, 1);
    mailbox.markAsRead();
    ASSERT_TRUE(seenFile.save(mailbox));
    EXPECT_EQ(readWhole(file), "a" + lineEnd);
}

TEST_F(SeenFile, SaveReplacesALeftoverTemporaryFile)
{
    std::string file = path("pellwick.uidl");
    writeWhole(file + ".new", "garbage from a crash\n");
    completeListing(mailbox, {"a"});
    mailbox.markAsRead();
    ASSERT_TRUE(saveSeenFile(mailbox, file.c_str()));
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
        {"BlankLines", "a\n" + std::string(100000, '\n') + "b\n", {"a", "b"}},
    };
}

class DamagedSeenFile : public ::testing::TestWithParam<DamagedFile> {};

TEST_P(DamagedSeenFile, LoadsTheIdsItHoldsAndAnnouncesNoneOfThemAgain)
{
    testbench::TempDirectory directory;
    std::string file = directory.path() + "/pellwick.uidl";
    writeWhole(file, GetParam().bytes);
    Mailbox mailbox;
    EXPECT_TRUE(loadSeenFile(mailbox, file.c_str()));
    EXPECT_EQ(idsOf(mailbox.seen), GetParam().ids);
    UidList sized;
    sized.reserve(GetParam().ids.size());
    EXPECT_LE(mailbox.seen.indexSlots(), sized.indexSlots()) << "room reserved for lines without an id";
    mailbox.current.clear();
    for (const std::string& id : GetParam().ids)
        mailbox.current.insertFront(id.c_str());
    mailbox.reconcile();
    EXPECT_EQ(mailbox.freshMail, 0);
    EXPECT_EQ(mailbox.unseenCount, 0);
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
        completeListing(mailbox, {"old1", "old2", "new"});
        mailbox.markAsRead();
    }
    void expectOldOrNewWhole()
    {
        Mailbox next;
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
        saveSeenFile(mailbox, file.c_str(), dieBeforeReplacing); // never returns
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << "the child was not stopped at the replace";
    EXPECT_EQ(readWhole(file), "old1\nold2\n");
    expectOldOrNewWhole();
    EXPECT_TRUE(saveSeenFile(mailbox, file.c_str())) << "the next save is held up by the leftover";
}
#endif

TEST_F(SeenFileFault, ReadOnlyFileIsReplacedWholeOrLeftWhole)
{
#ifdef _WIN32
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
#else
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
#endif
    saveSeenFile(mailbox, file.c_str());
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
    Mailbox blocked;
    EXPECT_FALSE(loadSeenFile(blocked, file.c_str())) << "a file that could not be read was taken as read";
    EXPECT_FALSE(saveSeenFile(mailbox, file.c_str()));
    CloseHandle(held);
    EXPECT_EQ(readWhole(file), "old1\nold2\n");
    expectOldOrNewWhole();
}
#endif

} // namespace
