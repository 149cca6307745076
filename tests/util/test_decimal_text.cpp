#include <gtest/gtest.h>

#include <cstring>

#include "util/decimal_text.h"

namespace {

// One scanner serves the settings' integers (saturated), the colours (low bits) and the
// listing's message numbers (refused beyond int, bounded by the line's end).
TEST(DecimalScan, ValueSaturationLowBitsAndWhereTheScanStops)
{
    struct Case {
        const char* text;
        size_t limit; // bytes the scan may look at; 0: up to the NUL
        bool found;
        int value;
        bool fitsInt;
        unsigned lowBits;
        size_t stop;
    } cases[] = {
        {" \t+42x", 0, true, 42, true, 42u, 5},
        {"-0012 id", 0, true, -12, true, 0u - 12u, 5},
        {"2147483647", 0, true, 2147483647, true, 2147483647u, 10},
        {"2147483648", 0, true, 2147483647, false, 2147483648u, 10},
        {"-2147483648", 0, true, -2147483647 - 1, true, 2147483648u, 11},
        {"-2147483649", 0, true, -2147483647 - 1, false, 2147483647u, 11},
        {"99999999999", 0, true, 2147483647, false, 0x4876E7FFu, 11},
        {"300,0,0", 0, true, 300, true, 300u, 3},
        {"123456", 3, true, 123, true, 123u, 3},
        {"  ", 0, false, 0, true, 0u, 0},
        {"-", 0, false, 0, true, 0u, 0},
        {"+ 5", 0, false, 0, true, 0u, 0},
        {"12", 1, true, 1, true, 1u, 1},
        {" 7", 1, false, 0, true, 0u, 0},
    };
    for (const Case& expected : cases) {
        const char* cursor = expected.text;
        const char* end = expected.limit != 0 ? expected.text + expected.limit : nullptr;
        DecimalNumber number;
        EXPECT_EQ(scanDecimal(cursor, end, number), expected.found) << expected.text;
        EXPECT_EQ(static_cast<size_t>(cursor - expected.text), expected.stop) << expected.text;
        if (!expected.found)
            continue;
        EXPECT_EQ(number.value, expected.value) << expected.text;
        EXPECT_EQ(number.fitsInt, expected.fitsInt) << expected.text;
        EXPECT_EQ(number.lowBits, expected.lowBits) << expected.text;
    }
    EXPECT_EQ(parseDecimal(nullptr), 0);
    EXPECT_EQ(parseDecimal("x1"), 0);
}

} // namespace
