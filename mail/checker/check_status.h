#pragma once

// The outcome of the last check cycle. The numbers are fixed: the window and the tests compare
// them. The window words them itself (app/status_text.cpp).
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
    NotSignInServer = -10,  // the server is not one of the sign-in's provider: no token goes there
    ServerBusy = -11,       // the mail server or the token endpoint said to try again later
    TlsFailed = -12,        // the server was reached, but no secure connection came of it
};
