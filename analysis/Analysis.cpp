#include "analysis/Analysis.h"

#include <optional>

#include "analysis/HeaderReader.h"
#include "analysis/TextFile.h"
#include "app/Globals.h"
#include "app/UserInterface.h"
#include "app/pmUtils.h"
#include "platform/FileSystem.h"

namespace analysis {
namespace {

constexpr const char* kMissingTable = "The workspace references a table that does not exist. ";
constexpr const char* kMissingGraph = "The workspace references a graph file that does not exist. ";

// Names Windows gives to devices, in any letter case and with any extension.
constexpr std::string_view kReservedNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                               "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                               "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
// Characters a Windows file name may not hold, besides control characters.
constexpr std::string_view kForbiddenInNames = "\\/:*?\"<>|";

// The text between the first and the second double quote; "" with fewer than two.
std::string QuotedText(const std::string& line) {
    std::size_t q1 = line.find('"');
    if (q1 == std::string::npos) return {};
    std::size_t q2 = line.find('"', q1 + 1);
    if (q2 == std::string::npos) return {};
    return line.substr(q1 + 1, q2 - q1 - 1);
}

bool ContainsUpper(const std::string& line, std::string_view upperWhat) {
    return pm::FindUpper(line, upperWhat) != std::string::npos;
}

// The tests on header lines ignore letter case.
bool IsRasterLine(const std::string& line) { return ContainsUpper(line, "TYPE \"RASTER\""); }
bool IsAccessLine(const std::string& line) { return ContainsUpper(line, "TYPE ACCESS TABLE"); }
bool IsFileLine(const std::string& line) { return ContainsUpper(line, "FILE \""); }

// A file as the directory search reports it: its on-disk name and size.
struct FoundFile {
    std::string folder;  // as given or derived, ending in a separator
    std::string name;    // on-disk name
    std::uint64_t size = 0;
};

std::optional<FoundFile> FindFile(const std::string& path) {
    auto entry = platform::StatEntry(path);
    if (!entry) return std::nullopt;
    return FoundFile{pm::FolderOf(path), entry->name, entry->size};
}

// Where a file named in a header lies, as a full host path: an absolute name (drive, root,
// share) stands where it points; a bare or relative name counts from the header's folder.
std::string NamedFilePath(const std::string& headerFolder, const std::string& named) {
    if (platform::IsAbsoluteText(named)) return platform::ExpandFileName(named);
    return platform::ExpandFileName(headerFolder + named);
}

}  // namespace

bool IsUsableAlias(const std::string& alias) {
    if (alias.empty() || alias == "." || alias == ".." || alias.back() == '.') return false;
    for (unsigned char c : alias)
        if (c < 0x20 || c == 0x7F || kForbiddenInNames.find(static_cast<char>(c)) != std::string_view::npos)
            return false;
    const std::string base = pm::UpperAscii(alias.substr(0, alias.find('.')));
    for (std::string_view reserved : kReservedNames)
        if (base == reserved) return false;
    return true;
}

std::vector<std::string> TargetNames(const std::vector<std::string>& tables) {
    std::unordered_set<std::string> aliases;  // upper case
    for (const auto& entry : tables) aliases.insert(pm::UpperAscii(SplitEntry(entry).first));
    std::unordered_set<std::string> given;  // upper case
    std::vector<std::string> names;
    names.reserve(tables.size());
    for (const auto& entry : tables) {
        const std::string alias = SplitEntry(entry).first;
        std::string name = alias;
        // Entries are unique ignoring case, so a taken alias always belongs to another table.
        for (int n = 2; given.count(pm::UpperAscii(name)); ++n) {
            name = alias + "_" + std::to_string(n);
            if (aliases.count(pm::UpperAscii(name))) name = alias;  // another table's own alias
        }
        given.insert(pm::UpperAscii(name));
        names.push_back(std::move(name));
    }
    return names;
}

std::pair<std::string, std::string> SplitEntry(const std::string& entry) {
    std::size_t blank = entry.find(' ');
    if (blank == std::string::npos) return {entry, {}};
    return {entry.substr(0, blank), entry.substr(blank + 1)};
}

// ---- workspace reading ---------------------------------------------------------------------

std::string Analysis::GetTableName(const std::string& workspace, const std::string& line) {
    return RecogniseTable(workspace, line, nullptr);
}

std::string Analysis::RecogniseTable(const std::string& workspace, const std::string& line, std::string* entryOut) {
    if (pm::FindUpper(line, "OPEN TABLE") == std::string::npos) return {};
    const std::string upper = pm::UpperAscii(line);

    std::string path = QuotedText(line);
    if (pm::EndsWithNoCase(path, ".TAB")) path.resize(path.size() - 4);

    std::string alias;
    std::size_t as = upper.find(" AS ");
    if (as != std::string::npos) {
        alias = line.substr(as + 4);
        std::size_t blank = alias.find(' ');
        if (blank != std::string::npos) alias.resize(blank);
    } else {
        alias = app::MapInfoApp().Eval("PathToTableName$(\"" + path + "\")");
    }
    // The alias names a folder and a file of the copy: one that is a path or a device could
    // place them anywhere.
    if (!IsUsableAlias(alias)) {
        app::UI().ShowNote("The workspace " + workspace +
                           " opens a table under an alias that cannot be a file name; the table is left out:\r" + line);
        return {};
    }

    if (m_currentFolder.empty() || m_currentFolder != pm::FolderOf(workspace))
        platform::SetCurrentDir(pm::FolderOf(workspace));  // a failure is of no consequence here
    const std::string resolved = platform::ExpandFileName(path);
    if (platform::FileExists(resolved + ".tab")) {
        std::string entry = alias + " " + resolved;
        if (m_keyedTables != m_state.tables.size() || m_tableKeys.size() > m_keyedTables) {
            m_tableKeys.clear();
            for (const auto& e : m_state.tables) m_tableKeys.insert(pm::UpperAscii(e));
            m_keyedTables = m_state.tables.size();
        }
        if (m_tableKeys.insert(pm::UpperAscii(entry)).second) {
            m_state.tables.push_back(entry);
            ++m_keyedTables;
            m_state.NotifyChanged();
        }
        if (entryOut) *entryOut = std::move(entry);
        return alias;
    }
    app::UI().ShowNote(kMissingTable + resolved + ".tab");
    return {};
}

void Analysis::GetGraphName(const std::string& workspace, const std::string& line) {
    if (pm::FindUpper(line, ".3TF") == std::string::npos) return;  // most lines: no graph file
    const std::string upper = pm::UpperAscii(line);
    std::size_t using_ = upper.find("USING \"");
    if (using_ == std::string::npos) return;
    std::size_t start = using_ + 7;
    std::size_t ext = upper.find(".3TF", start);
    if (ext == std::string::npos) return;  // ".3TF" only before the USING: no graph name
    const std::string name = line.substr(start, ext + 4 - start);

    // A name with a drive, a root or a share is resolved as table paths are.
    std::string full = platform::IsAbsoluteText(name) ? platform::ExpandFileName(name)
                                                      : platform::ExpandFileName(pm::FolderOf(workspace) + name);
    if (platform::FileExists(full)) {
        int position = 0;
        for (std::size_t i = 0; i < m_state.workspaces.size(); ++i)
            if (m_state.workspaces[i] == workspace) {
                position = static_cast<int>(i);
                break;
            }
        m_state.graphs.push_back(std::to_string(position) + " " + full);
        m_state.NotifyChanged();
    } else {
        app::UI().ShowNote(kMissingGraph + full);
    }
}

void Analysis::ReadWorkspace(int position) {
    const std::string& workspace = m_state.workspaces.at(static_cast<std::size_t>(position));
    const std::string folder = pm::FolderOf(workspace);
    if (auto err = platform::SetCurrentDir(folder))
        throw FileError("Cannot open the folder of " + workspace + ": " + err.message);
    const CurrentFolder current(m_currentFolder, folder);
    for (const std::string& line : ReadLines(workspace)) {
        GetTableName(workspace, line);
        GetGraphName(workspace, line);
    }
}

// ---- table file sets -----------------------------------------------------------------------

namespace {

std::string TableFileIn(const std::vector<std::string>& lines, const std::string& header) {
    std::string result;
    for (const std::string& line : lines) {
        if (!ContainsUpper(line, "OPEN TABLE ") || !ContainsUpper(line, " AS ")) continue;
        std::size_t start = pm::FindUpper(line, " TABLE ") + 7 + 1;  // past the opening quote
        if (start > line.size()) start = line.size();
        std::size_t end = line.find('"', start);
        result = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    return result.empty() ? header : result;
}

bool IsRasterIn(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (IsRasterLine(line)) return true;
    return false;
}

}  // namespace

std::string Analysis::TableFile(const std::string& header) { return TableFileIn(ReadLines(header), header); }

bool Analysis::IsRasterTable(const std::string& header) { return IsRasterIn(ReadLines(header)); }

const std::vector<std::string>& Analysis::HeaderLines(const std::string& path) {
    if (!m_keepHeader || !pm::EqualNoCase(path, m_headerPath)) {
        m_headerLines = ReadLines(path);
        m_headerPath = path;
    }
    return m_headerLines;
}

// What TableInfo found of a table whose files are found by name beside its header alone (a
// native table, not seamless), with what shows whether that still holds: the time of the
// folder (which an entry added, removed or renamed changes) and the header's time and size,
// each clearly before the table was read. Kept small, as a project may have tens of
// thousands: the table's information is made again from its folder, shared with the other
// tables there, and the names and sizes of its files.
struct Analysis::Remembered {
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::string alias, name;  // as the table-list entry has them
    std::uint32_t folder = 0;
    std::vector<std::string> files;    // their names, in the order of info.fileInfo
    std::vector<std::uint64_t> sizes;  // and their sizes
    std::size_t header = kNone;        // the header's place among them
    bool oneHeader = false;            // and no other spelling of it there
    std::int64_t readAtNs = 0;
    std::optional<std::int64_t> folderChangedNs;
    std::int64_t headerChangedNs = 0;
};

namespace {

// By place in the table list: kept from the refresh, which starts it anew, for the copy run.
// Only the thread that runs the analysis uses it.
struct RememberedTables {
    std::vector<std::string> folders;
    std::unordered_map<std::string, std::uint32_t> folderIds;
    std::vector<std::optional<Analysis::Remembered>> tables;

    void Forget(std::size_t index) {
        if (index < tables.size()) tables[index].reset();
    }
    void Keep(std::size_t index, const std::string& folder, Analysis::Remembered table) {
        auto [id, added] = folderIds.emplace(folder, static_cast<std::uint32_t>(folders.size()));
        if (added) folders.push_back(folder);
        table.folder = id->second;
        if (tables.size() <= index) tables.resize(index + 1);
        tables[index] = std::move(table);
    }
    void Clear() { *this = RememberedTables(); }
};

RememberedTables& KeptTables() {
    static RememberedTables kept;
    return kept;
}

}  // namespace

std::uint64_t Analysis::GetTableSize(const std::string& path) { return ListTableFiles(path, nullptr, nullptr); }

std::uint64_t Analysis::ListTableFiles(const std::string& path, Remembered* seen, TableReading* ahead) {
    const std::string folder = pm::FolderOf(path);
    const std::string header = path + ".tab";
    const std::vector<std::string>& lines = HeaderLines(header);  // nothing below reads another header
    bool raster = false, access = false;
    for (const auto& line : lines) {
        raster = raster || IsRasterLine(line);
        access = access || IsAccessLine(line);
    }

    std::uint64_t total = 0;
    auto list = [&](const FoundFile& f) {
        total += f.size;
        m_state.info.fileInfo.push_back(f.folder + f.name);
    };
    if (raster || access) {
        for (const auto& line : lines) {
            if (!IsFileLine(line)) continue;
            const std::string named = NamedFilePath(folder, QuotedText(line));
            if (raster) {
                if (auto h = FindFile(header)) list(*h);
            }
            if (auto f = FindFile(named)) list(*f);
        }
        if (raster) return total;
    }
    std::optional<std::int64_t>* stamp = seen && !access ? &seen->folderChangedNs : nullptr;
    const TableListing where = ListingOf(path);
    std::vector<platform::DirEntry> files;
    if (ahead && ahead->listed && ahead->where == where) {
        files = std::move(ahead->files);
        ahead->listed = false;
        if (stamp) *stamp = ahead->folderChangedNs;
    } else {
        files = platform::FindFiles(where.folder, where.pattern, stamp);
    }
    for (const auto& e : files) {
        if (stamp) {
            if (pm::EqualNoCase(e.name, pm::FileNameOf(header))) {
                seen->oneHeader = seen->header == Remembered::kNone;  // not when spelled twice
                seen->header = seen->sizes.size();
                seen->headerChangedNs = e.modifiedNs;
            }
            seen->files.push_back(e.name);
            seen->sizes.push_back(e.size);
        }
        list(FoundFile{folder, e.name, e.size});
    }
    return total;
}

void Analysis::TableInfo(int index) {
    TableInformation& info = m_state.info;
    const std::string& entry = m_state.tables.at(static_cast<std::size_t>(index));
    const auto [alias, tablePath] = SplitEntry(entry);
    KeptTables().Forget(static_cast<std::size_t>(index));
    std::optional<TableReading> ahead = m_reader ? m_reader->Take(static_cast<std::size_t>(index)) : std::nullopt;
    Remembered seen;
    seen.readAtNs = ahead ? ahead->readAtNs : platform::FileClockNowNs();
    std::string folder = pm::FolderOf(tablePath);
    std::string name = pm::FileNameOf(tablePath);
    info.description = alias;

    // The header is read once for its table, its files and its kind, within this call only.
    struct KeepHeader {
        Analysis& a;
        explicit KeepHeader(Analysis& an) : a(an) {
            a.m_keepHeader = true;
            a.m_headerPath.clear();
        }
        ~KeepHeader() {
            a.m_keepHeader = false;
            a.m_headerPath.clear();
            a.m_headerLines.clear();
        }
    } keep(*this);
    const std::string mainHeader = folder + name + ".tab";
    if (ahead && ahead->header == mainHeader) {
        if (ahead->error) std::rethrow_exception(ahead->error);
        m_headerPath = mainHeader;
        m_headerLines = std::move(ahead->lines);
    } else {
        ahead.reset();
    }
    const std::string main = TableFileIn(HeaderLines(mainHeader), mainHeader);
    folder = app::MapInfoApp().Eval("PathToDirectory$(\"" + main + "\")");
    name = pm::WithoutExtension(pm::FileNameOf(main));

    info.fileInfo.clear();
    info.fileSize = "0";
    if (app::MapInfoApp().Eval("FileExists(\"" + folder + name + ".TAB\")") != "T") {
        // No header: no main file either, so nothing can be written that opens another table.
        info.mainFile.clear();
        return;
    }
    info.mainFile = folder + name + ".TAB";
    const bool ownFiles = main == mainHeader;  // the header opens no other file
    std::uint64_t total = ListTableFiles(folder + name, ownFiles ? &seen : nullptr, ahead ? &*ahead : nullptr);
    info.fileSize = std::to_string(total);
    if (IsRasterIn(HeaderLines(folder + name + ".TAB"))) return;

    // The seamless check: a seamless table brings the files of every tile its rows name.
    // LAYER is always closed again once it opened, so one damaged table cannot leave it
    // open for every later check.
    auto& mapinfo = app::MapInfoApp();
    bool opened = false;
    bool seamless = true;
    try {
        mapinfo.Do("Open Table \"" + folder + name + "\" As LAYER");
        opened = true;
        seamless = mapinfo.Eval("TableInfo(LAYER,24)") == "T";
        if (seamless) {
            mapinfo.Do("Fetch First From LAYER");
            while (mapinfo.Eval("EOT(LAYER)") != "T") {
                std::string tile = mapinfo.Eval("LAYER.Table");
                tile = platform::ExpandFileName(platform::IsAbsoluteText(tile) ? tile : folder + tile);
                total += GetTableSize(pm::FolderOf(tile) + pm::WithoutExtension(pm::FileNameOf(tile)));
                info.fileSize = std::to_string(total);
                mapinfo.Do("Fetch Next From LAYER");
            }
        }
    } catch (const std::exception&) {
        // An error ends the check; what was gathered so far stands.
    }
    if (opened) {
        try {
            mapinfo.Do("Close Table LAYER");
        } catch (const std::exception&) {}
    }
    // Kept only where the information can be made again from the folder, the names and the
    // sizes, and neither the folder nor the header changed around the reading.
    if (m_remember && opened && !seamless && seen.folderChangedNs && seen.oneHeader &&
        folder == pm::FolderOf(tablePath) && pm::FolderOf(folder + name) == folder &&
        entry == alias + " " + folder + name &&
        platform::ReadClearlyAfterChange(*seen.folderChangedNs, seen.readAtNs) &&
        platform::ReadClearlyAfterChange(seen.headerChangedNs, seen.readAtNs)) {
        seen.alias = alias;
        seen.name = name;
        KeptTables().Keep(static_cast<std::size_t>(index), folder, std::move(seen));
    }
}

std::optional<std::vector<std::uint64_t>> Analysis::KnownTableInfo(int index) {
    const RememberedTables& remembered = KeptTables();
    const auto at = static_cast<std::size_t>(index);
    if (at >= remembered.tables.size() || !remembered.tables[at]) return std::nullopt;
    const Remembered& known = *remembered.tables[at];
    const std::string& folder = remembered.folders[known.folder];
    if (m_state.tables.at(at) != known.alias + " " + folder + known.name) return std::nullopt;
    const auto folderNow = platform::StatPath(folder);
    if (!folderNow || folderNow->modifiedNs != *known.folderChangedNs) return std::nullopt;
    const auto headerNow = platform::StatPath(folder + known.files[known.header]);
    if (!headerNow || !headerNow->isRegularFile || headerNow->modifiedNs != known.headerChangedNs ||
        headerNow->size != known.sizes[known.header])
        return std::nullopt;
    TableInformation& info = m_state.info;
    info.description = known.alias;
    info.mainFile = folder + known.name + ".TAB";
    info.fileInfo.clear();
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < known.files.size(); ++i) {
        info.fileInfo.push_back(folder + known.files[i]);
        total += known.sizes[i];
    }
    info.fileSize = std::to_string(total);
    return known.sizes;
}

void Analysis::Refresh(bool copyFollows) {
    struct Finish {  // runs in every case, also when a step throws
        CopyFormState& state;
        ~Finish() {
            if (state.updateButtons) state.updateButtons();
            app::UI().SetHourglass(false);
            state.NotifyChanged();
        }
    } finish{m_state};

    app::UI().SetHourglass(true);
    std::uint64_t figure = 0;
    m_state.sizeText = "0";
    m_state.tables.clear();
    m_state.graphs.clear();
    m_state.NotifyChanged();
    auto add = [&](std::uint64_t amount) {
        figure += amount;
        m_state.sizeText = std::to_string(figure);
    };

    KeptTables().Clear();
    for (std::size_t i = 0; i < m_state.workspaces.size(); ++i) {
        ReadWorkspace(static_cast<int>(i));
        if (auto size = platform::FileSize(m_state.workspaces[i])) add(*size / 1024);
    }
    {
        // The tables' headers and files are read ahead on another thread, in list order.
        HeaderReader reader(m_state.tables);
        struct Reading {
            HeaderReader*& used;
            bool& remember;
            ~Reading() {
                used = nullptr;
                remember = true;
            }
        } reading{m_reader, m_remember};
        m_reader = &reader;
        m_remember = copyFollows;
        for (std::size_t i = 0; i < m_state.tables.size(); ++i) {
            TableInfo(static_cast<int>(i));
            add(std::stoull(m_state.info.fileSize) / 1000);
        }
    }
    for (const auto& entry : m_state.graphs) {
        if (auto size = platform::FileSize(SplitEntry(entry).second)) add(*size / 1024);
    }
    if (m_state.options.cd && m_state.options.autoRun) add(407);
    m_state.sizeText = std::to_string(figure) + " KiloBytes";
}

// ---- rewriting -----------------------------------------------------------------------------

void Analysis::CopyWorkSpace(const std::string& source, const std::string& target, bool write) {
    const std::vector<std::string> lines = ReadLines(source);
    std::string text;
    // Its table lines are read from the workspace's folder, made current once for them all.
    std::optional<CurrentFolder> current;
    if (!platform::SetCurrentDir(pm::FolderOf(source))) current.emplace(m_currentFolder, pm::FolderOf(source));

    const bool removePrinter = m_state.options.version5;
    const bool cd = m_state.options.cd;
    bool printerBlock = false;
    for (std::string line : lines) {
        if (removePrinter) {
            if (line.empty() || line[0] != ' ') printerBlock = false;
            const std::string upper = pm::UpperAscii(line);
            if (upper.find("SET WINDOW ") != std::string::npos && upper.find(" PRINTER") != std::string::npos) {
                line.clear();
                printerBlock = true;
            }
            if (printerBlock) line.clear();
        }
        if (cd) {
            const std::string upper = pm::UpperAscii(line);
            if (upper.find("SET MAP ") != std::string::npos && upper.find(" LAYER 0 ") == std::string::npos &&
                upper.find(" EDITABLE") != std::string::npos && upper.find(" LAYER ") != std::string::npos)
                line.clear();
        }
        std::string entry;
        const std::string alias = RecogniseTable(source, line, &entry);
        if (!alias.empty()) {
            auto renamed = m_renamed.find(pm::UpperAscii(entry));
            line = renamed == m_renamed.end()
                       ? "Open Table \"TABLES\\" + alias + "\" Interactive"
                       : "Open Table \"TABLES\\" + renamed->second + "\" As " + alias + " Interactive";
        }
        text += line;
        text += "\r\n";
    }
    if (!write) return;
    // Written whole or not at all, never through a pipe or a device at the target's name.
    if (auto err = platform::WriteFile(target, text)) throw FileError("Cannot create " + target + ": " + err.message);
}

void Analysis::SetTargetNames(const std::vector<std::string>& names) {
    m_renamed.clear();
    for (std::size_t i = 0; i < names.size() && i < m_state.tables.size(); ++i) {
        if (names[i] != SplitEntry(m_state.tables[i]).first)
            m_renamed.emplace(pm::UpperAscii(m_state.tables[i]), names[i]);
    }
}

namespace {

// A view's base tables opened from the sibling folders of their own names; false when the
// header is no view.
bool RewriteViewLines(std::vector<std::string>& lines) {
    bool view = false;
    for (const auto& line : lines) view = view || ContainsUpper(line, "CREATE VIEW ");
    if (!view) return false;
    for (auto& line : lines) {
        const std::string upper = pm::UpperAscii(line);
        std::size_t open = upper.find("OPEN TABLE \"");
        if (open == std::string::npos || upper.find("..\\") != std::string::npos) continue;
        std::size_t start = open + 12;
        std::size_t end = line.find('"', start);
        std::string name = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // A base table named with a folder lives in the sibling folder of its own name.
        if (pm::LastSeparator(name) != pm::npos || name.find(':') != std::string::npos) {
            std::size_t cut = name.find_last_of("\\/:");
            line.replace(start, name.size(), name.substr(cut + 1));
            name = name.substr(cut + 1);
        }
        line = line.substr(0, open) + "OPEN TABLE \"..\\" + name + "\\" + line.substr(start);
    }
    return true;
}

// A raster's image file named without its folder; false when the header is no raster.
bool RewriteRasterLines(std::vector<std::string>& lines) {
    bool raster = false;
    for (const auto& line : lines) raster = raster || IsRasterLine(line);
    if (!raster) return false;
    for (auto& line : lines) {
        if (!IsFileLine(line)) continue;
        std::string name = QuotedText(line);
        std::size_t cut = name.find_last_of("\\/:");
        line = "File \"" + (cut == std::string::npos ? name : name.substr(cut + 1)) + "\"";
    }
    return true;
}

}  // namespace

void Analysis::UpdateViewTAB(const std::string& path) {
    std::vector<std::string> lines = ReadLines(path + ".tab");
    if (!RewriteViewLines(lines)) return;
    platform::ForceDirectories(pm::FolderOf(path));
    platform::WriteFile(path + ".tab", JoinLines(lines));  // a failure leaves the old text
}

void Analysis::UpdateRasterTAB(const std::string& path) {
    std::vector<std::string> lines = ReadLines(path + ".tab");
    if (RewriteRasterLines(lines))
        platform::WriteFile(path + ".tab", JoinLines(lines));  // a failure leaves the old text
}

void Analysis::UpdateCopiedHeader(const std::string& header) {
    std::vector<std::string> lines = ReadLines(header);
    const bool view = RewriteViewLines(lines);
    if (RewriteRasterLines(lines) || view)
        platform::WriteFile(header, JoinLines(lines));  // a failure leaves the old text
}

}  // namespace analysis
