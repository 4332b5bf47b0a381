#pragma once
// The text header (.TAB) of a MapInfo table, as far as the runtime needs it: what kind of
// table it is, whether it is seamless, its field list, the files and tables it names.
#include <string>
#include <string_view>
#include <vector>

namespace mapinfo {

enum class TableKind {
    Native,    // Definition Table, Type NATIVE: rows in the .DAT beside the header
    View,      // Create View over tables it opens
    Raster,    // Type "RASTER": an image named by a File line
    Access,    // Type ACCESS: rows in a Microsoft Access database
    Linked,    // Type LINKED: a table linked to a remote database
    Foreign,   // another Type (DBF, ASCII, ODBC, ...)
    Redirect,  // a header that only opens another table (Open Table "..." As ...)
    Workspace  // a header that runs a workspace (Run Application "...") opening the table
};

struct HeaderField {
    std::string name;
    std::string type;  // as written: Char, Integer, Decimal, ...
};

struct TableHeader {
    TableKind kind = TableKind::Native;
    std::string typeName;       // the word after Type, quotes removed
    bool seamless = false;      // metadata "\IsSeamless" = "TRUE"
    bool hasFieldList = false;  // a Fields n line was read
    std::vector<HeaderField> fields;
    std::vector<std::string> files;       // names of File "..." lines, in order
    std::vector<std::string> openTables;  // names of Open Table "..." lines, in order
    std::string redirectTable;            // for Redirect: the last Open Table ... As line's name
    std::string runApplication;           // for Workspace: the named workspace
};

// Most fields a header may declare; the .DAT format cannot hold more.
inline constexpr unsigned long kMaxHeaderFields = 2046;
// Largest header the runtime reads.
inline constexpr std::size_t kMaxHeaderBytes = 4 * 1024 * 1024;

// Quick test: does the text begin like a table header ("!table" on its first non-blank
// line, any case)?
bool LooksLikeTableHeader(std::string_view text);

// Reads a header; throws MapInfoError naming `path` when the text is not a table header
// or its field list is damaged.
TableHeader ParseTableHeader(std::string_view text, const std::string& path);

const char* TableKindName(TableKind kind);

}  // namespace mapinfo
