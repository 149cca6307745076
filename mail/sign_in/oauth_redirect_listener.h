#pragma once

#include <atomic>
#include <string>

// The loopback end of a sign-in (RFC 8252): listens on 127.0.0.1 on a port the system picks
// and waits for the browser's redirect from the provider. Every request is read with a bound
// on its size and time; only a GET of the redirect path whose `state` matches (and whose
// `iss` matches, where one is expected) ends the wait, and it is answered with a page that
// says the browser may be closed. Any other request is answered 400 or 404 and forgotten.
//
// Used by one thread; abort() may be called from any other.
class RedirectListener {
public:
    // Browsers send every cookie set for 127.0.0.1, by any local program, with the redirect:
    // their own bound on a request head is about this.
    static constexpr int maxRequestBytes = 64 * 1024;
    static constexpr int requestSeconds = 10; // for one request to arrive whole
    static constexpr int defaultWaitSeconds = 300;
    static constexpr int maxPendingConnections = 8; // a browser opens spare connections
    static constexpr int abortPollMilliseconds = 200;

    enum class Outcome {
        Code,          // the provider sent an authorization code
        ProviderError, // the provider sent an error instead (access_denied, ...)
        TimedOut,
        Aborted,
        Failed, // no listening socket
    };
    struct Result {
        Outcome outcome = Outcome::Failed;
        std::string code;
        std::string error; // the provider's error code, for ProviderError
    };
    // What the redirect must carry.
    struct Expected {
        std::string state;
        std::string issuer; // empty: `iss` is not compared
        bool issuerRequired = false;
    };

    RedirectListener() = default;
    ~RedirectListener();
    RedirectListener(const RedirectListener&) = delete;
    RedirectListener& operator=(const RedirectListener&) = delete;

    // Starts listening; false when no socket could be had.
    bool open();
    // "http://127.0.0.1:PORT/" while open.
    std::string redirectUri() const;
    int port() const { return boundPort; }
    // Waits for the redirect at most `seconds`, then stops listening.
    Result waitForRedirect(const Expected& expected, int seconds = defaultWaitSeconds);
    // Makes a wait end within about abortPollMilliseconds; stays in force until clearAbort().
    void abort() { abortRequested.store(1); }
    void clearAbort() { abortRequested.store(0); }
    void close();

private:
    struct Pending;
    bool serve(Pending& pending, const Expected& expected, Result& result);

    int listening = -1;
    int boundPort = 0;
    std::atomic<int> abortRequested{0};
};
