#include "mail/platform/socket_wait.h"

#include <winsock2.h>

void prepareSockets()
{
    // Winsock has no SIGPIPE; OpenSSL starts Winsock itself.
}

int anyAddressFamily()
{
    return AF_UNSPEC;
}

int streamSocketType()
{
    return SOCK_STREAM;
}

int waitForSocket(int socket, bool forWrite, int milliseconds)
{
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    SOCKET handle = static_cast<SOCKET>(socket);
    FD_SET(handle, &ready);
    FD_SET(handle, &failed); // a failed non-blocking connect is reported here
    timeval limit;
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    int result = forWrite ? select(0, nullptr, &ready, &failed, &limit) : select(0, &ready, nullptr, &failed, &limit);
    if (result == SOCKET_ERROR)
        return -1;
    return result > 0 ? 1 : 0;
}
