#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

#include "dialogs/version_resource.h"

namespace {

std::string ownPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

// A program built beside this test (see CMakeLists.txt).
std::string besideOwnPath(const char* name)
{
    std::string path = ownPath();
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

struct Version {
    bool found;
    int numbers[4];
};

Version productVersionOf(const std::string& path)
{
    Version version = {false, {-1, -1, -1, -1}};
    VersionResource reader(path.c_str());
    version.found = reader.productVersion(version.numbers, 4);
    return version;
}

} // namespace

TEST(VersionResource, ProgramReportsProductVersion1_0_1_0)
{
    Version version = productVersionOf(ownPath());
    ASSERT_TRUE(version.found);
    EXPECT_EQ(1, version.numbers[0]);
    EXPECT_EQ(0, version.numbers[1]);
    EXPECT_EQ(1, version.numbers[2]);
    EXPECT_EQ(0, version.numbers[3]);
}

TEST(VersionResource, ProductVersionIsReportedNotTheFileVersion)
{
    std::string stub = besideOwnPath("versioned_stub.exe");
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(stub.c_str())) << stub;
    Version version = productVersionOf(stub);
    ASSERT_TRUE(version.found);
    EXPECT_EQ(2, version.numbers[0]);
    EXPECT_EQ(5, version.numbers[1]);
    EXPECT_EQ(7, version.numbers[2]);
    EXPECT_EQ(9, version.numbers[3]);

    // The path is UTF-8: a copy in a folder named outside the ANSI code page reads the same.
    const wchar_t folder[] = L"pellwick-\u03A9\u7248", copy[] = L"pellwick-\u03A9\u7248\\stub.exe";
    CreateDirectoryW(folder, nullptr);
    ASSERT_TRUE(CopyFileW(std::wstring(stub.begin(), stub.end()).c_str(), copy, FALSE));
    Version copied = productVersionOf("pellwick-\xCE\xA9\xE7\x89\x88\\stub.exe");
    DeleteFileW(copy);
    RemoveDirectoryW(folder);
    EXPECT_TRUE(copied.found && std::equal(copied.numbers, copied.numbers + 4, version.numbers));
}

TEST(VersionResource, OnlyFourNumbersCanBeAskedFor)
{
    VersionResource version(ownPath().c_str());
    int numbers[5] = {-1, -1, -1, -1, -1};
    EXPECT_FALSE(version.productVersion(numbers, 3));
    EXPECT_FALSE(version.productVersion(numbers, 5));
    EXPECT_FALSE(version.productVersion(numbers, 0));
    EXPECT_FALSE(version.productVersion(nullptr, 4));
    EXPECT_EQ(-1, numbers[0]) << "a refused question leaves the numbers alone";
    EXPECT_TRUE(version.productVersion(numbers, 4)) << "the block is still there";
}

TEST(VersionResource, ProgramWithoutVersionBlockHasNoVersion)
{
    std::string stub = besideOwnPath("no_version_stub.exe");
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(stub.c_str())) << stub;
    EXPECT_FALSE(productVersionOf(stub).found);
}

TEST(VersionResource, MissingFileHasNoVersion)
{
    EXPECT_FALSE(productVersionOf(besideOwnPath("no such file.exe")).found);
    VersionResource noPath(nullptr);
    int numbers[4] = {};
    EXPECT_FALSE(noPath.productVersion(numbers, 4));
}
