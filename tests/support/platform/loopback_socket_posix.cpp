#include "tests/support/platform/loopback_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {
namespace {

const int listenBacklog = 64;

bool makeNonBlocking(int fd)
{
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void disableNagle(int fd)
{
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Fills `address` for a numeric loopback address; its length, or 0 when not numeric.
socklen_t fillAddress(sockaddr_storage& storage, const char* text, int port)
{
    std::memset(&storage, 0, sizeof storage);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        return sizeof(sockaddr_in);
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        return sizeof(sockaddr_in6);
    }
    return 0;
}

int portOf(int fd)
{
    sockaddr_storage storage;
    socklen_t length = sizeof storage;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return 0;
    if (storage.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
}

}  // namespace

void startSockets()
{
    std::signal(SIGPIPE, SIG_IGN);
}

SocketHandle listenOnLoopback(const char* address, int port, int& boundPort)
{
    sockaddr_storage storage;
    socklen_t length = fillAddress(storage, address, port);
    if (length == 0)
        return invalidSocket;
    int fd = socket(storage.ss_family, SOCK_STREAM, 0);
    if (fd < 0)
        return invalidSocket;
    // A fixed port must be reusable at once by the next test, despite TIME_WAIT.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(fd, listenBacklog) != 0 ||
        !makeNonBlocking(fd)) {
        ::close(fd);
        return invalidSocket;
    }
    boundPort = portOf(fd);
    return fd;
}

SocketHandle acceptClient(SocketHandle listener)
{
    int fd = ::accept(static_cast<int>(listener), nullptr, nullptr);
    if (fd < 0)
        return invalidSocket;
    if (!makeNonBlocking(fd)) {
        ::close(fd);
        return invalidSocket;
    }
    disableNagle(fd);
    return fd;
}

SocketHandle connectToLoopback(const char* address, int port, int milliseconds)
{
    sockaddr_storage storage;
    socklen_t length = fillAddress(storage, address, port);
    if (length == 0)
        return invalidSocket;
    int fd = socket(storage.ss_family, SOCK_STREAM, 0);
    if (fd < 0 || !makeNonBlocking(fd)) {
        if (fd >= 0)
            ::close(fd);
        return invalidSocket;
    }
    disableNagle(fd);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return invalidSocket;
    }
    int soError = 0;
    socklen_t soLength = sizeof soError;
    if (waitForSocket(fd, true, milliseconds) != 1 ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &soLength) != 0 || soError != 0) {
        ::close(fd);
        return invalidSocket;
    }
    return fd;
}

int waitForSocket(SocketHandle socket, bool forWrite, int milliseconds)
{
    pollfd entry{static_cast<int>(socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int ready = ::poll(&entry, 1, milliseconds);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    return ready > 0 ? 1 : 0;
}

int sendSome(SocketHandle socket, const char* data, int length)
{
    ssize_t sent = ::send(static_cast<int>(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent >= 0)
        return static_cast<int>(sent);
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

int receiveSome(SocketHandle socket, char* buffer, int size)
{
    ssize_t got = ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(size), 0);
    if (got >= 0)
        return static_cast<int>(got);
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? -2 : -1;
}

void closeSocket(SocketHandle socket)
{
    if (socket != invalidSocket)
        ::close(static_cast<int>(socket));
}

void resetSocket(SocketHandle socket)
{
    if (socket == invalidSocket)
        return;
    linger abortive{1, 0};
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(static_cast<int>(socket));
}

}  // namespace bench
