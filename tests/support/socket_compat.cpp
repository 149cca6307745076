#include "tests/support/socket_compat.h"

#include <mutex>

#ifdef _WIN32
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace testbench {

bool startSockets()
{
#ifdef _WIN32
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
#else
    return true;
#endif
}

void closeSocket(SocketHandle socket)
{
    if (socket == kNoSocket)
        return;
#ifdef _WIN32
    closesocket(socket);
#else
    close(socket);
#endif
}

bool setNonBlocking(SocketHandle socket)
{
#ifdef _WIN32
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
#else
    int flags = fcntl(socket, F_GETFL, 0);
    return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

void setNoDelay(SocketHandle socket)
{
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

namespace {

// select() works on both platforms and one socket never exceeds FD_SETSIZE here.
bool waitFor(SocketHandle socket, int timeoutMs, bool forWrite)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval limit;
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
    int ready =
        select(static_cast<int>(socket) + 1, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &limit);
    return ready > 0;
}

} // namespace

bool waitReadable(SocketHandle socket, int timeoutMs)
{
    return waitFor(socket, timeoutMs, false);
}
bool waitWritable(SocketHandle socket, int timeoutMs)
{
    return waitFor(socket, timeoutMs, true);
}

bool lastErrorWouldBlock()
{
#ifdef _WIN32
    return WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

SocketHandle connectLoopback(int port)
{
    if (!startSockets())
        return kNoSocket;
    SocketHandle socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == kNoSocket)
        return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closeSocket(socket);
        return kNoSocket;
    }
    return socket;
}

int sendSome(SocketHandle socket, const char* data, int length)
{
#ifdef _WIN32
    return send(socket, data, length, 0);
#else
    return static_cast<int>(send(socket, data, static_cast<size_t>(length), MSG_NOSIGNAL));
#endif
}

int sendUrgentByte(SocketHandle socket, char byte)
{
#ifdef _WIN32
    return send(socket, &byte, 1, MSG_OOB);
#else
    return static_cast<int>(send(socket, &byte, 1, MSG_OOB | MSG_NOSIGNAL));
#endif
}

int receiveSome(SocketHandle socket, char* buffer, int capacity)
{
#ifdef _WIN32
    return recv(socket, buffer, capacity, 0);
#else
    return static_cast<int>(recv(socket, buffer, static_cast<size_t>(capacity), 0));
#endif
}

} // namespace testbench
