#pragma once
// The check of a finished package as its recipient opens it, without the sources: a folder
// the copy run made, or its zip archive or self-extractor.
#include <cstddef>
#include <string>
#include <vector>

namespace copyrun {

struct CheckFinding {
    std::string kind;   // "missing", "absolute", "too-long", "truncated", "damaged", "manifest"
    std::string where;  // the file of the package (relative, '\') the finding is about
    std::string what;
};

struct PackageCheck {
    std::vector<CheckFinding> findings;
    std::size_t files = 0;    // files in the package
    std::string longestPath;  // the longest path of a file with the package at the root
    bool archive = false;
    bool SelfContained() const { return findings.empty(); }
};

// Checks the package at `package` (a folder, or a .zip or .exe file). `root` is the folder
// the recipient puts it in (a Windows path such as "C:\"), for the length of the paths.
// `manifest`, when not empty, is the text of the run's manifest: each file's size and
// SHA-256 must match it. Reads only.
PackageCheck CheckPackage(const std::string& package, const std::string& root, const std::string& manifest);

}  // namespace copyrun
