#pragma once
// The MapBasic the runtime understands: the statements run by Do and the expressions
// evaluated by Eval. Keywords ignore letter case, blanks between words are free, strings
// are in double quotes (a doubled quote stands for one). Anything else is rejected with a
// message that quotes the text.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace mapinfo {

// Longest statement or expression accepted.
inline constexpr std::size_t kMaxStatementBytes = 64 * 1024;

// ---- statements (Do) ----
struct OpenTableStmt {
    std::string path;
    std::string alias;  // empty: derived from the path
    bool readOnly = false;
};
struct SetSeamlessStmt {
    std::string alias;
    bool on = false;
};
enum class FetchWhere { First, Next };
struct FetchStmt {
    std::string alias;
    FetchWhere where = FetchWhere::First;
};
struct UpdateStmt {
    std::string alias;
    std::string column;
    std::string value;
    std::uint32_t rowId = 0;
};
struct CommitStmt {
    std::string alias;
};
struct CloseStmt {
    std::string alias;
};
using Statement = std::variant<OpenTableStmt, SetSeamlessStmt, FetchStmt, UpdateStmt, CommitStmt, CloseStmt>;

// ---- expressions (Eval) ----
enum class PathFunction { PathToTableName, PathToDirectory, FileExists };
struct PathFunctionExpr {
    PathFunction function;
    std::string argument;
};
struct TableInfoExpr {
    std::string alias;
    std::uint32_t code = 0;
};
struct EotExpr {
    std::string alias;
};
struct ColumnExpr {
    std::string alias;
    std::string column;  // RowId or a column of the table
};
struct SystemInfoExpr {
    std::uint32_t code = 0;
};
using Expression = std::variant<PathFunctionExpr, TableInfoExpr, EotExpr, ColumnExpr, SystemInfoExpr>;

// Both throw MapInfoError.
Statement ParseStatement(std::string_view text);
Expression ParseExpression(std::string_view text);

}  // namespace mapinfo
