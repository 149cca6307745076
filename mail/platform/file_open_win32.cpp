#include "mail/platform/file_open.h"

#include <cerrno>
#include <cstdio>

#include "util/text_record.h"

namespace {

// The mode holds only ASCII letters and signs.
const int maxModeLength = 8;

bool widenMode(const char* mode, wchar_t (&wide)[maxModeLength + 1])
{
    int length = 0;
    for (; mode[length] != '\0'; ++length) {
        if (length == maxModeLength)
            return false;
        wide[length] = static_cast<wchar_t>(static_cast<unsigned char>(mode[length]));
    }
    wide[length] = L'\0';
    return true;
}

} // namespace

FILE* openFile(const char* path, const char* mode)
{
    wchar_t wideMode[maxModeLength + 1];
    if (path == nullptr || !widenMode(mode, wideMode)) {
        errno = EINVAL;
        return nullptr;
    }
    TextRecord widePath;
    widePath.assign(path);
    widePath.toWide();
    return _wfopen(widePath.wide, wideMode);
}

bool removeFile(const char* path)
{
    if (path == nullptr)
        return false;
    TextRecord widePath;
    widePath.assign(path);
    widePath.toWide();
    return _wremove(widePath.wide) == 0;
}
