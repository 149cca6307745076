#include "app/start_with_windows.h"

#include <windows.h>

#include <string>

#include "mail/platform/executable_folder.h"
#include "util/holders/win32_holders.h"
#include "util/text_record.h"

namespace {

// "C:\...\pellwick.exe" with its quotes: a path with blanks must not be split at log-on. Wide,
// so that a folder named outside the ANSI code page is named as it is.
bool quotedProgramPath(std::wstring& quoted)
{
    char path[maxExecutablePath];
    if (!executablePath(path, sizeof path))
        return false;
    TextRecord wide;
    wide.assign(path);
    wide.toWide();
    quoted = L"\"" + std::wstring(wide.wide) + L"\"";
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
    std::wstring quoted;
    TextRecord name;
    name.assign(runValueName);
    name.toWide();
    if (!quotedProgramPath(quoted))
        return false;
    return RegSetValueExW(run.get(), name.wide, 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted.c_str()),
                          static_cast<DWORD>((quoted.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}
