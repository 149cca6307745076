#include "mail/sign_in/oauth_redirect_listener.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include <openssl/bio.h>
#include <openssl/crypto.h>

#include "mail/sign_in/oauth_request.h"
#include "mail/platform/socket_poll.h"
#include "mail/platform/socket_wait.h"
#include "mail/sign_in/sasl_oauth.h"
#include "util/holders/openssl_holders.h"

namespace {

using Clock = std::chrono::steady_clock;

const char redirectPath[] = "/";
const int answerMilliseconds = 2000;

const char signedInPage[] = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>pellwick</title></head>"
                            "<body><p>pellwick is signed in. You may close this window.</p></body></html>";
const char notSignedInPage[] = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>pellwick</title></head>"
                               "<body><p>The sign-in did not complete. You may close this window and try again "
                               "from pellwick.</p></body></html>";

int millisecondsUntil(Clock::time_point when)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

int boundPortOf(int socket)
{
    OwnedAddress address(BIO_ADDR_new());
    BIO_sock_info_u info;
    info.addr = address.get();
    if (address == nullptr || !BIO_sock_info(socket, BIO_SOCK_INFO_ADDRESS, &info))
        return 0;
    char* service = BIO_ADDR_service_string(address.get(), 1);
    int port = service != nullptr ? std::atoi(service) : 0;
    OPENSSL_free(service);
    return port;
}

// Writes the whole answer, waiting a little for room; a browser that reads nothing loses it.
void writeAnswer(BIO* connection, int socket, const std::string& answer)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(answerMilliseconds);
    size_t written = 0;
    while (written < answer.size()) {
        int count = BIO_write(connection, answer.data() + written, static_cast<int>(answer.size() - written));
        if (count > 0) {
            written += static_cast<size_t>(count);
            continue;
        }
        if (!BIO_should_retry(connection) ||
            waitForSocket(socket, SocketWait::Writable, millisecondsUntil(deadline)) <= 0)
            return;
    }
}

std::string httpAnswer(const char* status, const char* page)
{
    std::string body = page != nullptr ? page : "";
    return std::string("HTTP/1.1 ") + status +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// "a=1&b=2" into names and values; false for a broken escape or a name given twice (RFC 6749
// section 3.1: no parameter may be included more than once).
bool parseQuery(const std::string& query, std::map<std::string, std::string>& parameters)
{
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = std::min(query.find('&', start), query.size());
        size_t equals = query.find('=', start);
        if (end > start) {
            size_t nameEnd = equals < end ? equals : end;
            std::string name;
            std::string value;
            if (!percentDecode(query.data() + start, nameEnd - start, name) ||
                (equals < end && !percentDecode(query.data() + equals + 1, end - equals - 1, value)) ||
                !parameters.emplace(name, value).second)
                return false;
        }
        start = end + 1;
    }
    return true;
}

enum class Verdict { NotFound, BadRequest, Redirect };

// The request line "GET /?query HTTP/1.1" of a complete request head.
Verdict readRequestLine(const std::string& head, std::map<std::string, std::string>& parameters)
{
    const std::string method = "GET ";
    if (head.compare(0, method.size(), method) != 0)
        return Verdict::BadRequest;
    size_t targetEnd = head.find(' ', method.size());
    size_t lineEnd = head.find_first_of("\r\n");
    if (targetEnd == std::string::npos || targetEnd > lineEnd || head.compare(targetEnd, 6, " HTTP/") != 0)
        return Verdict::BadRequest;
    std::string target = head.substr(method.size(), targetEnd - method.size());
    size_t question = target.find('?');
    if (target.substr(0, question) != redirectPath)
        return Verdict::NotFound;
    if (question == std::string::npos || !parseQuery(target.substr(question + 1), parameters))
        return Verdict::BadRequest;
    return Verdict::Redirect;
}

std::string parameter(const std::map<std::string, std::string>& parameters, const char* name, bool* present = nullptr)
{
    auto found = parameters.find(name);
    if (present != nullptr)
        *present = found != parameters.end();
    return found != parameters.end() ? found->second : std::string();
}

bool issuerAccepted(const std::map<std::string, std::string>& parameters, const RedirectListener::Expected& expected)
{
    bool present = false;
    std::string issuer = parameter(parameters, "iss", &present);
    if (!present)
        return !expected.issuerRequired;
    return expected.issuer.empty() || issuer == expected.issuer;
}

} // namespace

struct RedirectListener::Pending {
    int socket = -1;
    OwnedBio connection;
    std::string head;
    Clock::time_point deadline;
};

RedirectListener::~RedirectListener()
{
    close();
}

bool RedirectListener::open()
{
    close();
    BIO_ADDRINFO* found = nullptr;
    if (!BIO_lookup_ex("127.0.0.1", "0", BIO_LOOKUP_SERVER, anyAddressFamily(), streamSocketType(), 0, &found))
        return false;
    OwnedAddressInfo held(found);
    int socket = BIO_socket(BIO_ADDRINFO_family(found), streamSocketType(), 0, 0);
    if (socket == -1)
        return false;
    listening = socket;
    // Another program that binds the port too would receive the authorization code.
    bool bound = keepAddressExclusive(socket) && BIO_listen(socket, BIO_ADDRINFO_address(found), BIO_SOCK_NONBLOCK);
    boundPort = bound ? boundPortOf(socket) : 0;
    if (boundPort == 0)
        close();
    return boundPort != 0;
}

std::string RedirectListener::redirectUri() const
{
    return "http://127.0.0.1:" + std::to_string(boundPort) + redirectPath;
}

void RedirectListener::close()
{
    if (listening != -1)
        BIO_closesocket(listening);
    listening = -1;
    boundPort = 0;
}

RedirectListener::Result RedirectListener::waitForRedirect(const Expected& expected, int seconds)
{
    Result result;
    if (listening == -1)
        return result;
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    std::vector<std::unique_ptr<Pending>> pending;
    bool finished = false;
    while (!finished) {
        if (abortRequested.load()) {
            result.outcome = Outcome::Aborted;
            break;
        }
        if (Clock::now() >= deadline) {
            result.outcome = Outcome::TimedOut;
            break;
        }
        // A connection that has not sent its request in time is dropped.
        pending.erase(std::remove_if(pending.begin(), pending.end(),
                                     [](const std::unique_ptr<Pending>& p) { return Clock::now() >= p->deadline; }),
                      pending.end());
        int sockets[maxPendingConnections + 1];
        bool readable[maxPendingConnections + 1] = {};
        int slice = std::min(abortPollMilliseconds, std::max(millisecondsUntil(deadline), 1));
        sockets[0] = listening;
        for (size_t i = 0; i < pending.size(); ++i) {
            sockets[i + 1] = pending[i]->socket;
            slice = std::min(slice, std::max(millisecondsUntil(pending[i]->deadline), 1));
        }
        int count = static_cast<int>(pending.size()) + 1;
        if (waitForReadableSockets(sockets, readable, count, slice) < 0)
            break;
        // Served before the new connection is taken, so that indexes still match.
        for (int i = count - 1; i >= 1 && !finished; --i) {
            if (readable[i] && serve(*pending[i - 1], expected, result)) {
                finished = result.outcome == Outcome::Code || result.outcome == Outcome::ProviderError;
                pending.erase(pending.begin() + (i - 1));
            }
        }
        if (!finished && readable[0]) {
            int accepted = BIO_accept_ex(listening, nullptr, BIO_SOCK_NONBLOCK);
            if (accepted != -1) {
                auto connection = std::make_unique<Pending>();
                connection->socket = accepted;
                connection->connection.reset(BIO_new_socket(accepted, BIO_CLOSE));
                connection->deadline = Clock::now() + std::chrono::seconds(requestSeconds);
                if (connection->connection == nullptr)
                    BIO_closesocket(accepted);
                else {
                    if (pending.size() == maxPendingConnections)
                        pending.erase(pending.begin());
                    pending.push_back(std::move(connection));
                }
            }
        }
    }
    close();
    return result;
}

// Reads what has arrived; once the request head is whole, answers it. True when the
// connection is done with (answered, closed by the peer, or too long); `result` is set when
// the request was the redirect.
bool RedirectListener::serve(Pending& pending, const Expected& expected, Result& result)
{
    char buffer[4096];
    int count = BIO_read(pending.connection.get(), buffer, sizeof buffer);
    if (count <= 0)
        return !BIO_should_retry(pending.connection.get());
    pending.head.append(buffer, static_cast<size_t>(count));
    bool whole = pending.head.find("\r\n\r\n") != std::string::npos;
    if (!whole && pending.head.size() < static_cast<size_t>(maxRequestBytes))
        return false;
    std::map<std::string, std::string> parameters;
    Verdict verdict = whole ? readRequestLine(pending.head, parameters) : Verdict::BadRequest;
    std::string code = parameter(parameters, "code");
    std::string error = parameter(parameters, "error");
    bool matches = verdict == Verdict::Redirect && parameter(parameters, "state") == expected.state &&
                   !expected.state.empty() && issuerAccepted(parameters, expected);
    if (matches && !error.empty()) {
        result.outcome = Outcome::ProviderError;
        result.error = error.substr(0, 64);
        writeAnswer(pending.connection.get(), pending.socket, httpAnswer("200 OK", notSignedInPage));
    } else if (matches && isSendableToken(code)) {
        result.outcome = Outcome::Code;
        result.code = code;
        writeAnswer(pending.connection.get(), pending.socket, httpAnswer("200 OK", signedInPage));
    } else {
        bool notFound = verdict == Verdict::NotFound;
        writeAnswer(pending.connection.get(), pending.socket,
                    httpAnswer(notFound ? "404 Not Found" : "400 Bad Request", nullptr));
    }
    return true;
}
