// The seen-message file loader fed arbitrary bytes. Checked besides memory safety: every id
// kept is non-empty, within the length limit and free of white space and NUL, and the list
// written back reads in again as the same ids.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "mail/mailbox/mailbox.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

std::multiset<std::string> idsOf(const UidList& list)
{
    std::multiset<std::string> ids;
    for (const char* id : list)
        ids.insert(id);
    return ids;
}

// Loads `bytes` into `mailbox` through a memory-backed stream.
void loadFrom(Mailbox& mailbox, const void* bytes, size_t size)
{
    static char empty[1];
    FILE* file = fmemopen(size > 0 ? const_cast<void*>(bytes) : empty, size, "rb");
    require(file != nullptr);
    mailbox.loadSeen(file);
    std::fclose(file);
}

std::string saved(Mailbox& mailbox)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&buffer, &size);
    require(file != nullptr);
    require(mailbox.saveSeen(file));
    std::fclose(file);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Mailbox first;
    Mailbox second;
    loadFrom(first, data, size);
    for (const char* id : first.seen) {
        size_t length = std::strlen(id);
        require(length > 0 && length <= static_cast<size_t>(Mailbox::maxSeenIdLength));
        require(std::strpbrk(id, " \t\r\n\v\f") == nullptr);
    }
    std::string written = saved(first);
    loadFrom(second, written.data(), written.size());
    require(idsOf(second.seen) == idsOf(first.seen));
    return 0;
}
