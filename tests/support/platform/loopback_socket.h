#pragma once

#include <cstdint>

// The few socket calls the bench needs, over Winsock or POSIX sockets. Every socket the
// bench hands out is non-blocking; waits are done with waitForSocket in short slices.
namespace bench {

using SocketHandle = std::intptr_t;
const SocketHandle invalidSocket = -1;

// Once per process before the first socket (Winsock start-up; no SIGPIPE natively).
void startSockets();

// A listening socket on `address` ("127.0.0.1" or "::1") and `port` (0: any free port).
// The port actually bound goes to `boundPort`. invalidSocket on failure.
SocketHandle listenOnLoopback(const char* address, int port, int& boundPort);
// The next waiting client, non-blocking and without Nagle delay, or invalidSocket.
SocketHandle acceptClient(SocketHandle listener);
// A blocking-free connect to `address`:`port` that completes within `milliseconds`.
SocketHandle connectToLoopback(const char* address, int port, int milliseconds);

// 1 when `socket` is ready (to read, or to write when `forWrite`), 0 after `milliseconds`,
// -1 on error.
int waitForSocket(SocketHandle socket, bool forWrite, int milliseconds);

// Bytes sent (> 0), 0 when the socket buffer is full, -1 on error.
int sendSome(SocketHandle socket, const char* data, int length);
// Bytes received (> 0), 0 when the peer closed, -2 when nothing is there yet, -1 on error.
int receiveSome(SocketHandle socket, char* buffer, int size);

// Orderly close: pending data goes out, then FIN.
void closeSocket(SocketHandle socket);
// Abortive close: the peer sees a reset instead of an end of stream.
void resetSocket(SocketHandle socket);

}  // namespace bench
