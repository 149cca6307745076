#include "mail/sign_in/device_sign_in.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "mail/sign_in/oauth_request.h"
#include "mail/sign_in/sasl_oauth.h"

namespace {

using Json = nlohmann::json;
using Seconds = std::chrono::seconds;

const char deviceCodeGrant[] = "urn:ietf:params:oauth:grant-type:device_code";
const size_t maxUserCodeLength = 64;
const size_t maxUriLength = 2048;
const size_t maxMessageLength = 1024;
const size_t maxErrorLength = 128;
const int httpOk = 200;

std::string text(const Json& object, const char* name, size_t maxLength)
{
    auto found = object.find(name);
    if (found == object.end() || !found->is_string() || found->get_ref<const std::string&>().size() > maxLength)
        return std::string();
    return found->get_ref<const std::string&>();
}

bool has(const Json& object, const char* name)
{
    return object.find(name) != object.end();
}

// A whole number of seconds, sent as a number or as a text of digits; 0 when missing or not a
// positive number.
long seconds(const Json& object, const char* name)
{
    auto found = object.find(name);
    if (found == object.end())
        return 0;
    if (found->is_number_integer())
        return std::max(0L, static_cast<long>(std::min(found->get<long long>(), 1LL << 30)));
    const std::string digits = found->is_string() ? found->get<std::string>() : std::string();
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stol(digits);
}

bool isPrintable(const std::string& text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

void addField(std::string& form, const char* name, const std::string& value)
{
    if (!form.empty())
        form += '&';
    form += name;
    form += '=';
    form += percentEncode(value);
}

bool isTransient(HttpsError transport)
{
    return transport == HttpsError::Unreachable || transport == HttpsError::TimedOut;
}

} // namespace

DeviceCodeReplyKind parseDeviceCodeReply(int httpStatus, const std::string& body, DeviceCode& code, std::string& error)
{
    code = DeviceCode();
    error.clear();
    Json object = body.size() <= HttpsPoster::maxBodyBytes ? Json::parse(body, nullptr, false) : Json();
    if (!object.is_object())
        return DeviceCodeReplyKind::Unusable;
    if (has(object, "error")) {
        error = text(object, "error", maxErrorLength);
        return error.empty() ? DeviceCodeReplyKind::Unusable : DeviceCodeReplyKind::Refused;
    }
    code.deviceCode = text(object, "device_code", maxTokenLength);
    code.userCode = text(object, "user_code", maxUserCodeLength);
    // Older endpoints spell it verification_url.
    code.verificationUri =
        text(object, has(object, "verification_uri") ? "verification_uri" : "verification_url", maxUriLength);
    code.message = text(object, "message", maxMessageLength);
    if (!isPrintable(code.message))
        code.message.clear();
    code.expiresInSeconds = std::min(seconds(object, "expires_in"), DeviceSignIn::maxExpirySeconds);
    long interval = seconds(object, "interval");
    if (interval == 0)
        interval = DeviceSignIn::defaultIntervalSeconds;
    code.intervalSeconds = static_cast<int>(std::clamp(interval, static_cast<long>(DeviceSignIn::minIntervalSeconds),
                                                       static_cast<long>(DeviceSignIn::maxIntervalSeconds)));
    HttpsUrl uri;
    bool usable = httpStatus == httpOk && isSendableToken(code.deviceCode) && isSendableToken(code.userCode) &&
                  parseHttpsUrl(code.verificationUri, uri) && code.expiresInSeconds > 0;
    if (!usable)
        code = DeviceCode();
    return usable ? DeviceCodeReplyKind::Code : DeviceCodeReplyKind::Unusable;
}

DeviceSignIn::DeviceSignIn(const std::string& deviceAuthorizationUrl, const std::string& tokenEndpointUrl,
                           const std::string& signInScope, const OAuthClient& signInClient)
    : now([] { return Clock::now(); }), pause([this](Clock::duration duration) { waitUnlessAborted(duration); }),
      deviceUrl(deviceAuthorizationUrl), tokenUrl(tokenEndpointUrl), scope(signInScope), client(signInClient)
{
}

void DeviceSignIn::abort()
{
    {
        std::lock_guard<std::mutex> hold(lock);
        aborted.store(true);
    }
    woken.notify_all();
    poster.abort();
}

void DeviceSignIn::waitUnlessAborted(Clock::duration duration)
{
    std::unique_lock<std::mutex> hold(lock);
    woken.wait_for(hold, duration, [this] { return aborted.load(); });
}

DeviceSignIn::Result DeviceSignIn::requestCode(DeviceCode& code)
{
    Result result;
    code = DeviceCode();
    issued = DeviceCode();
    std::string form;
    addField(form, "client_id", client.id);
    addField(form, "scope", scope);
    HttpsReply reply;
    result.transport = aborted.load() ? HttpsError::Aborted : poster.postForm(deviceUrl, form, reply);
    if (result.transport != HttpsError::None) {
        result.outcome = result.transport == HttpsError::Aborted ? Outcome::Aborted : Outcome::Failed;
        return result;
    }
    switch (parseDeviceCodeReply(reply.status, reply.body, issued, result.error)) {
    case DeviceCodeReplyKind::Code:
        result.outcome = Outcome::CodeReady;
        deadline = now() + Seconds(issued.expiresInSeconds);
        code = issued;
        code.deviceCode.clear(); // for the polls alone
        break;
    case DeviceCodeReplyKind::Refused:
        result.outcome = Outcome::Refused;
        break;
    case DeviceCodeReplyKind::Unusable:
        result.outcome = Outcome::Failed;
        result.transport = HttpsError::BadReply;
        break;
    }
    return result;
}

DeviceSignIn::Result DeviceSignIn::waitForTokens()
{
    Result ended;
    if (issued.deviceCode.empty())
        return ended;
    Clock::duration interval = Seconds(issued.intervalSeconds);
    int failedInARow = 0;
    for (int polls = 0; polls < maxPolls && !aborted.load(); ++polls) {
        Clock::time_point at = now();
        if (at + interval >= deadline) {
            // No poll after the code's end: wait it out so that the user sees it end on time.
            if (at < deadline)
                pause(deadline - at);
            break;
        }
        pause(interval);
        if (aborted.load())
            break;
        Result result;
        switch (poll(result)) {
        case Poll::Pending:
            failedInARow = 0;
            break;
        case Poll::SlowDown:
            failedInARow = 0;
            interval = std::min<Clock::duration>(interval + Seconds(slowDownSeconds), Seconds(maxIntervalSeconds));
            break;
        case Poll::NoAnswer:
            // RFC 8628 section 3.5: poll less often after a time-out.
            if (++failedInARow >= maxFailedPolls)
                return result;
            interval = std::min<Clock::duration>(interval * 2, Seconds(maxIntervalSeconds));
            break;
        case Poll::Tokens:
        case Poll::Ended:
            return result;
        }
    }
    ended.outcome = aborted.load() ? Outcome::Aborted : Outcome::Expired;
    return ended;
}

DeviceSignIn::Poll DeviceSignIn::poll(Result& result)
{
    std::string form;
    addField(form, "grant_type", deviceCodeGrant);
    addField(form, "device_code", issued.deviceCode);
    addField(form, "client_id", client.id);
    HttpsReply reply;
    result.transport = poster.postForm(tokenUrl, form, reply);
    result.outcome = Outcome::Failed;
    if (result.transport != HttpsError::None) {
        if (result.transport == HttpsError::Aborted)
            result.outcome = Outcome::Aborted;
        return isTransient(result.transport) ? Poll::NoAnswer : Poll::Ended;
    }
    TokenResult parsed;
    TokenOutcome kind = parseTokenReply(reply.status, reply.body, parsed);
    parsed.tokens.received = std::chrono::steady_clock::now();
    result.tokens = parsed.tokens;
    result.error = parsed.error;
    const std::string& error = result.error;
    if (kind == TokenOutcome::Tokens) {
        result.outcome = Outcome::SignedIn;
        return Poll::Tokens;
    }
    if (error == "authorization_pending")
        return Poll::Pending;
    if (error == "slow_down")
        return Poll::SlowDown;
    if (kind == TokenOutcome::Unusable || kind == TokenOutcome::Temporary)
        return Poll::NoAnswer;
    if (error == "expired_token")
        result.outcome = Outcome::Expired;
    else if (error == "access_denied" || error == "authorization_declined") // the latter Microsoft's
        result.outcome = Outcome::Denied;
    else
        result.outcome = Outcome::Refused;
    return Poll::Ended;
}
