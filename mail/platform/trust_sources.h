#pragma once

#include <cstddef>

#include <openssl/types.h>

static const size_t maxExecutablePath = 1024;

// The folder of the running executable with a trailing separator, e.g. "C:\pellwick\", in
// UTF-8. False when it cannot be found or does not fit `size`.
bool executableFolder(char* buffer, size_t size);

// The process's working folder with a trailing separator, e.g. "C:\pellwick\", in UTF-8.
// False when it cannot be found or does not fit `size`.
bool workingFolder(char* buffer, size_t size);

class TrustIndex;

// Adds the platform's own trusted roots: the Windows ROOT certificate store to `index`; or
// natively OpenSSL's default locations, its file to `index` and its folder of certificates
// as a lookup of `store`, consulted after the index.
void addPlatformRoots(TrustIndex& index, X509_STORE* store);
