#pragma once

#include <windows.h>
#include <shellapi.h>

#include "util/holders/win32_holders.h"
#include "ui/window_base.h"

// The floating window's handlers, consulted newest first: tray icon, window icon, popup
// menu, drag.

// Moves the owner while the left button is held: the point grabbed stays under the cursor.
class DragHandler : public WindowHandler {
public:
    int attach(WindowBase* window) override;
    int onMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    int grabX = 0; // client coordinates of the press
    int grabY = 0;

private:
    void followCursor(HWND hwnd, LPARAM lParam);
};

// The notification-area icon: added at attach, removed when the owner is destroyed. Owns
// the image it shows.
class TrayIconHandler : public WindowHandler {
public:
    // The tooltip keeps the first record layout's 63 characters, whatever the record size.
    static const int tipSize = 64;
    static const UINT balloonTimeoutMs = 10000;

    TrayIconHandler(int iconId, UINT callbackMessage);

    int attach(WindowBase* window) override;
    int onMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Shows icon resource `resourceId` at the small-icon size.
    void showImage(int resourceId);
    // Copies text, cut to 63 characters, into the tooltip.
    void setTip(const char* text);
    // Shows a balloon (a toast on newer shells) with a title line and a text line, once: later
    // changes of the icon or the tooltip do not bring it back.
    void showBalloon(const char* title, const char* text);
    // Adds the icon again with its current image and tooltip, for a shell that restarted and
    // forgot every icon.
    void addAgain();
    const char* tip() const { return record.szTip; }

    NOTIFYICONDATAA record = {};
    OwnedIcon image;
    int iconId;
    // The icon resource shown: iconId until showImage, or until set before attach.
    int imageId;
    UINT callbackMessage;
    // Shell calls that carried a balloon, for tests.
    int balloonsSent = 0;

private:
    void remove();
    void send(DWORD action);
};

// Sets the big and small window icons from one icon resource; holds them while the window
// uses them.
class WindowIconHandler : public WindowHandler {
public:
    explicit WindowIconHandler(int iconId) : iconId(iconId) {}
    int attach(WindowBase* window) override;

    int iconId;
    OwnedIcon bigIcon;
    OwnedIcon smallIcon;
};

// Owns the menu loaded from the program's menu resource (null when it failed to load). Its
// attach installs it as the window's menu bar.
class MenuHandler : public WindowHandler {
public:
    explicit MenuHandler(int menuId);
    int attach(WindowBase* window) override;

    HMENU menuHandle() const { return menu.get(); }

protected:
    // The box shown at attach when the menu did not load.
    void reportMissingMenu() const;

    OwnedMenu menu;
};

// The same menu as a popup (its sub-menu 0), shown on a right-click of the floating window,
// and by the context-menu key or Shift+F10 while it has the focus.
class PopupMenuHandler : public MenuHandler {
public:
    explicit PopupMenuHandler(int menuId) : MenuHandler(menuId) {}
    int attach(WindowBase* window) override;
    int onMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Shows sub-menu 0 at a screen point; the choice arrives later as WM_COMMAND.
    void showAt(int screenX, int screenY);

private:
    // From the keyboard the menu has no point: it opens below the window's left edge.
    void showBelowOwner();
};
