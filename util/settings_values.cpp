#include "util/settings_values.h"

#include <cstring>

#include "util/decimal_text.h"

namespace {

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal but for the case of ASCII letters, as the Windows comparison sees them.
bool sameIgnoringCase(const char* text, const char* lowerWord)
{
    for (; *text != '\0' && *lowerWord != '\0'; ++text, ++lowerWord)
        if (lowerAscii(*text) != *lowerWord)
            return false;
    return *text == '\0' && *lowerWord == '\0';
}

} // namespace

bool decodeSettingsBool(const char* text)
{
    return sameIgnoringCase(text, "true") || std::strcmp(text, "1") == 0 || sameIgnoringCase(text, "y") ||
           sameIgnoringCase(text, "yes");
}

uint32_t decodeSettingsColour(const char* text, uint32_t fallback)
{
    // Only the low 8 bits of each number count, as a "%d,%d,%d" scan into bytes keeps them.
    uint32_t components[3];
    for (int index = 0; index < 3; ++index) {
        DecimalNumber number;
        if (!scanDecimal(text, nullptr, number))
            return fallback;
        components[index] = number.lowBits;
        if (index < 2 && *text++ != ',')
            return fallback;
    }
    return (components[0] & 0xFF) | (components[1] & 0xFF) << 8 | (components[2] & 0xFF) << 16;
}
