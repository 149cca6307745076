#include "mail/platform/browser_open.h"

// The native build has no desktop to show a browser on: its sign-ins are driven by tests,
// which hand the flow a browser of their own.
bool openInBrowser(const char*)
{
    return false;
}
