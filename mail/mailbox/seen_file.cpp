#include "mail/mailbox/seen_file.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "mail/platform/file_open.h"
#include "mail/mailbox/mailbox.h"

namespace {

const char temporarySuffix[] = ".new";

// Writes the seen ids into `path`, a fresh file, and gets it onto the disk.
bool writeSeenFile(Mailbox& mailbox, const char* path)
{
    FILE* file = openFile(path, "w");
    if (file == nullptr)
        return false;
    bool written = mailbox.saveSeen(file) && flushFileToDisk(file);
    bool closed = std::fclose(file) == 0;
    return written && closed;
}

// A file too large to be a seen-message file; it is left as it is, unread.
bool oversized(FILE* file)
{
    return file != nullptr && openFileSize(file) > maxSeenFileBytes;
}

} // namespace

bool loadSeenFile(Mailbox& mailbox, const char* path)
{
    // Binary, so that every platform reads the same bytes; the CR of a CR LF is dropped anyway.
    FILE* file = openFile(path, "rb");
    bool tooLarge = oversized(file);
    mailbox.loadSeen(tooLarge ? nullptr : file);
    if (file == nullptr)
        return false;
    bool readWell = !tooLarge && std::ferror(file) == 0;
    std::fclose(file);
    return readWell;
}

bool saveSeenFile(Mailbox& mailbox, const char* path, ReplaceFileFunction replace)
{
    if (path == nullptr || *path == '\0')
        return false;
    // Beside the target, so that the replace stays within one file system.
    std::string temporary = std::string(path) + temporarySuffix;
    if (!writeSeenFile(mailbox, temporary.c_str()) || !replace(temporary.c_str(), path)) {
        removeFile(temporary.c_str());
        return false;
    }
    return true;
}

bool SeenMessageFile::read(Mailbox& mailbox)
{
    if (filePath.text == nullptr || *filePath.text == '\0')
        return false;
    if (mailbox.seenFileState() == Mailbox::SeenFileState::Read)
        return true;
    FILE* file = openFile(filePath.text, "rb");
    // Only a file that is not there is an empty list; any other failure may hide marks.
    bool merged = (file != nullptr || errno == ENOENT) && !oversized(file) && mailbox.mergeSeen(file);
    if (file != nullptr)
        std::fclose(file);
    if (!merged)
        mailbox.seenFileUnreadable();
    return merged;
}

bool SeenMessageFile::save(Mailbox& mailbox)
{
    return read(mailbox) && saveSeenFile(mailbox, filePath.text);
}
