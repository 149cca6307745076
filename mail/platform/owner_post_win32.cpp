#include "mail/platform/owner_post.h"

#include <windows.h>

void postToWindow(void* window, unsigned message)
{
    PostMessageA(static_cast<HWND>(window), message, 0, 0);
}
