#pragma once

#include <windows.h>

// Sizes are designed for 96 dots per inch (100% scaling) and scaled to the DPI of the
// monitor a window is on.
const int designDpi = 96;

// The DPI of the window's monitor (Windows 10 1607 and later, or Wine); the system DPI for
// older systems and for a null window.
int dpiOfWindow(HWND window);
int scaleToDpi(int designPixels, int dpi);
// The font of the status text at `dpi`: the system's message font in bold.
HFONT createStatusFont(int dpi);
// Width in pixels of `text` in `font`.
int textWidth(HFONT font, const char* text);
// Moves a window rectangle that lies on no monitor onto the nearest one's work area, so that a
// position saved with a monitor that is gone does not hide the window.
void keepOnVisibleMonitor(int& left, int& top, int width, int height);
