#include "mail/platform/trust_sources.h"

#include <openssl/x509.h>
#include <unistd.h>

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

void addPlatformRoots(X509_STORE* store)
{
    X509_STORE_set_default_paths(store);
}
