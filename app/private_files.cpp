#include "app/private_files.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "util/holders/win32_holders.h"

namespace {

// Rights that change what a folder holds or what a file says, or who may. (FILE_ADD_FILE and
// FILE_ADD_SUBDIRECTORY are the bits of FILE_WRITE_DATA and FILE_APPEND_DATA.)
const ACCESS_MASK changeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// NT SERVICE\TrustedInstaller, which owns the system's own files.
const char installerServiceSid[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool isInstallerService(PSID sid)
{
    PSID installer = nullptr;
    if (!ConvertStringSidToSidA(installerServiceSid, &installer))
        return false;
    OwnedLocalMemory held(installer);
    return EqualSid(sid, installer) != FALSE;
}

bool isUserOrAllPowerful(PSID sid, PSID user)
{
    return EqualSid(sid, user) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || isInstallerService(sid);
}

// In an entry: those, or a stand-in for the owner, who is one of them once checked.
bool isTrusted(PSID sid, PSID user)
{
    return isUserOrAllPowerful(sid, user) || IsWellKnownSid(sid, WinCreatorOwnerSid) ||
           IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
}

// The SID of an entry that allows rights; null for any other kind of entry.
PSID allowedSid(const ACE_HEADER* header)
{
    // A conditional entry is laid out as a plain one, with its condition after the SID.
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
        return const_cast<DWORD*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart);
    return nullptr;
}

bool grantsChangeToOthers(const ACL* list, PSID user)
{
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(const_cast<ACL*>(list), i, &entry))
            return true;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        PSID sid = allowedSid(header);
        // An entry only for what is created inside applies to this object not at all.
        if (sid == nullptr || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        ACCESS_MASK rights = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
        if ((rights & changeRights) != 0 && !isTrusted(sid, user))
            return true;
    }
    return false;
}

// A volume without rights: nothing on it is anyone's more than another's.
bool keepsNoRights(const wchar_t* path)
{
    wchar_t root[MAX_PATH];
    DWORD flags = 0;
    return GetVolumePathNameW(path, root, MAX_PATH) &&
           GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           !(flags & FILE_PERSISTENT_ACLS);
}

// The user this process runs as, in `buffer`; null when the token cannot be read.
PSID currentUser(std::vector<BYTE>& buffer)
{
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened))
        return nullptr;
    OwnedHandle token(opened);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return nullptr;
    return reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
}

} // namespace

bool onlyUserMayChange(PSECURITY_DESCRIPTOR descriptor, PSID user)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr ||
        !isUserOrAllPowerful(owner, user))
        return false;
    BOOL present = FALSE;
    PACL list = nullptr;
    // No access list at all lets everyone do everything.
    if (!GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) || !present || list == nullptr)
        return false;
    return !grantsChangeToOthers(list, user);
}

bool onlyUserMayChange(const wchar_t* path)
{
    if (keepsNoRights(path))
        return true;
    std::vector<BYTE> userBuffer;
    PSID user = currentUser(userBuffer);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (user == nullptr ||
        GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    OwnedLocalMemory held(descriptor);
    return onlyUserMayChange(descriptor, user);
}
