#include "app/new_mail_menu.h"

#include "res/resource.h"
#include "util/platform/wide_text.h"

namespace {

// A menu takes '&' as the mark of the next letter's shortcut; "&&" shows one.
std::wstring menuText(const std::string& line)
{
    std::wstring text;
    for (wchar_t c : wideFromUtf8(line.c_str()))
        text.append(c == L'&' ? 2 : 1, c);
    return text;
}

} // namespace

void NewMailMenu::show(HMENU trayMenu, const std::vector<std::string>& lines)
{
    if (trayMenu == nullptr)
        return;
    remove(trayMenu);
    if (lines.empty())
        return;
    HMENU entries = CreatePopupMenu();
    if (entries == nullptr)
        return;
    for (size_t at = 0; at < lines.size() && at < static_cast<size_t>(maxEntries); ++at)
        AppendMenuW(entries, MF_STRING, ID_NEW_MAIL_FIRST + at, menuText(lines[at]).c_str());
    if (!InsertMenuW(trayMenu, 0, MF_BYPOSITION | MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(entries),
                     L"New mail")) {
        DestroyMenu(entries);
        return;
    }
    InsertMenuW(trayMenu, 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    shown = entries;
}

bool NewMailMenu::isEntry(int commandId)
{
    return commandId >= ID_NEW_MAIL_FIRST && commandId < ID_NEW_MAIL_FIRST + maxEntries;
}

// The entry and the separator after it; deleting the entry destroys its submenu.
void NewMailMenu::remove(HMENU trayMenu)
{
    if (shown == nullptr || GetSubMenu(trayMenu, 0) != shown)
        return;
    DeleteMenu(trayMenu, 0, MF_BYPOSITION);
    DeleteMenu(trayMenu, 0, MF_BYPOSITION);
    shown = nullptr;
}
