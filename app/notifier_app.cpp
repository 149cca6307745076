#include "app/notifier_app.h"

#include <mmsystem.h>
#include <shellapi.h>
#include <shlobj.h>

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

namespace {

const char initialStatusText[] = "Checking...";
const char sharedCopyText[] =
    "pellwick.ini beside pellwick.exe is not used: another user of this computer owns it or could "
    "change the files in that folder.\n\npellwick keeps your settings in %APPDATA%\\pellwick instead. To "
    "keep them beside the program, put it in a folder only you can change.";
const char systemNewMailSound[] = "MailBeep";
const DWORD floatingStyle = WS_POPUP | WS_BORDER;
const DWORD floatingExStyle = WS_EX_TOOLWINDOW;
const UINT paintFlags = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
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

NotifierApp::NotifierApp(HINSTANCE instance, const AppDialogs& dialogs)
    : Window(instance), account(checkResultMessage, *this), popupMenu(menuId), windowIcon(noMailIconId),
      trayIcon(trayIconId, trayCallbackMessage), dialogs(dialogs), effects(platformEffects())
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

// The account stops while the settings it stores its last refresh token in are still here.
NotifierApp::~NotifierApp()
{
    account.stop();
}

bool NotifierApp::startUp()
{
    addHandler(&dragHandler);
    addHandler(&popupMenu);
    addHandler(&windowIcon);
    addHandler(&trayIcon);
    dpi = dpiOfWindow(nullptr);
    setSize(scaleToDpi(countsWindowWidth, dpi), scaleToDpi(floatingWindowHeight, dpi));
    setStyle(floatingStyle, floatingExStyle);
    taskbarTheme = readTaskbarTheme();
    trayIcon.imageId = trayImage();
    if (!create(className, className, nullptr, true))
        return false;
    restorePosition();
    applyDpi(dpiOfWindow(handle));
    SetWindowPos(handle, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    // A password protected for another account or machine is no password: ask for it as
    // on a first start.
    bool passwordLost = !loadAccount();
    show(SW_HIDE);
    setFloatingVisible(settings.readVisible());
    if (sharedCopyRefused)
        MessageBoxA(nullptr, sharedCopyText, className, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    if ((isUnconfigured() || passwordLost) && dialogs.configure && !configure()) {
        // Cancelled on first start: nothing runs, so the tray icon must not stay behind.
        DestroyWindow(handle);
        return false;
    }
    CheckOwner owner;
    owner.window = handle;
    owner.tokenMessage = refreshTokenMessage;
    account.start(owner);
    return true;
}

// The account and the colours as the settings hold them, with the seen-message file beside the
// settings. False when the stored password could not be read.
bool NotifierApp::loadAccount()
{
    ConfigurationValues stored;
    StoredPassword form = settings.readConfiguration(stored);
    TextRecord refreshToken;
    settings.readRefreshToken(refreshToken);
    TextRecord seenFilePath;
    buildSiblingPath(seenFilePath, settings.path(), settingsFileName, seenListFileExtension);
    account.load(stored, textOrEmpty(refreshToken), seenFilePath.text);
    changeColour = stored.changeColour;
    newMailColour = stored.newMailColour;
    protectClearPassword(stored, form);
    return form != StoredPassword::Unreadable;
}

void NotifierApp::restorePosition()
{
    int positionX = x;
    int positionY = y;
    settings.readPosition(positionX, positionY);
    keepOnVisibleMonitor(positionX, positionY, width, height);
    setPosition(positionX, positionY);
}

void NotifierApp::storeRefreshToken(const std::string& token)
{
    TextRecord stored;
    if (!token.empty() && !passwordProtection(token.c_str(), stored))
        stored.assign("");
    settings.writeRefreshToken(textOrEmpty(stored));
}

// An older file's password in clear is stored protected at once, not only at the next OK.
// When the platform cannot protect it, the file keeps it as it was.
void NotifierApp::protectClearPassword(const ConfigurationValues& stored, StoredPassword form)
{
    TextRecord protectedForm;
    if (form == StoredPassword::Plain && stored.password.text && stored.password.text[0] &&
        passwordProtection(stored.password.text, protectedForm))
        settings.writeString(sectionConnection, keyPassword, protectedForm.text);
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

bool NotifierApp::configure(bool atSignIn)
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
    account.reconfigure(values, methodBefore, textOrEmpty(addressBefore));
    changeColour = values.changeColour;
    newMailColour = values.newMailColour;
    settings.writeConfiguration(values);
    return true;
}

void NotifierApp::onClose()
{
    account.saveSeenFile();
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
        account.storeRotatedRefreshTokens();
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
        account.checker.requestCheckNow();
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
            configure(true);
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

bool NotifierApp::onCheckResult()
{
    shown = account.checker.takeSnapshot();
    if (shown.freshMail)
        announceNewMail();
    announceSignInAgain();
    followSoundRepeat(shown.freshMail);
    bool unseen = shown.unseenCount > 0;
    if (popupMenu.menuHandle()) {
        EnableMenuItem(popupMenu.menuHandle(), ID_MARK_AS_READ, MF_BYCOMMAND | (unseen ? MF_ENABLED : MF_GRAYED));
        newMailMenu.show(GetSubMenu(popupMenu.menuHandle(), 0), shown.previews);
    }
    trayIcon.showImage(trayImage());
    updateStatusText();
    trayIcon.setTip(spokenText);
    RedrawWindow(handle, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE);
    return false;
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
        formatBalloonText(shown, title, sizeof title, text, sizeof text);
        std::string senders = newMailText(shown.previews, shown.unseenCount);
        trayIcon.showBalloon(title, senders.empty() ? text : senders.c_str());
        balloonAsksSignIn = false;
    }
    playNewMailSound();
}

// Not at every cycle: once, when the checks first stand at "Sign in again", or at the first
// cycle after quiet time that still does.
void NotifierApp::announceSignInAgain()
{
    if (shown.status != CheckStatus::SignInAgain) {
        signInAgainAnnounced = false;
        return;
    }
    if (signInAgainAnnounced || !quietTime.allowsAnnouncing())
        return;
    signInAgainAnnounced = true;
    if (!settings.readBalloon())
        return;
    trayIcon.showBalloon(signInAgainTitle, signInAgainText);
    balloonAsksSignIn = true;
}

void NotifierApp::playNewMailSound()
{
    if (!settings.readPlaySound(defaultPlaySoundForNewMail))
        return;
    TextRecord customSound;
    settings.readCustomSound(customSound);
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
    designWidth = formatStatusText(shown, statusText, statusTextSize);
    resizeForStatus();
    updateSpokenText();
}

void NotifierApp::updateSpokenText()
{
    char words[spokenTextSize];
    formatSpokenStatus(shown, words, spokenTextSize);
    // The same words again are not news: a reader would repeat them at every check.
    if (strcmp(words, spokenText) == 0)
        return;
    copyBounded(spokenText, spokenTextSize, words);
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, handle, OBJID_CLIENT, CHILDID_SELF);
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
    FloatingColours colours = floatingColours(highContrastOn(), changeColour && shown.unseenCount > 0, newMailColour);
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
    if (quietTime.onTimer(handle, popupMenu.menuHandle(), id))
        return;
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
    account.markAsRead();
}

void NotifierApp::openMailProgram()
{
    TextRecord target;
    settings.readDoubleClick(target);
    if (target.text && target.text[0])
        effects.openTarget(handle, target.text);
}

void NotifierApp::onMenuCommand(int id)
{
    switch (id) {
    case ID_EXIT:
        SendMessageA(handle, WM_CLOSE, 0, 0);
        break;
    case ID_MARK_AS_READ:
        account.markAsRead();
        break;
    case ID_CHECK_NOW:
        account.checker.requestCheckNow();
        break;
    case ID_CONFIGURE:
        if (configure())
            account.checker.requestCheckNow();
        break;
    case ID_SHOW_FLOATING_WINDOW:
        toggleFloatingVisible();
        break;
    case ID_START_WITH_WINDOWS:
        setStartWithWindows(!startsWithWindows());
        break;
    case ID_DO_NOT_DISTURB:
        quietTime.toggleDoNotDisturb(handle, popupMenu.menuHandle());
        break;
    case ID_ABOUT:
        if (dialogs.about)
            dialogs.about();
        break;
    default:
        if (NewMailMenu::isEntry(id))
            openMailProgram();
        break;
    }
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
