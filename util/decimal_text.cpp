#include "util/decimal_text.h"

#include <climits>

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool scanDecimal(const char*& cursor, const char* end, DecimalNumber& number)
{
    const char* p = cursor;
    auto more = [&p, end] { return end != nullptr ? p < end : *p != '\0'; };
    while (more() && isBlank(*p))
        ++p;
    bool negative = more() && *p == '-';
    if (more() && (*p == '+' || *p == '-'))
        ++p;
    if (!more() || *p < '0' || *p > '9')
        return false;
    // The magnitude stops growing once past the 32-bit range; the low bits wrap exactly.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    uint32_t lowBits = 0;
    for (; more() && *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= limit)
            magnitude = magnitude * 10 + (*p - '0');
        lowBits = lowBits * 10u + static_cast<uint32_t>(*p - '0');
    }
    number.fitsInt = magnitude <= limit;
    if (!number.fitsInt)
        magnitude = limit;
    number.value = static_cast<int>(negative ? -magnitude : magnitude);
    number.lowBits = negative ? 0u - lowBits : lowBits;
    cursor = p;
    return true;
}

int parseDecimal(const char* text)
{
    if (text == nullptr)
        return 0;
    DecimalNumber number;
    return scanDecimal(text, nullptr, number) ? number.value : 0;
}
