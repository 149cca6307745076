#pragma once

#include <cstddef>
#include <string>
#include <vector>

class TrustIndex;

// The files of trusted certificates, besides the platform's own roots: "cacert.pem" of the
// working folder, "cacert.pem" beside the executable (the bundle a release ships, which an
// update replaces), and the user's own file of additions, which no update touches. Paths are
// UTF-8.

inline constexpr char trustFileName[] = "cacert.pem";
static const size_t maxTrustFilePath = 1024;

// Fixes the trust files of every connection from now on: "cacert.pem" of the working folder of
// this moment, and `userFile` (null or empty for none). The program calls it at start-up, so
// that nothing that moves the working folder later (a file dialog) changes what is trusted.
// Until then each connection takes the working folder of its construction. Any thread.
void fixTrustSources(const char* userFile);

// "cacert.pem" of the working folder of now; empty when the folder cannot be had or the path
// does not fit (a relative name would follow the working folder wherever it moves).
void workingFolderTrustFile(char (&path)[maxTrustFilePath]);

// The trust files to read, in order: the working folder's (the fixed one, or before the
// sources are fixed `constructionFile`), the one beside the executable, and the user's. A file
// that stands in two of these places is named once.
std::vector<std::string> trustFilesOf(const char* constructionFile);
// Reads every one of `files` into `index`.
void addTrustFiles(TrustIndex& index, const std::vector<std::string>& files);
