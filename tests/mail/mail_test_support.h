#pragma once

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "mail/uid_list.h"
#include "tests/support/temp_directory.h"

namespace mailtest {

// Makes `caFile` the process's trusted "cacert.pem" by running in a temporary working
// directory that holds it. Construct the Connection afterwards: it loads the file then.
class TrustedCaDirectory {
public:
    explicit TrustedCaDirectory(const std::string& caFile)
    {
        std::error_code ignored;
        previous = std::filesystem::current_path(ignored);
        std::filesystem::path trust = std::filesystem::path(directory.path()) / "cacert.pem";
        if (!caFile.empty())
            ready = std::filesystem::copy_file(caFile, trust, ignored);
        else
            ready = true;  // an empty working directory: nothing trusted
        std::filesystem::current_path(directory.path(), ignored);
        ready = ready && !ignored;
    }
    ~TrustedCaDirectory()
    {
        std::error_code ignored;
        std::filesystem::current_path(previous, ignored);
    }
    bool isReady() const { return ready; }

private:
    testbench::TempDirectory directory;
    std::filesystem::path previous;
    bool ready = false;
};

inline std::multiset<std::string> idsOf(const UidList& list)
{
    std::multiset<std::string> ids;
    for (const UidList::Node* node = list.head(); node != nullptr; node = node->next)
        ids.insert(node->id.text != nullptr ? node->id.text : "<absent>");
    return ids;
}

class Stopwatch {
public:
    double seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

private:
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

}  // namespace mailtest
