#include "mail/platform/file_replace.h"

#include <cstdio>

#include <unistd.h>

bool replaceFileAtomically(const char* from, const char* to)
{
    // rename() replaces an existing target atomically on POSIX file systems.
    return std::rename(from, to) == 0;
}

bool flushFileToDisk(FILE* file)
{
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}
