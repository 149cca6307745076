#pragma once

#include <cstddef>

// An owned narrow text with an optional UTF-16 copy. Absent texts are null pointers.
// Not copyable: owners hold records by value or inside list nodes.
class TextRecord {
public:
    TextRecord() = default;
    ~TextRecord();
    TextRecord(const TextRecord&) = delete;
    TextRecord& operator=(const TextRecord&) = delete;

    // Replaces the text with exactly `length` bytes of `source` (NULs included) plus a NUL;
    // a negative length means up to the first NUL. A null source leaves the text absent.
    void assign(const char* source, int length);
    void assign(const char* source);
    // Releases both texts; both become absent.
    void clear();
    // Converts the text, taken as UTF-8, into `wide`. Call only while `text` is present.
    void toWide();

    char* text = nullptr;
    wchar_t* wide = nullptr;
};

// The record's text, or "" while it is absent.
inline const char* textOrEmpty(const TextRecord& record)
{
    return record.text != nullptr ? record.text : "";
}
