#pragma once

#include <cstdint>

// White space as the C library sees it: blank, tab, line feed, vertical tab, form feed, CR.
// Inline: the listing reader asks it of nearly every byte.
inline bool isBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value of a hexadecimal digit in either letter case; -1 for any other character.
inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// One decimal number as the C library's "%d" conversion reads it: white space, an optional
// sign, at least one digit, ending at the first other character. Out-of-range values are
// kept in both the ways callers need them, never undefined.
struct DecimalNumber {
    int value = 0;        // saturated at INT_MIN or INT_MAX
    bool fitsInt = true;  // false when value was saturated
    uint32_t lowBits = 0; // the exact value modulo 2^32, as a conversion to unsigned keeps it
};

// Scans the number at `cursor`, never past `end` (null: up to the NUL). On success `cursor`
// points after the last digit; without digits it is false and `cursor` is left as it was.
bool scanDecimal(const char*& cursor, const char* end, DecimalNumber& number);

// The value of the number at the start of `text`; no digits (or a null text) gives 0.
int parseDecimal(const char* text);
