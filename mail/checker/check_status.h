#pragma once

// The outcome of the last check cycle, as the window shows it. The numbers are fixed: the
// window and the tests compare them.
enum class CheckStatus : int {
    Checking = 1,           // a cycle is running; never reported on its own
    Ok = 0,                 // connected, logged in, listing complete
    HostNotFound = -1,      // no POP3 server reached (name, connection, TLS, greeting)
    BadLogin = -2,          // USER or PASS refused
    ListFailed = -3,        // UIDL refused or the listing cut short; the last counts stay
    BadCertificate = -4,    // the server's certificate is not trusted or not for this host
    NoResponse = -5,        // the server stopped answering within the time limit
    NoStartTls = -6,        // a STARTTLS account's server does not offer STLS, or refused it
    SignInAgain = -7,       // the provider refused the refresh token, or there is none
    SignInUnreachable = -8, // the provider's token endpoint could not be asked
    NoSignIn = -9,          // no token login over this connection: not TLS, or not offered
};

// The fixed text the window shows for a failure; null for Checking and Ok, which show the
// counts instead.
inline const char* checkStatusText(CheckStatus status)
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
    case CheckStatus::Checking:
    case CheckStatus::Ok:
        break;
    }
    return nullptr;
}
