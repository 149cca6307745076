#include "mail/platform/file_open.h"

#include <sys/stat.h>

FILE* openFile(const char* path, const char* mode)
{
    return std::fopen(path, mode);
}

bool removeFile(const char* path)
{
    return std::remove(path) == 0;
}

long long openFileSize(FILE* file)
{
    struct stat status;
    if (file == nullptr || fstat(fileno(file), &status) != 0)
        return -1;
    return static_cast<long long>(status.st_size);
}
