#include "app/single_instance.h"

#include <cstdio>

namespace {

// UNLEN + 1.
const int userNameSize = 257;

} // namespace

void buildInstanceMutexName(char* name, int size)
{
    char user[userNameSize] = "";
    DWORD length = userNameSize;
    if (!GetUserNameA(user, &length))
        user[0] = '\0';
    // A backslash would name a namespace; a user name has none, but the name must stay one.
    for (char* c = user; *c; ++c) {
        if (*c == '\\')
            *c = '_';
    }
    snprintf(name, static_cast<size_t>(size), "Local\\pellwick-%s", user);
}

bool SingleInstance::acquire()
{
    char name[mutexNameSize];
    buildInstanceMutexName(name, mutexNameSize);
    mutex.reset(CreateMutexA(nullptr, TRUE, name));
    // Without a mutex at all there is nothing to coordinate with: run rather than refuse.
    if (!mutex.get())
        return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        mutex.reset(nullptr);
        return false;
    }
    return true;
}
