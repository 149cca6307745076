#include "app/display_theme.h"

#include <cstring>

#include "res/resource.h"

namespace {

const char personalizeKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
const char lightTaskbarValue[] = "SystemUsesLightTheme";
const char colourThemeSetting[] = "ImmersiveColorSet";
// What the floating window has always drawn on the new-mail colour.
const COLORREF textOnNewMailColour = RGB(0, 0, 0);

} // namespace

TaskbarTheme readTaskbarTheme()
{
    DWORD light = 0;
    DWORD size = sizeof light;
    if (RegGetValueA(HKEY_CURRENT_USER, personalizeKey, lightTaskbarValue, RRF_RT_REG_DWORD, nullptr, &light, &size) !=
        ERROR_SUCCESS)
        return TaskbarTheme::Unreported;
    return light ? TaskbarTheme::Light : TaskbarTheme::Dark;
}

bool isColourThemeChange(LPARAM settingName)
{
    const char* name = reinterpret_cast<const char*>(settingName);
    return name && strcmp(name, colourThemeSetting) == 0;
}

int trayIconResource(TaskbarTheme theme, bool unseenMail)
{
    if (theme == TaskbarTheme::Dark)
        return unseenMail ? IDI_NEW_MAIL_DARK_TASKBAR : IDI_NO_MAIL_DARK_TASKBAR;
    return unseenMail ? IDI_NEW_MAIL : IDI_NO_MAIL;
}

FloatingColours floatingColours(bool highContrast, bool newMailFill, COLORREF newMailColour)
{
    if (highContrast && newMailFill)
        return {true, GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_HIGHLIGHTTEXT)};
    if (newMailFill)
        return {true, newMailColour, textOnNewMailColour};
    return {false, GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOWTEXT)};
}

bool highContrastOn()
{
    HIGHCONTRASTA contrast = {};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}
