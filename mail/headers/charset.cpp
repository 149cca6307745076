#include "mail/headers/charset.h"

#include <cstring>

#include "mail/platform/charset_convert.h"

namespace {

const unsigned long replacementCharacter = 0xFFFD;
const int utf8Charset = -1;
const int asciiCharset = -2;
const int latin1Charset = -3;

// Charset names as compared: lower case, without '-', '_' and ' ' ("iso88592"), so that the
// spellings mailers use ("ISO_8859-2", "iso8859-2", "Windows-1252", "cp1252") meet.
std::string comparable(const std::string& name)
{
    std::string key;
    for (char c : name) {
        if (c == '-' || c == '_' || c == ' ')
            continue;
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return key;
}

struct KnownCharset {
    const char* name;
    int codePage;
};

// Only code pages that both Windows (and Wine) and the native build convert; ISO-8859-10,
// -14 and -16 have none on Windows and so stay unknown.
const KnownCharset knownCharsets[] = {
    {"utf8", utf8Charset},
    {"usascii", asciiCharset},
    {"ascii", asciiCharset},
    {"iso88591", latin1Charset},
    {"latin1", latin1Charset},
    {"iso88592", 28592},
    {"iso88593", 28593},
    {"iso88594", 28594},
    {"iso88595", 28595},
    {"iso88596", 28596},
    {"iso88597", 28597},
    {"iso88598", 28598},
    {"iso88598i", 28598},
    {"iso88599", 28599},
    {"iso885913", 28603},
    {"iso885915", 28605},
    {"windows874", 874},
    {"tis620", 874},
    {"shiftjis", 932},
    {"sjis", 932},
    {"gb2312", 936},
    {"gbk", 936},
    {"ksc56011987", 949},
    {"euckr", 949},
    {"big5", 950},
    {"koi8r", 20866},
    {"koi8u", 21866},
    {"eucjp", 20932},
};

int codePageOf(const std::string& charset)
{
    std::string key = comparable(charset);
    for (const KnownCharset& known : knownCharsets)
        if (key == known.name)
            return known.codePage;
    // windows-1250 .. windows-1258, also spelt cp1250 .. cp1258.
    for (const char* prefix : {"windows", "cp"}) {
        size_t length = std::strlen(prefix);
        if (key.size() == length + 4 && key.compare(0, length, prefix) == 0 && key.compare(length, 3, "125") == 0 &&
            key[length + 3] >= '0' && key[length + 3] <= '8')
            return 1250 + (key[length + 3] - '0');
    }
    return 0;
}

} // namespace

unsigned long nextCodePoint(const char* text, size_t size, size_t& at)
{
    unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    static const unsigned long minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (length == 0 || size - at < length) {
        ++at;
        return replacementCharacter;
    }
    unsigned long value = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return replacementCharacter;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++at;
        return replacementCharacter;
    }
    at += length;
    return value;
}

void appendCodePoint(unsigned long codePoint, std::string& out)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

void appendValidUtf8(const std::string& bytes, std::string& out)
{
    size_t at = 0;
    while (at < bytes.size()) {
        size_t start = at;
        unsigned long codePoint = nextCodePoint(bytes.data(), bytes.size(), at);
        if (codePoint == replacementCharacter && at == start + 1)
            appendCodePoint(codePoint, out);
        else
            out.append(bytes, start, at - start);
    }
}

bool appendCharsetAsUtf8(const std::string& charset, const std::string& bytes, std::string& out)
{
    int codePage = codePageOf(charset);
    if (codePage == utf8Charset) {
        appendValidUtf8(bytes, out);
    } else if (codePage == asciiCharset || codePage == latin1Charset) {
        // Latin-1 is the first 256 code points; US-ASCII has no byte above 0x7F.
        for (char c : bytes) {
            unsigned char byte = static_cast<unsigned char>(c);
            appendCodePoint(codePage == asciiCharset && byte >= 0x80 ? replacementCharacter : byte, out);
        }
    } else if (codePage == 0 || !appendCodePageAsUtf8(codePage, bytes.data(), bytes.size(), out)) {
        return false;
    }
    return true;
}
