#include "tests/support/temp_directory.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>

namespace testbench {

namespace {

const int kCreateAttempts = 20;

std::string uniqueName()
{
    static std::atomic<unsigned> counter{0};
    static std::mt19937 random(
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count() ^ std::random_device{}()));
    static std::atomic_flag randomBusy = ATOMIC_FLAG_INIT;
    while (randomBusy.test_and_set()) {
    }
    unsigned noise = random();
    randomBusy.clear();
    return "pellwick-test-" + std::to_string(noise) + "-" + std::to_string(counter++);
}

} // namespace

TempDirectory::TempDirectory()
{
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
        return;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::filesystem::path candidate = base / uniqueName();
        // create_directory reports false when the name is already taken: try another.
        if (std::filesystem::create_directory(candidate, error) && !error) {
            directory = candidate.string();
            return;
        }
    }
}

TempDirectory::~TempDirectory()
{
    if (directory.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(directory, error);
}

} // namespace testbench
