#pragma once

// The few socket calls that differ between Winsock and POSIX.

// Once per process before the first socket: natively, a write to a socket the peer has
// closed must fail with an error instead of raising SIGPIPE. Safe to call repeatedly.
void prepareSockets();

// AF_UNSPEC and SOCK_STREAM, for resolving a host name.
int anyAddressFamily();
int streamSocketType();

// Waits at most `milliseconds` until `socket` can be read (or written when `forWrite`).
// 1 when ready, 0 when the time passed, -1 on error.
int waitForSocket(int socket, bool forWrite, int milliseconds);
