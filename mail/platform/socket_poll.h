#pragma once

// Waits on several sockets at once, for the listener that serves more than one connection.

// Waits at most `milliseconds` until one of the `count` sockets can be read; `readable[i]`
// tells which. The number of readable sockets, 0 when the time passed, -1 on error.
int waitForReadableSockets(const int* sockets, bool* readable, int count, int milliseconds);
