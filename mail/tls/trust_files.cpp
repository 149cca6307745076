#include "mail/tls/trust_files.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "mail/platform/executable_folder.h"
#include "mail/tls/trust_index.h"

namespace {

struct FixedTrustSources {
    std::mutex lock;
    bool fixed = false;            // guarded by lock
    std::string workingFolderFile; // guarded by lock
    std::string userFile;          // guarded by lock
};

FixedTrustSources& fixedTrustSources()
{
    static FixedTrustSources sources;
    return sources;
}

// "cacert.pem" in `folder` (with its trailing separator); false when it does not fit.
bool trustFileIn(char (&path)[maxTrustFilePath], const char* folder)
{
    if (std::strlen(folder) + sizeof trustFileName > sizeof path)
        return false;
    std::strcpy(path, folder);
    std::strcat(path, trustFileName);
    return true;
}

} // namespace

void fixTrustSources(const char* userFile)
{
    char workingFile[maxTrustFilePath];
    workingFolderTrustFile(workingFile);
    FixedTrustSources& sources = fixedTrustSources();
    std::lock_guard<std::mutex> hold(sources.lock);
    sources.fixed = true;
    sources.workingFolderFile = workingFile;
    sources.userFile = userFile != nullptr ? userFile : "";
}

void workingFolderTrustFile(char (&path)[maxTrustFilePath])
{
    char folder[maxTrustFilePath];
    if (!workingFolder(folder, sizeof folder) || !trustFileIn(path, folder))
        path[0] = '\0';
}

std::vector<std::string> trustFilesOf(const char* constructionFile)
{
    std::string workingFile = constructionFile;
    std::string userFile;
    {
        FixedTrustSources& sources = fixedTrustSources();
        std::lock_guard<std::mutex> hold(sources.lock);
        if (sources.fixed) {
            workingFile = sources.workingFolderFile;
            userFile = sources.userFile;
        }
    }
    // Started from its own folder (as the installer's shortcut does), the program finds one
    // file in both places: a second reading would only add duplicates.
    char folder[maxExecutablePath];
    char besideProgram[maxTrustFilePath];
    if (!executableFolder(folder, sizeof folder) || !trustFileIn(besideProgram, folder))
        besideProgram[0] = '\0';
    std::vector<std::string> files;
    if (!workingFile.empty())
        files.push_back(workingFile);
    if (besideProgram[0] != '\0' && workingFile != besideProgram)
        files.push_back(besideProgram);
    if (!userFile.empty())
        files.push_back(userFile);
    return files;
}

void addTrustFiles(TrustIndex& index, const std::vector<std::string>& files)
{
    for (const std::string& file : files)
        index.addPemFile(file.c_str());
}
