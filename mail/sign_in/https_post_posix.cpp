// HTTPS over the project's own Connection: the same verification as the mail server, and
// one small HTTP/1.1 exchange with "Connection: close".
#include "mail/sign_in/https_post.h"

#include <algorithm>
#include <chrono>

#include "mail/connection/connection.h"
#include "mail/sign_in/http_reply_reader.h"

struct HttpsPoster::Platform {
    Connection connection;
};

namespace {

using Clock = std::chrono::steady_clock;

HttpsError errorOf(ConnectionError error)
{
    switch (error) {
    case ConnectionError::HostNotFound:
    case ConnectionError::TargetTooLong:
        return HttpsError::Unreachable;
    case ConnectionError::TlsFailed:
    case ConnectionError::CertificateUntrusted:
    case ConnectionError::CertificateWrongHost:
    case ConnectionError::CertificateExpired:
        return HttpsError::TlsRefused;
    case ConnectionError::TimedOut:
        return HttpsError::TimedOut;
    case ConnectionError::Aborted:
        return HttpsError::Aborted;
    default:
        return HttpsError::Failed;
    }
}

int secondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

std::string requestText(const HttpsUrl& url, const std::string& form)
{
    std::string host = url.port == 443 ? url.host : url.host + ":" + std::to_string(url.port);
    return "POST " + url.path + " HTTP/1.1\r\nHost: " + host +
           "\r\nUser-Agent: pellwick\r\nAccept: application/json\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nConnection: close\r\nContent-Length: " +
           std::to_string(form.size()) + "\r\n\r\n" + form;
}

} // namespace

HttpsPoster::HttpsPoster() : platform(new Platform) {}

HttpsPoster::~HttpsPoster() = default;

void HttpsPoster::abort()
{
    platform->connection.abort();
}

void HttpsPoster::clearAbort()
{
    platform->connection.clearAbort();
}

HttpsError HttpsPoster::postForm(const std::string& url, const std::string& form, HttpsReply& reply, int seconds)
{
    reply = HttpsReply();
    HttpsUrl parts;
    if (!parseHttpsUrl(url, parts))
        return HttpsError::BadUrl;
    Connection& connection = platform->connection;
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    connection.setTimeouts(seconds, seconds);
    if (!connection.open(parts.host.c_str(), parts.port, ConnectionSecurity::TlsOnConnect))
        return errorOf(connection.lastError());
    std::string request = requestText(parts, form);
    if (connection.write(request.data(), static_cast<int>(request.size())) != static_cast<int>(request.size())) {
        HttpsError error = errorOf(connection.lastError());
        connection.close();
        return error;
    }
    HttpReplyReader reader;
    HttpReplyReader::State state = HttpReplyReader::State::NeedMore;
    char buffer[4096];
    while (state == HttpReplyReader::State::NeedMore) {
        int left = secondsLeft(deadline);
        if (left <= 0) {
            connection.close();
            return HttpsError::TimedOut;
        }
        connection.setTimeouts(left, left);
        int count = connection.read(buffer, sizeof buffer);
        if (count > 0)
            state = reader.feed(buffer, static_cast<size_t>(count));
        else if (connection.lastError() == ConnectionError::Closed)
            state = reader.finish();
        else {
            HttpsError error = errorOf(connection.lastError());
            connection.close();
            return error;
        }
    }
    connection.close();
    if (state == HttpReplyReader::State::Failed)
        return reader.error();
    reply = reader.reply();
    return HttpsError::None;
}
