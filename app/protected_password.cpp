#include "app/protected_password.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <string>

#include "util/holders/win32_holders.h"

namespace {

const char entropyPrefix[] = "pellwick:";
const char cryptographyKey[] = "SOFTWARE\\Microsoft\\Cryptography";
const int machineIdSize = 64;

// The account alone keys the platform's protection, and Wine keys it by the user name only:
// the machine's identity as extra entropy keeps a copied file from opening elsewhere.
std::string entropyFor(const char* machineId)
{
    return std::string(entropyPrefix) + machineId;
}

std::string thisMachineId()
{
    char id[machineIdSize] = "";
    DWORD size = sizeof id;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, cryptographyKey, "MachineGuid", RRF_RT_REG_SZ, nullptr, id, &size) !=
        ERROR_SUCCESS)
        id[0] = '\0';
    return id;
}

DATA_BLOB blobOf(const std::string& text)
{
    DATA_BLOB blob;
    blob.cbData = static_cast<DWORD>(text.size());
    blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(text.data()));
    return blob;
}

bool toBase64(const DATA_BLOB& binary, std::string& text)
{
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD length = 0;
    if (!CryptBinaryToStringA(binary.pbData, binary.cbData, flags, nullptr, &length))
        return false;
    text.assign(length, '\0');
    if (!CryptBinaryToStringA(binary.pbData, binary.cbData, flags, &text[0], &length))
        return false;
    text.resize(length);
    return true;
}

bool fromBase64(const char* text, std::string& binary)
{
    DWORD length = 0;
    if (!CryptStringToBinaryA(text, 0, CRYPT_STRING_BASE64, nullptr, &length, nullptr, nullptr))
        return false;
    binary.assign(length, '\0');
    return CryptStringToBinaryA(text, 0, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(&binary[0]), &length, nullptr,
                                nullptr) != FALSE;
}

} // namespace

bool protectPasswordFor(const char* machineId, const char* plain, TextRecord& stored)
{
    stored.assign("");
    std::string clear(plain ? plain : "");
    std::string entropyText = entropyFor(machineId);
    DATA_BLOB input = blobOf(clear);
    DATA_BLOB entropy = blobOf(entropyText);
    OwnedDataBlob output;
    bool protectedOk =
        CryptProtectData(&input, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &output.blob) != FALSE;
    SecureZeroMemory(&clear[0], clear.size());
    std::string encoded;
    if (!protectedOk || !toBase64(output.blob, encoded))
        return false;
    stored.assign((protectedPasswordPrefix + encoded).c_str());
    return true;
}

bool protectPassword(const char* plain, TextRecord& stored)
{
    return protectPasswordFor(thisMachineId().c_str(), plain, stored);
}

StoredPassword revealPassword(const char* stored, TextRecord& plain)
{
    const size_t prefixLength = sizeof protectedPasswordPrefix - 1;
    if (!stored || strncmp(stored, protectedPasswordPrefix, prefixLength) != 0) {
        plain.assign(stored ? stored : "");
        return StoredPassword::Plain;
    }
    plain.assign("");
    std::string binary;
    if (!fromBase64(stored + prefixLength, binary))
        return StoredPassword::Unreadable;
    std::string entropyText = entropyFor(thisMachineId().c_str());
    DATA_BLOB input = blobOf(binary);
    DATA_BLOB entropy = blobOf(entropyText);
    OwnedDataBlob output;
    if (!CryptUnprotectData(&input, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &output.blob))
        return StoredPassword::Unreadable;
    plain.assign(reinterpret_cast<const char*>(output.blob.pbData), static_cast<int>(output.blob.cbData));
    return StoredPassword::Protected;
}
