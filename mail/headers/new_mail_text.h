#pragma once

#include <string>
#include <vector>

#include "mail/headers/message_preview.h"

// The notification's text for new mail, in UTF-8: the newest unseen messages described
// (`previews`, newest first), one line each, "sender: subject", at most maxListed of them, then
// "and N more" for the rest of `unseenCount`. Empty when none is described: the caller then
// says what it said before. Each line is cut to maxLineCharacters, and the whole stays within
// maxUtf16Units, so that it fits the shell's notification text.
struct NewMailText {
    static const size_t maxListed = 3;
    static const size_t maxLineCharacters = 72;
    static const size_t maxUtf16Units = 255;
};
std::string newMailText(const std::vector<MessagePreview>& previews, int unseenCount);

// One message's line as the notification and the menu show it: "sender: subject", or either
// alone, or "(no sender)" when the header named neither.
std::string previewLine(const MessagePreview& preview, size_t maxCharacters);
