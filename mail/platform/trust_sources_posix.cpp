#include "mail/platform/trust_sources.h"

#include <openssl/x509.h>
#include <unistd.h>

#include <cstring>

bool executableFolder(char* buffer, size_t size)
{
    if (size < 2)
        return false;
    ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
    if (length <= 0 || static_cast<size_t>(length) >= size - 1)
        return false;
    buffer[length] = '\0';
    for (ssize_t i = length - 1; i >= 0; --i) {
        if (buffer[i] == '/') {
            buffer[i + 1] = '\0';
            return true;
        }
    }
    return false;
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

void addPlatformRoots(X509_STORE* store)
{
    X509_STORE_set_default_paths(store);
}
