#pragma once

#include <cstddef>
#include <string>

// Converts the NUL-terminated UTF-8 `text` to UTF-16 units, its NUL included, the way
// MultiByteToWideChar(CP_UTF8, 0, text, -1, ...) does. With capacity 0 only measures.
// Returns the number of units (written or needed), 0 when the text cannot be converted or
// the capacity is too small. Invalid sequences become U+FFFD.
int convertUtf8ToWide(const char* text, wchar_t* out, int capacity);

// The NUL-terminated UTF-8 `text` as a wide string, invalid sequences as U+FFFD; empty when it
// cannot be converted.
inline std::wstring wideFromUtf8(const char* text)
{
    int units = convertUtf8ToWide(text, nullptr, 0);
    if (units <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    convertUtf8ToWide(text, &wide[0], units);
    wide.resize(static_cast<size_t>(units - 1)); // the NUL
    return wide;
}
