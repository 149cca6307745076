#include "util/platform/thread_start.h"

#include <functional>
#include <new>
#include <system_error>
#include <thread>

void* startPlatformThread(ThreadBody body, void* argument, unsigned* threadId)
{
    std::thread* thread = new (std::nothrow) std::thread;
    if (thread == nullptr)
        return nullptr;
    // std::thread reports a failed start by an exception; it stays inside this seam.
    try {
        *thread = std::thread([body, argument] { body(argument); });
    } catch (const std::system_error&) {
        delete thread;
        return nullptr;
    }
    *threadId = static_cast<unsigned>(std::hash<std::thread::id>()(thread->get_id()));
    return thread;
}

void waitForPlatformThread(void* handle)
{
    std::thread* thread = static_cast<std::thread*>(handle);
    if (thread->joinable())
        thread->join();
    delete thread;
}

bool startDetachedThread(ThreadBody body, void* argument)
{
    try {
        std::thread([body, argument] { body(argument); }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}
