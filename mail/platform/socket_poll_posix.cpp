#include "mail/platform/socket_poll.h"

#include <cerrno>
#include <cstddef>
#include <poll.h>
#include <vector>

int waitForReadableSockets(const int* sockets, bool* readable, int count, int milliseconds)
{
    std::vector<pollfd> entries(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        entries[i].fd = sockets[i];
        entries[i].events = POLLIN;
    }
    int result = poll(entries.data(), entries.size(), milliseconds);
    if (result < 0)
        return errno == EINTR ? 0 : -1;
    // An error or hang-up counts as readable: the next read reports it.
    for (int i = 0; i < count; ++i)
        readable[i] = entries[i].revents != 0;
    return result;
}
