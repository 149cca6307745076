#include "dialogs/message_box.h"

namespace {
int platformMessageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    return MessageBoxA(owner, text, caption, type);
}
} // namespace

DialogMessageBoxFunction dialogMessageBox = platformMessageBox;
