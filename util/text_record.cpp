#include "util/text_record.h"

#include <cstring>

#include "util/platform/wide_text.h"

TextRecord::~TextRecord()
{
    clear();
}

void TextRecord::assign(const char* source, int length)
{
    delete[] text;
    text = nullptr;
    if (source == nullptr)
        return;
    size_t count = length < 0 ? std::strlen(source) : static_cast<size_t>(length);
    text = new char[count + 1];
    std::memcpy(text, source, count);
    text[count] = '\0';
}

void TextRecord::assign(const char* source)
{
    assign(source, -1);
}

void TextRecord::clear()
{
    delete[] text;
    delete[] wide;
    text = nullptr;
    wide = nullptr;
}

void TextRecord::toWide()
{
    delete[] wide;
    wide = nullptr;
    int units = convertUtf8ToWide(text, nullptr, 0);
    if (units == 0) {
        // Not convertible: an empty wide text rather than none, so callers need no test.
        wide = new wchar_t[1];
        wide[0] = L'\0';
        return;
    }
    wide = new wchar_t[units];
    if (convertUtf8ToWide(text, wide, units) != units)
        wide[0] = L'\0';
}
