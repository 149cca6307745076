#include <algorithm>
#include <cstring>
#include <mutex>

#include "mail/mailbox/mailbox.h"

namespace {

// How many ids reconcile walks between looks at a requested stop.
const size_t stopCheckInterval = 4096;

bool timeToLookForStop(size_t& walked)
{
    return ++walked % stopCheckInterval == 0;
}

} // namespace

Mailbox::Mailbox()
{
    // One storage for the four lists: an id listed, seen and announced is kept once.
    seen.shareStorageWith(current);
    notified.shareStorageWith(current);
    listing.shareStorageWith(current);
}

void Mailbox::startListing()
{
    std::lock_guard<std::mutex> hold(lock);
    listing.reserve(current.size());
}

bool Mailbox::finishListing(bool complete)
{
    std::lock_guard<std::mutex> hold(lock);
    if (complete) {
        current.swap(listing);
        current.shrinkToFit();
    }
    listing.clear();
    return complete;
}

bool Mailbox::reconcile(const std::function<bool()>& stopRequested, int serverTotal)
{
    std::lock_guard<std::mutex> hold(lock);
    // A quiet listing takes what is there as already announced; later arrivals are new.
    bool announce = !quietListing;
    quietListing = false;
    int unseen = 0;
    int total = 0;
    size_t walked = 0;
    auto stopNow = [&] { return timeToLookForStop(walked) && stopRequested && stopRequested(); };
    // The lists share one storage: an id is looked at by its place, without hashing it.
    for (UidList::Iterator at = current.begin(); at != current.end(); ++at) {
        if (stopNow())
            return false;
        if (!seen.containsIdAt(at)) {
            ++unseen;
            if (!notified.containsIdAt(at)) {
                notified.insertFrontIdAt(at);
                if (announce)
                    freshMail = 1;
            }
        }
        ++total;
    }
    // A seen id the server no longer lists is forgotten: listed again later, it is new.
    for (UidList::Iterator at = seen.begin(); at != seen.end();) {
        if (stopNow())
            return false;
        if (current.containsIdAt(at))
            ++at;
        else
            at = seen.erase(at);
    }
    previews.keepOnly([this](const char* id) { return current.contains(id) && !seen.contains(id); });
    unseenCount = unseen;
    totalCount = serverTotal >= 0 ? serverTotal : total;
    return true;
}

void Mailbox::enterScope(const std::string& scope)
{
    std::lock_guard<std::mutex> hold(lock);
    bool any = false;
    for (const UidList* ids : {&current, &seen, &notified})
        for (const char* id : *ids) {
            if (id == nullptr)
                continue;
            if (std::strncmp(id, scope.c_str(), scope.size()) == 0)
                return;
            any = true;
        }
    if (!any)
        return;
    current.clear();
    seen.clear();
    notified.clear();
    previews.clear();
    quietListing = true;
}

void Mailbox::markAsRead(std::vector<std::string>* marked)
{
    std::lock_guard<std::mutex> hold(lock);
    for (UidList::Iterator at = current.begin(); at != current.end(); ++at) {
        if (seen.containsIdAt(at))
            continue;
        seen.insertFrontIdAt(at);
        if (marked != nullptr)
            marked->push_back(*at);
    }
    notified.clear();
    previews.clear();
    freshMail = 0;
    unseenCount = 0;
}

MailboxCounts Mailbox::takeCounts()
{
    std::lock_guard<std::mutex> hold(lock);
    MailboxCounts counts;
    counts.unseenCount = unseenCount;
    counts.totalCount = totalCount;
    counts.freshMail = freshMail.exchange(0);
    counts.previews = previews.all();
    return counts;
}

std::vector<std::string> Mailbox::newestListed(size_t count) const
{
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> ids;
    for (UidList::Iterator at = current.begin(); at != current.end() && ids.size() < count; ++at)
        ids.push_back(*at != nullptr ? *at : "");
    return ids;
}

bool Mailbox::needsPreview(const char* id) const
{
    std::lock_guard<std::mutex> hold(lock);
    return current.contains(id) && !seen.contains(id) && !previews.describes(id);
}

void Mailbox::addPreviews(const std::vector<DescribedMessage>& described)
{
    std::lock_guard<std::mutex> hold(lock);
    previews.addNewest(described);
}

void Mailbox::dropPreviews()
{
    std::lock_guard<std::mutex> hold(lock);
    previews.clear();
}

namespace {

// One line of the seen-message file: the id's bytes (room for the longest id and a CR) and
// whether the line could not be kept (too long, a NUL byte or white space, which no id holds).
struct SeenLine {
    char text[Mailbox::maxSeenIdLength + 2];
    int length = 0;
    bool unusable = false;
};

// A file saved by a text editor may begin with the UTF-8 byte-order mark; it is no part of
// the first id, which would otherwise never match and be announced again. It is dropped from
// the start of every line, as often as it stands there, so that whichever id a save writes
// first reads back the same.
void dropByteOrderMark(SeenLine& line)
{
    const char mark[] = "\xEF\xBB\xBF";
    const int markLength = 3;
    while (line.length >= markLength && std::memcmp(line.text, mark, markLength) == 0) {
        line.length -= markLength;
        std::memmove(line.text, line.text + markLength, static_cast<size_t>(line.length) + 1);
    }
}

// Reads up to and including the next LF; false at the end of the file with nothing read.
bool readSeenLine(FILE* file, SeenLine& line)
{
    line.length = 0;
    line.unusable = false;
    int c = std::getc(file);
    if (c == EOF)
        return false;
    const int capacity = static_cast<int>(sizeof line.text) - 1;
    for (; c != EOF && c != '\n'; c = std::getc(file)) {
        if (c == '\0' || line.length == capacity)
            line.unusable = true;
        else
            line.text[line.length++] = static_cast<char>(c);
    }
    // A CR before the LF belongs to the line end (a file written with CR LF), not to the id.
    if (line.length > 0 && line.text[line.length - 1] == '\r')
        --line.length;
    if (line.length > Mailbox::maxSeenIdLength)
        line.unusable = true;
    line.text[line.length] = '\0';
    dropByteOrderMark(line);
    // A listed id never holds white space, so such a line is junk; kept, a CR at its end
    // would be taken for the line end on the next load and the id would change.
    if (std::strpbrk(line.text, " \t\r\v\f") != nullptr)
        line.unusable = true;
    return true;
}

// The lines left in `file` that may hold an id, counted ahead and the stream wound back, so
// that the list is sized once rather than grown step by step (each step of its index hashes
// every id again); 0 for a stream that cannot be wound back. A line beginning with a line end
// or white space holds none: counting those, a file of blank lines would reserve index room
// several times its own size.
size_t idLinesLeftIn(FILE* file)
{
    long start = std::ftell(file);
    if (start < 0 || std::fseek(file, start, SEEK_SET) != 0)
        return 0;
    size_t lines = 0;
    bool atLineStart = true;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        for (size_t i = 0; i < got; ++i) {
            if (atLineStart && std::strchr(" \t\r\n\v\f", chunk[i]) == nullptr)
                ++lines;
            atLineStart = chunk[i] == '\n';
        }
    return std::fseek(file, start, SEEK_SET) == 0 ? lines : 0;
}

} // namespace

void Mailbox::readSeenIds(FILE* file, UidList& ids)
{
    ids.reserve(ids.size() + idLinesLeftIn(file));
    SeenLine line;
    while (readSeenLine(file, line))
        if (!line.unusable && line.length > 0)
            ids.insertFront(line.text);
}

void Mailbox::loadSeen(FILE* file)
{
    std::lock_guard<std::mutex> hold(lock);
    seen.clear();
    if (file != nullptr)
        readSeenIds(file, seen);
    seen.shrinkToFit();
}

bool Mailbox::mergeSeen(FILE* file)
{
    std::lock_guard<std::mutex> hold(lock);
    if (seenState == SeenFileState::Read)
        return true;
    UidList marks;
    marks.copyFrom(seen);
    seen.clear();
    if (file != nullptr)
        readSeenIds(file, seen);
    seen.shrinkToFit();
    if (file != nullptr && std::ferror(file) != 0) {
        seen.copyFrom(marks);
        return false;
    }
    for (UidList::Iterator at = marks.begin(); at != marks.end(); ++at)
        if (!seen.containsIdAt(at))
            seen.insertFrontIdAt(at);
    seenState = SeenFileState::Read;
    // Read before any listing: the next one is counted against the whole seen list.
    quietListing = false;
    return true;
}

void Mailbox::seenFileUnreadable()
{
    std::lock_guard<std::mutex> hold(lock);
    if (seenState == SeenFileState::NotRead)
        quietListing = true;
    if (seenState != SeenFileState::Read)
        seenState = SeenFileState::Unreadable;
}

Mailbox::SeenFileState Mailbox::seenFileState() const
{
    std::lock_guard<std::mutex> hold(lock);
    return seenState;
}

bool Mailbox::saveSeen(FILE* file)
{
    std::lock_guard<std::mutex> hold(lock);
    for (const char* id : seen) {
        if (id == nullptr)
            continue;
        if (std::fputs(id, file) < 0 || std::fputc('\n', file) == EOF)
            return false;
    }
    return true;
}
