#pragma once

#include <vector>

// Reads the version block of an executable file, named in UTF-8. The block is copied once at
// construction and released with the object.
class VersionResource {
public:
    explicit VersionResource(const char* path);

    // The product version's four numbers (major, minor, build, revision); false when the file
    // has no version block, the block has no fixed part, or count is not 4.
    bool productVersion(int* numbers, int count) const;

private:
    std::vector<unsigned char> block;
};
