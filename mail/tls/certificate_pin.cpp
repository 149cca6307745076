#include "mail/tls/certificate_pin.h"

#include <cstdio>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "util/decimal_text.h"

namespace {

// The failures that only say no trusted authority vouches for the chain.
bool isUntrustedChain(int error)
{
    return error == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT || error == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN ||
           error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY || error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
           error == X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE || error == X509_V_ERR_CERT_UNTRUSTED;
}

bool namesAHost(X509* certificate)
{
    GENERAL_NAMES* names =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    bool named = false;
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names); ++i) {
        int type = sk_GENERAL_NAME_value(names, i)->type;
        named = named || type == GEN_DNS || type == GEN_IPADD;
    }
    GENERAL_NAMES_free(names);
    return named || X509_NAME_get_index_by_NID(X509_get_subject_name(certificate), NID_commonName, -1) >= 0;
}

void printTime(const ASN1_TIME* time, char (&text)[certificateTextSize])
{
    OwnedBio memory(BIO_new(BIO_s_mem()));
    text[0] = '\0';
    if (memory && ASN1_TIME_print(memory.get(), time)) {
        int length = BIO_read(memory.get(), text, certificateTextSize - 1);
        text[length > 0 ? length : 0] = '\0';
    }
}

// Keeps the server's certificate for the question the user may be asked.
int refuse(PeerVerification* verification, X509* server)
{
    if (verification && server && !verification->refused && X509_up_ref(server) == 1)
        verification->refused.reset(server);
    return 0;
}

} // namespace

CertificatePin parseCertificatePin(const char* text)
{
    CertificatePin pin;
    int count = 0;
    for (const char* cursor = text ? text : ""; *cursor;) {
        if (*cursor == ':') {
            ++cursor;
            continue;
        }
        int high = hexValue(cursor[0]);
        int low = high < 0 ? -1 : hexValue(cursor[1]);
        if (low < 0 || count == sha256Length)
            return CertificatePin();
        pin.digest[count++] = static_cast<unsigned char>(high * 16 + low);
        cursor += 2;
    }
    pin.set = count == sha256Length;
    return pin;
}

void formatSha256(const unsigned char (&digest)[sha256Length], char (&text)[sha256TextSize])
{
    for (int i = 0; i < sha256Length; ++i)
        std::snprintf(text + i * 3, 4, i + 1 < sha256Length ? "%02X:" : "%02X", digest[i]);
}

bool certificateMatchesPin(X509* certificate, const CertificatePin& pin)
{
    unsigned char digest[sha256Length];
    unsigned int length = 0;
    return pin.set && certificate && X509_digest(certificate, EVP_sha256(), digest, &length) == 1 &&
           length == sha256Length && std::memcmp(digest, pin.digest, sha256Length) == 0;
}

bool describeCertificate(X509* certificate, CertificateDetails& details)
{
    unsigned char digest[sha256Length];
    unsigned int length = 0;
    if (!certificate || X509_digest(certificate, EVP_sha256(), digest, &length) != 1 || length != sha256Length)
        return false;
    X509_NAME_oneline(X509_get_subject_name(certificate), details.subject, certificateTextSize);
    X509_NAME_oneline(X509_get_issuer_name(certificate), details.issuer, certificateTextSize);
    printTime(X509_get0_notBefore(certificate), details.notBefore);
    printTime(X509_get0_notAfter(certificate), details.notAfter);
    formatSha256(digest, details.sha256);
    return true;
}

int verifyWithPin(int preverified, X509_STORE_CTX* store)
{
    if (preverified)
        return 1;
    SSL* tls = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* verification = tls ? static_cast<PeerVerification*>(SSL_get_app_data(tls)) : nullptr;
    X509* server = X509_STORE_CTX_get0_cert(store);
    if (!verification || !certificateMatchesPin(server, verification->pin))
        return refuse(verification, server);
    int error = X509_STORE_CTX_get_error(store);
    bool hostless =
        (error == X509_V_ERR_HOSTNAME_MISMATCH || error == X509_V_ERR_IP_ADDRESS_MISMATCH) && !namesAHost(server);
    if (!isUntrustedChain(error) && !hostless)
        return refuse(verification, server);
    // Forgiven: the handshake's verdict must not keep this error.
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}
