#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

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
#include "mail/headers/new_mail_text.h"
#include "res/resource.h"
#include "util/holders/win32_holders.h"
#include "ui/tool_tip.h"
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

class NotifierApp;

// One account as the application runs it: the account with its checker, where the settings
// file keeps it (its id), the name it is shown by and what its checks showed last. Its refresh
// tokens go to its own place in the settings file.
class WatchedAccount final : private RefreshTokenStore {
public:
    WatchedAccount(NotifierApp& app, unsigned checkResultMessage) : mail(checkResultMessage, *this), app(app) {}
    WatchedAccount(const WatchedAccount&) = delete;
    WatchedAccount& operator=(const WatchedAccount&) = delete;

    std::string id = firstAccountId;
    MailAccount mail;
    CheckSnapshot shown;
    // The account's name, or its address when it has none.
    std::string name;
    // Its own new-mail colour, for an account after the first (the first's is the window's).
    bool changeColour = defaultChangeColour;
    COLORREF newMailColour = defaultNewMailColour;

private:
    void storeRefreshToken(const std::string& token) override;

    NotifierApp& app;
};

// The application object: the floating status window, and the owner of the accounts, the
// settings, the tray icon and the menu. It keeps each account's refresh token in the settings.
class NotifierApp : public Window {
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
    // The tray menu's entries of each account (two accounts or more): Check Now, Mark As Read
    // and Open Mail Program of account i are accountMenuFirst + i * accountMenuStride + 0, 1, 2.
    static const int accountMenuFirst = 41000;
    static const int accountMenuStride = 4;
    static const size_t accountMenuLimit = 200;

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
    // The double-click action's program or address, without marking anything read: that of
    // account `index` when it has its own, else the shared one.
    void openMailProgram(size_t index = 0);
    // The "New mail" entry `entry` chosen: its account's mail program, nothing marked read.
    void openMailProgramOfEntry(size_t entry);
    // Marks every account's mail as read.
    void markAllAsRead();
    void checkAllNow();
    void updateStatusText();
    // The New mail menu and the hover text: the accounts' counts and, unless quiet time holds
    // them back, the newest unseen messages.
    void updateNewMailLists();
    void setFloatingVisible(bool show);
    void toggleFloatingVisible();
    // Sets the check mark of "Start with Windows" from the Run key.
    void showStartWithWindows();
    bool isUnconfigured() const;
    // The configuration dialog on the stored values; true when confirmed: the account's values
    // then go to the account, the colours to this window and every value to the settings file.
    // `atSignIn`: the focus starts on the Sign in button.
    // With configureAccounts the dialog runs on every account, opening at `selected`; the
    // confirmed list then replaces the running one by id.
    bool configure(bool atSignIn = false, size_t selected = 0);
    // Stores `token` (protected) where the settings keep the account `id`'s.
    void storeRefreshTokenOf(const std::string& id, const std::string& token);
    // The section of the account `id`; empty when no account has it.
    std::string sectionOf(const std::string& id) const;
    // The section of account `index` that may hold its own sound, colour and mail program, kept
    // in `section`; null for the first, whose are the shared ones.
    const char* ownSectionOf(size_t index, std::string& section) const;

    Settings settings;
    // Every account, in the user's order.
    std::vector<std::unique_ptr<WatchedAccount>> accounts;
    // The account made with the application, the first at start-up: where one account's code
    // and tests reach it. Kept (stopped) when the dialog removes it.
    MailAccount& account;
    DragHandler dragHandler;
    PopupMenuHandler popupMenu;
    NewMailMenu newMailMenu;
    WindowIconHandler windowIcon;
    TrayIconHandler trayIcon;
    // Hovering over the window with several accounts names each (the status in words).
    ToolTip hoverTip;
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
    // The account whose sign-in must be renewed: the dialog opens on it.
    size_t signInAgainAccount = 0;
    // Entries of [accounts] order that could not be loaded: startUp names them.
    std::vector<std::string> skippedAccounts;
    // When the last new-mail sound played: with several accounts, results arriving within a
    // burst play it once.
    DWORD lastSoundTicks = 0;
    bool soundPlayed = false;
    static const DWORD soundBurstMilliseconds = 3000;

private:
    void protectClearPassword(const ConfigurationValues& stored, StoredPassword form, const char* section);
    bool loadAccounts();
    void loadAccount(WatchedAccount& watched, const ConfigurationValues& stored, size_t index);
    void startAccount(WatchedAccount& watched);
    bool configureOne(bool atSignIn);
    bool configureEvery(bool atSignIn, size_t selected);
    // The confirmed list in place of the running accounts, matched by id.
    void applyAccounts(const AccountValuesList& confirmed, const AccountValuesList& before);
    std::vector<AccountStatus> accountStatuses() const;
    std::vector<AccountPreviews> accountPreviews() const;
    // The newest unseen messages' lines, at most `limit`: one account's in its order, several
    // accounts' newest first across them, each naming its account (whose index goes to
    // `accountOfLine`).
    std::vector<std::string> unseenLines(size_t limit, size_t maxCharacters, std::vector<size_t>* accountOfLine) const;
    // The tray menu's entries of the accounts, with their counts, ahead of the common ones.
    void updateAccountMenu();
    void onAccountCommand(size_t index, int action);
    // The account whose colour the window takes: the first with unseen mail.
    const WatchedAccount* firstWithUnseen() const;
    void restorePosition();
    void announceNewMail();
    // Says once per spell of "Sign in again" that the sign-in must be renewed.
    void announceSignInAgain();
    // The chosen new-mail sound, when one is chosen: read from the settings at each use.
    void playNewMailSound(const char* account = nullptr);
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
    // The accounts' checkers run (start-up is over): an account added now starts at once.
    bool accountsRunning = false;
    // The account made with the application, after the dialog removed it.
    std::unique_ptr<WatchedAccount> removedFirstMade;
    // The account of each "New mail" entry, with several accounts.
    std::vector<size_t> newMailAccounts;
    // Entries of accounts at the top of the tray menu, the separator after them included.
    int accountMenuEntries = 0;
};
