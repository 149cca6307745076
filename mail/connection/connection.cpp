#include "mail/connection/connection.h"

#include <algorithm>
#include <cstdint>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "mail/platform/socket_wait.h"
#include "util/platform/thread_start.h"
#include "mail/tls/trust_files.h"
#include "util/copy_bounded.h"

namespace {

const int serviceSize = 16;
const size_t maxRawAddressLength = 16; // an IPv6 address; IPv4 takes 4

// "host:port", with an IPv6 literal in brackets so that the port stays separable.
bool formatTarget(char (&target)[Connection::maxTargetLength + 1], const char* host, int port)
{
    bool bare6 = std::strchr(host, ':') != nullptr && host[0] != '[';
    int length = std::snprintf(target, sizeof target, bare6 ? "[%s]:%d" : "%s:%d", host, port);
    return length > 0 && length <= Connection::maxTargetLength;
}

// The host without the brackets a user may have put around an IPv6 literal.
void bareHost(char (&out)[Connection::maxTargetLength + 1], const char* host)
{
    size_t length = std::strlen(host);
    if (length >= 2 && host[0] == '[' && host[length - 1] == ']') {
        host += 1;
        length -= 2;
    }
    length = std::min(length, sizeof out - 1);
    std::memcpy(out, host, length);
    out[length] = '\0';
}

bool isIpLiteral(const char* host)
{
    ASN1_OCTET_STRING* address = a2i_IPADDRESS(host);
    if (address == nullptr)
        return false;
    ASN1_OCTET_STRING_free(address);
    return true;
}

ConnectionError certificateErrorFor(long verifyResult)
{
    switch (verifyResult) {
    case X509_V_OK:
        return ConnectionError::TlsFailed;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return ConnectionError::CertificateWrongHost;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return ConnectionError::CertificateExpired;
    default:
        return ConnectionError::CertificateUntrusted;
    }
}

} // namespace

// One lookup, shared by the connection and the helper thread that runs it, so that the
// connection can stop waiting at any moment: whichever lets go last frees it.
struct NameLookup {
    LookupFunction lookUp = nullptr;
    char host[Connection::maxTargetLength + 1] = {};
    char service[serviceSize] = {};
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;     // guarded by lock
    bool resolved = false; // guarded by lock
    AddressList addresses; // guarded by lock
};

namespace {

int runLookup(void* argument)
{
    auto* handedOver = static_cast<std::shared_ptr<NameLookup>*>(argument);
    std::shared_ptr<NameLookup> pending = std::move(*handedOver);
    delete handedOver;
    AddressList found;
    bool resolved = pending->lookUp(pending->host, pending->service, found);
    {
        std::lock_guard<std::mutex> hold(pending->lock);
        pending->addresses = std::move(found);
        pending->resolved = resolved;
        pending->done = true;
    }
    pending->finished.notify_all();
    return 0;
}

bool startLookup(const std::shared_ptr<NameLookup>& pending)
{
    auto* handedOver = new (std::nothrow) std::shared_ptr<NameLookup>(pending);
    if (handedOver == nullptr)
        return false;
    if (startDetachedThread(runLookup, handedOver))
        return true;
    delete handedOver;
    return false;
}

} // namespace

bool isCertificateError(ConnectionError error)
{
    return error == ConnectionError::CertificateUntrusted || error == ConnectionError::CertificateWrongHost ||
           error == ConnectionError::CertificateExpired;
}

// A configuration file could change the TLS settings or load a module, that is code, and
// the folders OpenSSL would read it from may be writable by any local user. Every setting is
// made in code instead. Exit-time clean-up is left to the process: an abandoned name lookup
// may still be running on its helper thread then. OpenSSL's error texts are not loaded: the
// program never shows them, and they would cost about 0.7 MB of memory.
void initialiseTlsLibrary()
{
    static const bool initialised = [] {
        const uint64_t options = OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ATEXIT |
                                 OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_NO_LOAD_SSL_STRINGS;
        return OPENSSL_init_crypto(options, nullptr) == 1 && OPENSSL_init_ssl(options, nullptr) == 1;
    }();
    (void)initialised;
}

bool AddressList::add(const BIO_ADDR* address)
{
    unsigned char raw[maxRawAddressLength];
    size_t rawLength = 0;
    if (!BIO_ADDR_rawaddress(address, nullptr, &rawLength) || rawLength > sizeof raw)
        return false;
    OwnedAddress copy(BIO_ADDR_new());
    if (copy == nullptr || !BIO_ADDR_rawaddress(address, raw, &rawLength) ||
        !BIO_ADDR_rawmake(copy.get(), BIO_ADDR_family(address), raw, rawLength, BIO_ADDR_rawport(address)))
        return false;
    addresses.push_back(std::move(copy));
    return true;
}

bool lookUpStreamAddresses(const char* host, const char* service, AddressList& addresses)
{
    BIO_ADDRINFO* found = nullptr;
    if (!BIO_lookup_ex(host, service, BIO_LOOKUP_CLIENT, anyAddressFamily(), streamSocketType(), 0, &found))
        return false;
    OwnedAddressInfo held(found);
    for (const BIO_ADDRINFO* entry = found; entry != nullptr; entry = BIO_ADDRINFO_next(entry))
        addresses.add(BIO_ADDRINFO_address(entry));
    return addresses.size() > 0;
}

bool startStreamConnect(int socket, const BIO_ADDR* address)
{
    return BIO_connect(socket, address, BIO_SOCK_NONBLOCK) == 1 || BIO_sock_should_retry(-1);
}

Connection::Connection()
{
    initialiseTlsLibrary();
    prepareSockets();
    rememberTrustFile();
}

Connection::~Connection()
{
    close();
}

// The working folder's trust file is the one of now, for as long as the program has not fixed
// the trust sources: the context is made later, and a file dialog may have moved the working
// folder by then.
void Connection::rememberTrustFile()
{
    workingFolderTrustFile(trustFile);
}

// The TLS context and its trust store, had at the first TLS connection and kept: a plain
// account never needs them, and they are most of what a connection costs in memory.
bool Connection::prepareContext()
{
    if (trusted == nullptr)
        trusted = sharedTrustedContext(trustFile);
    return trusted != nullptr;
}

// The deadline starts before the name lookup, so that a slow resolver counts against the
// limit too.
bool Connection::open(const char* host, int port, ConnectionSecurity security)
{
    close();
    verification.refused.reset();
    error = ConnectionError::None;
    ERR_clear_error();
    if (abortRequested.load()) {
        error = ConnectionError::Aborted;
        return false;
    }
    if (host == nullptr || host[0] == '\0') {
        error = ConnectionError::HostNotFound;
        return false;
    }
    char target[maxTargetLength + 1];
    if (!formatTarget(target, host, port)) {
        error = ConnectionError::TargetTooLong;
        return false;
    }
    copyBounded(openedHost, sizeof openedHost, host);
    Clock::time_point deadline = deadlineAfter(connectSeconds);
    AddressList addresses;
    if (!lookUp(host, port, deadline, addresses))
        return false;
    // Each address gets an equal share of the time left, so that one that swallows every
    // packet (an IPv6 route that drops them, say) leaves time for the next. Only a verdict on
    // the certificate, or an abort, ends the search early.
    for (size_t index = 0; index < addresses.size(); ++index) {
        Clock::time_point now = Clock::now();
        Clock::time_point share = now + (deadline - now) / static_cast<int>(addresses.size() - index);
        if (openAddress(addresses.at(index), host, security == ConnectionSecurity::TlsOnConnect, share))
            return true;
        if (isCertificateError(error) || error == ConnectionError::Aborted)
            return false;
    }
    return false;
}

// Runs the lookup on a helper thread and waits for it in short slices; at the deadline or on
// abort the thread is left to finish by itself, and no other starts until it has.
bool Connection::lookUp(const char* host, int port, Clock::time_point deadline, AddressList& addresses)
{
    if (abandonedLookupRuns()) {
        error = ConnectionError::TimedOut;
        return false;
    }
    auto pending = std::make_shared<NameLookup>();
    pending->lookUp = steps.lookUp;
    bareHost(pending->host, host);
    std::snprintf(pending->service, sizeof pending->service, "%d", port);
    if (!startLookup(pending)) {
        error = ConnectionError::HostNotFound;
        return false;
    }
    const std::chrono::milliseconds slice(abortPollMilliseconds + 0);
    std::unique_lock<std::mutex> hold(pending->lock);
    while (!pending->done) {
        if (abortRequested.load()) {
            abandonedLookup = pending;
            error = ConnectionError::Aborted;
            return false;
        }
        Clock::time_point now = Clock::now();
        if (now >= deadline) {
            abandonedLookup = pending;
            error = ConnectionError::TimedOut;
            return false;
        }
        pending->finished.wait_until(hold, std::min(deadline, now + slice));
    }
    if (!pending->resolved || pending->addresses.size() == 0) {
        error = ConnectionError::HostNotFound;
        return false;
    }
    addresses = std::move(pending->addresses);
    return true;
}

bool Connection::abandonedLookupRuns()
{
    if (abandonedLookup == nullptr)
        return false;
    {
        std::lock_guard<std::mutex> hold(abandonedLookup->lock);
        if (!abandonedLookup->done)
            return true;
    }
    abandonedLookup.reset();
    return false;
}

// One attempt at one resolved address: the TCP connection first, then the handshake, so
// that each failure is told apart.
bool Connection::openAddress(const BIO_ADDR* address, const char* host, bool tlsFirst, Clock::time_point deadline)
{
    close();
    error = ConnectionError::None;
    if (!connectSocket(address, deadline)) {
        failOpen(waitEndedEarly() ? error : ConnectionError::HostNotFound);
        return false;
    }
    if (tlsFirst && !startTls(host, deadline)) {
        failOpen(error);
        return false;
    }
    return true;
}

// The TCP connection, made here rather than by a connect BIO, whose non-blocking connect
// never returns for a refused address on Winsock. On success `stream` is the socket's BIO.
bool Connection::connectSocket(const BIO_ADDR* address, Clock::time_point deadline)
{
    int socket = BIO_socket(BIO_ADDR_family(address), streamSocketType(), 0, 0);
    if (socket == -1)
        return false;
    stream.reset(BIO_new_socket(socket, BIO_CLOSE));
    if (stream == nullptr) {
        BIO_closesocket(socket);
        return false;
    }
    if (!BIO_socket_nbio(socket, 1) || !steps.startConnect(socket, address))
        return false;
    Wait result = waitForSocketUntil(socket, SocketWait::Connected, deadline);
    if (result != Wait::Ready) {
        recordWaitFailure(result);
        return false;
    }
    // Ready for writing means connected, or refused: only the socket's error tells which.
    return BIO_sock_error(socket) == 0;
}

// The TLS layer on top of the connected socket: handshake, then the server's certificate.
bool Connection::startTls(const char* host, Clock::time_point deadline)
{
    BIO* tls = prepareContext() ? BIO_new_ssl(trusted->context.get(), 1) : nullptr;
    if (tls == nullptr) {
        error = ConnectionError::TlsFailed;
        return false;
    }
    stream.reset(BIO_push(tls, stream.release()));
    BIO_get_ssl(tls, &tlsHandle);
    SSL_set_mode(tlsHandle, SSL_MODE_AUTO_RETRY);
    if (!prepareTls(host)) {
        error = ConnectionError::TlsFailed;
        return false;
    }
    usePin();
    if (handshake(deadline) && verifyPeer())
        return true;
    if (!waitEndedEarly() && !isCertificateError(error))
        error = certificateErrorFor(SSL_get_verify_result(tlsHandle));
    return false;
}

// The handshake gets the whole connect limit of its own: the TCP connection's share of it is
// spent, and a server that takes its time over STLS should not shorten the handshake.
bool Connection::upgradeToTls()
{
    verification.refused.reset();
    ERR_clear_error();
    if (stream == nullptr || tlsHandle != nullptr) {
        failOpen(ConnectionError::TlsFailed);
        return false;
    }
    if (abortRequested.load()) {
        failOpen(ConnectionError::Aborted);
        return false;
    }
    error = ConnectionError::None;
    if (startTls(openedHost, deadlineAfter(connectSeconds)))
        return true;
    failOpen(error);
    return false;
}

// Verification as before, but the pinned certificate, if any, is judged by verifyWithPin,
// which also keeps a refused certificate.
void Connection::usePin()
{
    SSL_set_app_data(tlsHandle, &verification);
    SSL_set_verify(tlsHandle, SSL_VERIFY_PEER, verifyWithPin);
}

bool Connection::describeRefusedCertificate(CertificateDetails& details) const
{
    return describeCertificate(verification.refused.get(), details);
}

// A time-out or abort is reported as such, whatever stage it interrupted.
bool Connection::waitEndedEarly() const
{
    return error == ConnectionError::TimedOut || error == ConnectionError::Aborted;
}

// Host-name check and SNI; an IP literal is checked against the certificate's addresses
// and is not sent as SNI.
bool Connection::prepareTls(const char* host)
{
    char name[maxTargetLength + 1];
    bareHost(name, host);
    if (isIpLiteral(name))
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tlsHandle), name) == 1;
    return SSL_set1_host(tlsHandle, name) == 1 && SSL_set_tlsext_host_name(tlsHandle, name) == 1;
}

// Drives the handshake to its end. On failure `error` is set unless the library itself
// refused (the caller classifies).
bool Connection::handshake(Clock::time_point deadline)
{
    for (;;) {
        if (BIO_do_handshake(stream.get()) > 0)
            return true;
        if (!BIO_should_retry(stream.get()))
            return false;
        Wait result = waitForProgress(stream.get(), deadline);
        if (result != Wait::Ready) {
            recordWaitFailure(result);
            return false;
        }
    }
}

bool Connection::verifyPeer()
{
    if (SSL_get0_peer_certificate(tlsHandle) == nullptr) {
        error = ConnectionError::CertificateUntrusted;
        return false;
    }
    long result = SSL_get_verify_result(tlsHandle);
    if (result != X509_V_OK) {
        error = certificateErrorFor(result);
        return false;
    }
    return true;
}

void Connection::failOpen(ConnectionError why)
{
    close();
    error = why;
    ERR_clear_error();
}

int Connection::read(char* buffer, int size)
{
    if (stream == nullptr) {
        error = ConnectionError::Closed;
        return 0;
    }
    Clock::time_point deadline = deadlineAfter(ioSeconds);
    for (;;) {
        if (abortRequested.load()) {
            error = ConnectionError::Aborted;
            return 0;
        }
        ERR_clear_error();
        int count = BIO_read(stream.get(), buffer, size);
        if (count > 0)
            return count;
        if (!BIO_should_retry(stream.get())) {
            if (count == 0) {
                close();
                error = ConnectionError::Closed;
            } else {
                error = ConnectionError::Failed;
            }
            return 0;
        }
        Wait result = waitForProgress(stream.get(), deadline);
        if (result != Wait::Ready) {
            recordWaitFailure(result);
            return 0;
        }
    }
}

// A non-blocking socket may take part of the data; the rest follows when it has room.
int Connection::write(const char* data, int length)
{
    if (stream == nullptr) {
        error = ConnectionError::Closed;
        return 0;
    }
    int written = 0;
    Clock::time_point deadline = deadlineAfter(ioSeconds);
    while (written < length) {
        if (abortRequested.load()) {
            error = ConnectionError::Aborted;
            return 0;
        }
        ERR_clear_error();
        int count = BIO_write(stream.get(), data + written, length - written);
        if (count > 0) {
            written += count;
            deadline = deadlineAfter(ioSeconds);
            continue;
        }
        if (!BIO_should_retry(stream.get())) {
            error = ConnectionError::Failed;
            return 0;
        }
        Wait result = waitForProgress(stream.get(), deadline);
        if (result != Wait::Ready) {
            recordWaitFailure(result);
            return 0;
        }
    }
    return written;
}

void Connection::close()
{
    stream.reset();
    tlsHandle = nullptr;
}

void Connection::adopt(BIO* connected)
{
    close();
    stream.reset(connected);
    error = ConnectionError::None;
}

void Connection::setTimeouts(int connect, int io)
{
    connectSeconds = std::max(connect, 1);
    ioSeconds = std::max(io, 1);
}

void Connection::abort()
{
    abortRequested.store(1);
}

void Connection::clearAbort()
{
    abortRequested.store(0);
}

// Waits for the socket under `bio` to be ready in the direction the last retry asked for.
Connection::Wait Connection::waitForProgress(BIO* bio, Clock::time_point deadline)
{
    bool forWrite = BIO_should_write(bio) || BIO_should_io_special(bio);
    int socket = -1;
    BIO_get_fd(bio, &socket);
    if (socket < 0)
        return Wait::Failed;
    return waitForSocketUntil(socket, forWrite ? SocketWait::Writable : SocketWait::Readable, deadline);
}

// Waits in short slices, checking for abort() between them.
Connection::Wait Connection::waitForSocketUntil(int socket, SocketWait what, Clock::time_point deadline)
{
    for (;;) {
        if (abortRequested.load())
            return Wait::Aborted;
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (remaining.count() <= 0)
            return Wait::TimedOut;
        int slice = static_cast<int>(std::min<long long>(remaining.count(), abortPollMilliseconds));
        int ready = steps.waitForSocket(socket, what, slice);
        if (ready > 0)
            return Wait::Ready;
        if (ready < 0)
            return Wait::Failed;
    }
}

void Connection::recordWaitFailure(Wait result)
{
    switch (result) {
    case Wait::TimedOut:
        error = ConnectionError::TimedOut;
        break;
    case Wait::Aborted:
        error = ConnectionError::Aborted;
        break;
    default:
        error = ConnectionError::Failed;
        break;
    }
}

Connection::Clock::time_point Connection::deadlineAfter(int seconds) const
{
    return Clock::now() + std::chrono::seconds(seconds);
}
