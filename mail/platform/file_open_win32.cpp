#include "mail/platform/file_open.h"

#include <cerrno>
#include <io.h>
#include <cstdio>

#include "util/text_record.h"

FILE* openFile(const char* path, const char* mode)
{
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    TextRecord widePath;
    TextRecord wideMode;
    widePath.assign(path);
    widePath.toWide();
    wideMode.assign(mode);
    wideMode.toWide();
    return _wfopen(widePath.wide, wideMode.wide);
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

long long openFileSize(FILE* file)
{
    return file != nullptr ? _filelengthi64(_fileno(file)) : -1;
}
