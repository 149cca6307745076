#pragma once

#include <windows.h>

#include "app/settings.h"
#include "mail/checker_thread.h"

// Runs the configuration dialog on the stored settings and the window's colours. On OK the
// account goes to the checker in one step, the colours to the two references, and every
// key to the settings file in its order; true then. Cancel, a failed run, or a dialog that
// was already open (it is brought forward) change nothing and give false.
bool configureAccount(CheckerThread& checker, Settings& settings, bool& changeColour, COLORREF& newMailColour);
