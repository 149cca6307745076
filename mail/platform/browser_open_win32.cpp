#include "mail/platform/browser_open.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdint>

// ShellExecute may hand a URL to a shell extension, which wants COM on the calling thread;
// the sign-in runs on a thread of its own, where nobody else has started it.
bool openInBrowser(const char* url)
{
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    HINSTANCE started = ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com))
        CoUninitialize();
    return reinterpret_cast<intptr_t>(started) > 32; // smaller values are error codes
}
