// A loopback POP3 peer for tests: each connection follows a written transcript of what the
// server sends (and how the bytes are split), what it expects to read, and when it pauses,
// stalls or hangs up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/socket_compat.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace testbench {

// One connection's transcript: what the server does, step by step.
class Script {
public:
    enum class StepKind { Send, SendUrgent, ExpectLine, Pause, Disconnect, Stall, StartTls };
    struct Step {
        StepKind kind;
        std::string bytes; // Send: the bytes of one write; ExpectLine: the prefix
        int ms;            // Pause, Stall: the time; Send: the pause after the write
    };

    Script& send(const std::string& bytes);
    // One byte of TCP urgent (out-of-band) data, outside any TLS layer.
    Script& sendUrgent(char byte);
    // Writes of `piece` bytes each (the last may be shorter), pausing pauseMs between them.
    Script& sendSplit(const std::string& bytes, size_t piece, int pauseMs = 0);
    // Reads one client line (up to LF) and records it. A line that does not start with prefix,
    // or a client that hangs up or stays silent instead, fails the script and ends the connection.
    Script& expectLine(const std::string& prefix = "");
    Script& pause(int ms);
    // Hangs up here, without a TLS close_notify: the client sees the connection drop.
    Script& disconnect();
    // Says nothing until the client hangs up or maxMs passes; lines sent meanwhile are recorded.
    Script& stall(int maxMs);
    // USER and PASS, the user accepted and the password answered with `passwordReply`. The
    // client must send `user` and `password` (any, when empty).
    Script& login(const std::string& passwordReply = "+OK\r\n", const std::string& user = "",
                  const std::string& password = "");
    // The TLS handshake here, with the server's certificate (STLS): a connection whose script
    // has this step starts plain. A failed handshake ends the script; what the client sends
    // after it, in plain, is still recorded.
    Script& startTls();
    bool startsTlsItself() const;

    const std::vector<Step>& steps() const { return plan; }

private:
    std::vector<Step> plan;
};

// The opening of every dialogue without STLS: the greeting "+OK ready", then Script::login().
Script loggedIn(const std::string& passwordReply = "+OK\r\n", const std::string& user = "",
                const std::string& password = "");

class ScriptedPop3Server {
public:
    ScriptedPop3Server();
    ~ScriptedPop3Server();
    ScriptedPop3Server(const ScriptedPop3Server&) = delete;
    ScriptedPop3Server& operator=(const ScriptedPop3Server&) = delete;

    // Successive connections get successive scripts; one beyond the last script is closed at once.
    // May be called before or after start().
    void addConnection(const Script& script);
    // Implicit TLS on the listening port: the handshake happens as the connection is accepted,
    // unless the connection's script starts TLS itself.
    void useTls(const std::string& certFile, const std::string& keyFile);
    // Handshakes a client must refuse: TLS no newer than `maxVersion` (TLS1_1_VERSION, say)
    // with that certificate; or, with no certificate file, anonymous ciphers and no certificate.
    void useWeakTls(const std::string& certFile, const std::string& keyFile, int maxVersion);
    void useAnonymousTls();
    // Listens on 127.0.0.1 at an ephemeral port and serves on its own thread.
    bool start();
    int port() const { return listenPort; }
    // Returns within about a second whatever a client is doing.
    void stop();

    // Every line clients sent, without CR LF, in order.
    std::vector<std::string> receivedLines() const;
    int connectionsAccepted() const { return accepted.load(); }
    bool waitForConnections(int count, int timeoutMs) const;
    // True once a client line starting with `prefix` has been recorded, false after timeoutMs:
    // the event that the client has reached that step of its dialogue.
    bool waitForLine(const std::string& prefix, int timeoutMs) const;
    // TLS handshakes that did not complete (the client refused the certificate, or hung up).
    int tlsHandshakesFailed() const { return handshakesFailed.load(); }
    // A script step failed (wrong line, early hang-up or silence where a line was expected).
    bool scriptFailed() const;
    std::string failure() const;

private:
    class Peer;

    void serve();
    void serveOne(SocketHandle socket, const Script* script);
    void runScript(Peer& peer, const Script& script);
    bool startTlsMidStream(Peer& peer);
    void hangUpAndDrain(Peer& peer);
    void recordLine(const std::string& line);
    void recordFailure(const std::string& what);
    bool setUpTls();

    std::vector<Script> scripts;
    std::string certPath;
    std::string keyPath;
    int maxTlsVersion = 0; // 0: the library's newest
    bool anonymousTls = false;
    SSL_CTX* tlsContext = nullptr;

    SocketHandle listener = kNoSocket;
    int listenPort = 0;
    std::thread worker;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    std::atomic<int> handshakesFailed{0};

    mutable std::mutex guard;
    mutable std::condition_variable changed; // a connection accepted or a line recorded
    std::vector<std::string> lines;
    std::string failureText;
};

} // namespace testbench
