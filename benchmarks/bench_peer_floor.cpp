// The floor for benchmarks/peers: the least a client can do for a check. Connects (plain, or
// TLS verified against CA_FILE), sends USER, PASS and UIDL and reads the listing to its
// terminator, then exits. No parsing, no storage.
//   bench_peer_floor HOST PORT TLS(0|1) USER PASSWORD CA_FILE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

class FloorClient {
public:
    ~FloorClient()
    {
        BIO_free_all(stream);
        SSL_CTX_free(context);
    }

    bool connect(const char* host, const char* port, bool tls, const char* caFile)
    {
        std::string target = std::string(host) + ":" + port;
        if (!tls) {
            stream = BIO_new_connect(target.c_str());
        } else {
            context = SSL_CTX_new(TLS_client_method());
            if (context == nullptr || SSL_CTX_load_verify_locations(context, caFile, nullptr) != 1)
                return false;
            SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
            stream = BIO_new_ssl_connect(context);
            if (stream == nullptr)
                return false;
            SSL* ssl = nullptr;
            BIO_get_ssl(stream, &ssl);
            SSL_set1_host(ssl, host);
            BIO_set_conn_hostname(stream, target.c_str());
        }
        return stream != nullptr && BIO_do_connect(stream) == 1 && readUntil("\r\n", 2);
    }

    bool command(const std::string& line, const char* end)
    {
        std::string text = line + "\r\n";
        return BIO_write(stream, text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size()) &&
               readUntil(end, std::strlen(end));
    }

private:
    // Reads until the received bytes end with `end`; only the last few bytes are kept.
    bool readUntil(const char* end, size_t endLength)
    {
        char buffer[65536];
        char last[8] = {0};
        size_t kept = 0;
        bool first = true;
        for (;;) {
            int got = BIO_read(stream, buffer, sizeof buffer);
            if (got <= 0)
                return false;
            if (first && std::strncmp(buffer, "+OK", 3) != 0)
                return false;
            first = false;
            for (int i = 0; i < got; ++i) {
                if (kept == sizeof last) {
                    std::memmove(last, last + 1, sizeof last - 1);
                    --kept;
                }
                last[kept++] = buffer[i];
            }
            if (kept >= endLength && std::memcmp(last + kept - endLength, end, endLength) == 0)
                return true;
        }
    }

    SSL_CTX* context = nullptr;
    BIO* stream = nullptr;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s HOST PORT TLS USER PASSWORD CA_FILE\n", argv[0]);
        return 2;
    }
    FloorClient client;
    bool done = client.connect(argv[1], argv[2], std::atoi(argv[3]) != 0, argv[6]) &&
                client.command(std::string("USER ") + argv[4], "\r\n") &&
                client.command(std::string("PASS ") + argv[5], "\r\n") && client.command("UIDL", "\r\n.\r\n");
    if (!done) {
        std::fprintf(stderr, "floor client: check failed\n");
        return 1;
    }
    return 0;
}
