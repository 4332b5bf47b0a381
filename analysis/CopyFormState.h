#pragma once
// The state of the wizard's work: the workspace list, the derived table and graph lists, the
// information on one table, the disk-space text and the options. The wizard window mirrors
// this object; the batch front end fills it without windows. Entries are byte strings, in
// the exact texts the lists show.
#include <functional>
#include <string>
#include <vector>

namespace analysis {

// The information on one table, filled by TableInfo and read by the copy run right after.
struct TableInformation {
    std::string description;            // edtDescription: the alias
    std::string mainFile;               // edtMainFile: folder + name + ".TAB"
    std::string fileSize = "0";         // edtFileSize: total bytes, decimal text
    std::vector<std::string> fileInfo;  // lbFileInfo: full paths of the table's files
};

// The check boxes and fields of the wizard that the work reads.
struct CopyOptions {
    std::string path;          // edtPath: the target folder
    bool version5 = false;     // cbVersion5: remove the printer settings
    bool cd = false;           // cbCD: the workspaces go on a CD
    bool autoRun = false;      // cbAutoRun: load the workspace when the CD is inserted
    bool zip = false;          // cbZip
    bool removeFiles = false;  // cbRemoveFiles
    bool exe = false;          // cbEXE
    bool readme = false;       // cbReadme
    std::string zipFile;       // edtZip
    std::string readmeText;    // memReadme, lines separated by CR LF
};

struct CopyFormState {
    std::vector<std::string> workspaces;  // lbWorkSpaces: full paths, in the order added
    std::vector<std::string> tables;      // lbTables: "alias fullpath-without-extension"
    std::vector<std::string> graphs;      // lbGraphs: "position fullpath"
    TableInformation info;
    std::string sizeText;  // lblSize
    CopyOptions options;

    // Run by the refresh when it ends, whatever happened: the window's button update.
    std::function<void()> updateButtons;
    // Told whenever the lists or the size text changed, so a window can mirror them.
    std::function<void()> changed;

    void NotifyChanged() const {
        if (changed) changed();
    }
};

// Splits a table-list entry at its first blank: {alias, path}.
std::pair<std::string, std::string> SplitEntry(const std::string& entry);

}  // namespace analysis
