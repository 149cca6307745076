#pragma once

#include <vector>

#include "mail/checker/checker_thread.h"

// The floating window's one line: the counts, or the text of a failed check.
const int statusTextSize = 32; // at most 31 characters
const int countsWindowWidth = 100;
// Every failure text is wider than the counts, so the window grows for it.
const int failureWindowWidth = 200;
const int floatingWindowHeight = 30;

// Writes the text for `shown` into text (cut to size - 1 characters) and returns the window
// width it needs: "unseen / total" while the last check succeeded (or none has finished),
// the failure's own text otherwise.
int formatStatusText(const CheckSnapshot& shown, char* text, int size);

// The same status in words, as a screen reader says it and the tray tooltip shows it:
// "2 unseen of 5 messages", or the failure's own text. The longest is 41 characters for one
// account; several accounts take about 40 each (formatAccountsSpoken).
const int spokenTextSize = 1024;
void formatSpokenStatus(const CheckSnapshot& shown, char* text, int size);

// The new-mail balloon: a title of at most 63 characters and a text line.
const int balloonTitleSize = 64;
const int balloonTextSize = 256;
// "3 new messages" (or "1 new message") from the unseen count, and the total on the second
// line: "17 messages in the mailbox".
void formatBalloonText(const CheckSnapshot& shown, char* title, int titleSize, char* text, int textSize);

// Not Checking and not Ok: the check failed, and the window shows why.
bool isFailureStatus(CheckStatus status);

// One account as the window and the notification name it.
struct AccountStatus {
    const char* name;
    CheckSnapshot shown;
};
// Several accounts in one: the counts of those that did not fail, summed, with every account's
// fresh mail; the status is Ok unless all failed, then the first one's.
CheckSnapshot sumAccounts(const std::vector<AccountStatus>& accounts);
// The window's line for several accounts: the summed counts, with a mark when one failed.
int formatAccountsStatusText(const std::vector<AccountStatus>& accounts, char* text, int size);
// "Work 2 of 10, Home 1 of 4", a failed one with its failure: "Home: Server not responding".
void formatAccountsSpoken(const std::vector<AccountStatus>& accounts, char* text, int size);
// The notification for several accounts: the title as formatBalloonText's, then the accounts
// with unseen mail and their counts, "2 new: Work 1, Home 1" (news of one account while another's
// is still unseen names both, as the title counts both).
void formatAccountsBalloonText(const std::vector<AccountStatus>& accounts, char* title, int titleSize, char* text,
                               int textSize);
