#pragma once

#include "mail/platform/file_replace.h"
#include "util/text_record.h"

class Mailbox;

// The seen-message file by path (pellwick.uidl beside the settings file).

// Larger than the seen-message file of any real mailbox (2.5 million ids of 100 bytes): a
// larger file is not read, as its list would not fit in memory, and is treated as one that
// cannot be read whole.
const long long maxSeenFileBytes = 256LL * 1024 * 1024;

// Replaces the mailbox's seen ids with the file's ids. A missing or unreadable file is an
// empty seen list, as is one above maxSeenFileBytes; the result then is false.
bool loadSeenFile(Mailbox& mailbox, const char* path);

// Writes the seen ids to a temporary file beside `path`, flushes it to the disk and then puts
// it in place of `path` in one step, so that a crash at any moment leaves either the old or
// the new file whole. False when any step fails; the old file is then left as it was.
// `replace` is the final step; tests pass one that fails.
bool saveSeenFile(Mailbox& mailbox, const char* path, ReplaceFileFunction replace = replaceFileAtomically);

// The seen-message file of a running program. A file that exists but could not be read whole
// (held open without sharing by a virus scan or a sync client, a read failing partway) is
// never replaced by ids this run has not read: it is tried again before each save and at
// each check cycle, and once read, the marks made meanwhile are merged into its ids.
class SeenMessageFile {
public:
    // Set before the checker thread starts; not changed while it runs.
    void setPath(const char* path) { filePath.assign(path); }
    // Reads the file into the mailbox unless that has been done; true once it has, or when
    // no file is there (nothing to lose). False without a path. Any thread.
    bool read(Mailbox& mailbox);
    // read(), then saveSeenFile; false, writing nothing, while the file cannot be read.
    bool save(Mailbox& mailbox);

private:
    TextRecord filePath;
};
