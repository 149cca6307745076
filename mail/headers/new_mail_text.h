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
// The same from lines already made (previewLine, accountPreviewLine), within `maxUtf16Units`.
std::string newMailText(const std::vector<std::string>& lines, int unseenCount,
                        size_t maxUtf16Units = NewMailText::maxUtf16Units);

// One message's line as the notification and the menu show it: "sender: subject", or either
// alone, or "(no sender)" when the header named neither.
std::string previewLine(const MessagePreview& preview, size_t maxCharacters);

// The same line naming the account first: "Work - sender: subject".
std::string accountPreviewLine(const std::string& account, const MessagePreview& preview, size_t maxCharacters);

// One account's unseen previews, newest first, under the name it is shown by.
struct AccountPreviews {
    std::string name;
    std::vector<MessagePreview> previews;
};
// A preview of several accounts' list and the account (its index) it came to.
struct MergedPreview {
    size_t account;
    MessagePreview preview;
};
// Every account's previews in one list, newest first by their Date field, at most `limit`.
// Each account's own order stays (its server's order of arrival); a message whose date cannot
// be read goes after the dated ones of the moment.
std::vector<MergedPreview> newestAcrossAccounts(const std::vector<AccountPreviews>& accounts, size_t limit);

// A Date field ("Tue, 1 Jul 2003 10:52:37 +0200") as seconds since 1970 in UTC; 0 when it
// cannot be read.
long long messageDateSeconds(const std::string& date);

// The notification of several accounts: `accountsLine` ("2 new: Work 1, Home 1") first, then
// the newest of every account's previews, each naming its account, as newMailText lists them
// in the room that is left, if any is.
std::string accountsNewMailText(const std::string& accountsLine, const std::vector<AccountPreviews>& accounts,
                                int unseenCount);
