// The seen-message file loader fed arbitrary bytes. Checked besides memory safety: every id
// kept is non-empty, within the length limit and free of white space and NUL, and the list
// written back reads in again as the same ids.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "mail/pop3/pop3_session.h"

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

// Loads `bytes` into `session` through a memory-backed stream.
void loadFrom(Pop3Session& session, const void* bytes, size_t size)
{
    static char empty[1];
    FILE* file = fmemopen(size > 0 ? const_cast<void*>(bytes) : empty, size, "rb");
    require(file != nullptr);
    session.loadSeen(file);
    std::fclose(file);
}

std::string saved(Pop3Session& session)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&buffer, &size);
    require(file != nullptr);
    require(session.saveSeen(file));
    std::fclose(file);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Made once: a session loads the trusted certificates as it is made, which is slow.
    static Pop3Session first;
    static Pop3Session second;
    loadFrom(first, data, size);
    for (const char* id : first.seen) {
        size_t length = std::strlen(id);
        require(length > 0 && length <= static_cast<size_t>(Pop3Session::maxSeenIdLength));
        require(std::strpbrk(id, " \t\r\n\v\f") == nullptr);
    }
    std::string written = saved(first);
    loadFrom(second, written.data(), written.size());
    require(idsOf(second.seen) == idsOf(first.seen));
    return 0;
}
