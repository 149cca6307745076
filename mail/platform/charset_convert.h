#pragma once

#include <cstddef>
#include <string>

// Appends `bytes`, text in the Windows code page `codePage` (1252, 28592, 932, ...), to `out`
// as UTF-8. False, `out` unchanged, when this system cannot convert that code page.
bool appendCodePageAsUtf8(int codePage, const char* bytes, size_t size, std::string& out);
