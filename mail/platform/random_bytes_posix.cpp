#include "mail/platform/random_bytes.h"

#include <cerrno>

#include <sys/random.h>

bool fillWithRandomBytes(void* buffer, size_t size)
{
    char* bytes = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t got = getrandom(bytes, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}
