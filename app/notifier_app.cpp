#include "app/notifier_app.h"

#include <mmsystem.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "mail/seen_file.h"
#include "res/resource.h"
#include "ui/win32_handles.h"
#include "util/copy_bounded.h"

namespace {

const char initialStatusText[] = "Checking...";
const char systemNewMailSound[] = "MailBeep";
const DWORD floatingStyle = WS_POPUP | WS_BORDER;
const DWORD floatingExStyle = WS_EX_TOOLWINDOW;
const UINT paintFlags = DT_SINGLELINE | DT_VCENTER | DT_CENTER;

void playWithPlatform(const char* sound, DWORD flags)
{
    PlaySoundA(sound, nullptr, flags);
}

void openWithShell(HWND owner, const char* target)
{
    ShellExecuteA(owner, "open", target, nullptr, nullptr, SW_SHOW);
}

} // namespace

const char NotifierApp::className[] = "pellwick";

OutsideEffects platformEffects()
{
    OutsideEffects effects;
    effects.playSound = playWithPlatform;
    effects.openTarget = openWithShell;
    return effects;
}

NotifierApp::NotifierApp(HINSTANCE instance)
    : Window(instance),
      checker(checkResultMessage),
      popupMenu(menuId),
      windowIcon(noMailIconId),
      trayIcon(trayIconId, trayCallbackMessage),
      dialogs(installedDialogs()),
      effects(platformEffects())
{
    TextRecord path;
    buildAppDataPath(path, CSIDL_APPDATA, settingsFileName, settingsFileExtension, settingsFolderName);
    settings.setPath(path.text);
    copyBounded(statusText, statusTextSize, initialStatusText);
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
}

NotifierApp::~NotifierApp()
{
    // Stops the thread while the rest goes; the checker's own destructor waits for it.
    checker.requestStop();
}

bool NotifierApp::startUp()
{
    addHandler(&dragHandler);
    addHandler(&popupMenu);
    addHandler(&windowIcon);
    addHandler(&trayIcon);
    setSize(countsWindowWidth, floatingWindowHeight);
    setStyle(floatingStyle, floatingExStyle);
    if (!create(className, className, nullptr, true))
        return false;
    restorePosition();
    SetWindowPos(handle, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    readAccount();
    readColours();
    loadSeenList();
    show(SW_HIDE);
    setFloatingVisible(settings.readVisible());
    if (isUnconfigured() && dialogs.configure && !configure()) {
        // Cancelled on first start: nothing runs, so the tray icon must not stay behind.
        DestroyWindow(handle);
        return false;
    }
    CheckOwner owner;
    owner.window = handle;
    checker.setOwner(owner);
    checker.start();
    return true;
}

void NotifierApp::restorePosition()
{
    int positionX = x;
    int positionY = y;
    settings.readPosition(positionX, positionY);
    setPosition(positionX, positionY);
}

void NotifierApp::readAccount()
{
    TextRecord server;
    TextRecord user;
    TextRecord password;
    settings.readAccountText(keyServer, server);
    settings.readAccountText(keyUsername, user);
    settings.readAccountText(keyPassword, password);
    checker.setAccount(textOrEmpty(server), textOrEmpty(user), textOrEmpty(password), settings.readPort(),
                       settings.readUseTls() ? 1 : 0, settings.readCheckMinutes());
}

void NotifierApp::readColours()
{
    changeColour = settings.readChangeColour();
    newMailColour = settings.readNewMailColour();
}

void NotifierApp::loadSeenList()
{
    buildAppDataPath(seenListPath, CSIDL_APPDATA, settingsFileName, seenListFileExtension, settingsFolderName);
    checker.seenFile.setPath(seenListPath.text);
    checker.seenFile.read(checker.session);
}

bool NotifierApp::saveSeenList()
{
    return checker.seenFile.save(checker.session);
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

bool NotifierApp::configure()
{
    return dialogs.configure && dialogs.configure(*this);
}

void NotifierApp::onClose()
{
    saveSeenList();
    RECT frame;
    if (GetWindowRect(handle, &frame))
        settings.writePosition(frame.left, frame.top);
    DestroyWindow(handle);
}

LRESULT NotifierApp::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETTEXTLENGTH)
        return static_cast<LRESULT>(strlen(statusText));
    if (message == WM_GETTEXT) {
        char* buffer = reinterpret_cast<char*>(lParam);
        if (!buffer || wParam == 0)
            return 0;
        copyBounded(buffer, wParam, statusText);
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
    if (message == taskbarCreatedMessage && taskbarCreatedMessage) {
        trayIcon.addAgain();
        return 0;
    }
    // Timers may have slept with the machine: look at the mailbox now, not an interval later.
    if (message == WM_POWERBROADCAST && wParam == PBT_APMRESUMEAUTOMATIC) {
        checker.requestCheckNow();
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
    shown = checker.takeSnapshot();
    if (shown.freshMail)
        announceNewMail();
    bool unseen = shown.unseenCount > 0;
    if (popupMenu.menuHandle())
        EnableMenuItem(popupMenu.menuHandle(), ID_MARK_AS_READ, MF_BYCOMMAND | (unseen ? MF_ENABLED : MF_GRAYED));
    trayIcon.showImage(unseen ? newMailIconId : noMailIconId);
    updateStatusText();
    trayIcon.setTip(statusText);
    RedrawWindow(handle, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE);
    return false;
}

void NotifierApp::announceNewMail()
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

void NotifierApp::updateStatusText()
{
    int newWidth = formatStatusText(shown, statusText, statusTextSize);
    resizeForStatus(newWidth);
}

// Grows or shrinks to the right: the left and top edges stay where the window is now.
void NotifierApp::resizeForStatus(int newWidth)
{
    RECT frame;
    if (handle && GetWindowRect(handle, &frame)) {
        x = frame.left;
        y = frame.top;
    }
    setSize(newWidth, floatingWindowHeight);
}

void NotifierApp::onPaint(HDC context)
{
    RECT client;
    GetClientRect(handle, &client);
    if (changeColour && shown.unseenCount > 0) {
        SolidBrush fill(newMailColour);
        FillRect(context, &client, fill.get());
        SetBkColor(context, newMailColour);
    }
    DrawTextA(context, statusText, -1, &client, paintFlags);
}

void NotifierApp::onLeftDoubleClick(WPARAM, int, int)
{
    runDoubleClickAction();
}

void NotifierApp::runDoubleClickAction()
{
    TextRecord target;
    settings.readDoubleClick(target);
    if (target.text && target.text[0])
        effects.openTarget(handle, target.text);
    markAsRead();
}

// The seen list is written at once, so that a crash or a killed process keeps the marks.
void NotifierApp::markAsRead()
{
    checker.markAsRead();
    saveSeenList();
}

void NotifierApp::onMenuCommand(int id)
{
    switch (id) {
    case ID_EXIT:
        SendMessageA(handle, WM_CLOSE, 0, 0);
        break;
    case ID_MARK_AS_READ:
        markAsRead();
        break;
    case ID_CHECK_NOW:
        checker.requestCheckNow();
        break;
    case ID_CONFIGURE:
        if (configure())
            checker.requestCheckNow();
        break;
    case ID_SHOW_FLOATING_WINDOW:
        toggleFloatingVisible();
        break;
    case ID_ABOUT:
        if (dialogs.about)
            dialogs.about();
        break;
    default:
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

void NotifierApp::toggleFloatingVisible()
{
    setFloatingVisible(!IsWindowVisible(handle));
    settings.writeVisible(IsWindowVisible(handle) != FALSE);
}
