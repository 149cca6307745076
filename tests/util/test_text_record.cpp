#include <gtest/gtest.h>

#include <cstring>

#include "util/text_record.h"

namespace {

TEST(TextRecordAssign, NewRecordHoldsNothing)
{
    TextRecord record;
    EXPECT_EQ(record.text, nullptr);
    EXPECT_EQ(record.wide, nullptr);
}

TEST(TextRecordAssign, WholeTextIsCopied)
{
    const char source[] = "server.example";
    TextRecord record;
    record.assign(source);
    ASSERT_NE(record.text, nullptr);
    EXPECT_NE(record.text, source);
    EXPECT_STREQ(record.text, "server.example");
}

TEST(TextRecordAssign, LengthThreeKeepsTheFirstThreeLetters)
{
    TextRecord record;
    record.assign("abcdef", 3);
    EXPECT_STREQ(record.text, "abc");
}

TEST(TextRecordAssign, EmbeddedNulBytesAreCopiedAsTheyAre)
{
    TextRecord record;
    record.assign("ab\0cd", 5);
    ASSERT_NE(record.text, nullptr);
    EXPECT_EQ(std::memcmp(record.text, "ab\0cd\0", 6), 0);
}

TEST(TextRecordAssign, AbsentSourceLeavesTheTextAbsent)
{
    TextRecord record;
    record.assign("old");
    record.assign(nullptr);
    EXPECT_EQ(record.text, nullptr);
}

TEST(TextRecordAssign, ReassigningLeavesTheWideCopyAlone)
{
    TextRecord record;
    record.assign("one");
    record.toWide();
    record.assign("two");
    EXPECT_STREQ(record.text, "two");
    ASSERT_NE(record.wide, nullptr);
    EXPECT_EQ(record.wide[0], L'o');
}

TEST(TextRecordAssign, ClearReleasesBoth)
{
    TextRecord record;
    record.assign("x");
    record.toWide();
    record.clear();
    EXPECT_EQ(record.text, nullptr);
    EXPECT_EQ(record.wide, nullptr);
}

size_t wideLength(const wchar_t* text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

TEST(TextRecordToWide, AsciiKeepsEveryCharacter)
{
    TextRecord record;
    record.assign("Inbox 3");
    record.toWide();
    ASSERT_NE(record.wide, nullptr);
    ASSERT_EQ(wideLength(record.wide), 7u);
    EXPECT_EQ(record.wide[0], L'I');
    EXPECT_EQ(record.wide[6], L'3');
}

TEST(TextRecordToWide, TwoByteSequencesGiveFewerUnitsThanBytes)
{
    TextRecord record;
    record.assign("M\xC3\xBCller \xC3\xA9t\xC3\xA9"); // "Müller été"
    record.toWide();
    ASSERT_NE(record.wide, nullptr);
    EXPECT_EQ(wideLength(record.wide), 10u);
    EXPECT_LT(wideLength(record.wide), std::strlen(record.text));
    EXPECT_EQ(static_cast<unsigned>(record.wide[1]), 0xFCu);
    EXPECT_EQ(static_cast<unsigned>(record.wide[7]), 0xE9u);
}

TEST(TextRecordToWide, CharactersBeyondTheBasicPlaneBecomeSurrogatePairs)
{
    TextRecord record;
    record.assign("\xF0\x9F\x93\xA7"); // U+1F4E7, an envelope
    record.toWide();
    ASSERT_NE(record.wide, nullptr);
    ASSERT_EQ(wideLength(record.wide), 2u);
    EXPECT_EQ(static_cast<unsigned>(record.wide[0]), 0xD83Du);
    EXPECT_EQ(static_cast<unsigned>(record.wide[1]), 0xDCE7u);
}

TEST(TextRecordToWide, InvalidBytesStillGiveATerminatedText)
{
    TextRecord record;
    record.assign("a\xFF"
                  "b");
    record.toWide();
    ASSERT_NE(record.wide, nullptr);
    ASSERT_EQ(wideLength(record.wide), 3u);
    EXPECT_EQ(record.wide[0], L'a');
    EXPECT_EQ(record.wide[2], L'b');
}

TEST(TextRecordToWide, ConvertingAgainReplacesTheEarlierCopy)
{
    TextRecord record;
    record.assign("first");
    record.toWide();
    record.assign("2nd");
    record.toWide();
    ASSERT_EQ(wideLength(record.wide), 3u);
    EXPECT_EQ(record.wide[0], L'2');
}

} // namespace
