#include "util/copy_bounded.h"

void copyBounded(char* destination, size_t size, const char* source)
{
    size_t length = 0;
    while (length + 1 < size && source[length] != '\0') {
        destination[length] = source[length];
        ++length;
    }
    destination[length] = '\0';
}
