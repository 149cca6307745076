#pragma once

// The few socket calls that differ between Winsock and POSIX.

// Once per process before the first socket: natively, a write to a socket the peer has
// closed must fail with an error instead of raising SIGPIPE. Safe to call repeatedly.
void prepareSockets();

// Before a listening socket is bound: no other socket, of this program or another, may take
// the same address and port while it is open. Windows lets a socket that asks to share an
// address (SO_REUSEADDR) take over a bound port unless the owner sets SO_EXCLUSIVEADDRUSE;
// POSIX systems refuse that by default. False when the system refuses the option.
bool keepAddressExclusive(int socket);

// AF_UNSPEC and SOCK_STREAM, for resolving a host name.
int anyAddressFamily();
int streamSocketType();

// What a wait is for: data to read, room to write, or the end of a non-blocking connect
// (which may have failed: Winsock reports that apart from writability).
enum class SocketWait { Readable, Writable, Connected };

// Waits at most `milliseconds` until `socket` is ready for `what`.
// 1 when ready, 0 when the time passed, -1 on error.
int waitForSocket(int socket, SocketWait what, int milliseconds);
