// A deliberately plain POP3-ish client for the bench's own tests: blocking socket, bounded reads,
// optional verified TLS. It shares no code with the program's client.
#pragma once

#include <string>

#include "tests/support/socket_compat.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace testbench {

class BenchClient {
public:
    BenchClient() = default;
    ~BenchClient();
    BenchClient(const BenchClient&) = delete;
    BenchClient& operator=(const BenchClient&) = delete;

    bool connectPlain(int port);
    // Connects and verifies the peer against caFile with host name `host`; on failure
    // verifyResult() tells the X509_V_* reason.
    bool connectTls(int port, const std::string& caFile, const std::string& host);
    long verifyResult() const { return verification; }

    bool sendLine(const std::string& line); // appends CR LF
    // One line without CR LF; false on hang-up or time-out.
    bool readLine(std::string& line);
    // Raw bytes of one receive call; empty on hang-up or time-out.
    std::string readChunk();
    // True when the server hangs up (within the receive time-out) before sending more.
    bool seesHangUp();
    // True when nothing at all (no data, no hang-up) arrives for ms.
    bool staysQuietFor(int ms);
    void close();

private:
    int receive(char* buffer, int capacity);

    SocketHandle socket = kNoSocket;
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    long verification = 0;
    std::string pending;
};

// Sends one IMAP command under `tag`; true once its tagged OK arrives. Bounded: at most
// `maxLines` replies, each read within the client's receive time-out.
bool imapCommand(BenchClient& client, const std::string& tag, const std::string& command, int maxLines);

} // namespace testbench
