#include "tests/support/platform/loopback_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>

namespace bench {
namespace {

const int listenBacklog = 64;

bool makeNonBlocking(SOCKET s)
{
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

void disableNagle(SOCKET s)
{
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

int fillAddress(sockaddr_storage& storage, const char* text, int port)
{
    std::memset(&storage, 0, sizeof storage);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<u_short>(port));
        return sizeof(sockaddr_in);
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<u_short>(port));
        return sizeof(sockaddr_in6);
    }
    return 0;
}

int portOf(SOCKET s)
{
    sockaddr_storage storage;
    int length = sizeof storage;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return 0;
    if (storage.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
}

SOCKET asSocket(SocketHandle handle)
{
    return static_cast<SOCKET>(handle);
}

}  // namespace

void startSockets()
{
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

SocketHandle listenOnLoopback(const char* address, int port, int& boundPort)
{
    startSockets();
    sockaddr_storage storage;
    int length = fillAddress(storage, address, port);
    if (length == 0)
        return invalidSocket;
    SOCKET s = socket(storage.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return invalidSocket;
    // Windows lets SO_REUSEADDR steal a port in use; exclusive use keeps tests apart.
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    if (bind(s, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(s, listenBacklog) != 0 ||
        !makeNonBlocking(s)) {
        closesocket(s);
        return invalidSocket;
    }
    boundPort = portOf(s);
    return static_cast<SocketHandle>(s);
}

SocketHandle acceptClient(SocketHandle listener)
{
    SOCKET s = ::accept(asSocket(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return invalidSocket;
    if (!makeNonBlocking(s)) {
        closesocket(s);
        return invalidSocket;
    }
    disableNagle(s);
    return static_cast<SocketHandle>(s);
}

SocketHandle connectToLoopback(const char* address, int port, int milliseconds)
{
    startSockets();
    sockaddr_storage storage;
    int length = fillAddress(storage, address, port);
    if (length == 0)
        return invalidSocket;
    SOCKET s = socket(storage.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return invalidSocket;
    if (!makeNonBlocking(s)) {
        closesocket(s);
        return invalidSocket;
    }
    disableNagle(s);
    if (::connect(s, reinterpret_cast<sockaddr*>(&storage), length) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        closesocket(s);
        return invalidSocket;
    }
    // A refused connect shows as an exception condition on Winsock, not as writability.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    int ready = select(0, nullptr, &writable, &failed, &limit);
    int soError = 0;
    int soLength = sizeof soError;
    if (ready <= 0 || FD_ISSET(s, &failed) ||
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &soLength) != 0 || soError != 0) {
        closesocket(s);
        return invalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

int waitForSocket(SocketHandle socket, bool forWrite, int milliseconds)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(asSocket(socket), &set);
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    int ready = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &limit);
    if (ready < 0)
        return -1;
    return ready > 0 ? 1 : 0;
}

int sendSome(SocketHandle socket, const char* data, int length)
{
    int sent = ::send(asSocket(socket), data, length, 0);
    if (sent >= 0)
        return sent;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

int receiveSome(SocketHandle socket, char* buffer, int size)
{
    int got = ::recv(asSocket(socket), buffer, size, 0);
    if (got >= 0)
        return got;
    return WSAGetLastError() == WSAEWOULDBLOCK ? -2 : -1;
}

void closeSocket(SocketHandle socket)
{
    if (socket != invalidSocket)
        closesocket(asSocket(socket));
}

void resetSocket(SocketHandle socket)
{
    if (socket == invalidSocket)
        return;
    linger abortive{1, 0};
    setsockopt(asSocket(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
    closesocket(asSocket(socket));
}

}  // namespace bench
