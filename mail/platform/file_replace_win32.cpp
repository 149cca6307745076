#include "mail/platform/file_replace.h"

#include <cstdio>

#include <io.h>
#include <windows.h>

bool replaceFileAtomically(const char* from, const char* to)
{
    // WRITE_THROUGH: the call returns only once the move is on the disk.
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool flushFileToDisk(FILE* file)
{
    if (std::fflush(file) != 0)
        return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}
