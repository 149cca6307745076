#pragma once

// Converts the NUL-terminated UTF-8 `text` to UTF-16 units, its NUL included, the way
// MultiByteToWideChar(CP_UTF8, 0, text, -1, ...) does. With capacity 0 only measures.
// Returns the number of units (written or needed), 0 when the text cannot be converted or
// the capacity is too small. Invalid sequences become U+FFFD.
int convertUtf8ToWide(const char* text, wchar_t* out, int capacity);
