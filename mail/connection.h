#pragma once

#include <atomic>
#include <chrono>

#include <openssl/bio.h>
#include <openssl/types.h>

// Why the last open, read or write failed. The checker turns these into what the user sees.
enum class ConnectionError {
    None,
    TargetTooLong,        // host:port does not fit the 255-character target
    HostNotFound,         // name not resolved, connection refused, or no stream could be made
    TlsFailed,            // handshake failed for a reason other than the certificate
    CertificateUntrusted, // chain not trusted, or no certificate at all
    CertificateWrongHost, // certificate does not name the host
    CertificateExpired,   // certificate outside its validity period
    TimedOut,             // no progress within the time limit
    Aborted,              // abort() was called from another thread
    Closed,               // the peer closed the stream (or there is no stream)
    Failed,               // any other read or write failure
};

// A blocking byte stream to one host and port, plain TCP or TLS, over OpenSSL BIOs.
// Used by one thread at a time; only abort() and clearAbort() may be called from another.
//
// Underneath, the socket is non-blocking and every wait is cut into short slices, so that
// time limits hold and abort() is noticed within abortPollMilliseconds.
//
// Trust: the certificates of "cacert.pem" in the working directory, of "cacert.pem" beside
// the executable, and of the platform's root store (Windows ROOT store, or OpenSSL's default
// paths natively). The server must present a certificate that chains to one of them and
// names the host (DNS name, or IP address for an IP literal); TLS 1.2 is the oldest admitted.
class Connection {
public:
    static const int maxTargetLength = 255;
    static const int defaultConnectSeconds = 20;
    static const int defaultIoSeconds = 60;
    static const int abortPollMilliseconds = 200;

    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // True when connected (and, for TLS, the handshake done and the server verified).
    // Any earlier stream is released first; on failure no stream remains.
    bool open(const char* host, int port, int useTls);
    // Bytes read (> 0, at most `size`), or 0 on end of stream, failure, time-out or abort;
    // lastError() tells which. At the end of the stream the stream is released.
    int read(char* buffer, int size);
    // `length` when every byte was written, 0 otherwise (lastError() tells why).
    int write(const char* data, int length);
    void close();
    bool isOpen() const { return stream != nullptr; }
    // Takes over an already connected plain stream (a benchmark feeds a session from memory
    // this way); any earlier stream is released.
    void adopt(BIO* connected);

    // Limits for connecting (TCP and TLS handshake together) and for each read or write
    // without progress. Values below 1 are taken as 1.
    void setTimeouts(int connectSeconds, int ioSeconds);
    // Makes a blocked open, read or write give up within about abortPollMilliseconds;
    // stays in force (every later call fails at once) until clearAbort().
    void abort();
    void clearAbort();
    // True from abort() until clearAbort(); long work between reads looks at it too.
    bool abortPending() const { return abortRequested.load() != 0; }
    ConnectionError lastError() const { return error; }

    BIO* stream = nullptr;
    SSL_CTX* context = nullptr;
    SSL* tlsHandle = nullptr;

private:
    using Clock = std::chrono::steady_clock;
    enum class Wait { Ready, TimedOut, Aborted, Failed };

    void loadTrust();
    bool prepareTls(const char* host);
    bool openAddress(const BIO_ADDR* address, const char* host, int useTls, Clock::time_point deadline);
    bool connectStream(BIO* bio, Clock::time_point deadline, bool tcpPhase);
    bool verifyPeer();
    void failOpen(ConnectionError why);
    bool waitEndedEarly() const;
    Wait waitForProgress(BIO* bio, Clock::time_point deadline);
    void recordWaitFailure(Wait result);
    Clock::time_point deadlineAfter(int seconds) const;

    ConnectionError error = ConnectionError::None;
    int connectSeconds = defaultConnectSeconds;
    int ioSeconds = defaultIoSeconds;
    std::atomic<int> abortRequested{0};
};
