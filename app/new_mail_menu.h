#pragma once

#include <windows.h>

#include <vector>

#include "mail/headers/message_preview.h"

// The "New mail" entry at the top of the tray menu: a submenu of the unseen messages
// described, newest first, each "sender: subject"; absent while none is. Its entries' commands
// run from ID_NEW_MAIL_FIRST on.
class NewMailMenu {
public:
    static const int maxEntries = 20;
    static const size_t maxEntryCharacters = 64;

    // Puts the entry for `previews` into `trayMenu` in place of the one shown before.
    void show(HMENU trayMenu, const std::vector<MessagePreview>& previews);
    static bool isEntry(int commandId);

private:
    void remove(HMENU trayMenu);

    HMENU shown = nullptr; // destroyed with its entry
};
