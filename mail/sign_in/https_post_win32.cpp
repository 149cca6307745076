// HTTPS through WinHTTP: the system's proxy settings apply, and the server is verified
// against the Windows root store (chain, host name and dates, WinHTTP's defaults, which
// nothing here relaxes); TLS 1.2 is the oldest admitted. Asynchronous, so that the posting
// thread can stop waiting when aborted and close the request itself.
#include "mail/sign_in/https_post.h"

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <chrono>
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
                                            WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (session == nullptr)
        session.reset(WinHttpOpen(L"pellwick", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
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

const DWORD watchedEvents = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES;

struct EventHandle {
    HANDLE handle;
    explicit EventHandle(BOOL manualReset) : handle(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
    ~EventHandle()
    {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;
};

// One request's progress, which WinHTTP reports from threads of its own: each step that
// completes or fails sets `stepDone`. The form and the read buffer are here too, since WinHTTP
// may use them until its last report on the request, which can come after the posting thread
// has given up on it (Wine, for one, ends a pending handshake only when the peer does). Held
// by the posting thread and by WinHTTP; the last to let go deletes it.
struct RequestProgress {
    explicit RequestProgress(const std::string& form) : form(form) {}

    EventHandle stepDone{FALSE};
    std::atomic<DWORD> status{0};
    std::atomic<DWORD> bytes{0};
    std::atomic<DWORD> error{0};
    std::atomic<int> holders{1};
    const std::string form;
    char buffer[4096];
};

void letGo(RequestProgress* progress)
{
    if (progress->holders.fetch_sub(1) == 1)
        delete progress;
}

void CALLBACK onRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length)
{
    RequestProgress* progress = reinterpret_cast<RequestProgress*>(context);
    if (progress == nullptr)
        return;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: // the last report
        letGo(progress);
        return;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        progress->error = static_cast<WINHTTP_ASYNC_RESULT*>(information)->dwError;
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        progress->bytes = length;
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        break;
    default:
        return;
    }
    progress->status = status;
    SetEvent(progress->stepDone.handle);
}

DWORD millisecondsUntil(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<DWORD>(left > 0 ? left : 0);
}

// Waits for the step under way to report `expected`; None, or why it did not.
HttpsError awaitStep(RequestProgress& progress, DWORD expected, HANDLE abortEvent, Clock::time_point deadline)
{
    HANDLE events[] = {progress.stepDone.handle, abortEvent};
    DWORD waited = WaitForMultipleObjects(2, events, FALSE, millisecondsUntil(deadline));
    if (waited == WAIT_OBJECT_0 + 1)
        return HttpsError::Aborted;
    if (waited != WAIT_OBJECT_0)
        return HttpsError::TimedOut;
    if (progress.status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR)
        return errorOf(progress.error);
    return progress.status == expected ? HttpsError::None : HttpsError::Failed;
}

// Sends the form on the opened request and reads the whole reply.
HttpsError exchange(HINTERNET request, RequestProgress& progress, HANDLE abortEvent, Clock::time_point deadline,
                    HttpsReply& reply)
{
    static const wchar_t headers[] = L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    DWORD length = static_cast<DWORD>(progress.form.size());
    if (!WinHttpSendRequest(request, headers, static_cast<DWORD>(-1), const_cast<char*>(progress.form.data()), length,
                            length, reinterpret_cast<DWORD_PTR>(&progress)))
        return errorOf(GetLastError());
    HttpsError step = awaitStep(progress, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, abortEvent, deadline);
    if (step != HttpsError::None)
        return step;
    if (!WinHttpReceiveResponse(request, nullptr))
        return errorOf(GetLastError());
    step = awaitStep(progress, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, abortEvent, deadline);
    if (step != HttpsError::None)
        return step;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return HttpsError::BadReply;
    std::string body;
    for (;;) {
        if (!WinHttpReadData(request, progress.buffer, sizeof progress.buffer, nullptr))
            return errorOf(GetLastError());
        step = awaitStep(progress, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, abortEvent, deadline);
        if (step != HttpsError::None)
            return step;
        DWORD read = progress.bytes;
        if (read == 0)
            break;
        if (body.size() + read > HttpsPoster::maxBodyBytes)
            return HttpsError::ReplyTooLarge;
        body.append(progress.buffer, read);
    }
    reply.status = static_cast<int>(status);
    reply.body = body;
    return HttpsError::None;
}

// Progress reports for `request` go to `progress`, which WinHTTP then holds too; false when
// it took neither.
bool watch(HINTERNET request, RequestProgress& progress)
{
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&progress);
    if (progress.stepDone.handle == nullptr ||
        !WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context) ||
        WinHttpSetStatusCallback(request, onRequestStatus, watchedEvents, 0) == WINHTTP_INVALID_STATUS_CALLBACK)
        return false;
    ++progress.holders;
    return true;
}

} // namespace

// abort() only sets an event that the posting thread waits on besides each step: that thread
// alone closes the request, so no handle is closed while another thread is inside a call on it.
struct HttpsPoster::Platform {
    EventHandle abortEvent{TRUE};
};

HttpsPoster::HttpsPoster() : platform(new Platform) {}

HttpsPoster::~HttpsPoster() = default;

void HttpsPoster::abort()
{
    SetEvent(platform->abortEvent.handle);
}

void HttpsPoster::clearAbort()
{
    ResetEvent(platform->abortEvent.handle);
}

HttpsError HttpsPoster::postForm(const std::string& url, const std::string& form, HttpsReply& reply, int seconds)
{
    reply = HttpsReply();
    HttpsUrl parts;
    if (!parseHttpsUrl(url, parts))
        return HttpsError::BadUrl;
    if (WaitForSingleObject(platform->abortEvent.handle, 0) == WAIT_OBJECT_0)
        return HttpsError::Aborted;
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
    RequestProgress* progress = new RequestProgress(form);
    HttpsError result = watch(request, *progress)
                            ? exchange(request, *progress, platform->abortEvent.handle, deadline, reply)
                            : HttpsError::Failed;
    // Closed by the thread that uses it, which ends a step still under way.
    WinHttpCloseHandle(request);
    letGo(progress);
    return result;
}
