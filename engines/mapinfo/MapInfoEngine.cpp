#include "engines/mapinfo/MapInfoEngine.h"

#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engines/mapinfo/DbfFile.h"
#include "engines/mapinfo/MapBasicParser.h"
#include "engines/mapinfo/MapInfoError.h"
#include "engines/mapinfo/TableHeader.h"
#include "engines/mapinfo/Text.h"
#include "platform/FileSystem.h"

namespace mapinfo {

namespace {

// How many headers that only open another table are followed before giving up.
constexpr int kMaxRedirects = 8;

// MapInfo's table-type codes of TableInfo(..., 3).
constexpr const char* kTypeBase = "1";
constexpr const char* kTypeView = "3";
constexpr const char* kTypeImage = "4";

// A name from inside a header, taken from the header's own folder unless it is absolute.
std::string NextToHeader(const std::string& headerHostPath, const std::string& name) {
    if (platform::IsAbsoluteText(name)) return name;
    return FolderOf(headerHostPath) + name;
}

// The table file a path names: ".TAB" is added when the name has no extension, and also
// when a dotted name ("city.roads") names no file of its own. Found with its on-disk
// spelling, kind and size: only regular files are read, as a device or a pipe named by a
// hostile header would never end or never answer.
std::optional<platform::PathStatus> LocateTableFile(const std::string& path, std::string& tried) {
    tried = HasExtension(path) ? path : path + ".TAB";
    auto found = platform::StatPath(tried);
    if (found && !found->isDirectory) return found;
    if (HasExtension(path)) {
        found = platform::StatPath(path + ".TAB");
        if (found && !found->isDirectory) return found;
    }
    return std::nullopt;
}

// Parsed headers kept between openings, as a refresh opens every table of a project again.
// A kept header is used only while its file is the same file with the same size and time
// stamp, and was read clearly after that time stamp (platform::ReadClearlyAfterChange).
class HeaderCache {
public:
    std::optional<TableHeader> Find(const platform::PathStatus& file) {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(file.path);
        if (it == m_entries.end()) return std::nullopt;
        const Entry& e = it->second;
        if (e.size != file.size || e.modifiedNs != file.modifiedNs || e.device != file.device ||
            e.inode != file.inode || !platform::ReadClearlyAfterChange(e.modifiedNs, e.readAtNs))
            return std::nullopt;
        return e.header;
    }

    void Keep(const platform::PathStatus& file, std::int64_t readAtNs, const TableHeader& header) {
        std::lock_guard lock(m_mutex);
        if (m_entries.size() >= kMaxEntries) m_entries.clear();
        m_entries[file.path] = Entry{file.size, file.modifiedNs, file.device, file.inode, readAtNs, header};
    }

private:
    static constexpr std::size_t kMaxEntries = 16384;
    struct Entry {
        std::uint64_t size;
        std::int64_t modifiedNs;
        std::uint64_t device, inode;
        std::int64_t readAtNs;
        TableHeader header;
    };
    std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
};

HeaderCache& Headers() {
    static HeaderCache cache;
    return cache;
}

struct ColumnType {
    const char* name;
    char letter;
};
// Header column types and how their values are stored in the .DAT.
constexpr ColumnType kColumnTypes[] = {
    {"CHAR", 'C'},  {"INTEGER", 'I'}, {"SMALLINT", 'S'}, {"LARGEINT", 'J'},
    {"FLOAT", 'B'}, {"DECIMAL", 'N'}, {"LOGICAL", 'L'},  {"DATE", 'D'},
};

char ColumnTypeLetter(const std::string& headerType, char stored) {
    for (const ColumnType& t : kColumnTypes)
        if (EqualNoCase(headerType, t.name)) return t.letter;
    return stored == 'C' ? 'X' : stored;  // an unknown type is never written as text
}

// A native table's data file: opened as the header's name spells it, and looked up in
// another letter case only when that cannot be opened.
std::unique_ptr<DbfFile> OpenDataFile(const std::string& path, const std::string& header) {
    platform::File::Opened opened = platform::File::Open(path, platform::File::Mode::Read);
    if (!opened.error) return DbfFile::Open(path, std::move(opened.file), opened.size);
    auto datFile = platform::StatPath(path);
    if (!datFile || !datFile->isRegularFile)
        throw MapInfoError("Unable to open the data file " + path + " of table " + header + ".");
    return DbfFile::Open(datFile->path, datFile->size);
}

}  // namespace

struct Engine::Table {
    enum class Cursor { BeforeFirst, OnRow, AtEnd };

    std::string alias;
    std::string headerPath;  // host path of the header that holds the definition
    TableHeader header;
    std::unique_ptr<DbfFile> dat;          // native tables only
    std::vector<std::string> columnNames;  // by position in the .DAT
    std::vector<DbfField> columns;         // the .DAT's fields, typed as the header says
    bool readOnly = false;
    bool seamlessOn = true;
    Cursor cursor = Cursor::BeforeFirst;
    std::uint32_t row = 0;
    std::map<std::uint32_t, std::string> changed;  // row number -> record not yet committed

    std::string Record(std::uint32_t n) {
        auto it = changed.find(n);
        return it != changed.end() ? it->second : dat->ReadRecord(n);
    }

    // The browsable rows; throws for tables without rows of their own.
    DbfFile& Rows() {
        if (!dat)
            throw MapInfoError("Table " + alias + " is a " + TableKindName(header.kind) +
                               " table; it has no rows that can be fetched here.");
        return *dat;
    }

    std::size_t Column(const std::string& name) const {
        for (std::size_t i = 0; i < columnNames.size(); ++i)
            if (EqualNoCase(columnNames[i], name)) return i;
        throw MapInfoError("Variable or Field " + alias + "." + name + " not defined.");
    }

    std::uint32_t CurrentRow() const {
        if (cursor == Cursor::BeforeFirst)
            throw MapInfoError("Table " + alias + " has no current row: no row has been fetched.");
        if (cursor == Cursor::AtEnd)
            throw MapInfoError("Table " + alias + " has no current row: the end of the table has been reached.");
        return row;
    }

    // Reads the header at `path` and everything it needs; follows redirecting headers.
    void Load(const std::string& path, int depth);
};

void Engine::Table::Load(const std::string& path, int depth) {
    std::string tried;
    auto status = LocateTableFile(path, tried);
    if (!status) throw MapInfoError("Unable to open table " + tried + ": the file does not exist.");
    const std::string& located = status->path;
    if (!status->isRegularFile)
        throw MapInfoError("File " + located + " is not a MapInfo table: it is no regular file.");
    if (status->size > kMaxHeaderBytes)
        throw MapInfoError("File " + located + " is not a MapInfo table: it is far too large for a table header.");
    if (auto kept = Headers().Find(*status)) {
        header = std::move(*kept);
    } else {
        const std::int64_t readAt = platform::FileClockNowNs();
        platform::FileBytes bytes = platform::ReadFile(located);
        if (!bytes.bytes) throw MapInfoError("Unable to read table " + located + ": " + bytes.error.message + ".");
        header = ParseTableHeader(*bytes.bytes, located);
        // kept only when the file read is the file looked at
        if (bytes.bytes->size() == status->size) Headers().Keep(*status, readAt, header);
    }
    headerPath = located;

    switch (header.kind) {
        case TableKind::Redirect:
            if (depth >= kMaxRedirects)
                throw MapInfoError("Table " + located + " opens other tables too deeply (a loop?).");
            Load(NextToHeader(located, header.redirectTable), depth + 1);
            return;
        case TableKind::Workspace: {
            // A stub that runs a small workspace (as a relocated seamless table has): the
            // table that workspace opens is opened in its place.
            if (depth >= kMaxRedirects)
                throw MapInfoError("Table " + located + " opens other tables too deeply (a loop?).");
            std::string workspace = NextToHeader(located, header.runApplication);
            auto wsFile = platform::StatPath(workspace);
            if (!wsFile || !wsFile->isRegularFile || wsFile->size > kMaxHeaderBytes)
                throw MapInfoError("Unable to run the workspace " + workspace + " that table " + located + " names.");
            const std::string& wsPath = wsFile->path;
            platform::FileBytes text = platform::ReadFile(wsPath);
            if (!text.bytes)
                throw MapInfoError("Unable to read the workspace " + wsPath + ": " + text.error.message + ".");
            for (std::string_view line : SplitLines(*text.bytes)) {
                std::string_view trimmed = TrimBlanks(line);
                if (UpperAscii(trimmed.substr(0, 10)) != "OPEN TABLE") continue;
                std::size_t open = trimmed.find('"');
                std::size_t close = open == std::string_view::npos ? open : trimmed.find('"', open + 1);
                if (close == std::string_view::npos || close == open + 1) continue;
                Load(NextToHeader(wsPath, std::string(trimmed.substr(open + 1, close - open - 1))), depth + 1);
                return;
            }
            throw MapInfoError("The workspace " + wsPath + " that table " + located + " runs opens no table.");
        }
        case TableKind::Access:
        case TableKind::Linked:
        case TableKind::Foreign:
            throw MapInfoError("Table " + located + " is a " + TableKindName(header.kind) + " table (Type " +
                               header.typeName + "); this runtime cannot open it.");
        case TableKind::Raster: {
            if (header.files.empty() || header.files.front().empty())
                throw MapInfoError("Raster table " + located + " names no image file.");
            std::string image = NextToHeader(located, header.files.front());
            if (!platform::FileExists(image))
                throw MapInfoError("Unable to open the image file " + image + " of raster table " + located + ".");
            return;
        }
        case TableKind::View:
            for (const std::string& base : header.openTables) {
                std::string baseTried;
                if (base.empty() || !LocateTableFile(NextToHeader(located, base), baseTried))
                    throw MapInfoError("Unable to open table \"" + base + "\" that view " + located + " is based on.");
            }
            return;
        case TableKind::Native: {
            std::string stem = FolderOf(located) + FileNameOf(located);
            stem = stem.substr(0, stem.rfind('.'));
            dat = OpenDataFile(stem + ".DAT", located);
            const auto& fields = dat->Layout().fields;
            if (header.hasFieldList && header.fields.size() != fields.size())
                throw MapInfoError("Table " + located + " is damaged: its header declares " +
                                   std::to_string(header.fields.size()) + " fields, its data file holds " +
                                   std::to_string(fields.size()) + ".");
            columnNames.clear();
            columns = fields;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                columnNames.push_back(header.hasFieldList ? header.fields[i].name : fields[i].name);
                if (header.hasFieldList) columns[i].type = ColumnTypeLetter(header.fields[i].type, fields[i].type);
            }
            // A seamless table names its tiles in a character column "Table"; one without
            // it is refused here rather than failing later, row by row.
            if (header.seamless) {
                bool named = false;
                for (std::size_t i = 0; i < columns.size(); ++i)
                    named = named || (EqualNoCase(columnNames[i], "Table") && columns[i].type == 'C');
                if (!named)
                    throw MapInfoError("Seamless table " + located +
                                       " has no character column Table naming its tiles.");
            }
            return;
        }
    }
}

Engine::Engine() = default;
Engine::~Engine() = default;

Engine::Table& Engine::Find(const std::string& alias) {
    auto it = m_tables.find(UpperAscii(alias));
    if (it == m_tables.end()) throw MapInfoError("Table " + alias + " is not open.");
    return *it->second;
}

std::string PathToTableName(std::string_view path) {
    std::string name = FileNameOf(path);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    for (char& c : name) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!keep) c = '_';
    }
    if (!name.empty() && name[0] >= '0' && name[0] <= '9') name.insert(0, "_");
    return name;
}

void Engine::Do(std::string_view text) {
    Statement statement = ParseStatement(text);

    if (auto* s = std::get_if<OpenTableStmt>(&statement)) {
        std::string alias = s->alias.empty() ? PathToTableName(s->path) : s->alias;
        if (alias.empty()) throw MapInfoError("No table name can be derived from \"" + s->path + "\".");
        if (m_tables.count(UpperAscii(alias)))
            throw MapInfoError("A table is already open under the name " + alias + ".");
        if (m_tables.size() >= kMaxOpenTables)
            throw MapInfoError("Too many tables are open (" + std::to_string(kMaxOpenTables) + ").");
        if (s->path.empty()) throw MapInfoError("Open Table names no file.");
        auto table = std::make_unique<Table>();
        table->alias = alias;
        table->readOnly = s->readOnly;
        table->Load(s->path, 0);
        m_tables[UpperAscii(alias)] = std::move(table);
        return;
    }
    if (auto* s = std::get_if<SetSeamlessStmt>(&statement)) {
        Table& t = Find(s->alias);
        if (!t.header.seamless) throw MapInfoError("Table " + t.alias + " is not a seamless table.");
        t.seamlessOn = s->on;
        return;
    }
    if (auto* s = std::get_if<FetchStmt>(&statement)) {
        Table& t = Find(s->alias);
        DbfFile& rows = t.Rows();
        std::uint32_t next = 0;
        if (s->where == FetchWhere::First || t.cursor == Table::Cursor::BeforeFirst) next = rows.NextLiveRecord(0);
        else if (t.cursor == Table::Cursor::OnRow) next = rows.NextLiveRecord(t.row);
        else return;  // past the end it stays there
        t.row = next;
        t.cursor = next ? Table::Cursor::OnRow : Table::Cursor::AtEnd;
        return;
    }
    if (auto* s = std::get_if<UpdateStmt>(&statement)) {
        Table& t = Find(s->alias);
        DbfFile& rows = t.Rows();
        std::size_t column = t.Column(s->column);
        if (t.readOnly) throw MapInfoError("Table " + t.alias + " is read-only.");
        if (t.header.seamless && t.seamlessOn)
            throw MapInfoError("Table " + t.alias +
                               " is seamless; its rows can be changed only after Set Table ... Seamless Off.");
        if (s->rowId < 1 || s->rowId > rows.RecordCount())
            throw MapInfoError("Table " + t.alias + " has no row " + std::to_string(s->rowId) + ".");
        std::string record = t.Record(s->rowId);
        if (DbfFile::IsDeleted(record))
            throw MapInfoError("Row " + std::to_string(s->rowId) + " of table " + t.alias + " is deleted.");
        t.changed[s->rowId] = DbfFile::WithFieldText(record, t.columns[column], s->value);
        return;
    }
    if (auto* s = std::get_if<CommitStmt>(&statement)) {
        Table& t = Find(s->alias);
        if (t.changed.empty()) return;
        if (t.readOnly) throw MapInfoError("Table " + t.alias + " is read-only.");
        t.dat->Commit(t.changed);
        t.changed.clear();
        return;
    }
    if (auto* s = std::get_if<CloseStmt>(&statement)) {
        Find(s->alias);
        m_tables.erase(UpperAscii(s->alias));
        return;
    }
}

std::string Engine::Eval(std::string_view text) {
    Expression expression = ParseExpression(text);

    if (auto* e = std::get_if<PathFunctionExpr>(&expression)) {
        switch (e->function) {
            case PathFunction::PathToTableName: return PathToTableName(e->argument);
            case PathFunction::PathToDirectory: return FolderOf(e->argument);
            case PathFunction::FileExists: return !e->argument.empty() && platform::FileExists(e->argument) ? "T" : "F";
        }
    }
    if (auto* e = std::get_if<TableInfoExpr>(&expression)) {
        Table& t = Find(e->alias);
        switch (e->code) {
            case 3:
                if (t.header.kind == TableKind::View) return kTypeView;
                if (t.header.kind == TableKind::Raster) return kTypeImage;
                return kTypeBase;
            case 24: return t.header.seamless ? "T" : "F";
            default:
                throw MapInfoError("TableInfo: attribute code " + std::to_string(e->code) +
                                   " is not supported by this runtime.");
        }
    }
    if (auto* e = std::get_if<EotExpr>(&expression)) {
        Table& t = Find(e->alias);
        t.Rows();
        return t.cursor == Table::Cursor::AtEnd ? "T" : "F";
    }
    if (auto* e = std::get_if<ColumnExpr>(&expression)) {
        Table& t = Find(e->alias);
        t.Rows();
        if (EqualNoCase(e->column, "ROWID")) return std::to_string(t.CurrentRow());
        std::size_t column = t.Column(e->column);
        std::uint32_t row = t.CurrentRow();
        return DbfFile::FieldText(t.Record(row), t.columns[column]);
    }
    if (auto* e = std::get_if<SystemInfoExpr>(&expression)) {
        if (e->code == 5) return kCharset;
        throw MapInfoError("SystemInfo: attribute code " + std::to_string(e->code) +
                           " is not supported by this runtime.");
    }
    throw MapInfoError("Unrecognized expression: \"" + QuoteForMessage(text) + "\".");
}

}  // namespace mapinfo
