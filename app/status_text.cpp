#include "app/status_text.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "util/copy_bounded.h"

namespace {

// The fixed text the window shows for a failure; null for Checking and Ok, which show the
// counts instead.
const char* checkStatusText(CheckStatus status)
{
    switch (status) {
    case CheckStatus::HostNotFound:
        return "Hostname not found";
    case CheckStatus::BadLogin:
        return "Bad username/password";
    case CheckStatus::ListFailed:
        return "Listing failed";
    case CheckStatus::BadCertificate:
        return "Certificate not trusted";
    case CheckStatus::NoResponse:
        return "Server not responding";
    case CheckStatus::NoStartTls:
        return "Server does not offer STARTTLS";
    case CheckStatus::SignInAgain:
        return "Sign in again";
    case CheckStatus::SignInUnreachable:
        return "Sign-in server not reachable";
    case CheckStatus::NoSignIn:
        return "No secure sign-in offered";
    case CheckStatus::NotSignInServer:
        return "Server not of this sign-in";
    case CheckStatus::ServerBusy:
        return "Server busy";
    case CheckStatus::TlsFailed:
        return "Secure connection failed";
    case CheckStatus::Checking:
    case CheckStatus::Ok:
        break;
    }
    return nullptr;
}

} // namespace

int formatStatusText(const CheckSnapshot& shown, char* text, int size)
{
    if (size <= 0)
        return countsWindowWidth;
    const char* failure = checkStatusText(shown.status);
    if (failure) {
        copyBounded(text, static_cast<size_t>(size), failure);
        return failureWindowWidth;
    }
    snprintf(text, static_cast<size_t>(size), "%d / %d", shown.unseenCount, shown.totalCount);
    return countsWindowWidth;
}

void formatSpokenStatus(const CheckSnapshot& shown, char* text, int size)
{
    if (size <= 0)
        return;
    const char* failure = checkStatusText(shown.status);
    if (failure) {
        copyBounded(text, static_cast<size_t>(size), failure);
        return;
    }
    snprintf(text, static_cast<size_t>(size), "%d unseen of %d %s", shown.unseenCount, shown.totalCount,
             shown.totalCount == 1 ? "message" : "messages");
}

void formatBalloonText(const CheckSnapshot& shown, char* title, int titleSize, char* text, int textSize)
{
    snprintf(title, static_cast<size_t>(titleSize), "%d new %s", shown.unseenCount,
             shown.unseenCount == 1 ? "message" : "messages");
    snprintf(text, static_cast<size_t>(textSize), "%d %s in the mailbox", shown.totalCount,
             shown.totalCount == 1 ? "message" : "messages");
}

bool isFailureStatus(CheckStatus status)
{
    return checkStatusText(status) != nullptr;
}

CheckSnapshot sumAccounts(const std::vector<AccountStatus>& accounts)
{
    CheckSnapshot sum;
    bool anyCounted = false;
    for (const AccountStatus& account : accounts) {
        sum.freshMail += account.shown.freshMail;
        if (isFailureStatus(account.shown.status))
            continue;
        anyCounted = true;
        sum.unseenCount += account.shown.unseenCount;
        sum.totalCount += account.shown.totalCount;
    }
    if (!anyCounted && !accounts.empty())
        sum.status = accounts[0].shown.status;
    return sum;
}

namespace {

// The mark after the counts that says an account failed; its status is in the words.
const char failedAccountMark[] = " !";

} // namespace

int formatAccountsStatusText(const std::vector<AccountStatus>& accounts, char* text, int size)
{
    CheckSnapshot sum = sumAccounts(accounts);
    int width = formatStatusText(sum, text, size);
    bool oneFailed = std::any_of(accounts.begin(), accounts.end(),
                                 [](const AccountStatus& account) { return isFailureStatus(account.shown.status); });
    if (oneFailed && !isFailureStatus(sum.status)) {
        std::string marked = std::string(text) + failedAccountMark;
        copyBounded(text, static_cast<size_t>(size), marked.c_str());
    }
    return width;
}

void formatAccountsSpoken(const std::vector<AccountStatus>& accounts, char* text, int size)
{
    std::string words;
    for (const AccountStatus& account : accounts) {
        if (!words.empty())
            words += ", ";
        words += account.name;
        const char* failure = checkStatusText(account.shown.status);
        char part[spokenTextSize];
        if (failure)
            snprintf(part, sizeof part, ": %s", failure);
        else
            snprintf(part, sizeof part, " %d of %d", account.shown.unseenCount, account.shown.totalCount);
        words += part;
    }
    copyBounded(text, static_cast<size_t>(size), words.c_str());
}

void formatAccountsBalloonText(const std::vector<AccountStatus>& accounts, char* title, int titleSize, char* text,
                               int textSize)
{
    formatBalloonText(sumAccounts(accounts), title, titleSize, text, textSize);
    std::string named;
    int newCount = 0;
    for (const AccountStatus& account : accounts) {
        if (account.shown.unseenCount <= 0 || isFailureStatus(account.shown.status))
            continue;
        char part[spokenTextSize];
        snprintf(part, sizeof part, "%s%s %d", named.empty() ? "" : ", ", account.name, account.shown.unseenCount);
        named += part;
        newCount += account.shown.unseenCount;
    }
    snprintf(text, static_cast<size_t>(textSize), "%d new: %s", newCount, named.c_str());
}
