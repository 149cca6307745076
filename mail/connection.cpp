#include "mail/connection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "mail/platform/socket_wait.h"
#include "mail/platform/trust_sources.h"

namespace {

const char trustFileName[] = "cacert.pem";

// "host:port", with an IPv6 literal in brackets so that the port stays separable.
bool formatTarget(char (&target)[Connection::maxTargetLength + 1], const char* host, int port)
{
    bool bare6 = std::strchr(host, ':') != nullptr && host[0] != '[';
    int length = std::snprintf(target, sizeof target, bare6 ? "[%s]:%d" : "%s:%d", host, port);
    return length > 0 && length <= Connection::maxTargetLength;
}

// "address:port" in numeric form, so that the connect BIO resolves nothing again.
bool formatNumericTarget(char (&target)[Connection::maxTargetLength + 1], const BIO_ADDR* address)
{
    char* host = BIO_ADDR_hostname_string(address, 1);
    char* service = BIO_ADDR_service_string(address, 1);
    bool made = false;
    if (host != nullptr && service != nullptr) {
        bool bare6 = std::strchr(host, ':') != nullptr;
        int length = std::snprintf(target, sizeof target, bare6 ? "[%s]:%s" : "%s:%s", host, service);
        made = length > 0 && length <= Connection::maxTargetLength;
    }
    OPENSSL_free(host);
    OPENSSL_free(service);
    return made;
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

bool isCertificateError(ConnectionError error)
{
    return error == ConnectionError::CertificateUntrusted ||
           error == ConnectionError::CertificateWrongHost ||
           error == ConnectionError::CertificateExpired;
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

}  // namespace

Connection::Connection()
{
    prepareSockets();
    OPENSSL_init_ssl(0, nullptr);
    context = SSL_CTX_new(TLS_client_method());
    if (context != nullptr) {
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        loadTrust();
    }
    ERR_clear_error();
}

Connection::~Connection()
{
    close();
    SSL_CTX_free(context);
}

// A missing trust file is not an error here: the handshake then fails verification.
void Connection::loadTrust()
{
    SSL_CTX_load_verify_locations(context, trustFileName, nullptr);
    char path[maxExecutablePath];
    if (executableFolder(path, sizeof path) &&
        std::strlen(path) + sizeof trustFileName <= sizeof path) {
        std::strcat(path, trustFileName);
        SSL_CTX_load_verify_locations(context, path, nullptr);
    }
    addPlatformRoots(SSL_CTX_get_cert_store(context));
}

bool Connection::open(const char* host, int port, int useTls)
{
    close();
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
    // The addresses are tried one by one here rather than inside the connect BIO, whose
    // non-blocking connect never returns for a refused address on Winsock.
    char name[maxTargetLength + 1];
    bareHost(name, host);
    char service[16];
    std::snprintf(service, sizeof service, "%d", port);
    BIO_ADDRINFO* addresses = nullptr;
    if (!BIO_lookup_ex(name, service, BIO_LOOKUP_CLIENT, anyAddressFamily(), streamSocketType(), 0, &addresses)) {
        failOpen(ConnectionError::HostNotFound);
        return false;
    }
    Clock::time_point deadline = deadlineAfter(connectSeconds);
    bool connected = false;
    for (const BIO_ADDRINFO* address = addresses; address != nullptr && !connected;
         address = BIO_ADDRINFO_next(address)) {
        connected = openAddress(BIO_ADDRINFO_address(address), host, useTls, deadline);
        if (!connected && error != ConnectionError::HostNotFound)
            break;  // only an unreachable address lets the next one be tried
    }
    BIO_ADDRINFO_free(addresses);
    return connected;
}

// One attempt at one resolved address: the TCP connection first, then the handshake, so
// that each failure is told apart.
bool Connection::openAddress(const BIO_ADDR* address, const char* host, int useTls,
                             Clock::time_point deadline)
{
    close();
    error = ConnectionError::None;
    char target[maxTargetLength + 1];
    if (!formatNumericTarget(target, address)) {
        error = ConnectionError::HostNotFound;
        return false;
    }
    if (useTls) {
        if (context == nullptr || (stream = BIO_new_ssl_connect(context)) == nullptr) {
            error = ConnectionError::TlsFailed;
            return false;
        }
        BIO_get_ssl(stream, &tlsHandle);
        SSL_set_mode(tlsHandle, SSL_MODE_AUTO_RETRY);
        BIO_set_conn_hostname(stream, target);
        if (!prepareTls(host)) {
            failOpen(ConnectionError::TlsFailed);
            return false;
        }
    } else if ((stream = BIO_new_connect(target)) == nullptr) {
        error = ConnectionError::HostNotFound;
        return false;
    }
    BIO* tcp = useTls ? BIO_next(stream) : stream;
    BIO_set_nbio(tcp, 1);
    if (!connectStream(tcp, deadline, true)) {
        failOpen(waitEndedEarly() ? error : ConnectionError::HostNotFound);
        return false;
    }
    if (useTls && !(connectStream(stream, deadline, false) && verifyPeer())) {
        if (!waitEndedEarly() && !isCertificateError(error))
            error = certificateErrorFor(SSL_get_verify_result(tlsHandle));
        failOpen(error);
        return false;
    }
    return true;
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

// Drives BIO_do_connect (TCP connect, or the handshake on the TLS BIO) to its end.
// On failure `error` is set unless the library itself refused (the caller classifies).
// A TCP connect is only driven on once the socket is ready: the connect BIO's own wait
// would spin, and a refused connect shows only as a socket error on Winsock.
bool Connection::connectStream(BIO* bio, Clock::time_point deadline, bool tcpPhase)
{
    for (;;) {
        if (BIO_do_connect(bio) > 0)
            return true;
        if (!BIO_should_retry(bio))
            return false;
        Wait result = waitForProgress(bio, deadline);
        if (result != Wait::Ready) {
            recordWaitFailure(result);
            return false;
        }
        if (tcpPhase && BIO_sock_error(static_cast<int>(BIO_get_fd(bio, nullptr))) != 0)
            return false;
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
        int count = BIO_read(stream, buffer, size);
        if (count > 0)
            return count;
        if (!BIO_should_retry(stream)) {
            if (count == 0) {
                close();
                error = ConnectionError::Closed;
            } else {
                error = ConnectionError::Failed;
            }
            return 0;
        }
        Wait result = waitForProgress(stream, deadline);
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
        int count = BIO_write(stream, data + written, length - written);
        if (count > 0) {
            written += count;
            deadline = deadlineAfter(ioSeconds);
            continue;
        }
        if (!BIO_should_retry(stream)) {
            error = ConnectionError::Failed;
            return 0;
        }
        Wait result = waitForProgress(stream, deadline);
        if (result != Wait::Ready) {
            recordWaitFailure(result);
            return 0;
        }
    }
    return written;
}

void Connection::close()
{
    if (stream != nullptr)
        BIO_free_all(stream);
    stream = nullptr;
    tlsHandle = nullptr;
}

void Connection::adopt(BIO* connected)
{
    close();
    stream = connected;
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

// Waits in short slices for the socket under `bio` to be ready in the direction the last
// retry asked for, checking for abort() between slices.
Connection::Wait Connection::waitForProgress(BIO* bio, Clock::time_point deadline)
{
    bool forWrite = BIO_should_write(bio) || BIO_should_io_special(bio);
    int socket = -1;
    BIO_get_fd(bio, &socket);
    if (socket < 0)
        return Wait::Failed;
    for (;;) {
        if (abortRequested.load())
            return Wait::Aborted;
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (remaining.count() <= 0)
            return Wait::TimedOut;
        int slice = static_cast<int>(std::min<long long>(remaining.count(), abortPollMilliseconds));
        int ready = waitForSocket(socket, forWrite, slice);
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
