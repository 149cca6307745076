#pragma once

#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include "mail/connection/connection.h"
#include "mail/sign_in/token_endpoint.h"
#include "mail/mailbox/uid_list.h"
#include "tests/support/temp_directory.h"

namespace mailtest {

// Every name is the loopback address, so that certificates can name hosts no resolver knows.
inline bool loopbackForEveryName(const char*, const char* service, AddressList& addresses)
{
    return lookUpStreamAddresses("127.0.0.1", service, addresses);
}

// Makes `caFile` the process's trusted "cacert.pem" by running in a temporary working
// directory that holds it. Construct the Connection afterwards: it loads the file then.
class TrustedCaDirectory {
public:
    explicit TrustedCaDirectory(const std::string& caFile)
    {
        std::error_code ignored;
        previous = std::filesystem::current_path(ignored);
        std::filesystem::path trust = std::filesystem::path(directory.path()) / "cacert.pem";
        if (!caFile.empty())
            ready = std::filesystem::copy_file(caFile, trust, ignored);
        else
            ready = true; // an empty working directory: nothing trusted
        std::filesystem::current_path(directory.path(), ignored);
        ready = ready && !ignored;
    }
    ~TrustedCaDirectory()
    {
        std::error_code ignored;
        std::filesystem::current_path(previous, ignored);
    }
    bool isReady() const { return ready; }

private:
    testbench::TempDirectory directory;
    std::filesystem::path previous;
    bool ready = false;
};

// The SHA-256 of a PEM certificate file as the user is shown it; empty when unreadable.
inline std::string certificateFingerprint(const std::string& pemPath)
{
    OwnedBio file(BIO_new_file(pemPath.c_str(), "r"));
    OwnedCertificate certificate(file ? PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
    CertificateDetails details;
    return describeCertificate(certificate.get(), details) ? details.sha256 : "";
}

// A small message numbered `number`, as the tests deliver into the private Dovecot.
inline std::string sampleMessage(int number)
{
    return "From: sender@example.org\r\nTo: user@example.org\r\nSubject: Test " + std::to_string(number) +
           "\r\n\r\nBody of message " + std::to_string(number) + ".\r\n";
}

inline std::multiset<std::string> idsOf(const UidList& list)
{
    std::multiset<std::string> ids;
    for (const char* id : list)
        ids.insert(id != nullptr ? id : "<absent>");
    return ids;
}

class Stopwatch {
public:
    double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }

private:
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// A name lookup for Connection::steps that does not return until the test releases it, as
// a resolver that never answers. Its helper thread outlives the connection, so the one
// instance is never destroyed, and every test that lets a lookup hang must release it
// (LookupRelease) once the lookup has been entered, or that thread would wait for ever.
class HangingLookup {
public:
    static HangingLookup& instance()
    {
        static HangingLookup& only = *new HangingLookup;
        return only;
    }
    // Hangs the first `count` lookups from now on; later ones fail at once.
    void hangNext(int count)
    {
        std::lock_guard<std::mutex> hold(lock);
        hangUntil = entered + count;
    }
    static bool lookUp(const char*, const char*, AddressList&) { return instance().hang(); }
    // True once `count` lookups in all have been entered, false after timeoutMs.
    bool waitEntered(int count, int timeoutMs)
    {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return entered >= count; });
    }
    int enteredCount()
    {
        std::lock_guard<std::mutex> hold(lock);
        return entered;
    }
    void releaseAll()
    {
        std::lock_guard<std::mutex> hold(lock);
        released = entered;
        hangUntil = entered; // a lookup that comes later fails at once
        changed.notify_all();
    }

private:
    bool hang()
    {
        std::unique_lock<std::mutex> hold(lock);
        int ticket = ++entered;
        changed.notify_all();
        if (ticket <= hangUntil)
            changed.wait(hold, [&] { return released >= ticket; });
        return false;
    }

    std::mutex lock;
    std::condition_variable changed;
    int entered = 0;
    int released = 0;
    int hangUntil = INT_MAX;
};

// Lets every hanging lookup go at the end of a test, once `expected` of them have begun.
class LookupRelease {
public:
    explicit LookupRelease(int expected) : expectedTotal(HangingLookup::instance().enteredCount() + expected)
    {
        HangingLookup::instance().hangNext(expected);
    }
    // True once every lookup this release covers has begun, false after timeoutMs.
    bool waitEntered(int timeoutMs) { return HangingLookup::instance().waitEntered(expectedTotal, timeoutMs); }
    ~LookupRelease()
    {
        HangingLookup::instance().waitEntered(expectedTotal, 5000);
        HangingLookup::instance().releaseAll();
    }

private:
    int expectedTotal;
};

// A token endpoint that answers refreshes from a script and counts them.
class ScriptedEndpoint : public TokenEndpoint {
public:
    ScriptedEndpoint() : TokenEndpoint("https://localhost/token", OAuthClient{"id", ""}) {}
    TokenResult refresh(const std::string& refreshToken) override
    {
        presented.push_back(refreshToken);
        TokenResult result;
        if (!answers.empty()) {
            result = answers.front();
            answers.pop_front();
        }
        return result;
    }
    void answer(TokenOutcome outcome, const char* access = "", const char* refresh = "", long expires = 3600)
    {
        TokenResult result;
        result.outcome = outcome;
        result.tokens.accessToken = access;
        result.tokens.refreshToken = refresh;
        result.tokens.expiresInSeconds = expires;
        result.error = outcome == TokenOutcome::InvalidGrant ? "invalid_grant" : "";
        answers.push_back(result);
    }
    std::deque<TokenResult> answers;
    std::vector<std::string> presented;
};

} // namespace mailtest
