#pragma once

#include <windows.h>

#include "account/mail_account.h"
#include "app/app_dialogs.h"
#include "app/display_theme.h"
#include "app/new_mail_menu.h"
#include "app/quiet_time.h"
#include "app/screen_scale.h"
#include "app/settings.h"
#include "app/sound_repeat.h"
#include "app/status_text.h"
#include "app/window_handlers.h"
#include "res/resource.h"
#include "util/holders/win32_holders.h"
#include "ui/window.h"
#include "util/text_record.h"

// What new mail and a double-click set off outside the program. Tests replace them to see
// what would be played or opened.
struct OutsideEffects {
    // PlaySoundA(sound, nullptr, flags).
    void (*playSound)(const char* sound, DWORD flags);
    // ShellExecuteA(owner, "open", target, nullptr, nullptr, SW_SHOW).
    void (*openTarget)(HWND owner, const char* target);
};
OutsideEffects platformEffects();

// The application object: the floating status window, and the owner of the account, the
// settings, the tray icon and the menu. It keeps the account's refresh token in the settings.
class NotifierApp : public Window, private RefreshTokenStore {
public:
    static const UINT trayCallbackMessage = WM_APP;
    static const UINT checkResultMessage = WM_APP + 1;
    // The account's checker holds a refresh token the provider replaced: store it now.
    static const UINT refreshTokenMessage = WM_APP + 2;
    static const int trayIconId = IDI_NO_MAIL;
    static const int noMailIconId = IDI_NO_MAIL;
    static const int newMailIconId = IDI_NEW_MAIL;
    static const int menuId = IDR_TRAY_MENU;
    static const char className[];

    // `dialogs` are those the application runs; without them Configure and About do nothing.
    explicit NotifierApp(HINSTANCE instance, const AppDialogs& dialogs = AppDialogs());
    ~NotifierApp() override;

    // Window, tray icon, settings, the account and its checker. False: end the program at once.
    bool startUp();

    int onOtherMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void onMenuCommand(int id) override;
    void onPaint(HDC context) override;
    void onLeftDoubleClick(WPARAM keyFlags, int pointX, int pointY) override;
    // The end of an hour of "Do not disturb", and the sound's repeat.
    void onTimer(UINT_PTR id) override;
    // Saves the seen list and the position, then destroys the window.
    void onClose() override;
    // WM_GETTEXT and WM_GETTEXTLENGTH give the status in words (the name screen readers say
    // and tests read); the title stays "pellwick", which is how the window is found.
    LRESULT windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    bool onTrayNotify(LPARAM event);
    bool onCheckResult();
    void runDoubleClickAction();
    // The double-click action's program or address, without marking anything read.
    void openMailProgram();
    void updateStatusText();
    void setFloatingVisible(bool show);
    void toggleFloatingVisible();
    // Sets the check mark of "Start with Windows" from the Run key.
    void showStartWithWindows();
    bool isUnconfigured() const;
    // The configuration dialog on the stored values; true when confirmed: the account's values
    // then go to the account, the colours to this window and every value to the settings file.
    // `atSignIn`: the focus starts on the Sign in button.
    bool configure(bool atSignIn = false);

    Settings settings;
    MailAccount account;
    DragHandler dragHandler;
    PopupMenuHandler popupMenu;
    NewMailMenu newMailMenu;
    WindowIconHandler windowIcon;
    TrayIconHandler trayIcon;
    bool changeColour = defaultChangeColour;
    COLORREF newMailColour = defaultNewMailColour;
    char statusText[statusTextSize];
    // The status in words: the window's accessible name and the tray tooltip.
    char spokenText[spokenTextSize];
    // The last check result, as the window shows it.
    CheckSnapshot shown;
    // The DPI of the floating window's monitor, the font drawn at it, and the width the status
    // asks for at 100%.
    int dpi = designDpi;
    OwnedFont statusFont;
    int designWidth = countsWindowWidth;
    AppDialogs dialogs;
    OutsideEffects effects;
    SoundRepeat soundRepeat;
    // How a password is protected for the settings file; tests make it fail.
    PasswordProtection passwordProtection = protectPassword;
    QuietTime quietTime;
    TaskbarTheme taskbarTheme = TaskbarTheme::Unreported;
    // A pellwick.ini beside the program was not taken: startUp says so.
    bool sharedCopyRefused = false;
    // The notification shown last asks to sign in again: its click opens the dialog there.
    bool balloonAsksSignIn = false;
    // This spell of "Sign in again" has been announced.
    bool signInAgainAnnounced = false;

private:
    // Never in clear: when the platform cannot protect it, the file holds none and the token
    // lasts for this run.
    void storeRefreshToken(const std::string& token) override;
    void protectClearPassword(const ConfigurationValues& stored, StoredPassword form);
    bool loadAccount();
    void restorePosition();
    void announceNewMail();
    // Says once per spell of "Sign in again" that the sign-in must be renewed.
    void announceSignInAgain();
    // The chosen new-mail sound, when one is chosen: read from the settings at each use.
    void playNewMailSound();
    // Runs the sound's repeat while unseen mail remains; `fresh`: the sound was just due.
    void followSoundRepeat(bool fresh);
    void showTrayMenuAtCursor();
    void resizeForStatus();
    // The status's words changed: tells screen readers, which then say them.
    void updateSpokenText();
    int trayImage() const;
    // WM_SETTINGCHANGE: the taskbar's theme or high contrast may have changed.
    void followDisplayTheme(WPARAM action, LPARAM settingName);
    // Takes the DPI of the window's monitor: font and size follow it.
    void applyDpi(int newDpi);

    // Sent by the shell to every top-level window when the taskbar is (re)created.
    UINT taskbarCreatedMessage = 0;
};
