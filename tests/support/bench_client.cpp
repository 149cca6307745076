#include "tests/support/bench_client.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace testbench {

namespace {

const int kReceiveTimeoutMs = 5000;
const int kChunk = 4096;

void setReceiveTimeout(SocketHandle socket)
{
#ifdef _WIN32
    DWORD ms = kReceiveTimeoutMs;
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
#else
    timeval limit{kReceiveTimeoutMs / 1000, 0};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
#endif
}

} // namespace

BenchClient::~BenchClient()
{
    close();
}

void BenchClient::close()
{
    if (ssl)
        SSL_free(ssl);
    if (context)
        SSL_CTX_free(context);
    ssl = nullptr;
    context = nullptr;
    closeSocket(socket);
    socket = kNoSocket;
    pending.clear();
}

bool BenchClient::connectPlain(int port)
{
    close();
    socket = connectLoopback(port);
    if (socket == kNoSocket)
        return false;
    setReceiveTimeout(socket);
    return true;
}

bool BenchClient::connectTls(int port, const std::string& caFile, const std::string& host)
{
    if (!connectPlain(port))
        return false;
    context = SSL_CTX_new(TLS_client_method());
    if (!context || SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1)
        return false;
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    ssl = SSL_new(context);
    if (!ssl || SSL_set_fd(ssl, static_cast<int>(socket)) != 1)
        return false;
    SSL_set_tlsext_host_name(ssl, host.c_str());
    SSL_set1_host(ssl, host.c_str());
    bool connected = SSL_connect(ssl) == 1;
    verification = SSL_get_verify_result(ssl);
    ERR_clear_error();
    return connected && verification == X509_V_OK && SSL_get0_peer_certificate(ssl) != nullptr;
}

bool BenchClient::sendLine(const std::string& line)
{
    std::string bytes = line + "\r\n";
    if (ssl)
        return SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
    return sendSome(socket, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

int BenchClient::receive(char* buffer, int capacity)
{
    if (socket == kNoSocket)
        return -1;
    if (ssl) {
        int result = SSL_read(ssl, buffer, capacity);
        if (result <= 0)
            ERR_clear_error();
        return result;
    }
    return receiveSome(socket, buffer, capacity);
}

std::string BenchClient::readChunk()
{
    if (!pending.empty()) {
        std::string chunk;
        chunk.swap(pending);
        return chunk;
    }
    char buffer[kChunk];
    int result = receive(buffer, sizeof buffer);
    return result > 0 ? std::string(buffer, static_cast<size_t>(result)) : std::string();
}

bool BenchClient::readLine(std::string& line)
{
    for (;;) {
        size_t end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            pending.erase(0, end + 1);
            return true;
        }
        char buffer[kChunk];
        int result = receive(buffer, sizeof buffer);
        if (result <= 0)
            return false;
        pending.append(buffer, static_cast<size_t>(result));
    }
}

bool BenchClient::staysQuietFor(int ms)
{
    return pending.empty() && !waitReadable(socket, ms);
}

bool BenchClient::seesHangUp()
{
    if (!pending.empty())
        return false;
    char buffer[kChunk];
    int result = receive(buffer, sizeof buffer);
    if (result > 0) {
        pending.append(buffer, static_cast<size_t>(result));
        return false;
    }
    // 0 is an orderly close; an error other than the receive time-out is a reset.
    if (result == 0)
        return true;
#ifdef _WIN32
    return WSAGetLastError() != WSAETIMEDOUT;
#else
    return !lastErrorWouldBlock();
#endif
}

bool imapCommand(BenchClient& client, const std::string& tag, const std::string& command, int maxLines)
{
    if (!client.sendLine(tag + " " + command))
        return false;
    for (int lines = 0; lines < maxLines; ++lines) {
        std::string line;
        if (!client.readLine(line))
            return false;
        if (line.compare(0, tag.size() + 1, tag + " ") == 0)
            return line.compare(tag.size() + 1, 2, "OK") == 0;
    }
    return false;
}

} // namespace testbench
