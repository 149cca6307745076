#include "util/platform/thread_start.h"

#include <new>

#include <windows.h>

namespace {

struct ThreadStart {
    ThreadBody body;
    void* argument;
};

DWORD WINAPI threadEntry(LPVOID parameter)
{
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    return static_cast<DWORD>(start.body(start.argument));
}

} // namespace

void* startPlatformThread(ThreadBody body, void* argument, unsigned* threadId)
{
    ThreadStart* start = new (std::nothrow) ThreadStart{body, argument};
    if (start == nullptr)
        return nullptr;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, threadEntry, start, 0, &id);
    if (thread == nullptr) {
        delete start;
        return nullptr;
    }
    *threadId = id;
    return thread;
}

void waitForPlatformThread(void* handle)
{
    WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle));
}

bool startDetachedThread(ThreadBody body, void* argument)
{
    unsigned id = 0;
    void* thread = startPlatformThread(body, argument, &id);
    if (thread == nullptr)
        return false;
    CloseHandle(static_cast<HANDLE>(thread));
    return true;
}
