#pragma once

#include <cstddef>
#include <string>

// Appends `bytes`, text in the MIME charset named `charset` (any case; "UTF-8",
// "ISO-8859-2", "windows-1252", "Shift_JIS", ...), to `out` as UTF-8. An ill-formed byte
// becomes U+FFFD. False, `out` unchanged, for a charset this program does not know or this
// system cannot convert: the caller then shows the text as it came.
bool appendCharsetAsUtf8(const std::string& charset, const std::string& bytes, std::string& out);

// Appends `bytes` to `out` with every ill-formed UTF-8 sequence (overlong, surrogate, past
// U+10FFFF, cut short) replaced by U+FFFD, one for each byte it spans.
void appendValidUtf8(const std::string& bytes, std::string& out);

// The code point of the UTF-8 sequence at `text[at]` (at < size), `at` moved past it; an
// ill-formed byte gives U+FFFD and moves one byte.
unsigned long nextCodePoint(const char* text, size_t size, size_t& at);

// Appends the UTF-8 of `codePoint` (at most U+10FFFF, not a surrogate) to `out`.
void appendCodePoint(unsigned long codePoint, std::string& out);
