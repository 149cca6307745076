#include "mail/mailbox/seen_file.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "mail/platform/file_open.h"
#include "mail/pop3/pop3_session.h"

namespace {

const char temporarySuffix[] = ".new";

// Writes the seen list into `path`, a fresh file, and gets it onto the disk.
bool writeSeenFile(Pop3Session& session, const char* path)
{
    FILE* file = openFile(path, "w");
    if (file == nullptr)
        return false;
    bool written = session.saveSeen(file) && flushFileToDisk(file);
    bool closed = std::fclose(file) == 0;
    return written && closed;
}

} // namespace

bool loadSeenFile(Pop3Session& session, const char* path)
{
    // Binary, so that every platform reads the same bytes; the CR of a CR LF is dropped anyway.
    FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        std::lock_guard<std::mutex> hold(session.listLock);
        session.seen.clear();
        return false;
    }
    session.loadSeen(file);
    bool readWell = std::ferror(file) == 0;
    std::fclose(file);
    return readWell;
}

bool saveSeenFile(Pop3Session& session, const char* path, ReplaceFileFunction replace)
{
    if (path == nullptr || *path == '\0')
        return false;
    // Beside the target, so that the replace stays within one file system.
    std::string temporary = std::string(path) + temporarySuffix;
    if (!writeSeenFile(session, temporary.c_str()) || !replace(temporary.c_str(), path)) {
        removeFile(temporary.c_str());
        return false;
    }
    return true;
}

bool SeenMessageFile::read(Pop3Session& session)
{
    if (filePath.text == nullptr || *filePath.text == '\0')
        return false;
    if (session.seenFileState() == Pop3Session::SeenFileState::Read)
        return true;
    FILE* file = openFile(filePath.text, "rb");
    // Only a file that is not there is an empty list; any other failure may hide marks.
    bool merged = (file != nullptr || errno == ENOENT) && session.mergeSeen(file);
    if (file != nullptr)
        std::fclose(file);
    if (!merged)
        session.seenFileUnreadable();
    return merged;
}

bool SeenMessageFile::save(Pop3Session& session)
{
    return read(session) && saveSeenFile(session, filePath.text);
}
