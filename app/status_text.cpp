#include "app/status_text.h"

#include <cstdio>

#include "util/copy_bounded.h"

int formatStatusText(const CheckSnapshot& shown, char* text, int size)
{
    if (size <= 0)
        return countsWindowWidth;
    const char* failure = checkStatusText(shown.status);
    if (failure) {
        copyBounded(text, static_cast<size_t>(size), failure);
        return failureWindowWidth;
    }
    snprintf(text, static_cast<size_t>(size), "%d / %d", shown.unseenCount, shown.totalCount);
    return countsWindowWidth;
}
