#include "util/settings_values.h"

#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

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

// One "%d" conversion of a scan: white space, an optional sign and at least one digit. Only
// the low 8 bits of the number count, so it is kept modulo 2^32 (defined for unsigned).
bool scanColourComponent(const char*& text, uint32_t& component)
{
    const char* cursor = text;
    while (isBlank(*cursor))
        ++cursor;
    bool negative = false;
    if (*cursor == '+' || *cursor == '-')
        negative = *cursor++ == '-';
    if (*cursor < '0' || *cursor > '9')
        return false;
    uint32_t value = 0;
    for (; *cursor >= '0' && *cursor <= '9'; ++cursor)
        value = value * 10u + static_cast<uint32_t>(*cursor - '0');
    component = negative ? 0u - value : value;
    text = cursor;
    return true;
}

} // namespace

bool decodeSettingsBool(const char* text)
{
    return sameIgnoringCase(text, "true") || std::strcmp(text, "1") == 0 || sameIgnoringCase(text, "y") ||
           sameIgnoringCase(text, "yes");
}

uint32_t decodeSettingsColour(const char* text, uint32_t fallback)
{
    uint32_t components[3];
    for (int index = 0; index < 3; ++index) {
        if (!scanColourComponent(text, components[index]))
            return fallback;
        if (index < 2 && *text++ != ',')
            return fallback;
    }
    return (components[0] & 0xFF) | (components[1] & 0xFF) << 8 | (components[2] & 0xFF) << 16;
}
