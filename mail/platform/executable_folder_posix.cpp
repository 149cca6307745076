#include "mail/platform/executable_folder.h"

#include <unistd.h>

#include <cstring>

bool executablePath(char* buffer, size_t size)
{
    if (size < 2)
        return false;
    ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
    if (length <= 0 || static_cast<size_t>(length) >= size - 1)
        return false;
    buffer[length] = '\0';
    return true;
}

bool executableFolder(char* buffer, size_t size)
{
    if (!executablePath(buffer, size))
        return false;
    char* name = std::strrchr(buffer, '/');
    if (name == nullptr)
        return false;
    name[1] = '\0';
    return true;
}

bool workingFolder(char* buffer, size_t size)
{
    if (size < 2 || getcwd(buffer, size - 1) == nullptr)
        return false;
    size_t length = std::strlen(buffer);
    if (buffer[length - 1] != '/') {
        buffer[length] = '/';
        buffer[length + 1] = '\0';
    }
    return true;
}
