#pragma once

#include <atomic>

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
    Closed,               // the peer closed the stream
    Failed,               // any other read or write failure
};

// A blocking byte stream to one host and port, plain TCP or TLS, over OpenSSL BIOs.
// Used by one thread at a time; only abort() may be called from another thread.
class Connection {
public:
    static const int maxTargetLength = 255;
    static const int defaultConnectSeconds = 20;
    static const int defaultIoSeconds = 60;

    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // True when connected (and, for TLS, the handshake done and the server verified).
    bool open(const char* host, int port, int useTls);
    // Bytes read (> 0), 0 on failure or end of stream, < 0 when the library says retry.
    int read(char* buffer, int size);
    // Bytes written, 0 on failure, <= 0 when the library says retry.
    int write(const char* data, int length);
    void close();
    bool isOpen() const { return stream != nullptr; }

    void setTimeouts(int connectSeconds, int ioSeconds);
    // Makes a blocked open, read or write give up within about a second; stays in force
    // until clearAbort().
    void abort();
    void clearAbort();
    ConnectionError lastError() const { return error; }

    BIO* stream = nullptr;
    SSL_CTX* context = nullptr;
    SSL* tlsHandle = nullptr;

private:
    ConnectionError error = ConnectionError::None;
    int connectSeconds = defaultConnectSeconds;
    int ioSeconds = defaultIoSeconds;
    std::atomic<int> abortRequested{0};
};
