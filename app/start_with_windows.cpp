#include "app/start_with_windows.h"

#include <windows.h>

#include <cstring>

#include "ui/win32_handles.h"

namespace {

// Room for the longest path the ANSI module-name call gives, its quotes and the NUL.
const DWORD quotedPathSize = MAX_PATH + 3;

// "C:\...\pellwick.exe" with its quotes: a path with blanks must not be split at log-on.
bool quotedProgramPath(char* quoted, DWORD size)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || length + 3 > size)
        return false;
    quoted[0] = '"';
    memcpy(quoted + 1, path, length);
    quoted[length + 1] = '"';
    quoted[length + 2] = '\0';
    return true;
}

} // namespace

bool startsWithWindows()
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, runKeyPath, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return false;
    OwnedRegistryKey run(opened);
    return RegQueryValueExA(run.get(), runValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool setStartWithWindows(bool start)
{
    HKEY opened = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, runKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) !=
        ERROR_SUCCESS)
        return false;
    OwnedRegistryKey run(opened);
    if (!start) {
        LONG removed = RegDeleteValueA(run.get(), runValueName);
        return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
    }
    char quoted[quotedPathSize];
    if (!quotedProgramPath(quoted, sizeof quoted))
        return false;
    return RegSetValueExA(run.get(), runValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted),
                          static_cast<DWORD>(strlen(quoted) + 1)) == ERROR_SUCCESS;
}
