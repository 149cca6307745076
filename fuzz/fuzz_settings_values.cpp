// The settings file's value decoders fed arbitrary text (the input up to its first NUL).
// Checked besides memory safety, against the C library where it reads the same syntax:
// - integers: the value of strtol, held to the int range (saturating, never undefined);
// - booleans: exactly "true", "y", "yes" in any case, or "1";
// - colours: either the fallback or 0x00BBGGRR, and a decoded colour written as "r,g,b"
//   decodes to itself.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <strings.h>

#include "util/decimal_text.h"
#include "util/settings_values.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

int libraryInt(const char* text)
{
    long value = std::strtol(text, nullptr, 10);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

bool libraryBool(const char* text)
{
    return strcasecmp(text, "true") == 0 || strcasecmp(text, "y") == 0 || strcasecmp(text, "yes") == 0 ||
           std::string(text) == "1";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* value = text.c_str();
    require(parseDecimal(value) == libraryInt(value));
    require(decodeSettingsBool(value) == libraryBool(value));

    const uint32_t fallback = 0xFF000000u; // no decoded colour has its top byte set
    uint32_t colour = decodeSettingsColour(value, fallback);
    if (colour != fallback) {
        require((colour & 0xFF000000u) == 0);
        char written[32];
        std::snprintf(written, sizeof written, "%u,%u,%u", colour & 0xFF, (colour >> 8) & 0xFF, colour >> 16);
        require(decodeSettingsColour(written, fallback) == colour);
    }
    return 0;
}
