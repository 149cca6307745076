#include "app/status_text.h"

#include <cstdio>

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
