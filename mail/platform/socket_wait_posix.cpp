#include "mail/platform/socket_wait.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/socket.h>

void prepareSockets()
{
    std::signal(SIGPIPE, SIG_IGN);
}

bool keepAddressExclusive(int)
{
    return true;
}

int anyAddressFamily()
{
    return AF_UNSPEC;
}

int streamSocketType()
{
    return SOCK_STREAM;
}

int waitForSocket(int socket, SocketWait what, int milliseconds)
{
    pollfd entry = {};
    entry.fd = socket;
    entry.events = what == SocketWait::Readable ? POLLIN : POLLOUT;
    int result = poll(&entry, 1, milliseconds);
    if (result < 0)
        return errno == EINTR ? 0 : -1;
    // An error or hang-up counts as ready: the next read or write reports it.
    return result > 0 ? 1 : 0;
}
