#pragma once

#include <windows.h>

// Every message box of the dialogs goes through this pointer, so that a test can answer
// questions and capture reports; it starts as MessageBoxA.
using DialogMessageBoxFunction = int (*)(HWND owner, const char* text, const char* caption, UINT type);
extern DialogMessageBoxFunction dialogMessageBox;
