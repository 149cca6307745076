#pragma once

#include <cstddef>

static const size_t maxExecutablePath = 1024;

// The running executable's full path, e.g. "C:\pellwick\pellwick.exe", in UTF-8. False when
// it cannot be found or does not fit `size`.
bool executablePath(char* buffer, size_t size);

// The folder of the running executable with a trailing separator, e.g. "C:\pellwick\", in
// UTF-8. False when it cannot be found or does not fit `size`.
bool executableFolder(char* buffer, size_t size);

// The process's working folder with a trailing separator, e.g. "C:\pellwick\", in UTF-8.
// False when it cannot be found or does not fit `size`.
bool workingFolder(char* buffer, size_t size);
