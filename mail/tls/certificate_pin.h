#pragma once

#include <memory>

#include "util/holders/openssl_holders.h"

// One server certificate the user chose to trust for one host although no authority vouches
// for it (a self-signed certificate, say), named by the SHA-256 digest of its DER encoding.

const int sha256Length = 32;
// "AB:CD:...": two hex digits per byte, colons between, and the NUL.
const int sha256TextSize = sha256Length * 3;
const int certificateTextSize = 256;

struct CertificatePin {
    unsigned char digest[sha256Length] = {};
    bool set = false;
};

// What the user is shown before trusting a certificate.
struct CertificateDetails {
    char subject[certificateTextSize] = "";
    char issuer[certificateTextSize] = "";
    char notBefore[certificateTextSize] = "";
    char notAfter[certificateTextSize] = "";
    char sha256[sha256TextSize] = "";
};

// What the verification of one connection's handshake knows: the pin, and the server's own
// certificate once verification refused it (the handshake keeps none then).
struct PeerVerification {
    CertificatePin pin;
    OwnedCertificate refused;
};

// Reads "AB:CD:..." (colons optional, either letter case); anything else leaves the pin unset.
CertificatePin parseCertificatePin(const char* text);
void formatSha256(const unsigned char (&digest)[sha256Length], char (&text)[sha256TextSize]);
bool certificateMatchesPin(X509* certificate, const CertificatePin& pin);
bool describeCertificate(X509* certificate, CertificateDetails& details);

// A verification callback for SSL_set_verify, with the connection's PeerVerification as the
// SSL's app data. It keeps the server's certificate when it refuses. With the pin matching the server's own certificate, the missing chain to a
// trusted authority is forgiven, and so is the host-name check when the certificate names no
// host at all; the dates and any host name it does carry are still checked.
int verifyWithPin(int preverified, X509_STORE_CTX* store);
