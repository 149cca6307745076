#pragma once

#include "mail/platform/file_replace.h"

class Pop3Session;

// The seen-message file by path (pellwick.uidl beside the settings file).

// Replaces the session's seen list with the file's ids. A missing or unreadable file is an
// empty seen list; the result then is false.
bool loadSeenFile(Pop3Session& session, const char* path);

// Writes the seen list to a temporary file beside `path`, flushes it to the disk and then puts
// it in place of `path` in one step, so that a crash at any moment leaves either the old or
// the new file whole. False when any step fails; the old file is then left as it was.
// `replace` is the final step; tests pass one that fails.
bool saveSeenFile(Pop3Session& session, const char* path,
                  ReplaceFileFunction replace = replaceFileAtomically);
