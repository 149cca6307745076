#pragma once

// An object whose run() executes on a thread of its own.
// The derived class must stop its thread and call waitForExit() in its own destructor, before
// its members go: ~Thread() waits too, but by then only the base is left.
class Thread {
public:
    Thread() = default;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // The thread's body; its result is the thread's exit code.
    virtual int run() = 0;

    // Starts the thread, running at once. False when none could be made. Call once.
    bool start();
    // Returns once the thread has ended (at once when there is none); never forces it to end.
    void waitForExit();
    bool isStarted() const { return handle != nullptr; }

    void* handle = nullptr; // the platform's thread, null when there is none
    unsigned threadId = 0;

protected:
    ~Thread();

private:
    static int runThread(void* self);
};
