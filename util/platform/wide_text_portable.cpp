#include "util/platform/wide_text.h"

namespace {

const unsigned long replacementCharacter = 0xFFFD;

// Decodes one sequence at `text`; sets `consumed` to its length (1 for an invalid byte).
unsigned long decodeOne(const unsigned char* text, int& consumed)
{
    unsigned char lead = text[0];
    consumed = 1;
    if (lead < 0x80)
        return lead;
    int length;
    unsigned long value;
    unsigned long minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return replacementCharacter;
    }
    for (int i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) // also stops at the NUL
            return replacementCharacter;
        value = (value << 6) | (text[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return replacementCharacter;
    consumed = length;
    return value;
}

} // namespace

int convertUtf8ToWide(const char* text, wchar_t* out, int capacity)
{
    const unsigned char* position = reinterpret_cast<const unsigned char*>(text);
    int units = 0;
    auto put = [&](unsigned long unit) {
        if (capacity > 0 && units < capacity)
            out[units] = static_cast<wchar_t>(unit);
        ++units;
    };
    for (;;) {
        if (*position == 0) {
            put(0);
            break;
        }
        int consumed;
        unsigned long value = decodeOne(position, consumed);
        position += consumed;
        if (value >= 0x10000) { // a surrogate pair, as UTF-16 has it
            value -= 0x10000;
            put(0xD800 + (value >> 10));
            put(0xDC00 + (value & 0x3FF));
        } else {
            put(value);
        }
    }
    if (capacity > 0 && units > capacity)
        return 0;
    return units;
}
