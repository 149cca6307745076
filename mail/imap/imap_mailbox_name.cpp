#include "mail/imap/imap_mailbox_name.h"

#include <cstdint>
#include <vector>

namespace {

const char modifiedBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// The code point at `at`, which moves past it; false for anything that is not UTF-8.
bool nextCodePoint(const std::string& text, size_t& at, uint32_t& point)
{
    unsigned char lead = static_cast<unsigned char>(text[at++]);
    int more = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (more < 0 || lead >= 0xF8)
        return false;
    static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    point = more == 0 ? lead : lead & (0x3Fu >> more);
    for (int i = 0; i < more; ++i) {
        if (at == text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80)
            return false;
        point = (point << 6) | (static_cast<unsigned char>(text[at++]) & 0x3F);
    }
    return point >= smallest[more] && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF);
}

// "&", the modified base64 of the UTF-16 big-endian bytes without padding, "-".
void appendShifted(std::string& out, const std::vector<uint8_t>& bytes)
{
    out += '&';
    for (size_t at = 0; at < bytes.size(); at += 3) {
        size_t left = bytes.size() - at;
        uint32_t group = bytes[at] << 16 | (left > 1 ? bytes[at + 1] << 8 : 0) | (left > 2 ? bytes[at + 2] : 0);
        size_t characters = left >= 3 ? 4 : left + 1;
        for (size_t i = 0; i < characters; ++i)
            out += modifiedBase64[(group >> (18 - 6 * i)) & 0x3F];
    }
    out += '-';
}

void appendUtf16(std::vector<uint8_t>& bytes, uint32_t point)
{
    if (point >= 0x10000) {
        point -= 0x10000;
        appendUtf16(bytes, 0xD800 + (point >> 10));
        appendUtf16(bytes, 0xDC00 + (point & 0x3FF));
        return;
    }
    bytes.push_back(static_cast<uint8_t>(point >> 8));
    bytes.push_back(static_cast<uint8_t>(point & 0xFF));
}

} // namespace

std::string imapMailboxName(const std::string& utf8)
{
    std::string out;
    std::vector<uint8_t> shifted;
    size_t at = 0;
    while (at < utf8.size()) {
        uint32_t point = 0;
        if (!nextCodePoint(utf8, at, point) || point < 0x20 || point == 0x7F)
            return std::string();
        if (point > 0x7E) {
            appendUtf16(shifted, point);
            continue;
        }
        if (!shifted.empty())
            appendShifted(out, shifted);
        shifted.clear();
        out += point == '&' ? std::string("&-") : std::string(1, static_cast<char>(point));
    }
    if (!shifted.empty())
        appendShifted(out, shifted);
    return out;
}
