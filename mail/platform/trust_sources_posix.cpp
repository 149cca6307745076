#include "mail/platform/trust_sources.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "mail/trust_index.h"

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

// What X509_STORE_set_default_paths adds, with the default file read into the index.
void addPlatformRoots(TrustIndex& index, X509_STORE* store)
{
    const char* file = std::getenv(X509_get_default_cert_file_env());
    index.addPemFile(file != nullptr ? file : X509_get_default_cert_file());
    X509_LOOKUP* folder = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    if (folder != nullptr)
        X509_LOOKUP_add_dir(folder, nullptr, X509_FILETYPE_DEFAULT);
    ERR_clear_error();
}
