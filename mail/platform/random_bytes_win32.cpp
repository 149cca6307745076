#include "mail/platform/random_bytes.h"

#include <windows.h>

#include <bcrypt.h>

bool fillWithRandomBytes(void* buffer, size_t size)
{
    return BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}
