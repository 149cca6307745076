#pragma once

#include <windows.h>

// What the desktop's theme asks of the program's drawing: tray icons that stand out on the
// taskbar, and the user's own colours in high-contrast mode.

// The taskbar's background as Windows 10 and 11 report it; older systems report none.
enum class TaskbarTheme { Unreported, Dark, Light };

// SystemUsesLightTheme under HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize:
// 0 dark, any other number light, Unreported when the value is missing.
TaskbarTheme readTaskbarTheme();
// True for the WM_SETTINGCHANGE whose lParam names the colour theme ("ImmersiveColorSet").
bool isColourThemeChange(LPARAM settingName);
// The tray icon for the theme: the white-on-black envelope on a dark taskbar; the
// black-on-white one on a light taskbar and where none is reported, as before.
int trayIconResource(TaskbarTheme theme, bool unseenMail);

// The floating window's colours: the new-mail fill when `fill` is set, and the text colour.
struct FloatingColours {
    bool fill;
    COLORREF background;
    COLORREF text;
};
// In high-contrast mode the system's colours replace the chosen new-mail colour: the
// selection colours while unseen mail is shown, the window colours otherwise.
FloatingColours floatingColours(bool highContrast, bool newMailFill, COLORREF newMailColour);
// SPI_GETHIGHCONTRAST.
bool highContrastOn();
