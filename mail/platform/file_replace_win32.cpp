#include "mail/platform/file_replace.h"

#include <cstdio>

#include <io.h>
#include <windows.h>

#include "util/text_record.h"

bool replaceFileAtomically(const char* from, const char* to)
{
    // UTF-8 paths, through the wide-character call.
    TextRecord wideFrom;
    TextRecord wideTo;
    wideFrom.assign(from);
    wideTo.assign(to);
    if (wideFrom.text == nullptr || wideTo.text == nullptr)
        return false;
    wideFrom.toWide();
    wideTo.toWide();
    // WRITE_THROUGH: the call returns only once the move is on the disk.
    return MoveFileExW(wideFrom.wide, wideTo.wide, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool flushFileToDisk(FILE* file)
{
    if (std::fflush(file) != 0)
        return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}
