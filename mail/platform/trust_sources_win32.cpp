// wincrypt.h defines names such as X509_NAME that OpenSSL also uses; OpenSSL's headers undo
// them when they come second.
#include <windows.h>
#include <wincrypt.h>

#include "mail/platform/trust_sources.h"

#include <openssl/x509.h>

// OpenSSL 3.0 cannot read the Windows store itself: each root is copied in as DER.
const char* addPlatformRoots(X509_STORE*, PlatformRootSink take, void* context)
{
    HCERTSTORE roots = CertOpenSystemStoreA(0, "ROOT");
    if (roots == nullptr)
        return nullptr;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(roots, certificate)) != nullptr) {
        const unsigned char* der = certificate->pbCertEncoded;
        X509* parsed = d2i_X509(nullptr, &der, static_cast<long>(certificate->cbCertEncoded));
        if (parsed != nullptr) {
            take(parsed, context); // a duplicate is harmless
            X509_free(parsed);
        }
    }
    CertCloseStore(roots, 0);
    return nullptr;
}
