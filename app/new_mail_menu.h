#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The "New mail" entry at the top of the tray menu: a submenu of the unseen messages
// described, newest first, each "sender: subject" (with several accounts, naming the account
// first); absent while none is. Its entries' commands
// run from ID_NEW_MAIL_FIRST on.
class NewMailMenu {
public:
    static const int maxEntries = 20;
    static const size_t maxEntryCharacters = 64;

    // Puts the entry for `lines` (UTF-8, each at most maxEntryCharacters) into `trayMenu` in
    // place of the one shown before.
    void show(HMENU trayMenu, const std::vector<std::string>& lines);
    static bool isEntry(int commandId);
    // Positions it takes at the top of the tray menu (the entry and its separator), 0 or 2:
    // other entries go after it.
    UINT positionsTaken() const { return shown ? 2 : 0; }

private:
    void remove(HMENU trayMenu);

    HMENU shown = nullptr; // destroyed with its entry
};
