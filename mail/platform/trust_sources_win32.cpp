// wincrypt.h defines names such as X509_NAME that OpenSSL also uses; OpenSSL's headers undo
// them when they come second.
#include <windows.h>
#include <wincrypt.h>

#include "mail/platform/trust_sources.h"
#include "mail/trust_index.h"

#include <openssl/x509.h>

namespace {

// `wide` as UTF-8 with a trailing separator; false when it does not fit `size`.
bool utf8Folder(const wchar_t* wide, char* buffer, size_t size)
{
    if (size < 2)
        return false;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, static_cast<int>(size - 1), nullptr, nullptr);
    if (bytes < 2)
        return false; // none, or cut short
    if (buffer[bytes - 2] != '\\' && buffer[bytes - 2] != '/') {
        buffer[bytes - 1] = '\\';
        buffer[bytes] = '\0';
    }
    return true;
}

} // namespace

// Both folders as UTF-8, which the program's file calls take, so that a folder named outside
// the ANSI code page is still found.
bool executableFolder(char* buffer, size_t size)
{
    wchar_t wide[maxExecutablePath];
    DWORD length = GetModuleFileNameW(nullptr, wide, maxExecutablePath);
    if (length == 0 || length >= maxExecutablePath)
        return false; // none, or cut short
    while (length > 0 && wide[length - 1] != L'\\' && wide[length - 1] != L'/')
        --length;
    if (length == 0)
        return false;
    wide[length] = L'\0';
    return utf8Folder(wide, buffer, size);
}

bool workingFolder(char* buffer, size_t size)
{
    wchar_t wide[maxExecutablePath];
    DWORD length = GetCurrentDirectoryW(maxExecutablePath, wide);
    if (length == 0 || length >= maxExecutablePath)
        return false; // none, or cut short
    return utf8Folder(wide, buffer, size);
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
