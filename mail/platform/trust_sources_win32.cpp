// wincrypt.h defines names such as X509_NAME that OpenSSL also uses; OpenSSL's headers undo
// them when they come second.
#include <windows.h>
#include <wincrypt.h>

#include "mail/platform/trust_sources.h"
#include "mail/trust_index.h"

#include <openssl/x509.h>

bool executableFolder(char* buffer, size_t size)
{
    DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
    if (length == 0 || length >= size)
        return false; // none, or cut short
    for (DWORD i = length; i > 0; --i) {
        if (buffer[i - 1] == '\\' || buffer[i - 1] == '/') {
            buffer[i] = '\0';
            return true;
        }
    }
    return false;
}

// As UTF-8, which OpenSSL's file functions take on Windows, so that a folder named outside
// the ANSI code page is still found.
bool workingFolder(char* buffer, size_t size)
{
    wchar_t wide[maxExecutablePath];
    DWORD length = GetCurrentDirectoryW(maxExecutablePath, wide);
    if (length == 0 || length >= maxExecutablePath || size < 2)
        return false; // none, or cut short
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, static_cast<int>(size - 1), nullptr, nullptr);
    if (bytes < 2)
        return false; // cut short
    if (buffer[bytes - 2] != '\\' && buffer[bytes - 2] != '/') {
        buffer[bytes - 1] = '\\';
        buffer[bytes] = '\0';
    }
    return true;
}

// OpenSSL 3.0 cannot read the Windows store itself: each root is copied in as DER.
void addPlatformRoots(TrustIndex& index, X509_STORE*)
{
    HCERTSTORE roots = CertOpenSystemStoreA(0, "ROOT");
    if (roots == nullptr)
        return;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(roots, certificate)) != nullptr) {
        const unsigned char* der = certificate->pbCertEncoded;
        X509* parsed = d2i_X509(nullptr, &der, static_cast<long>(certificate->cbCertEncoded));
        if (parsed != nullptr) {
            index.add(parsed); // a duplicate is harmless
            X509_free(parsed);
        }
    }
    CertCloseStore(roots, 0);
}
