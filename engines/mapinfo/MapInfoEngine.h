#pragma once
// The embedded MapInfo runtime: runs the MapBasic statements and evaluates the expressions
// the program sends, over real table files. Tables are opened under an alias; a native
// table gets a row cursor over its .DAT, changes to rows are held in memory until Commit
// writes them, Close discards what was not committed.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace mapinfo {

class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Runs one statement; throws MapInfoError with MapInfo-like text when it is rejected.
    void Do(std::string_view statement);
    // Evaluates one expression and returns its value as text; throws MapInfoError.
    std::string Eval(std::string_view expression);

    std::size_t OpenTableCount() const { return m_tables.size(); }

    // Most tables open at one time.
    static constexpr std::size_t kMaxOpenTables = 256;
    // The character set the runtime reports (SystemInfo(5)).
    static constexpr const char* kCharset = "WindowsLatin1";

    struct Table;  // one open table

private:
    Table& Find(const std::string& alias);

    std::map<std::string, std::unique_ptr<Table>> m_tables;  // key: alias upper-cased
};

// The table name MapInfo derives from a path: the file name without folder and extension,
// every character but a letter, digit or underscore turned into "_", a leading digit
// prefixed with "_".
std::string PathToTableName(std::string_view path);

}  // namespace mapinfo
