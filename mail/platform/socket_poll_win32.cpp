#include "mail/platform/socket_poll.h"

#include <winsock2.h>

int waitForReadableSockets(const int* sockets, bool* readable, int count, int milliseconds)
{
    if (count > FD_SETSIZE)
        return -1;
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    for (int i = 0; i < count; ++i) {
        FD_SET(static_cast<SOCKET>(sockets[i]), &ready);
        FD_SET(static_cast<SOCKET>(sockets[i]), &failed);
    }
    timeval limit;
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    int result = select(0, &ready, nullptr, &failed, &limit);
    if (result == SOCKET_ERROR)
        return -1;
    for (int i = 0; i < count; ++i) {
        SOCKET handle = static_cast<SOCKET>(sockets[i]);
        readable[i] = FD_ISSET(handle, &ready) || FD_ISSET(handle, &failed);
    }
    return result;
}
