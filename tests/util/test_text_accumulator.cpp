#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "util/text_accumulator.h"

namespace {

std::string flattened(const TextAccumulator& accumulator, size_t* size = nullptr)
{
    char* text = accumulator.flatten(size);
    std::string result(text);
    delete[] text;
    return result;
}

TEST(TextAccumulator, EmptyAccumulatorFlattensToEmptyText)
{
    TextAccumulator accumulator;
    size_t size = 0;
    EXPECT_EQ(flattened(accumulator, &size), "");
    EXPECT_EQ(size, 1u);
}

TEST(TextAccumulator, EmptyTextGivesEmptyResult)
{
    TextAccumulator accumulator;
    accumulator.append("");
    size_t size = 0;
    EXPECT_EQ(flattened(accumulator, &size), "");
    EXPECT_EQ(size, 1u);
}

TEST(TextAccumulator, PiecesAreJoinedInOrder)
{
    TextAccumulator accumulator;
    accumulator.append("+OK\r\n1 a");
    accumulator.append("bc\r\n");
    accumulator.append(".\r\n");
    size_t size = 0;
    EXPECT_EQ(flattened(accumulator, &size), "+OK\r\n1 abc\r\n.\r\n");
    EXPECT_EQ(size, 16u);
}

TEST(TextAccumulator, FullBlockThenOneMoreStartsASecondBlock)
{
    TextAccumulator accumulator;
    std::string expected;
    for (int i = 0; i < 65535; ++i) {
        char piece[2] = {static_cast<char>('a' + i % 26), '\0'};
        accumulator.append(piece);
        expected += piece[0];
    }
    accumulator.append("Z");
    expected += 'Z';
    size_t size = 0;
    std::string text = flattened(accumulator, &size);
    EXPECT_EQ(text.size(), 65536u);
    EXPECT_EQ(size, 65537u);
    EXPECT_EQ(text, expected);
}

TEST(TextAccumulator, PieceThatDoesNotFitTheRestMovesWholeToANewBlock)
{
    TextAccumulator accumulator;
    std::string first(65000, 'a');
    std::string second(1000, 'b');
    accumulator.append(first.c_str());
    accumulator.append(second.c_str());
    EXPECT_EQ(flattened(accumulator), first + second);
}

TEST(TextAccumulator, TextLongerThanABlockIsDropped)
{
    TextAccumulator accumulator;
    accumulator.append("kept");
    std::string huge(65536, 'x');
    accumulator.append(huge.c_str());
    EXPECT_EQ(flattened(accumulator), "kept");
}

TEST(TextAccumulator, ReleaseEmptiesIt)
{
    TextAccumulator accumulator;
    accumulator.append("something");
    accumulator.release();
    EXPECT_EQ(flattened(accumulator), "");
    accumulator.append("again");
    EXPECT_EQ(flattened(accumulator), "again");
}

} // namespace
