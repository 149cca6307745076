#include "app/notifier_app.h"

#include <mmsystem.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/start_with_windows.h"
#include "mail/headers/new_mail_text.h"
#include "mail/platform/executable_folder.h"
#include "mail/mailbox/seen_file.h"
#include "mail/tls/trust_files.h"
#include "res/resource.h"
#include "util/holders/win32_holders.h"
#include "util/copy_bounded.h"
#include "util/platform/wide_text.h"

namespace {

const char initialStatusText[] = "Checking...";
const char sharedCopyText[] =
    "pellwick.ini beside pellwick.exe is not used: another user of this computer owns it or could "
    "change the files in that folder.\n\npellwick keeps your settings in %APPDATA%\\pellwick instead. To "
    "keep them beside the program, put it in a folder only you can change.";
const char systemNewMailSound[] = "MailBeep";
const char skippedAccountsText[] = "pellwick.ini holds accounts that are damaged or listed twice. pellwick "
                                   "skipped them and loaded every other account:\n\n";
// The entries of an account's menu, after its id's first.
enum AccountMenuAction { AccountCheckNow, AccountMarkAsRead, AccountOpenMail };
const DWORD floatingStyle = WS_POPUP | WS_BORDER;
const DWORD floatingExStyle = WS_EX_TOOLWINDOW;
const UINT paintFlags = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
// The hover text wraps at this width (at 100%), a few accounts a line.
const int hoverTipWidth = 320;
// The unseen messages the hover text lists after the accounts, newest first.
const size_t hoverMessagesListed = 10;
// The hover tool covers the window at any width the status may give it.
const RECT wholeWindow = {0, 0, 32767, 32767};
// Room between the text and the border on each side, at 100%.
const int textMargin = 4;
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

void playWithPlatform(const char* sound, DWORD flags)
{
    PlaySoundA(sound, nullptr, flags);
}

void openWithShell(HWND owner, const char* target)
{
    ShellExecuteA(owner, "open", target, nullptr, nullptr, SW_SHOW);
}

} // namespace

const char signInAgainTitle[] = "Sign in again";
const char signInAgainText[] = "The provider ended pellwick's sign-in. Click here to sign in again.";

const char NotifierApp::className[] = "pellwick";

OutsideEffects platformEffects()
{
    OutsideEffects effects;
    effects.playSound = playWithPlatform;
    effects.openTarget = openWithShell;
    return effects;
}

void WatchedAccount::storeRefreshToken(const std::string& token)
{
    app.storeRefreshTokenOf(id, token);
}

namespace {

// The list of accounts with the one made with the application.
std::vector<std::unique_ptr<WatchedAccount>> firstAccountOf(NotifierApp& app)
{
    std::vector<std::unique_ptr<WatchedAccount>> accounts;
    accounts.emplace_back(new WatchedAccount(app, NotifierApp::checkResultMessage));
    return accounts;
}

// What the user calls the account: its name, else its address.
std::string shownNameOf(const ConfigurationValues& values)
{
    const char* name = textOrEmpty(values.accountName);
    return name[0] != '\0' ? name : textOrEmpty(values.username);
}

} // namespace

NotifierApp::NotifierApp(HINSTANCE instance, const AppDialogs& dialogs)
    : Window(instance), accounts(firstAccountOf(*this)), account(accounts[0]->mail), popupMenu(menuId),
      windowIcon(noMailIconId), trayIcon(trayIconId, trayCallbackMessage), hoverTip(hoverTipWidth), dialogs(dialogs),
      effects(platformEffects())
{
    char programFolder[maxExecutablePath];
    if (!executableFolder(programFolder, sizeof programFolder))
        programFolder[0] = '\0';
    TextRecord path;
    TextRecord userTrustPath;
    sharedCopyRefused = buildSettingsPath(path, userTrustPath, programFolder) == SettingsPlace::AppDataNotShared;
    settings.setPath(path.text);
    // Fixed now, before any dialog can move the working folder.
    fixTrustSources(userTrustPath.text);
    copyBounded(statusText, statusTextSize, initialStatusText);
    copyBounded(spokenText, spokenTextSize, initialStatusText);
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
}

// The accounts stop while the settings they store their last refresh tokens in are still here.
// Every stop is asked for first, so that the waits overlap.
NotifierApp::~NotifierApp()
{
    for (auto& watched : accounts)
        watched->mail.checker.requestStop();
    for (auto& watched : accounts)
        watched->mail.stop();
    if (removedFirstMade)
        removedFirstMade->mail.stop();
}

bool NotifierApp::startUp()
{
    addHandler(&dragHandler);
    addHandler(&popupMenu);
    addHandler(&windowIcon);
    addHandler(&trayIcon);
    addHandler(&hoverTip);
    dpi = dpiOfWindow(nullptr);
    setSize(scaleToDpi(countsWindowWidth, dpi), scaleToDpi(floatingWindowHeight, dpi));
    setStyle(floatingStyle, floatingExStyle);
    taskbarTheme = readTaskbarTheme();
    trayIcon.imageId = trayImage();
    if (!create(className, className, nullptr, true))
        return false;
    hoverTip.addTool(nullptr, &wholeWindow, "");
    restorePosition();
    applyDpi(dpiOfWindow(handle));
    SetWindowPos(handle, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    // A password protected for another account or machine is no password: ask for it as
    // on a first start.
    bool passwordLost = !loadAccounts();
    show(SW_HIDE);
    setFloatingVisible(settings.readVisible());
    if (sharedCopyRefused)
        MessageBoxA(nullptr, sharedCopyText, className, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    if (!skippedAccounts.empty()) {
        std::string text = skippedAccountsText;
        for (const std::string& section : skippedAccounts)
            text += "[" + section + "]\n";
        MessageBoxA(nullptr, text.c_str(), className, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    }
    bool haveDialog = dialogs.configure || dialogs.configureAccounts;
    if ((isUnconfigured() || passwordLost) && haveDialog && !configure()) {
        // Cancelled on first start: nothing runs, so the tray icon must not stay behind.
        DestroyWindow(handle);
        return false;
    }
    for (auto& watched : accounts)
        startAccount(*watched);
    accountsRunning = true;
    updateAccountMenu();
    return true;
}

void NotifierApp::startAccount(WatchedAccount& watched)
{
    CheckOwner owner;
    owner.window = handle;
    owner.tokenMessage = refreshTokenMessage;
    watched.mail.start(owner);
}

// Every account and the colours as the settings hold them, each with its seen-message file
// beside the settings. False when a stored password could not be read.
bool NotifierApp::loadAccounts()
{
    AccountValuesList stored;
    std::vector<StoredPassword> forms;
    settings.readAccounts(stored, forms, skippedAccounts);
    bool passwordsRead = true;
    for (size_t i = 0; i < stored.size(); ++i) {
        if (i > 0)
            accounts.emplace_back(new WatchedAccount(*this, checkResultMessage));
        accounts[i]->id = stored[i]->accountId;
        loadAccount(*accounts[i], *stored[i], i);
        protectClearPassword(*stored[i], forms[i], accountSection(stored[i]->accountId, i == 0).c_str());
        passwordsRead = passwordsRead && forms[i] != StoredPassword::Unreadable;
    }
    changeColour = stored[0]->changeColour;
    newMailColour = stored[0]->newMailColour;
    return passwordsRead;
}

void NotifierApp::loadAccount(WatchedAccount& watched, const ConfigurationValues& stored, size_t index)
{
    TextRecord refreshToken;
    settings.readRefreshToken(refreshToken, accountSection(watched.id, index == 0).c_str());
    TextRecord seenFilePath;
    buildSeenFilePath(seenFilePath, settings.path(), watched.id);
    watched.mail.load(stored, textOrEmpty(refreshToken), seenFilePath.text);
    watched.name = shownNameOf(stored);
    watched.changeColour = stored.changeColour;
    watched.newMailColour = stored.newMailColour;
}

void NotifierApp::restorePosition()
{
    int positionX = x;
    int positionY = y;
    settings.readPosition(positionX, positionY);
    keepOnVisibleMonitor(positionX, positionY, width, height);
    setPosition(positionX, positionY);
}

// Never in clear: when the platform cannot protect it, the file holds none and the token
// lasts for this run.
void NotifierApp::storeRefreshTokenOf(const std::string& id, const std::string& token)
{
    // A removed account's section is gone, and stays gone.
    std::string section = sectionOf(id);
    if (section.empty())
        return;
    TextRecord stored;
    if (!token.empty() && !passwordProtection(token.c_str(), stored))
        stored.assign("");
    settings.writeRefreshToken(textOrEmpty(stored), section.c_str());
}

std::string NotifierApp::sectionOf(const std::string& id) const
{
    for (size_t i = 0; i < accounts.size(); ++i)
        if (accounts[i]->id == id)
            return accountSection(id, i == 0);
    return std::string();
}

const char* NotifierApp::ownSectionOf(size_t index, std::string& section) const
{
    if (index == 0 || index >= accounts.size())
        return nullptr;
    section = accountSection(accounts[index]->id, false);
    return section.c_str();
}

// An older file's password in clear is stored protected at once, not only at the next OK.
// When the platform cannot protect it, the file keeps it as it was.
void NotifierApp::protectClearPassword(const ConfigurationValues& stored, StoredPassword form, const char* section)
{
    TextRecord protectedForm;
    if (form == StoredPassword::Plain && stored.password.text && stored.password.text[0] &&
        passwordProtection(stored.password.text, protectedForm))
        settings.writeString(section, keyPassword, protectedForm.text);
}

bool NotifierApp::isUnconfigured() const
{
    TextRecord value;
    for (const char* key : {keyServer, keyUsername, keyPassword}) {
        settings.readAccountText(key, value);
        if (value.text && value.text[0])
            return false;
    }
    return true;
}

bool NotifierApp::configure(bool atSignIn, size_t selected)
{
    if (dialogs.configureAccounts)
        return configureEvery(atSignIn, selected);
    return configureOne(atSignIn);
}

bool NotifierApp::configureOne(bool atSignIn)
{
    if (!dialogs.configure)
        return false;
    ConfigurationValues values;
    settings.readConfiguration(values);
    values.focusSignIn = atSignIn;
    // The colours as this window uses them, which only the dialog changes.
    values.changeColour = changeColour;
    values.newMailColour = newMailColour;
    SignInMethod methodBefore = values.signIn;
    TextRecord addressBefore;
    addressBefore.assign(textOrEmpty(values.username));
    if (!dialogs.configure(values, passwordProtection))
        return false;
    accounts[0]->mail.reconfigure(values, methodBefore, textOrEmpty(addressBefore));
    accounts[0]->name = shownNameOf(values);
    changeColour = values.changeColour;
    newMailColour = values.newMailColour;
    settings.writeConfiguration(values);
    return true;
}

bool NotifierApp::configureEvery(bool atSignIn, size_t selected)
{
    AccountValuesList values;
    AccountValuesList before;
    std::vector<StoredPassword> forms;
    std::vector<std::string> skipped;
    settings.readAccounts(values, forms, skipped);
    settings.readAccounts(before, forms, skipped);
    if (selected >= values.size())
        selected = 0;
    values[selected]->focusSignIn = atSignIn;
    // The colours as this window uses them, which only the dialog changes.
    values[0]->changeColour = changeColour;
    values[0]->newMailColour = newMailColour;
    if (!dialogs.configureAccounts(values, selected, passwordProtection))
        return false;
    // The program always has an account to show, if only one still to be set up.
    if (values.empty())
        values.emplace_back(new ConfigurationValues);
    // Written first: the ids of added accounts come from here, and reconfigure then stores
    // their tokens in their own places.
    settings.writeAccounts(values);
    applyAccounts(values, before);
    changeColour = values[0]->changeColour;
    newMailColour = values[0]->newMailColour;
    updateAccountMenu();
    return true;
}

void NotifierApp::applyAccounts(const AccountValuesList& confirmed, const AccountValuesList& before)
{
    std::vector<std::unique_ptr<WatchedAccount>> running;
    running.swap(accounts);
    std::vector<bool> added;
    for (const auto& values : confirmed) {
        auto same = std::find_if(running.begin(), running.end(), [&](const std::unique_ptr<WatchedAccount>& each) {
            return each && each->id == values->accountId;
        });
        added.push_back(same == running.end());
        if (same != running.end())
            accounts.push_back(std::move(*same));
        else
            accounts.emplace_back(new WatchedAccount(*this, checkResultMessage));
    }
    // What is left was removed: it stops, and its seen messages go with it.
    for (auto& removed : running) {
        if (!removed)
            continue;
        removed->mail.stop();
        TextRecord seenFilePath;
        buildSeenFilePath(seenFilePath, settings.path(), removed->id);
        seenFilePath.toWide();
        if (seenFilePath.wide != nullptr)
            DeleteFileW(seenFilePath.wide);
        if (&removed->mail == &account)
            removedFirstMade = std::move(removed);
    }
    for (size_t i = 0; i < confirmed.size(); ++i) {
        const ConfigurationValues& values = *confirmed[i];
        WatchedAccount& watched = *accounts[i];
        auto earlier =
            std::find_if(before.begin(), before.end(), [&](const std::unique_ptr<ConfigurationValues>& each) {
                return each->accountId == values.accountId;
            });
        if (!added[i] && earlier != before.end()) {
            watched.mail.reconfigure(values, (*earlier)->signIn, textOrEmpty((*earlier)->username));
        } else {
            watched.id = values.accountId;
            loadAccount(watched, values, i);
            if (values.newSignIn)
                watched.mail.reconfigure(values, values.signIn, textOrEmpty(values.username));
            if (accountsRunning)
                startAccount(watched);
        }
        watched.name = shownNameOf(values);
        watched.changeColour = values.changeColour;
        watched.newMailColour = values.newMailColour;
    }
}

void NotifierApp::onClose()
{
    for (auto& watched : accounts)
        watched->mail.saveSeenFile();
    RECT frame;
    if (GetWindowRect(handle, &frame))
        settings.writePosition(frame.left, frame.top);
    DestroyWindow(handle);
}

LRESULT NotifierApp::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETTEXTLENGTH)
        return static_cast<LRESULT>(strlen(spokenText));
    if (message == WM_GETTEXT) {
        char* buffer = reinterpret_cast<char*>(lParam);
        if (!buffer || wParam == 0)
            return 0;
        copyBounded(buffer, wParam, spokenText);
        return static_cast<LRESULT>(strlen(buffer));
    }
    return Window::windowProc(hwnd, message, wParam, lParam);
}

int NotifierApp::onOtherMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == trayCallbackMessage)
        return onTrayNotify(lParam);
    if (message == checkResultMessage)
        return onCheckResult();
    if (message == refreshTokenMessage) {
        for (auto& watched : accounts)
            watched->mail.storeRotatedRefreshTokens();
        return 0;
    }
    // Whoever changed the Run entry last (this menu, the installer, the user), the menu shows it.
    if (message == WM_INITMENUPOPUP) {
        showStartWithWindows();
        return 0;
    }
    // Moved to a monitor of another scaling: the suggested place, our own size.
    if (message == WM_DPICHANGED) {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(handle, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        applyDpi(LOWORD(wParam));
        return 1;
    }
    if (message == WM_SETTINGCHANGE || message == WM_SYSCOLORCHANGE) {
        followDisplayTheme(wParam, message == WM_SETTINGCHANGE ? lParam : 0);
        return 0;
    }
    if (message == taskbarCreatedMessage && taskbarCreatedMessage) {
        trayIcon.addAgain();
        return 0;
    }
    // Timers may have slept with the machine: look at the mailbox now, not an interval later.
    if (message == WM_POWERBROADCAST && wParam == PBT_APMRESUMEAUTOMATIC) {
        checkAllNow();
        return 1;
    }
    return 0;
}

bool NotifierApp::onTrayNotify(LPARAM event)
{
    switch (static_cast<UINT>(event)) {
    case WM_CONTEXTMENU:
    case WM_RBUTTONDOWN:
        showTrayMenuAtCursor();
        return true;
    case NIN_BALLOONUSERCLICK: // a click on the notification
        if (balloonAsksSignIn)
            configure(true, signInAgainAccount);
        else
            runDoubleClickAction();
        return true;
    case WM_LBUTTONDBLCLK:
        runDoubleClickAction();
        return true;
    default:
        return false;
    }
}

void NotifierApp::showTrayMenuAtCursor()
{
    POINT cursor = {};
    GetCursorPos(&cursor);
    popupMenu.showAt(cursor.x, cursor.y);
}

// Every account's results are taken at each message: whichever account sent it, the others'
// news of the same moment is announced with it, once.
bool NotifierApp::onCheckResult()
{
    for (auto& watched : accounts)
        watched->shown = watched->mail.checker.takeSnapshot();
    shown = accounts.size() == 1 ? accounts[0]->shown : sumAccounts(accountStatuses());
    if (shown.freshMail)
        announceNewMail();
    announceSignInAgain();
    followSoundRepeat(shown.freshMail);
    bool unseen = shown.unseenCount > 0;
    if (popupMenu.menuHandle())
        EnableMenuItem(popupMenu.menuHandle(), ID_MARK_AS_READ, MF_BYCOMMAND | (unseen ? MF_ENABLED : MF_GRAYED));
    trayIcon.showImage(trayImage());
    updateStatusText();
    trayIcon.setTip(spokenText);
    updateAccountMenu();
    RedrawWindow(handle, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE);
    return false;
}

std::vector<AccountStatus> NotifierApp::accountStatuses() const
{
    std::vector<AccountStatus> statuses;
    for (const auto& watched : accounts)
        statuses.push_back(AccountStatus{watched->name.c_str(), watched->shown});
    return statuses;
}

// A failed account's previews are left out as its counts are.
std::vector<AccountPreviews> NotifierApp::accountPreviews() const
{
    std::vector<AccountPreviews> previews;
    for (const auto& watched : accounts) {
        previews.push_back(AccountPreviews{watched->name, {}});
        if (!isFailureStatus(watched->shown.status))
            previews.back().previews = watched->shown.previews;
    }
    return previews;
}

std::vector<std::string> NotifierApp::unseenLines(size_t limit, size_t maxCharacters,
                                                  std::vector<size_t>* accountOfLine) const
{
    std::vector<std::string> lines;
    if (accountOfLine)
        accountOfLine->clear();
    if (accounts.size() < 2) {
        for (size_t at = 0; at < shown.previews.size() && at < limit; ++at)
            lines.push_back(previewLine(shown.previews[at], maxCharacters));
        return lines;
    }
    std::vector<AccountPreviews> previews = accountPreviews();
    for (const MergedPreview& each : newestAcrossAccounts(previews, limit)) {
        lines.push_back(accountPreviewLine(previews[each.account].name, each.preview, maxCharacters));
        if (accountOfLine)
            accountOfLine->push_back(each.account);
    }
    return lines;
}

const WatchedAccount* NotifierApp::firstWithUnseen() const
{
    for (const auto& watched : accounts)
        if (watched->shown.unseenCount > 0 && !isFailureStatus(watched->shown.status))
            return watched.get();
    return nullptr;
}

int NotifierApp::trayImage() const
{
    return trayIconResource(taskbarTheme, shown.unseenCount > 0);
}

void NotifierApp::followDisplayTheme(WPARAM action, LPARAM settingName)
{
    if (isColourThemeChange(settingName)) {
        TaskbarTheme now = readTaskbarTheme();
        if (now != taskbarTheme) {
            taskbarTheme = now;
            trayIcon.showImage(trayImage());
        }
    }
    // High contrast switched, or the system's colours changed: the window paints with them.
    if (action == SPI_SETHIGHCONTRAST || !settingName)
        InvalidateRect(handle, nullptr, TRUE);
}

// Counted and coloured as always; only the sound and the notification wait for a time the
// user may be disturbed. The next new message then announces every unseen one.
void NotifierApp::announceNewMail()
{
    if (!quietTime.allowsAnnouncing())
        return;
    if (settings.readBalloon()) {
        char title[balloonTitleSize];
        char text[balloonTextSize];
        // One account names who its newest mail is from; several name the accounts.
        std::string senders;
        if (accounts.size() > 1) {
            formatAccountsBalloonText(accountStatuses(), title, sizeof title, text, sizeof text);
            senders = accountsNewMailText(text, accountPreviews(), shown.unseenCount);
        } else {
            formatBalloonText(shown, title, sizeof title, text, sizeof text);
            senders = newMailText(shown.previews, shown.unseenCount);
        }
        trayIcon.showBalloon(title, senders.empty() ? text : senders.c_str());
        balloonAsksSignIn = false;
    }
    // Several accounts' results of one burst (a Check Now, a wake from sleep) sound once, with
    // the sound of the first account that has news.
    if (accounts.size() > 1) {
        DWORD now = GetTickCount();
        if (soundPlayed && now - lastSoundTicks < soundBurstMilliseconds)
            return;
        soundPlayed = true;
        lastSoundTicks = now;
    }
    size_t sounding = 0;
    while (sounding + 1 < accounts.size() && accounts[sounding]->shown.freshMail <= 0)
        ++sounding;
    std::string section;
    playNewMailSound(ownSectionOf(sounding, section));
}

// Not at every cycle: once, when the checks first stand at "Sign in again", or at the first
// cycle after quiet time that still does.
void NotifierApp::announceSignInAgain()
{
    auto renew = std::find_if(accounts.begin(), accounts.end(), [](const std::unique_ptr<WatchedAccount>& each) {
        return each->shown.status == CheckStatus::SignInAgain;
    });
    if (renew == accounts.end()) {
        signInAgainAnnounced = false;
        return;
    }
    signInAgainAccount = static_cast<size_t>(renew - accounts.begin());
    if (signInAgainAnnounced || !quietTime.allowsAnnouncing())
        return;
    signInAgainAnnounced = true;
    if (!settings.readBalloon())
        return;
    trayIcon.showBalloon(signInAgainTitle, signInAgainText);
    balloonAsksSignIn = true;
}

void NotifierApp::playNewMailSound(const char* account)
{
    if (!settings.readPlaySound(defaultPlaySoundForNewMail, account))
        return;
    TextRecord customSound;
    settings.readCustomSound(customSound, account);
    if (customSound.text && customSound.text[0])
        effects.playSound(customSound.text, SND_FILENAME | SND_ASYNC);
    else
        effects.playSound(systemNewMailSound, SND_ALIAS | SND_ASYNC);
}

void NotifierApp::followSoundRepeat(bool fresh)
{
    bool repeats = shown.unseenCount > 0 && settings.readPlaySound(defaultPlaySoundForNewMail);
    soundRepeat.follow(handle, repeats ? settings.readRepeatMinutes() : 0, fresh);
}

void NotifierApp::updateStatusText()
{
    if (accounts.size() > 1)
        designWidth = formatAccountsStatusText(accountStatuses(), statusText, statusTextSize);
    else
        designWidth = formatStatusText(shown, statusText, statusTextSize);
    resizeForStatus();
    updateSpokenText();
    updateNewMailLists();
}

void NotifierApp::updateSpokenText()
{
    char words[spokenTextSize];
    if (accounts.size() > 1)
        formatAccountsSpoken(accountStatuses(), words, spokenTextSize);
    else
        formatSpokenStatus(shown, words, spokenTextSize);
    // The same words again are not news: a reader would repeat them at every check.
    if (strcmp(words, spokenText) == 0)
        return;
    copyBounded(spokenText, spokenTextSize, words);
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, handle, OBJID_CLIENT, CHILDID_SELF);
}

// One account has no hover text: the window shows all there is. Several name each account,
// then, while the user may be disturbed, the newest unseen messages.
void NotifierApp::updateNewMailLists()
{
    // Quiet time and Do not disturb hold the list back as they hold the notification.
    bool listed = quietTime.allowsAnnouncing();
    if (popupMenu.menuHandle()) {
        std::vector<std::string> entries;
        newMailAccounts.clear();
        if (listed)
            entries = unseenLines(static_cast<size_t>(NewMailMenu::maxEntries), NewMailMenu::maxEntryCharacters,
                                  &newMailAccounts);
        newMailMenu.show(GetSubMenu(popupMenu.menuHandle(), 0), entries);
    }
    if (hoverTip.handle == nullptr)
        return;
    std::string text = accounts.size() > 1 ? spokenText : "";
    if (listed)
        for (const std::string& line : unseenLines(hoverMessagesListed, NewMailMenu::maxEntryCharacters, nullptr))
            text += (text.empty() ? "" : "\n") + line;
    hoverTip.setOwnerToolText(wideFromUtf8(text.c_str()).c_str());
}

void NotifierApp::applyDpi(int newDpi)
{
    dpi = newDpi;
    statusFont.reset(createStatusFont(dpi));
    resizeForStatus();
    InvalidateRect(handle, nullptr, TRUE);
}

// The status's width at this DPI, wider when the text needs it (large counts). Grows or
// shrinks to the right: the left and top edges stay where the window is now.
void NotifierApp::resizeForStatus()
{
    RECT frame;
    if (handle && GetWindowRect(handle, &frame)) {
        x = frame.left;
        y = frame.top;
    }
    int border = GetSystemMetrics(SM_CXBORDER);
    int fitted = textWidth(statusFont.get(), statusText) + 2 * (scaleToDpi(textMargin, dpi) + border);
    int scaled = scaleToDpi(designWidth, dpi);
    setSize(fitted > scaled ? fitted : scaled, scaleToDpi(floatingWindowHeight, dpi));
}

void NotifierApp::onPaint(HDC context)
{
    RECT client;
    GetClientRect(handle, &client);
    // The colour of the first account with unseen mail; the first account's is the window's own.
    bool newMail = changeColour && shown.unseenCount > 0;
    COLORREF fill = newMailColour;
    const WatchedAccount* news = accounts.size() > 1 ? firstWithUnseen() : nullptr;
    if (news != nullptr && news != accounts[0].get()) {
        newMail = news->changeColour;
        fill = news->newMailColour;
    }
    FloatingColours colours = floatingColours(highContrastOn(), newMail, fill);
    if (colours.fill) {
        SolidBrush fill(colours.background);
        FillRect(context, &client, fill.get());
    }
    SetBkColor(context, colours.background);
    SetTextColor(context, colours.text);
    HGDIOBJ font = statusFont.get() ? static_cast<HGDIOBJ>(statusFont.get()) : GetStockObject(SYSTEM_FONT);
    SelectedObject selected(context, font);
    DrawTextA(context, statusText, -1, &client, paintFlags);
}

// A repeat already queued when the repeat stopped plays nothing; quiet time silences a repeat as
// it does an arrival.
void NotifierApp::onTimer(UINT_PTR id)
{
    if (quietTime.onTimer(handle, popupMenu.menuHandle(), id)) {
        updateNewMailLists();
        return;
    }
    if (id == SoundRepeat::timerId && soundRepeat.everyMinutes() > 0 && quietTime.allowsAnnouncing())
        playNewMailSound();
}

void NotifierApp::onLeftDoubleClick(WPARAM, int, int)
{
    runDoubleClickAction();
}

void NotifierApp::runDoubleClickAction()
{
    openMailProgram();
    markAllAsRead();
}

void NotifierApp::openMailProgram(size_t index)
{
    std::string section;
    TextRecord target;
    settings.readDoubleClick(target, ownSectionOf(index, section));
    if (target.text && target.text[0])
        effects.openTarget(handle, target.text);
}

// With several accounts each entry opens its account's mail program; one account's, the one.
void NotifierApp::openMailProgramOfEntry(size_t entry)
{
    openMailProgram(accounts.size() > 1 && entry < newMailAccounts.size() ? newMailAccounts[entry] : 0);
}

void NotifierApp::checkAllNow()
{
    for (auto& watched : accounts)
        watched->mail.checker.requestCheckNow();
}

void NotifierApp::markAllAsRead()
{
    for (auto& watched : accounts)
        watched->mail.markAsRead();
}

void NotifierApp::onMenuCommand(int id)
{
    switch (id) {
    case ID_EXIT:
        SendMessageA(handle, WM_CLOSE, 0, 0);
        break;
    case ID_MARK_AS_READ:
        markAllAsRead();
        break;
    case ID_CHECK_NOW:
        checkAllNow();
        break;
    case ID_CONFIGURE:
        if (configure())
            checkAllNow();
        break;
    case ID_SHOW_FLOATING_WINDOW:
        toggleFloatingVisible();
        break;
    case ID_START_WITH_WINDOWS:
        setStartWithWindows(!startsWithWindows());
        break;
    case ID_DO_NOT_DISTURB:
        quietTime.toggleDoNotDisturb(handle, popupMenu.menuHandle());
        updateNewMailLists();
        break;
    case ID_ABOUT:
        if (dialogs.about)
            dialogs.about();
        break;
    default:
        if (NewMailMenu::isEntry(id))
            openMailProgramOfEntry(static_cast<size_t>(id - ID_NEW_MAIL_FIRST));
        else if (id >= accountMenuFirst &&
                 id < accountMenuFirst + static_cast<int>(accountMenuLimit) * accountMenuStride)
            onAccountCommand(static_cast<size_t>((id - accountMenuFirst) / accountMenuStride),
                             (id - accountMenuFirst) % accountMenuStride);
        break;
    }
}

void NotifierApp::onAccountCommand(size_t index, int action)
{
    if (index >= accounts.size())
        return;
    MailAccount& chosen = accounts[index]->mail;
    if (action == AccountCheckNow)
        chosen.checker.requestCheckNow();
    if (action == AccountMarkAsRead)
        chosen.markAsRead();
    if (action == AccountOpenMail) {
        openMailProgram(index);
        chosen.markAsRead();
    }
}

// Rebuilt at each result, so that the menu is current whenever it opens; one account has no
// entries of its own (the common Check Now and Mark As Read are its).
void NotifierApp::updateAccountMenu()
{
    HMENU top = popupMenu.menuHandle() ? GetSubMenu(popupMenu.menuHandle(), 0) : nullptr;
    if (top == nullptr)
        return;
    // After "New mail", when it is shown.
    UINT start = newMailMenu.positionsTaken();
    for (; accountMenuEntries > 0; --accountMenuEntries)
        DeleteMenu(top, start, MF_BYPOSITION);
    if (accounts.size() < 2)
        return;
    UINT position = start;
    for (size_t i = 0; i < accounts.size() && i < accountMenuLimit; ++i) {
        const WatchedAccount& watched = *accounts[i];
        HMENU entries = CreatePopupMenu();
        int first = accountMenuFirst + static_cast<int>(i) * accountMenuStride;
        AppendMenuA(entries, MF_STRING, static_cast<UINT_PTR>(first + AccountCheckNow), "Check Now");
        AppendMenuA(entries, MF_STRING | (watched.shown.unseenCount > 0 ? 0 : MF_GRAYED),
                    static_cast<UINT_PTR>(first + AccountMarkAsRead), "Mark As Read");
        std::string section;
        TextRecord target;
        settings.readDoubleClick(target, ownSectionOf(i, section));
        if (target.text && target.text[0])
            AppendMenuA(entries, MF_STRING, static_cast<UINT_PTR>(first + AccountOpenMail), "Open Mail Program");
        std::vector<AccountStatus> one = {AccountStatus{watched.name.c_str(), watched.shown}};
        char label[spokenTextSize];
        formatAccountsSpoken(one, label, sizeof label);
        InsertMenuA(top, position++, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(entries), label);
    }
    InsertMenuA(top, position++, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    accountMenuEntries = static_cast<int>(position - start);
}

void NotifierApp::setFloatingVisible(bool visible)
{
    ShowWindow(handle, visible ? SW_SHOW : SW_HIDE);
    if (popupMenu.menuHandle())
        CheckMenuItem(popupMenu.menuHandle(), ID_SHOW_FLOATING_WINDOW,
                      MF_BYCOMMAND | (visible ? MF_CHECKED : MF_UNCHECKED));
}

void NotifierApp::showStartWithWindows()
{
    if (popupMenu.menuHandle())
        CheckMenuItem(popupMenu.menuHandle(), ID_START_WITH_WINDOWS,
                      MF_BYCOMMAND | (startsWithWindows() ? MF_CHECKED : MF_UNCHECKED));
}

void NotifierApp::toggleFloatingVisible()
{
    setFloatingVisible(!IsWindowVisible(handle));
    settings.writeVisible(IsWindowVisible(handle) != FALSE);
}
