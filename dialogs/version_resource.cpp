#include "dialogs/version_resource.h"

#include <windows.h>

#include "util/text_record.h"

VersionResource::VersionResource(const char* path)
{
    if (path == nullptr)
        return;
    TextRecord file;
    file.assign(path);
    file.toWide();
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeW(file.wide, &unused);
    if (size == 0)
        return;
    block.resize(size);
    if (!GetFileVersionInfoW(file.wide, 0, size, block.data()))
        block.clear();
}

bool VersionResource::productVersion(int* numbers, int count) const
{
    if (block.empty() || numbers == nullptr || count != 4)
        return false;
    void* fixedPart = nullptr;
    UINT length = 0;
    // VerQueryValueW takes a non-const block although it only reads it.
    void* data = const_cast<unsigned char*>(block.data());
    if (!VerQueryValueW(data, L"\\", &fixedPart, &length) || fixedPart == nullptr || length < sizeof(VS_FIXEDFILEINFO))
        return false;
    const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(fixedPart);
    numbers[0] = HIWORD(info->dwProductVersionMS);
    numbers[1] = LOWORD(info->dwProductVersionMS);
    numbers[2] = HIWORD(info->dwProductVersionLS);
    numbers[3] = LOWORD(info->dwProductVersionLS);
    return true;
}
