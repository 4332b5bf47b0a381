// Turns the file patterns of a call into the list of files and folders to store:
// wildcards, recursion, hidden files, the archive names (folders kept or dropped, forced
// 8.3 names) and the folder entries of their own.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/Ascii.h"
#include "System.h"
#include "common/Wildcard.h"

namespace zipengine {

struct SelectionOptions {
    bool recurse = false;        // descend into sub-folders
    bool hidden = false;         // include hidden files: names beginning with a dot (and what lies in such
                                 // folders) and, on Windows, files marked hidden or system
    bool dropDirNames = false;   // store the file name alone
    bool folderEntries = false;  // store an entry of its own for every folder of a stored file
    bool forceDos = false;       // short 8.3 names, upper case
    unsigned threads = 1;        // threads that look the named files up
};

struct SelectedItem {
    std::string source;       // path to open, as found from the current folder
    std::string archiveName;  // "/" separators; folders end in "/"
    bool isFolder = false;
    uint64_t size = 0;
    time_t modified = 0;
    bool readOnly = false;
    sys::FileId id;
};

struct SelectionWarning {
    std::string spec;
    std::string text;
};

// Names are compared under their ASCII upper case (letter case is ignored for ASCII only);
// wildcards ignore ASCII case too.
using common::UpperAscii;
using common::WildcardMatch;

// The 8.3 form of one name: upper case, characters DOS refuses replaced by "_", base name of
// at most 8 and extension of at most 3 characters.
std::string DosName(const std::string& name);

// Expands `specs` in order. Items are unique by archive name (letter case ignored); a second
// file for a name already taken is left out with a warning, as is every file pattern that
// matches nothing. Folder entries come before the first file they hold; the entries of
// empty folders of a folder taken whole come last.
std::vector<SelectedItem> SelectFiles(const std::vector<std::string>& specs, const SelectionOptions& options,
                                      std::vector<SelectionWarning>& warnings);

}  // namespace zipengine
