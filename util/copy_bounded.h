#pragma once

#include <cstddef>

// Copies at most size - 1 characters of `source` and always terminates; size must be >= 1.
void copyBounded(char* destination, size_t size, const char* source);
