#include <gtest/gtest.h>

#include <cstring>

#include "util/copy_bounded.h"

namespace {

// A destination with guard bytes on both sides, to see any write past the bound.
struct GuardedBuffer {
    static const int guard = 8;
    char bytes[64];
    GuardedBuffer() { std::memset(bytes, '#', sizeof bytes); }
    char* at() { return bytes + guard; }
    bool guardsIntact(size_t size) const
    {
        for (int i = 0; i < guard; ++i)
            if (bytes[i] != '#')
                return false;
        for (size_t i = guard + size; i < sizeof bytes; ++i)
            if (bytes[i] != '#')
                return false;
        return true;
    }
};

TEST(CopyBounded, SizeOneWritesOnlyTheTerminator)
{
    GuardedBuffer buffer;
    copyBounded(buffer.at(), 1, "hello");
    EXPECT_EQ(buffer.at()[0], '\0');
    EXPECT_TRUE(buffer.guardsIntact(1));
}

TEST(CopyBounded, SourceThatJustFitsIsCopiedWhole)
{
    GuardedBuffer buffer;
    copyBounded(buffer.at(), 6, "hello");
    EXPECT_STREQ(buffer.at(), "hello");
    EXPECT_TRUE(buffer.guardsIntact(6));
}

TEST(CopyBounded, OneCharacterTooLongLosesTheLast)
{
    GuardedBuffer buffer;
    copyBounded(buffer.at(), 5, "hello");
    EXPECT_STREQ(buffer.at(), "hell");
    EXPECT_TRUE(buffer.guardsIntact(5));
}

TEST(CopyBounded, EmptySourceGivesEmptyDestination)
{
    GuardedBuffer buffer;
    copyBounded(buffer.at(), 32, "");
    EXPECT_STREQ(buffer.at(), "");
    EXPECT_TRUE(buffer.guardsIntact(32));
}

TEST(CopyBounded, LongSourceNeverWritesPastTheBound)
{
    GuardedBuffer buffer;
    std::string longText(200, 'x');
    copyBounded(buffer.at(), 32, longText.c_str());
    EXPECT_EQ(std::strlen(buffer.at()), 31u);
    EXPECT_TRUE(buffer.guardsIntact(32));
}

} // namespace
