#include "mail/platform/trust_sources.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>

// What X509_STORE_set_default_paths adds: the default folder as a lookup of the store, and the
// default file for the caller to read.
const char* addPlatformRoots(X509_STORE* store, PlatformRootSink, void*)
{
    X509_LOOKUP* folder = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    if (folder != nullptr)
        X509_LOOKUP_add_dir(folder, nullptr, X509_FILETYPE_DEFAULT);
    ERR_clear_error();
    const char* file = std::getenv(X509_get_default_cert_file_env());
    return file != nullptr ? file : X509_get_default_cert_file();
}
