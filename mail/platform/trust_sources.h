#pragma once

#include <cstddef>

#include <openssl/types.h>

static const size_t maxExecutablePath = 1024;

// The folder of the running executable with a trailing separator, e.g. "C:\pellwick\".
// False when it cannot be found or does not fit `size`.
bool executableFolder(char* buffer, size_t size);

// The process's working folder with a trailing separator, e.g. "C:\pellwick\". False when it
// cannot be found or does not fit `size`.
bool workingFolder(char* buffer, size_t size);

// Adds the platform's own trusted roots to `store`: the Windows ROOT certificate store, or
// OpenSSL's default locations natively.
void addPlatformRoots(X509_STORE* store);
