#include "mail/headers/new_mail_text.h"

#include "mail/headers/charset.h"
#include "mail/headers/header_text.h"

namespace {

size_t utf16Units(const std::string& text)
{
    size_t units = 0;
    size_t at = 0;
    while (at < text.size())
        units += nextCodePoint(text.data(), text.size(), at) >= 0x10000 ? 2 : 1;
    return units;
}

} // namespace

std::string previewLine(const MessagePreview& preview, size_t maxCharacters)
{
    std::string line = preview.sender;
    if (!line.empty() && !preview.subject.empty())
        line += ": ";
    line += preview.subject;
    return sanitizedForDisplay(line.empty() ? "(no sender)" : line, maxCharacters);
}

std::string newMailText(const std::vector<MessagePreview>& previews, int unseenCount)
{
    std::string text;
    size_t listed = 0;
    // Room kept for the last line, "and N more" (at most 20 units).
    const size_t room = NewMailText::maxUtf16Units - 20;
    for (const MessagePreview& preview : previews) {
        if (listed == NewMailText::maxListed)
            break;
        std::string line = (listed > 0 ? "\n" : "") + previewLine(preview, NewMailText::maxLineCharacters);
        if (utf16Units(text) + utf16Units(line) > room)
            break;
        text += line;
        ++listed;
    }
    int more = unseenCount - static_cast<int>(listed);
    if (listed > 0 && more > 0)
        text += "\nand " + std::to_string(more) + " more";
    return text;
}
