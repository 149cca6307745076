#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "dialogs/version_resource.h"

namespace {

std::string ownPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string besideOwnPath(const char* name)
{
    std::string path = ownPath();
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

}  // namespace

TEST(VersionResource, ProgramCarriesProductVersion1_0_1_0)
{
    VersionResource version(ownPath().c_str());
    int numbers[4] = {-1, -1, -1, -1};
    ASSERT_TRUE(version.productVersion(numbers, 4));
    EXPECT_EQ(1, numbers[0]);
    EXPECT_EQ(0, numbers[1]);
    EXPECT_EQ(1, numbers[2]);
    EXPECT_EQ(0, numbers[3]);
}

TEST(VersionResource, OnlyFourNumbersCanBeAskedFor)
{
    VersionResource version(ownPath().c_str());
    int numbers[4] = {};
    EXPECT_FALSE(version.productVersion(numbers, 3));
    EXPECT_FALSE(version.productVersion(numbers, 5));
}

TEST(VersionResource, ProgramWithoutVersionBlockHasNoVersion)
{
    std::string stub = besideOwnPath("no_version_stub.exe");
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(stub.c_str())) << stub;
    VersionResource version(stub.c_str());
    int numbers[4] = {};
    EXPECT_FALSE(version.productVersion(numbers, 4));
}

TEST(VersionResource, MissingFileHasNoVersion)
{
    VersionResource version(besideOwnPath("no such file.exe").c_str());
    int numbers[4] = {};
    EXPECT_FALSE(version.productVersion(numbers, 4));
}
