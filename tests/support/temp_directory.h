// A fresh private folder for one test, removed with everything in it when the holder dies.
#pragma once

#include <string>

namespace testbench {

class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // Empty when no folder could be made.
    const std::string& path() const { return directory; }

private:
    std::string directory;
};

} // namespace testbench
