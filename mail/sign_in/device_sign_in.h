#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "mail/sign_in/https_post.h"
#include "mail/sign_in/oauth_provider.h"
#include "mail/sign_in/token_endpoint.h"

// What the device authorization endpoint hands out (RFC 8628 section 3.2): the code the user
// types at the verification URI on any device, and the device code the polls present.
struct DeviceCode {
    std::string deviceCode;
    std::string userCode;
    std::string verificationUri;
    std::string message; // the provider's own instructions; may be empty
    long expiresInSeconds = 0;
    int intervalSeconds = 0;
};

enum class DeviceCodeReplyKind { Code, Refused, Unusable };

// Reads the endpoint's JSON. Code needs status 200, a device code that isSendableToken accepts,
// a user code of printable ASCII, an https verification URI and a positive expires_in (cut to
// DeviceSignIn::maxExpirySeconds); an interval that is missing or unreadable is the default,
// one out of range is brought into it. An OAuth error object is Refused with its code in
// `error`.
DeviceCodeReplyKind parseDeviceCodeReply(int httpStatus, const std::string& body, DeviceCode& code, std::string& error);

// One sign-in by the device authorization grant (RFC 8628), for where a browser cannot reach
// this computer's loopback: asks for a device code, and after the user has typed the user code
// at the verification URI on any device, polls the token endpoint for the tokens.
//
// Bounded in every way: each reply by HttpsPoster's limits, the polls by the code's lifetime
// and by maxPolls, a run of failed polls by maxFailedPolls. Used by one thread; abort() may be
// called from any other and ends a wait between polls at once.
class DeviceSignIn {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int defaultIntervalSeconds = 5; // when the provider names none
    static constexpr int slowDownSeconds = 5;        // added at each slow_down
    static constexpr int minIntervalSeconds = 2;
    static constexpr int maxIntervalSeconds = 60;
    static constexpr long maxExpirySeconds = 30 * 60; // Microsoft's codes live 15 minutes
    static constexpr int maxPolls = maxExpirySeconds / minIntervalSeconds;
    static constexpr int maxFailedPolls = 4; // unanswered polls in a row, each after twice the wait

    enum class Outcome {
        CodeReady, // requestCode: `code` is to be shown to the user
        SignedIn,  // waitForTokens: `tokens` holds them
        Denied,    // the user declined
        Expired,   // the code's lifetime, or maxPolls, ran out first
        Refused,   // the provider refused the client or the request (`error` says how)
        Failed,    // the endpoint could not be reached or answered nonsense (`transport` says which)
        Aborted,
    };
    struct Result {
        Outcome outcome = Outcome::Failed;
        OAuthTokens tokens;
        std::string error; // the provider's error code, for Refused
        HttpsError transport = HttpsError::None;
    };

    DeviceSignIn(const std::string& deviceAuthorizationUrl, const std::string& tokenUrl, const std::string& scope,
                 const OAuthClient& client);

    // Asks for a device code; CodeReady fills `code`.
    Result requestCode(DeviceCode& code);
    // Polls with the code of the last requestCode until the tokens come, the provider ends the
    // sign-in, the code expires or abort() is called.
    Result waitForTokens();
    void abort();

    // The time the polls run on: the steady clock, and a wait that abort() ends at once. Tests
    // set both to step a clock of their own.
    std::function<Clock::time_point()> now;
    std::function<void(Clock::duration)> pause;

private:
    enum class Poll { Tokens, Pending, SlowDown, NoAnswer, Ended };
    Poll poll(Result& result);
    void waitUnlessAborted(Clock::duration duration);

    std::string deviceUrl;
    std::string tokenUrl;
    std::string scope;
    OAuthClient client;
    DeviceCode issued;
    Clock::time_point deadline;
    HttpsPoster poster;
    std::mutex lock;
    std::condition_variable woken;
    std::atomic<bool> aborted{false};
};
