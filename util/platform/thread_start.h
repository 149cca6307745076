#pragma once

// The platform's threads, behind two calls.
typedef int (*ThreadBody)(void* argument);

// Starts body(argument) on a new thread; the returned handle stays valid until
// waitForPlatformThread. Null when no thread could be made.
void* startPlatformThread(ThreadBody body, void* argument, unsigned* threadId);

// Blocks until the thread has ended, then releases its handle.
void waitForPlatformThread(void* handle);

// Starts body(argument) on a new thread that nobody waits for: it ends by itself and its
// resources go with it. False when no thread could be made.
bool startDetachedThread(ThreadBody body, void* argument);
