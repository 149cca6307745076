#pragma once

// Queues `message` (wParam 0, lParam 0) for the native window `window` and returns at once;
// a window that no longer exists loses it without harm. Does nothing where there are no
// native windows.
void postToWindow(void* window, unsigned message);
