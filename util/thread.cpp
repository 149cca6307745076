#include "util/thread.h"

#include "util/platform/thread_start.h"

Thread::~Thread()
{
    waitForExit();
}

int Thread::runThread(void* self)
{
    return static_cast<Thread*>(self)->run();
}

bool Thread::start()
{
    if (handle != nullptr)
        return false;
    handle = startPlatformThread(&Thread::runThread, this, &threadId);
    return handle != nullptr;
}

void Thread::waitForExit()
{
    if (handle == nullptr)
        return;
    waitForPlatformThread(handle);
    handle = nullptr;
}
