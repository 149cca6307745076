// HTTPS through WinHTTP: the system's proxy settings apply, and the server is verified
// against the Windows root store (chain, host name and dates, WinHTTP's defaults, which
// nothing here relaxes); TLS 1.2 is the oldest admitted.
#include "mail/sign_in/https_post.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "util/holders/win32_holders.h"
#include "util/platform/wide_text.h"

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif
#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace {

using Clock = std::chrono::steady_clock;

std::wstring widen(const std::string& text)
{
    int units = convertUtf8ToWide(text.c_str(), nullptr, 0);
    if (units <= 0)
        return std::wstring();
    std::vector<wchar_t> wide(static_cast<size_t>(units));
    convertUtf8ToWide(text.c_str(), wide.data(), units);
    return std::wstring(wide.data());
}

HttpsError errorOf(DWORD error)
{
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return HttpsError::Unreachable;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return HttpsError::TlsRefused;
    case ERROR_WINHTTP_TIMEOUT:
        return HttpsError::TimedOut;
    case ERROR_WINHTTP_OPERATION_CANCELLED:
    case ERROR_INVALID_HANDLE:
        return HttpsError::Aborted;
    default:
        return HttpsError::Failed;
    }
}

// The system's proxy (automatic detection and the user's settings, from Windows 8.1) or,
// where that is not known, WinHTTP's own proxy setting.
OwnedInternetHandle openSession()
{
    OwnedInternetHandle session(WinHttpOpen(L"pellwick", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                            WINHTTP_NO_PROXY_BYPASS, 0));
    if (session == nullptr)
        session.reset(WinHttpOpen(L"pellwick", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0));
    if (session == nullptr)
        return nullptr;
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2; // before TLS 1.3 was known
        if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols))
            return nullptr;
    }
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    DWORD headBytes = static_cast<DWORD>(HttpsPoster::maxHeadBytes);
    WinHttpSetOption(session.get(), WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &headBytes, sizeof headBytes);
    return session;
}

// Sends the form on the opened request and reads the whole reply.
HttpsError exchange(HINTERNET request, const std::string& form, Clock::time_point deadline, HttpsReply& reply)
{
    static const wchar_t headers[] = L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    DWORD length = static_cast<DWORD>(form.size());
    if (!WinHttpSendRequest(request, headers, static_cast<DWORD>(-1), const_cast<char*>(form.data()), length, length,
                            0) ||
        !WinHttpReceiveResponse(request, nullptr))
        return errorOf(GetLastError());
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return HttpsError::BadReply;
    std::string body;
    char buffer[4096];
    for (;;) {
        if (Clock::now() >= deadline)
            return HttpsError::TimedOut;
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer, sizeof buffer, &read))
            return errorOf(GetLastError());
        if (read == 0)
            break;
        if (body.size() + read > HttpsPoster::maxBodyBytes)
            return HttpsError::ReplyTooLarge;
        body.append(buffer, read);
    }
    reply.status = static_cast<int>(status);
    reply.body = body;
    return HttpsError::None;
}

} // namespace

// The request under way, which abort() closes from another thread: WinHTTP then ends the
// blocked call on the owner's thread.
struct HttpsPoster::Platform {
    std::mutex lock;
    HINTERNET request = nullptr; // guarded by lock
    bool aborted = false;        // guarded by lock
};

HttpsPoster::HttpsPoster() : platform(new Platform) {}

HttpsPoster::~HttpsPoster() = default;

void HttpsPoster::abort()
{
    std::lock_guard<std::mutex> hold(platform->lock);
    platform->aborted = true;
    if (platform->request != nullptr)
        WinHttpCloseHandle(platform->request);
    platform->request = nullptr;
}

void HttpsPoster::clearAbort()
{
    std::lock_guard<std::mutex> hold(platform->lock);
    platform->aborted = false;
}

HttpsError HttpsPoster::postForm(const std::string& url, const std::string& form, HttpsReply& reply, int seconds)
{
    reply = HttpsReply();
    HttpsUrl parts;
    if (!parseHttpsUrl(url, parts))
        return HttpsError::BadUrl;
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    OwnedInternetHandle session = openSession();
    if (session == nullptr)
        return HttpsError::Failed;
    int milliseconds = seconds * 1000;
    WinHttpSetTimeouts(session.get(), milliseconds, milliseconds, milliseconds, milliseconds);
    OwnedInternetHandle connection(
        WinHttpConnect(session.get(), widen(parts.host).c_str(), static_cast<INTERNET_PORT>(parts.port), 0));
    if (connection == nullptr)
        return errorOf(GetLastError());
    HINTERNET request = WinHttpOpenRequest(connection.get(), L"POST", widen(parts.path).c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (request == nullptr)
        return errorOf(GetLastError());
    {
        std::lock_guard<std::mutex> hold(platform->lock);
        if (platform->aborted) {
            WinHttpCloseHandle(request);
            return HttpsError::Aborted;
        }
        platform->request = request;
    }
    HttpsError result = exchange(request, form, deadline, reply);
    std::lock_guard<std::mutex> hold(platform->lock);
    if (platform->request != nullptr)
        WinHttpCloseHandle(platform->request);
    else
        result = HttpsError::Aborted; // abort() closed it
    platform->request = nullptr;
    return result;
}
