// Shows the configuration and About dialog templates side by side, unchanged (no dialog code
// runs), for a given number of seconds, then ends. Meant for a look or a screenshot:
//     show_dialog_templates.exe [seconds]      (default 5, at most 60)
#include <windows.h>

#include <cstdlib>

#include "res/resource.h"

namespace {

const int defaultSeconds = 5;
const int maximumSeconds = 60;
const int gap = 20; // pixels between the dialogs and from the desktop's corner

INT_PTR CALLBACK quietDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

HWND showTemplate(int id, int x, int y)
{
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, quietDialogProc, 0);
    if (dialog) {
        SetWindowPos(dialog, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
        ShowWindow(dialog, SW_SHOWNOACTIVATE);
    }
    return dialog;
}

int widthOf(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return rect.right - rect.left;
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : defaultSeconds;
    if (seconds < 1 || seconds > maximumSeconds)
        seconds = defaultSeconds;

    HWND configure = showTemplate(IDD_CONFIGURE, gap, gap);
    if (!configure)
        return 1;
    HWND about = showTemplate(IDD_ABOUT, gap + widthOf(configure) + gap, gap);
    if (!about)
        return 1;

    SetTimer(nullptr, 0, seconds * 1000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr)
            break;
        if (!IsDialogMessageA(configure, &message) && !IsDialogMessageA(about, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    DestroyWindow(about);
    DestroyWindow(configure);
    return 0;
}
