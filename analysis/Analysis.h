#pragma once
// Workspace analysis: reading workspaces into the table and graph lists, the file set and
// size of each table, the refresh, and the rewriting of workspaces and copied headers.
// Every operation works on one CopyFormState and talks to MapInfo through app::MapInfoApp()
// and to the user through app::UI().
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analysis/CopyFormState.h"

namespace analysis {

class HeaderReader;
struct TableReading;

// A workspace, header or folder that cannot be opened, read or written where the work
// cannot go on without it. The text names the file and the system's reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Whether an alias can name a table's data folder and stub: not empty, none of the
// characters a Windows file name may not hold (separators and ':' among them) nor control
// characters, not "." or "..", no trailing dot, and no name Windows reserves for a device
// (CON, NUL, COM1, ...), with or without an extension.
bool IsUsableAlias(const std::string& alias);

// The name each table-list entry is copied under: its alias, except that a later entry whose
// alias is already taken (letter case ignored) by another table gets the first free
// "{alias}_2", "{alias}_3", ... (free of every alias of the list and of every name given).
std::vector<std::string> TargetNames(const std::vector<std::string>& tables);

class Analysis {
public:
    explicit Analysis(CopyFormState& state) : m_state(state) {}

    // Recognises a table-opening line: returns its alias (adding the table to the list when
    // its header exists), or "" for other lines and missing tables (with a note).
    std::string GetTableName(const std::string& workspace, const std::string& line);
    // Recognises a graph reference and adds it to the graph list (or notes it missing).
    void GetGraphName(const std::string& workspace, const std::string& line);
    // Reads the workspace at `position` of the workspace list. Throws FileError.
    void ReadWorkspace(int position);

    // The table a header opens ("Open Table ... As ..." inside it), or the header itself.
    static std::string TableFile(const std::string& header);
    static bool IsRasterTable(const std::string& header);
    // Appends the files of the table at `path` (no extension) to info.fileInfo; their total.
    std::uint64_t GetTableSize(const std::string& path);
    // Fills state.info for the table-list entry at `index`.
    void TableInfo(int index);
    // Fills state.info as TableInfo did when it last read the entry at `index` since the last
    // refresh, if that was a native table with all its files beside its header, neither a
    // view, a raster nor seamless, and its folder and header are unchanged since. The sizes
    // of its files then are handed back, in the order of info.fileInfo, for the caller to
    // confirm: their sum as the caller finds them is the table's size. Nothing known:
    // nullopt, and state.info as it was.
    std::optional<std::vector<std::uint64_t>> KnownTableInfo(int index);
    // The refresh: rebuilds both lists and the disk-space text. What it finds of the tables
    // is kept for a copy run to take over (KnownTableInfo) unless none is to follow.
    void Refresh(bool copyFollows = true);

    // Writes the rewritten copy of a workspace, whole or not at all. Throws FileError.
    // With `write` false the lines are read and rewritten (with the notes that gives) but
    // nothing is written: a plan's view of the copy.
    void CopyWorkSpace(const std::string& source, const std::string& target, bool write = true);
    // The names the copy gives the entries of the table list (see TargetNames), in list order.
    // A table copied under another name than its alias is opened by the rewritten workspaces
    // from that stub, under its own alias.
    void SetTargetNames(const std::vector<std::string>& names);
    // Rewrite a copied view or raster header (path without extension) for the target layout.
    static void UpdateViewTAB(const std::string& path);
    static void UpdateRasterTAB(const std::string& path);
    // Both rewrites at once, of the header at its full path as spelled on disk.
    static void UpdateCopiedHeader(const std::string& header);

    CopyFormState& State() { return m_state; }

    struct Remembered;

private:
    // GetTableSize; also notes in `seen`, when given, what shows whether the files found
    // are still those of the table. The files are taken from `ahead` where it listed them
    // as this would.
    std::uint64_t ListTableFiles(const std::string& path, Remembered* seen, TableReading* ahead);
    // GetTableName, also handing back the table-list entry of the table the line opens.
    std::string RecogniseTable(const std::string& workspace, const std::string& line, std::string* entry);
    // The lines of a header. Within one TableInfo call the last header read is kept, so a
    // header that is asked for its table, its files and its kind is read once.
    const std::vector<std::string>& HeaderLines(const std::string& path);

    CopyFormState& m_state;
    // The table-list entries upper-cased, for the duplicate test; rebuilt whenever the list
    // no longer has the length they were made for.
    std::unordered_set<std::string> m_tableKeys;
    std::size_t m_keyedTables = 0;
    HeaderReader* m_reader = nullptr;  // during the refresh: the tables read ahead of it
    bool m_remember = true;            // whether TableInfo keeps what it finds for a copy run
    bool m_keepHeader = false;
    std::string m_headerPath;
    std::vector<std::string> m_headerLines;
    // While a workspace is read or rewritten: the folder made current for it, which each of
    // its lines would otherwise make current again.
    std::string m_currentFolder;
    struct CurrentFolder {
        std::string& kept;
        CurrentFolder(std::string& k, std::string folder) : kept(k) { kept = std::move(folder); }
        ~CurrentFolder() { kept.clear(); }
        CurrentFolder(const CurrentFolder&) = delete;
        CurrentFolder& operator=(const CurrentFolder&) = delete;
    };
    // Upper-cased table-list entry -> the name its copy has, for tables not copied under
    // their alias.
    std::unordered_map<std::string, std::string> m_renamed;
};

}  // namespace analysis
