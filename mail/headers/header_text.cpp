#include "mail/headers/header_text.h"

#include <vector>

#include "mail/headers/charset.h"
#include "util/decimal_text.h"

namespace {

struct EncodedWord {
    std::string charset;
    std::string bytes; // decoded, still in `charset`
    size_t length = 0; // of the word as written
};

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Padding is optional, as many mailers leave it out; any other stray character fails.
bool decodeBase64(const std::string& text, std::string& out)
{
    unsigned long bits = 0;
    int count = 0;
    size_t end = text.find_last_not_of('=');
    for (size_t at = 0; end != std::string::npos && at <= end; ++at) {
        int value = base64Value(text[at]);
        if (value < 0)
            return false;
        bits = (bits << 6) | static_cast<unsigned long>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return true;
}

void decodeQuoted(const std::string& text, std::string& out)
{
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '_') {
            out += ' ';
        } else if (text[at] == '=' && at + 2 < text.size() && hexValue(text[at + 1]) >= 0 &&
                   hexValue(text[at + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[at + 1]) * 16 + hexValue(text[at + 2]));
            at += 2;
        } else {
            out += text[at];
        }
    }
}

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads "=?charset?B|Q?text?=" at `raw[at]`; a language after '*' in the charset (RFC 2231)
// is dropped. False when there is none there.
bool readEncodedWord(const std::string& raw, size_t at, EncodedWord& word)
{
    if (raw.compare(at, 2, "=?") != 0)
        return false;
    size_t charsetEnd = raw.find('?', at + 2);
    if (charsetEnd == std::string::npos || charsetEnd == at + 2 || charsetEnd + 2 >= raw.size() ||
        raw[charsetEnd + 2] != '?')
        return false;
    size_t textStart = charsetEnd + 3;
    size_t textEnd = raw.find("?=", textStart);
    if (textEnd == std::string::npos)
        return false;
    for (size_t i = at + 2; i < textEnd; ++i)
        if (isWhiteSpace(raw[i]) || static_cast<unsigned char>(raw[i]) >= 0x80)
            return false;
    word.charset = raw.substr(at + 2, charsetEnd - at - 2);
    word.charset = word.charset.substr(0, word.charset.find('*'));
    word.bytes.clear();
    word.length = textEnd + 2 - at;
    std::string text = raw.substr(textStart, textEnd - textStart);
    char encoding = raw[charsetEnd + 1];
    if (encoding == 'Q' || encoding == 'q') {
        decodeQuoted(text, word.bytes);
        return true;
    }
    return (encoding == 'B' || encoding == 'b') && decodeBase64(text, word.bytes);
}

// Adjacent encoded words of one charset, decoded but not yet converted.
class PendingWords {
public:
    // Converts what is pending into `out`, or when that cannot be done puts the words as written.
    void flush(std::string& out)
    {
        if (!written.empty() && !appendCharsetAsUtf8(charset, bytes, out))
            appendValidUtf8(written, out);
        charset.clear();
        bytes.clear();
        written.clear();
    }
    void add(const EncodedWord& word, const std::string& asWritten, std::string& out)
    {
        if (word.charset != charset)
            flush(out);
        charset = word.charset;
        bytes += word.bytes;
        written += asWritten;
    }

private:
    std::string charset;
    std::string bytes;
    std::string written;
};

bool isRemovedForDisplay(unsigned long c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x200E || c == 0x200F || c == 0x061C || c == 0xFEFF;
}

bool isSpaceForDisplay(unsigned long c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0xA0 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

} // namespace

std::string decodeHeaderText(const std::string& raw)
{
    std::string out;
    PendingWords pending;
    std::string gap; // white space after an encoded word: dropped when another word follows
    bool afterWord = false;
    size_t at = 0;
    EncodedWord word;
    while (at < raw.size()) {
        if (readEncodedWord(raw, at, word)) {
            gap.clear();
            pending.add(word, raw.substr(at, word.length), out);
            at += word.length;
            afterWord = true;
            continue;
        }
        if (afterWord && isWhiteSpace(raw[at])) {
            gap += raw[at++];
            continue;
        }
        pending.flush(out);
        afterWord = false;
        out += gap;
        gap.clear();
        size_t next = raw.find("=?", at + 1);
        next = next == std::string::npos ? raw.size() : next;
        appendValidUtf8(raw.substr(at, next - at), out);
        at = next;
    }
    pending.flush(out);
    out += gap;
    return out;
}

std::string sanitizedForDisplay(const std::string& text, size_t maxCharacters)
{
    // Kept code points as UTF-8 pieces, one more than fit, so a cut is known without reading on.
    std::vector<std::string> kept;
    bool spaceDue = false;
    size_t at = 0;
    while (at < text.size() && kept.size() <= maxCharacters) {
        unsigned long c = nextCodePoint(text.data(), text.size(), at);
        if (isSpaceForDisplay(c)) {
            spaceDue = !kept.empty();
        } else if (!isRemovedForDisplay(c)) {
            if (spaceDue)
                kept.push_back(" ");
            spaceDue = false;
            kept.emplace_back();
            appendCodePoint(c, kept.back());
        }
    }
    if (kept.size() > maxCharacters && maxCharacters > 0) {
        kept.resize(maxCharacters - 1);
        while (!kept.empty() && kept.back() == " ")
            kept.pop_back();
        kept.push_back("\xE2\x80\xA6");
    } else if (kept.size() > maxCharacters) {
        kept.clear();
    }
    std::string shown;
    for (const std::string& piece : kept)
        shown += piece;
    return shown;
}
