// Prepares the Wine prefix for sign-in tests, and undoes it:
//   wine_sign_in_setup add CA_PEM BROWSER     trusts CA_PEM in the user's ROOT store (WinHTTP
//                                             verifies through it) and makes BROWSER, a Unix
//                                             path, the program winebrowser starts for URLs
//   wine_sign_in_setup remove CA_PEM          both undone
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char browserKey[] = "Software\\Wine\\WineBrowser";

bool readCertificate(const char* path, std::vector<BYTE>& der)
{
    std::ifstream in(path, std::ios::binary);
    std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr))
        return false;
    der.resize(size);
    return CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                &size, nullptr, nullptr) != 0;
}

bool changeTrust(const char* pemPath, bool add)
{
    std::vector<BYTE> der;
    if (!readCertificate(pemPath, der))
        return false;
    // The user's ROOT store, which chain building reads with the machine's: Wine rewrites the
    // machine's from the host's authorities in a process that opens it, dropping anything else,
    // so a CA added there could vanish before the tests used it.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    if (store == nullptr)
        return false;
    PCCERT_CONTEXT added = nullptr;
    bool done = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                 CERT_STORE_ADD_USE_EXISTING, &added) != 0;
    if (done && !add)
        done = CertDeleteCertificateFromStore(added) != 0; // frees the context
    else if (added != nullptr)
        CertFreeCertificateContext(added);
    CertCloseStore(store, 0);
    return done;
}

bool setBrowser(const char* browser)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, browserKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG result = browser != nullptr
                      ? RegSetValueExA(key, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(browser),
                                       static_cast<DWORD>(std::strlen(browser) + 1))
                      : RegDeleteValueA(key, "Browsers");
    RegCloseKey(key);
    return result == ERROR_SUCCESS || (browser == nullptr && result == ERROR_FILE_NOT_FOUND);
}

} // namespace

int main(int argc, char** argv)
{
    bool add = argc == 4 && std::strcmp(argv[1], "add") == 0;
    bool remove = argc == 3 && std::strcmp(argv[1], "remove") == 0;
    if (!add && !remove) {
        std::fprintf(stderr, "usage: wine_sign_in_setup add CA_PEM BROWSER | remove CA_PEM\n");
        return 2;
    }
    if (!changeTrust(argv[2], add) || !setBrowser(add ? argv[3] : nullptr)) {
        std::fprintf(stderr, "wine_sign_in_setup: %s failed (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    return 0;
}
