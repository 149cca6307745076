#pragma once

#include <cstddef>
#include <string>

// Header text as a person reads it, in UTF-8: RFC 2047 encoded words decoded (B and Q, the
// white space between two of them dropped, adjacent words of one charset joined before
// conversion so that a character split between them survives), raw 8-bit text read as UTF-8
// (RFC 6532), every ill-formed sequence replaced by U+FFFD. An encoded word in a charset
// this program cannot convert is left as written: plain ASCII, safe to show.
std::string decodeHeaderText(const std::string& raw);

// `text` (UTF-8) made safe to show on one line: control characters, the byte-order mark and
// the bidirectional marks, embeddings, overrides and isolates removed (a subject must not
// reorder what is shown after it), white space collapsed to single spaces and trimmed, at
// most `maxCharacters` code points kept, the last one "…" when the text was cut.
std::string sanitizedForDisplay(const std::string& text, size_t maxCharacters);
