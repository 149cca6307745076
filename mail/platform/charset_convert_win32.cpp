#include "mail/platform/charset_convert.h"

#include <climits>
#include <vector>

#include <windows.h>

bool appendCodePageAsUtf8(int codePage, const char* bytes, size_t size, std::string& out)
{
    if (size == 0)
        return true;
    if (size > INT_MAX / 2)
        return false;
    int length = static_cast<int>(size);
    int units = MultiByteToWideChar(static_cast<UINT>(codePage), 0, bytes, length, nullptr, 0);
    if (units <= 0)
        return false;
    std::vector<wchar_t> wide(static_cast<size_t>(units));
    if (MultiByteToWideChar(static_cast<UINT>(codePage), 0, bytes, length, wide.data(), units) != units)
        return false;
    int utf8Bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (utf8Bytes <= 0)
        return false;
    size_t start = out.size();
    out.resize(start + static_cast<size_t>(utf8Bytes));
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &out[start], utf8Bytes, nullptr, nullptr);
    return true;
}
