// Small socket layer shared by the bench: Winsock under Windows, BSD sockets elsewhere.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <sys/socket.h>
#endif

namespace testbench {

#ifdef _WIN32
using SocketHandle = SOCKET;
const SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
const SocketHandle kNoSocket = -1;
#endif

// Starts Winsock once per process; a no-op elsewhere. Returns false if sockets are unusable.
bool startSockets();
void closeSocket(SocketHandle socket);
bool setNonBlocking(SocketHandle socket);
void setNoDelay(SocketHandle socket);

// Waits up to timeoutMs for the socket to become readable (or writable); true when it did.
bool waitReadable(SocketHandle socket, int timeoutMs);
bool waitWritable(SocketHandle socket, int timeoutMs);

// True when the last socket call failed only because it would have blocked.
bool lastErrorWouldBlock();

// Connects a blocking socket to 127.0.0.1:port; kNoSocket on failure.
SocketHandle connectLoopback(int port);

// send() that never raises SIGPIPE; returns bytes written or -1.
int sendSome(SocketHandle socket, const char* data, int length);
int receiveSome(SocketHandle socket, char* buffer, int capacity);
// One byte as TCP urgent data (MSG_OOB); returns 1 or -1.
int sendUrgentByte(SocketHandle socket, char byte);

} // namespace testbench
