#include "mail/platform/socket_wait.h"

#include <winsock2.h>

void prepareSockets()
{
    // Winsock has no SIGPIPE; OpenSSL starts Winsock itself.
}

bool keepAddressExclusive(int socket)
{
    BOOL on = TRUE;
    return setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

int anyAddressFamily()
{
    return AF_UNSPEC;
}

int streamSocketType()
{
    return SOCK_STREAM;
}

// The exception set only for a connect, whose failure Windows reports there and nowhere else.
// Elsewhere it would also report pending urgent (out-of-band) data, which no read takes away,
// and every wait would return at once.
int waitForSocket(int socket, SocketWait what, int milliseconds)
{
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    SOCKET handle = static_cast<SOCKET>(socket);
    FD_SET(handle, &ready);
    FD_SET(handle, &failed);
    fd_set* failedOrNone = what == SocketWait::Connected ? &failed : nullptr;
    timeval limit;
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    int result = what == SocketWait::Readable ? select(0, &ready, nullptr, failedOrNone, &limit)
                                              : select(0, nullptr, &ready, failedOrNone, &limit);
    if (result == SOCKET_ERROR)
        return -1;
    return result > 0 ? 1 : 0;
}
