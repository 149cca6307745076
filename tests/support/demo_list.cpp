// Lists a mailbox's unique-ids with the program's own POP3 session, over verified TLS.
// Usage: pellwick_demo_list HOST PORT USER PASSWORD   (trust: "cacert.pem" in the working folder)
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mail/pop3/pop3_session.h"

namespace {

const char* describe(ConnectionError error)
{
    switch (error) {
    case ConnectionError::None:
        return "no error";
    case ConnectionError::TargetTooLong:
        return "host name too long";
    case ConnectionError::HostNotFound:
        return "host not found or refused";
    case ConnectionError::TlsFailed:
        return "TLS handshake failed";
    case ConnectionError::CertificateUntrusted:
        return "certificate not trusted";
    case ConnectionError::CertificateWrongHost:
        return "certificate names another host";
    case ConnectionError::CertificateExpired:
        return "certificate expired";
    case ConnectionError::TimedOut:
        return "timed out";
    case ConnectionError::Aborted:
        return "aborted";
    case ConnectionError::Closed:
        return "connection closed";
    case ConnectionError::StartTlsNotOffered:
        return "STARTTLS not offered";
    case ConnectionError::Failed:
        return "failed";
    }
    return "unknown";
}

int fail(const char* step, const Pop3Session& session)
{
    std::fprintf(stderr, "pellwick_demo_list: %s failed (%s)\n", step, describe(session.lastError()));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD\n", argv[0]);
        return 2;
    }
    int port = std::atoi(argv[2]);
    if (port <= 0 || port > 65535) {
        std::fprintf(stderr, "pellwick_demo_list: bad port %s\n", argv[2]);
        return 2;
    }
    Pop3Session session;
    session.setTimeouts(10, 10);
    if (!session.connect(argv[1], port, ConnectionSecurity::TlsOnConnect))
        return fail("connecting over TLS", session);
    if (!session.logIn(argv[3], argv[4]))
        return fail("logging in", session);
    int total = session.listUids();
    if (total < 0)
        return fail("listing", session);

    // The list keeps the newest first; print in the server's order.
    std::vector<const char*> ids;
    for (const char* id : session.mailbox.current)
        ids.push_back(id ? id : "");
    for (auto id = ids.rbegin(); id != ids.rend(); ++id)
        std::printf("%s\n", *id);
    std::printf("%d message%s listed\n", total, total == 1 ? "" : "s");
    session.close();
    return 0;
}
