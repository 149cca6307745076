#include <windows.h>

#include "mail/platform/executable_folder.h"

#include <cstring>

namespace {

// `wide` as UTF-8 with a trailing separator; false when it does not fit `size`.
bool utf8Folder(const wchar_t* wide, char* buffer, size_t size)
{
    if (size < 2)
        return false;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, static_cast<int>(size - 1), nullptr, nullptr);
    if (bytes < 2)
        return false; // none, or cut short
    if (buffer[bytes - 2] != '\\' && buffer[bytes - 2] != '/') {
        buffer[bytes - 1] = '\\';
        buffer[bytes] = '\0';
    }
    return true;
}

} // namespace

// Paths as UTF-8, which the program's file calls take, so that a folder named outside the ANSI
// code page is still found.
bool executablePath(char* buffer, size_t size)
{
    wchar_t wide[maxExecutablePath];
    DWORD length = GetModuleFileNameW(nullptr, wide, maxExecutablePath);
    if (length == 0 || length >= maxExecutablePath)
        return false; // none, or cut short
    return WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, static_cast<int>(size), nullptr, nullptr) > 0;
}

bool executableFolder(char* buffer, size_t size)
{
    if (!executablePath(buffer, size))
        return false;
    size_t length = std::strlen(buffer);
    while (length > 0 && buffer[length - 1] != '\\' && buffer[length - 1] != '/')
        --length;
    buffer[length] = '\0';
    return length > 0;
}

bool workingFolder(char* buffer, size_t size)
{
    wchar_t wide[maxExecutablePath];
    DWORD length = GetCurrentDirectoryW(maxExecutablePath, wide);
    if (length == 0 || length >= maxExecutablePath)
        return false; // none, or cut short
    return utf8Folder(wide, buffer, size);
}
