#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

#include "mail/tls/certificate_pin.h"
#include "mail/connection/connection_security.h"
#include "mail/platform/socket_wait.h"
#include "mail/tls/trust_files.h"
#include "mail/tls/trusted_context.h"
#include "util/holders/openssl_holders.h"

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
    StartTlsNotOffered,   // CAPA does not list STLS, or CAPA or STLS was refused
    Failed,               // any other read or write failure
};

// True for the failures that concern the server's certificate: these are final, never a
// reason to try another address or a plain connection.
bool isCertificateError(ConnectionError error);

// Once per process, before anything else uses OpenSSL; the Connection constructor calls it.
// OpenSSL then reads no configuration file at all.
void initialiseTlsLibrary();

// Resolved stream addresses of one host and port, in the order to try them.
class AddressList {
public:
    // Appends a copy of `address`; false when no copy could be made.
    bool add(const BIO_ADDR* address);
    size_t size() const { return addresses.size(); }
    const BIO_ADDR* at(size_t index) const { return addresses[index].get(); }

private:
    std::vector<OwnedAddress> addresses;
};

// Appends the stream addresses of `host` and the decimal `service`; false when the name does
// not resolve. May block for as long as the resolver takes: it runs on a helper thread.
using LookupFunction = bool (*)(const char* host, const char* service, AddressList& addresses);
bool lookUpStreamAddresses(const char* host, const char* service, AddressList& addresses);

// Starts a non-blocking connect of `socket` to `address`: true when it completed or is under
// way, false when it failed at once.
using ConnectStartFunction = bool (*)(int socket, const BIO_ADDR* address);
bool startStreamConnect(int socket, const BIO_ADDR* address);

// Waits at most `milliseconds` for the socket: 1 when ready, 0 when the time passed, -1 on
// error. Every wait of a connection is one or more of these.
using SocketWaitFunction = int (*)(int socket, SocketWait what, int milliseconds);

// One name lookup, run on a helper thread (connection.cpp).
struct NameLookup;

// How a connection reaches the network and waits on it; tests replace the steps.
struct NetworkSteps {
    LookupFunction lookUp = lookUpStreamAddresses;
    ConnectStartFunction startConnect = startStreamConnect;
    SocketWaitFunction waitForSocket = ::waitForSocket;
};

// A blocking byte stream to one host and port, plain TCP or TLS, over OpenSSL BIOs.
// Used by one thread at a time; only abort() and clearAbort() may be called from another.
//
// Underneath, the socket is non-blocking and every wait is cut into short slices, so that
// time limits hold and abort() is noticed within abortPollMilliseconds. The name lookup runs
// on a helper thread that the connection stops waiting for at the deadline or on abort; while
// such an abandoned lookup still runs, an open fails at once (TimedOut) instead of starting
// another, so a resolver that never answers holds one thread, not one more per attempt.
//
// Trust: the certificates of the trust files (mail/tls/trust_files.h: "cacert.pem" of the working
// folder at start-up, or at construction before the program fixes it; "cacert.pem" beside the
// executable; the user's own file) and of the platform's root store (Windows ROOT store, or
// OpenSSL's default paths natively). They are read into a TrustIndex, with the TLS context,
// at the first TLS connection, and kept for every later one; connections that read the same
// files share one copy (mail/tls/trusted_context.h). The server must present a
// certificate that chains to one of them and names the host (DNS name, or IP address for an
// IP literal); TLS 1.2 is the oldest admitted.
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

    // True when connected (and, for TlsOnConnect, the handshake done and the server verified;
    // StartTls opens plain, for upgradeToTls). Any earlier stream is released first; on
    // failure no stream remains. The addresses of the host are tried in turn, each with an
    // equal share of the time left.
    bool open(const char* host, int port, ConnectionSecurity security);
    // Starts TLS on the open plain stream, for the host given to open: the same handshake,
    // verification, pin and connect time limit as TlsOnConnect. The caller must hold no byte
    // read before it. False, and no stream left, when the stream is not plain or TLS fails.
    bool upgradeToTls();
    // Bytes read (> 0, at most `size`), or 0 on end of stream, failure, time-out or abort;
    // lastError() tells which. At the end of the stream the stream is released.
    int read(char* buffer, int size);
    // `length` when every byte was written, 0 otherwise (lastError() tells why).
    int write(const char* data, int length);
    void close();
    bool isOpen() const { return stream != nullptr; }
    bool isTls() const { return tlsHandle != nullptr; }
    // Takes over an already connected plain stream (a benchmark feeds a session from memory
    // this way); any earlier stream is released.
    void adopt(BIO* connected);

    // Limits for connecting (name lookup, TCP and TLS handshake together) and for each read
    // or write without progress. Values below 1 are taken as 1.
    void setTimeouts(int connectSeconds, int ioSeconds);
    int connectTimeoutSeconds() const { return connectSeconds; }
    int ioTimeoutSeconds() const { return ioSeconds; }
    // Makes a blocked open, read or write give up within about abortPollMilliseconds;
    // stays in force (every later call fails at once) until clearAbort().
    void abort();
    void clearAbort();
    // True from abort() until clearAbort(); long work between reads looks at it too.
    bool abortPending() const { return abortRequested.load() != 0; }
    ConnectionError lastError() const { return error; }

    // Trusts this one certificate (SHA-256, "AB:CD:..."), for the hosts opened from now on,
    // although no authority vouches for it; null or empty trusts none but the authorities'.
    void pinCertificate(const char* sha256Text) { verification.pin = parseCertificatePin(sha256Text); }
    // The certificate the server showed in the last TLS attempt that failed on it.
    bool describeRefusedCertificate(CertificateDetails& details) const;

    NetworkSteps steps;

protected:
    // Releases the stream and records why.
    void failOpen(ConnectionError why);

private:
    using Clock = std::chrono::steady_clock;
    enum class Wait { Ready, TimedOut, Aborted, Failed };

    void rememberTrustFile();
    bool prepareContext();
    bool lookUp(const char* host, int port, Clock::time_point deadline, AddressList& addresses);
    bool abandonedLookupRuns();
    bool openAddress(const BIO_ADDR* address, const char* host, bool tlsFirst, Clock::time_point deadline);
    bool connectSocket(const BIO_ADDR* address, Clock::time_point deadline);
    bool startTls(const char* host, Clock::time_point deadline);
    bool prepareTls(const char* host);
    bool handshake(Clock::time_point deadline);
    bool verifyPeer();
    bool waitEndedEarly() const;
    Wait waitForProgress(BIO* bio, Clock::time_point deadline);
    Wait waitForSocketUntil(int socket, SocketWait what, Clock::time_point deadline);
    void recordWaitFailure(Wait result);
    Clock::time_point deadlineAfter(int seconds) const;

    OwnedBioChain stream;
    std::shared_ptr<NameLookup> abandonedLookup; // shared with its helper thread
    std::shared_ptr<TrustedContext> trusted;     // had at the first TLS connection
    char trustFile[maxTrustFilePath];            // "cacert.pem" of the working folder at construction
    char openedHost[maxTargetLength + 1] = {};   // the host of open(), for upgradeToTls
    void usePin();
    PeerVerification verification;
    SSL* tlsHandle = nullptr; // inside the stream, while it is a TLS stream
    ConnectionError error = ConnectionError::None;
    int connectSeconds = defaultConnectSeconds;
    int ioSeconds = defaultIoSeconds;
    std::atomic<int> abortRequested{0};
};
