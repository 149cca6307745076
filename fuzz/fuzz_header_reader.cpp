// The header reader fed an arbitrary header block. Checked besides memory safety: sender,
// subject and date are well-formed UTF-8 within their bounds in characters, free of control
// characters and bidirectional controls, with no space at either end or two in a row. The
// date reader, which orders several accounts' messages, reads the date and the raw bytes.
#include <cstdlib>
#include <string>

#include "mail/headers/charset.h"
#include "mail/headers/message_preview.h"
#include "mail/headers/new_mail_text.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void checkShown(const std::string& text, size_t maxCharacters)
{
    std::string valid;
    appendValidUtf8(text, valid);
    require(valid == text);
    require(text.empty() || (text.front() != ' ' && text.back() != ' '));
    require(text.find("  ") == std::string::npos);
    size_t characters = 0;
    size_t at = 0;
    while (at < text.size()) {
        unsigned long c = nextCodePoint(text.data(), text.size(), at);
        require(c >= 0x20 && !(c >= 0x7F && c <= 0x9F));
        require(!(c >= 0x202A && c <= 0x202E) && !(c >= 0x2066 && c <= 0x2069));
        require(c != 0x200E && c != 0x200F && c != 0x061C);
        ++characters;
    }
    require(characters <= maxCharacters);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MessagePreview preview = readMessagePreview(reinterpret_cast<const char*>(data), size);
    checkShown(preview.sender, MessagePreviewBounds::maxSenderCharacters);
    checkShown(preview.subject, MessagePreviewBounds::maxSubjectCharacters);
    checkShown(preview.date, MessagePreviewBounds::maxDateCharacters);
    messageDateSeconds(preview.date);
    messageDateSeconds(std::string(reinterpret_cast<const char*>(data), size < 64 ? size : 64));
    return 0;
}
