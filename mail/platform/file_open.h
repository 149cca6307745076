#pragma once

#include <cstdio>

// Files by the paths the program builds, which are UTF-8. On Windows the path goes through
// the wide-character calls, so that a folder named outside the ANSI code page is found.

// As fopen, with the same modes; null when the file cannot be opened (errno tells why).
FILE* openFile(const char* path, const char* mode);

// True when the file is gone.
bool removeFile(const char* path);

// The size in bytes of an open file; -1 when it cannot be told.
long long openFileSize(FILE* file);
