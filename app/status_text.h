#pragma once

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
// "2 unseen of 5 messages", or the failure's own text. The longest is 41 characters.
const int spokenTextSize = 64;
void formatSpokenStatus(const CheckSnapshot& shown, char* text, int size);

// The new-mail balloon: a title of at most 63 characters and a text line.
const int balloonTitleSize = 64;
const int balloonTextSize = 256;
// "3 new messages" (or "1 new message") from the unseen count, and the total on the second
// line: "17 messages in the mailbox".
void formatBalloonText(const CheckSnapshot& shown, char* title, int titleSize, char* text, int textSize);
