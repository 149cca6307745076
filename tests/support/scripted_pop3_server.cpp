#include "tests/support/scripted_pop3_server.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <chrono>

#ifdef _WIN32
#else
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pthread.h>
#endif

namespace testbench {

namespace {

// Every wait is cut into slices this long so that stop() is noticed quickly.
const int kSliceMs = 50;
// How long expectLine waits for the client's next line before it fails the script.
const int kLineWaitMs = 10000;
// The TLS handshake at accept must finish within this.
const int kHandshakeMs = 5000;
// After the script's last step: how long to keep reading until the client hangs up, so that
// unread client bytes do not turn the close into a reset that could destroy our last reply.
const int kDrainMs = 1000;
// A client line longer than this is recorded cut; POP3 lines are far shorter.
const size_t kMaxRecordedLine = 4096;
const int kReadChunk = 4096;

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string stripLineEnd(std::string line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

} // namespace

Script& Script::send(const std::string& bytes)
{
    plan.push_back({StepKind::Send, bytes, 0});
    return *this;
}

Script& Script::sendUrgent(char byte)
{
    plan.push_back({StepKind::SendUrgent, std::string(1, byte), 0});
    return *this;
}

Script& Script::login(const std::string& passwordReply, const std::string& user, const std::string& password)
{
    return expectLine("USER " + user).send("+OK\r\n").expectLine("PASS " + password).send(passwordReply);
}

Script& Script::sendSplit(const std::string& bytes, size_t piece, int pauseMs)
{
    if (piece == 0)
        piece = 1;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        bool last = at + piece >= bytes.size();
        plan.push_back({StepKind::Send, bytes.substr(at, piece), last ? 0 : pauseMs});
    }
    return *this;
}

Script& Script::expectLine(const std::string& prefix)
{
    plan.push_back({StepKind::ExpectLine, prefix, 0});
    return *this;
}

Script& Script::pause(int ms)
{
    plan.push_back({StepKind::Pause, "", ms});
    return *this;
}

Script& Script::disconnect()
{
    plan.push_back({StepKind::Disconnect, "", 0});
    return *this;
}

Script& Script::stall(int maxMs)
{
    plan.push_back({StepKind::Stall, "", maxMs});
    return *this;
}

Script& Script::startTls()
{
    plan.push_back({StepKind::StartTls, "", 0});
    return *this;
}

bool Script::startsTlsItself() const
{
    for (const Step& step : plan)
        if (step.kind == StepKind::StartTls)
            return true;
    return false;
}

Script loggedIn(const std::string& passwordReply, const std::string& user, const std::string& password)
{
    return Script().send("+OK ready\r\n").login(passwordReply, user, password);
}

// One accepted connection, plain or TLS, with non-blocking I/O bounded by time-outs.
class ScriptedPop3Server::Peer {
public:
    enum class ReadResult { Data, Closed, TimedOut, Error };

    Peer(SocketHandle socket, const std::atomic<bool>& stopping) : socket(socket), stopping(stopping) {}
    ~Peer()
    {
        if (ssl)
            SSL_free(ssl);
        closeSocket(socket);
    }

    bool startTls(SSL_CTX* context, std::string& error)
    {
        ssl = SSL_new(context);
        if (!ssl || SSL_set_fd(ssl, static_cast<int>(socket)) != 1) {
            error = "TLS setup failed";
            return false;
        }
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kHandshakeMs);
        for (;;) {
            int result = SSL_accept(ssl);
            if (result == 1)
                return true;
            int reason = SSL_get_error(ssl, result);
            if ((reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE) || !waitTurn(reason, deadline)) {
                error = "TLS handshake failed";
                ERR_clear_error();
                return false;
            }
        }
    }

    // Back to plain reads and writes after a failed handshake.
    void dropTls()
    {
        SSL_free(ssl);
        ssl = nullptr;
        ERR_clear_error();
    }

    // Writes all of bytes as one write call (one TLS record); false if the client is gone.
    bool write(const std::string& bytes)
    {
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kLineWaitMs);
        size_t done = 0;
        while (done < bytes.size()) {
            int length = static_cast<int>(bytes.size() - done);
            if (ssl) {
                int result = SSL_write(ssl, bytes.data() + done, length);
                if (result > 0) {
                    done += static_cast<size_t>(result);
                    continue;
                }
                if (!waitTurn(SSL_get_error(ssl, result), deadline))
                    return false;
            } else {
                int result = sendSome(socket, bytes.data() + done, length);
                if (result > 0) {
                    done += static_cast<size_t>(result);
                    continue;
                }
                if (result < 0 && lastErrorWouldBlock() && waitTurn(SSL_ERROR_WANT_WRITE, deadline))
                    continue;
                return false;
            }
        }
        return true;
    }

    // One urgent byte, straight on the socket: it travels beside the stream, TLS or not.
    bool writeUrgent(char byte) { return sendUrgentByte(socket, byte) == 1; }

    // Reads what is available into the buffer, waiting up to waitMs.
    ReadResult readMore(int waitMs)
    {
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        char chunk[kReadChunk];
        for (;;) {
            int result;
            int reason = SSL_ERROR_WANT_READ;
            if (ssl) {
                result = SSL_read(ssl, chunk, sizeof chunk);
                if (result <= 0) {
                    reason = SSL_get_error(ssl, result);
                    if (reason == SSL_ERROR_ZERO_RETURN)
                        return ReadResult::Closed;
                    if (reason == SSL_ERROR_SYSCALL || reason == SSL_ERROR_SSL) {
                        ERR_clear_error();
                        return ReadResult::Closed;
                    }
                }
            } else {
                result = receiveSome(socket, chunk, sizeof chunk);
                if (result == 0)
                    return ReadResult::Closed;
                if (result < 0 && !lastErrorWouldBlock())
                    return ReadResult::Closed;
            }
            if (result > 0) {
                buffer.append(chunk, static_cast<size_t>(result));
                return ReadResult::Data;
            }
            if (stopping.load())
                return ReadResult::Error;
            if (remainingMs(deadline) == 0)
                return ReadResult::TimedOut;
            waitTurn(reason, deadline);
        }
    }

    // Takes one complete line (with its LF) from the buffer, if there is one.
    bool takeLine(std::string& line)
    {
        size_t end = buffer.find('\n');
        if (end == std::string::npos)
            return false;
        line = buffer.substr(0, std::min(end + 1, kMaxRecordedLine));
        buffer.erase(0, end + 1);
        return true;
    }

    void closeGracefully()
    {
        if (ssl)
            SSL_shutdown(ssl); // one close_notify; we do not wait for the client's
#ifdef _WIN32
        shutdown(socket, SD_SEND);
#else
        shutdown(socket, SHUT_WR);
#endif
    }

    bool hasPartialLine() const
    {
        return !buffer.empty();
    }

private:
    // Waits (in slices, watching stop) until the socket is ready for what OpenSSL wants.
    bool waitTurn(int reason, Clock::time_point deadline)
    {
        for (;;) {
            if (stopping.load())
                return false;
            int left = remainingMs(deadline);
            if (left == 0)
                return false;
            int slice = std::min(left, kSliceMs);
            bool ready = reason == SSL_ERROR_WANT_WRITE ? waitWritable(socket, slice) : waitReadable(socket, slice);
            if (ready)
                return true;
        }
    }

    SocketHandle socket;
    const std::atomic<bool>& stopping;
    SSL* ssl = nullptr;
    std::string buffer;
};

ScriptedPop3Server::ScriptedPop3Server() = default;

ScriptedPop3Server::~ScriptedPop3Server()
{
    stop();
    if (tlsContext)
        SSL_CTX_free(tlsContext);
}

void ScriptedPop3Server::addConnection(const Script& script)
{
    std::lock_guard<std::mutex> lock(guard);
    scripts.push_back(script);
}

void ScriptedPop3Server::useTls(const std::string& certFile, const std::string& keyFile)
{
    certPath = certFile;
    keyPath = keyFile;
}

void ScriptedPop3Server::useWeakTls(const std::string& certFile, const std::string& keyFile, int maxVersion)
{
    useTls(certFile, keyFile);
    maxTlsVersion = maxVersion;
}

void ScriptedPop3Server::useAnonymousTls()
{
    anonymousTls = true;
    maxTlsVersion = TLS1_2_VERSION; // TLS 1.3 has no anonymous ciphers
}

bool ScriptedPop3Server::setUpTls()
{
    tlsContext = SSL_CTX_new(TLS_server_method());
    if (!tlsContext)
        return false;
    if (maxTlsVersion != 0) {
        // Security level 0 lets the old versions and anonymous ciphers through on this side.
        SSL_CTX_set_security_level(tlsContext, 0);
        SSL_CTX_set_min_proto_version(tlsContext, 0);
        SSL_CTX_set_max_proto_version(tlsContext, maxTlsVersion);
    }
    if (anonymousTls)
        return SSL_CTX_set_cipher_list(tlsContext, "aNULL:@SECLEVEL=0") == 1;
    if (SSL_CTX_use_certificate_chain_file(tlsContext, certPath.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tlsContext, keyPath.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(tlsContext) != 1) {
        ERR_clear_error();
        return false;
    }
    return true;
}

bool ScriptedPop3Server::start()
{
    if (worker.joinable() || !startSockets())
        return false;
    if ((!certPath.empty() || anonymousTls) && !tlsContext && !setUpTls())
        return false;
    listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == kNoSocket)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closeSocket(listener);
        listener = kNoSocket;
        return false;
    }
    listenPort = ntohs(address.sin_port);
    stopping = false;
    worker = std::thread([this] { serve(); });
    return true;
}

void ScriptedPop3Server::stop()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    closeSocket(listener);
    listener = kNoSocket;
}

void ScriptedPop3Server::serve()
{
#ifndef _WIN32
    // A client that hangs up while we write must give an error, not kill the test with SIGPIPE
    // (OpenSSL writes with write(), which has no MSG_NOSIGNAL); the signal is blocked here only.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
#endif
    size_t next = 0;
    while (!stopping.load()) {
        if (!waitReadable(listener, kSliceMs))
            continue;
        SocketHandle socket = accept(listener, nullptr, nullptr);
        if (socket == kNoSocket)
            continue;
        {
            std::lock_guard<std::mutex> lock(guard);
            accepted++;
        }
        changed.notify_all();
        Script script;
        bool scripted = false;
        {
            std::lock_guard<std::mutex> lock(guard);
            if (next < scripts.size()) {
                script = scripts[next];
                scripted = true;
            }
        }
        ++next;
        serveOne(socket, scripted ? &script : nullptr);
    }
}

void ScriptedPop3Server::serveOne(SocketHandle socket, const Script* script)
{
    Peer peer(socket, stopping);
    if (!script)
        return; // no transcript left: hang up at once
    setNonBlocking(socket);
    setNoDelay(socket);
    if (tlsContext && !script->startsTlsItself()) {
        std::string error;
        if (!peer.startTls(tlsContext, error)) {
            // A client that refuses our certificate is often what a test wants: counted, not a fault.
            handshakesFailed++;
            return;
        }
    }
    runScript(peer, *script);
}

void ScriptedPop3Server::runScript(Peer& peer, const Script& script)
{
    using Kind = Script::StepKind;
    for (const Script::Step& step : script.steps()) {
        if (stopping.load())
            return;
        switch (step.kind) {
        case Kind::Send:
            if (!peer.write(step.bytes)) {
                if (!stopping.load())
                    recordFailure("client hung up before the server could send \"" + stripLineEnd(step.bytes) + "\"");
                return;
            }
            if (step.ms > 0) {
                Clock::time_point until = Clock::now() + std::chrono::milliseconds(step.ms);
                while (!stopping.load() && remainingMs(until) > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kSliceMs, remainingMs(until))));
            }
            break;
        case Kind::SendUrgent:
            if (!peer.writeUrgent(step.bytes[0])) {
                recordFailure("the urgent byte could not be sent");
                return;
            }
            break;
        case Kind::ExpectLine: {
            std::string line;
            Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kLineWaitMs);
            while (!peer.takeLine(line)) {
                Peer::ReadResult result = peer.readMore(remainingMs(deadline));
                if (result == Peer::ReadResult::Data)
                    continue;
                if (result == Peer::ReadResult::Error)
                    return; // stopping
                recordFailure(
                    std::string(result == Peer::ReadResult::TimedOut ? "client sent no line" : "client hung up") +
                    " where a line starting \"" + step.bytes + "\" was expected");
                return;
            }
            line = stripLineEnd(line);
            recordLine(line);
            if (line.compare(0, step.bytes.size(), step.bytes) != 0) {
                recordFailure("expected a line starting \"" + step.bytes + "\", got \"" + line + "\"");
                return;
            }
            break;
        }
        case Kind::Pause: {
            Clock::time_point until = Clock::now() + std::chrono::milliseconds(step.ms);
            while (!stopping.load() && remainingMs(until) > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kSliceMs, remainingMs(until))));
            break;
        }
        case Kind::Disconnect:
            return;
        case Kind::StartTls:
            if (!startTlsMidStream(peer))
                return;
            break;
        case Kind::Stall: {
            Clock::time_point until = Clock::now() + std::chrono::milliseconds(step.ms);
            std::string line;
            for (;;) {
                while (peer.takeLine(line))
                    recordLine(stripLineEnd(line));
                if (remainingMs(until) == 0)
                    break;
                Peer::ReadResult result = peer.readMore(std::min(remainingMs(until), kSliceMs));
                if (result == Peer::ReadResult::Closed || result == Peer::ReadResult::Error)
                    return;
            }
            break;
        }
        }
    }
    hangUpAndDrain(peer);
}

// Lines the client sent before its handshake are recorded first: in plain text, they are what
// a test looks for. After a failed handshake the client's last lines are recorded too.
bool ScriptedPop3Server::startTlsMidStream(Peer& peer)
{
    std::string line;
    while (peer.takeLine(line))
        recordLine(stripLineEnd(line));
    std::string error;
    if (tlsContext && peer.startTls(tlsContext, error))
        return true;
    handshakesFailed++;
    peer.dropTls();
    hangUpAndDrain(peer);
    return false;
}

// End of transcript: hang up politely and keep reading briefly, recording any last lines.
void ScriptedPop3Server::hangUpAndDrain(Peer& peer)
{
    peer.closeGracefully();
    Clock::time_point until = Clock::now() + std::chrono::milliseconds(kDrainMs);
    std::string line;
    for (;;) {
        while (peer.takeLine(line))
            recordLine(stripLineEnd(line));
        if (remainingMs(until) == 0)
            return;
        Peer::ReadResult result = peer.readMore(std::min(remainingMs(until), kSliceMs));
        if (result == Peer::ReadResult::Closed || result == Peer::ReadResult::Error) {
            while (peer.takeLine(line))
                recordLine(stripLineEnd(line));
            return;
        }
    }
}

void ScriptedPop3Server::recordLine(const std::string& line)
{
    {
        std::lock_guard<std::mutex> lock(guard);
        lines.push_back(line);
    }
    changed.notify_all();
}

void ScriptedPop3Server::recordFailure(const std::string& what)
{
    std::lock_guard<std::mutex> lock(guard);
    if (failureText.empty())
        failureText = what; // the first fault explains the rest
}

std::vector<std::string> ScriptedPop3Server::receivedLines() const
{
    std::lock_guard<std::mutex> lock(guard);
    return lines;
}

bool ScriptedPop3Server::waitForConnections(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(guard);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return accepted.load() >= count; });
}

bool ScriptedPop3Server::waitForLine(const std::string& prefix, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(guard);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const std::string& line : lines)
            if (line.compare(0, prefix.size(), prefix) == 0)
                return true;
        return false;
    });
}

bool ScriptedPop3Server::scriptFailed() const
{
    std::lock_guard<std::mutex> lock(guard);
    return !failureText.empty();
}

std::string ScriptedPop3Server::failure() const
{
    std::lock_guard<std::mutex> lock(guard);
    return failureText;
}

} // namespace testbench
