#include "mail/platform/owner_post.h"

void postToWindow(void*, unsigned)
{
    // No native windows here: owners are told through their notify hook.
}
