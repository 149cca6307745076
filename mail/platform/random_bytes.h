#pragma once

#include <cstddef>

// Fills `buffer` from the operating system's random source, without starting OpenSSL's
// generator (a plain account never needs it). False when the source gives nothing.
bool fillWithRandomBytes(void* buffer, size_t size);
