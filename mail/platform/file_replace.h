#pragma once

#include <cstdio>

// Puts the file `from` in place of `to` in one step (an existing `to` is replaced, never first
// removed) and returns true when it is done and on the disk. Both paths are UTF-8.
typedef bool (*ReplaceFileFunction)(const char* from, const char* to);

bool replaceFileAtomically(const char* from, const char* to);

// Pushes the written bytes of an open stream through to the disk. False when that fails.
bool flushFileToDisk(FILE* file);
