#pragma once

#include <memory>
#include <string>

// One HTTPS POST of a form, as the token endpoint wants it, with the server verified as
// strictly as the mail server (chain, host name, dates, TLS 1.2 or newer). Every wait and the
// reply's size are bounded. Windows uses WinHTTP, which also honours the system's proxy; the
// native build uses the project's own Connection (platform/https_post_*.cpp).

enum class HttpsError {
    None,
    BadUrl,      // not https://host[:port]/path
    Unreachable, // name not resolved, or no connection
    TlsRefused,  // the certificate was refused, or the handshake failed
    TimedOut,
    Aborted,
    ReplyTooLarge,
    BadReply, // not an HTTP reply
    Failed,
};

struct HttpsReply {
    int status = 0;
    std::string body;
};

struct HttpsUrl {
    std::string host;
    int port = 443;
    std::string path; // from the first '/', query included
};

// "https://host[:port][/path]"; false for any other scheme, user information, an empty
// host or a bad port.
bool parseHttpsUrl(const std::string& url, HttpsUrl& parts);

// Used by one thread; abort() may be called from any other.
class HttpsPoster {
public:
    static constexpr int defaultSeconds = 30;
    static constexpr size_t maxHeadBytes = 16 * 1024;
    static constexpr size_t maxBodyBytes = 64 * 1024;

    HttpsPoster();
    ~HttpsPoster();
    HttpsPoster(const HttpsPoster&) = delete;
    HttpsPoster& operator=(const HttpsPoster&) = delete;

    // Posts `form` (application/x-www-form-urlencoded) and reads the whole reply, within
    // `seconds` in all.
    HttpsError postForm(const std::string& url, const std::string& form, HttpsReply& reply,
                        int seconds = defaultSeconds);
    // Makes a post under way give up soon; stays in force until clearAbort().
    void abort();
    void clearAbort();

private:
    struct Platform;
    std::unique_ptr<Platform> platform;
};
