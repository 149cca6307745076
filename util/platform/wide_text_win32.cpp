#include "util/platform/wide_text.h"

#include <windows.h>

int convertUtf8ToWide(const char* text, wchar_t* out, int capacity)
{
    return MultiByteToWideChar(CP_UTF8, 0, text, -1, out, capacity);
}
