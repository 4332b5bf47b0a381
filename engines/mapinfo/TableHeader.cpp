#include "engines/mapinfo/TableHeader.h"

#include "engines/mapinfo/MapInfoError.h"
#include "engines/mapinfo/Text.h"

namespace mapinfo {

namespace {

// The text between the first double quote at or after `from` and the next one; empty
// when there are not two.
std::string Quoted(std::string_view line, std::size_t from = 0) {
    std::size_t open = line.find('"', from);
    if (open == std::string_view::npos) return {};
    std::size_t close = line.find('"', open + 1);
    if (close == std::string_view::npos) return {};
    return std::string(line.substr(open + 1, close - open - 1));
}

// True when `upper` starts with the keyword `word` followed by a blank, a quote or its end.
bool StartsWithWord(std::string_view upper, std::string_view word) {
    if (upper.substr(0, word.size()) != word) return false;
    if (upper.size() == word.size()) return true;
    char next = upper[word.size()];
    return next == ' ' || next == '\t' || next == '"';
}

struct TypeWord {
    const char* word;
    TableKind kind;
};
constexpr TypeWord kTypeWords[] = {
    {"NATIVE", TableKind::Native},
    {"RASTER", TableKind::Raster},
    {"ACCESS", TableKind::Access},
    {"LINKED", TableKind::Linked},
};

[[noreturn]] void NotAHeader(const std::string& path, const std::string& why) {
    throw MapInfoError("File " + path + " is not a MapInfo table: " + why + ".");
}

}  // namespace

const char* TableKindName(TableKind kind) {
    switch (kind) {
        case TableKind::Native: return "native";
        case TableKind::View: return "view";
        case TableKind::Raster: return "raster";
        case TableKind::Access: return "Microsoft Access";
        case TableKind::Linked: return "linked";
        case TableKind::Foreign: return "foreign";
        case TableKind::Redirect: return "redirecting";
        case TableKind::Workspace: return "workspace";
    }
    return "unknown";
}

bool LooksLikeTableHeader(std::string_view text) {
    for (std::string_view line : SplitLines(text)) {
        std::string t = UpperAscii(TrimBlanks(line));
        if (t.empty()) continue;
        return t.rfind("!TABLE", 0) == 0;
    }
    return false;
}

TableHeader ParseTableHeader(std::string_view text, const std::string& path) {
    if (text.size() > kMaxHeaderBytes) NotAHeader(path, "it is far too large for a table header");
    if (!LooksLikeTableHeader(text)) NotAHeader(path, "it does not begin with !table");

    TableHeader h;
    bool definition = false, view = false, raster = false, redirect = false, runApp = false;
    bool typed = false, inMetadata = false;
    TableKind typeKind = TableKind::Native;
    unsigned long fieldsExpected = 0;

    for (std::string_view raw : SplitLines(text)) {
        std::string_view line = TrimBlanks(raw);
        std::string upper = UpperAscii(line);
        if (fieldsExpected > 0) {
            if (line.empty()) continue;
            // Name Type [(width[,decimals])] [Index n] ;  The name may be in back quotes.
            HeaderField f;
            std::size_t nameEnd;
            if (line[0] == '`') {
                nameEnd = line.find('`', 1);
                if (nameEnd == std::string_view::npos) NotAHeader(path, "a field name has no closing quote");
                f.name = std::string(line.substr(1, nameEnd - 1));
                ++nameEnd;
            } else {
                nameEnd = line.find_first_of(" \t(;");
                if (nameEnd == std::string_view::npos) nameEnd = line.size();
                f.name = std::string(line.substr(0, nameEnd));
            }
            std::string_view rest = TrimBlanks(line.substr(nameEnd));
            std::size_t typeEnd = rest.find_first_of(" \t(;");
            f.type = std::string(rest.substr(0, typeEnd == std::string_view::npos ? rest.size() : typeEnd));
            if (f.name.empty() || f.type.empty())
                NotAHeader(path, "field line \"" + std::string(line) + "\" is incomplete");
            h.fields.push_back(std::move(f));
            --fieldsExpected;
            continue;
        }
        if (line.empty()) continue;
        if (inMetadata) {
            if (StartsWithWord(upper, "END_METADATA")) {
                inMetadata = false;
                continue;
            }
            std::string key = Quoted(line);
            std::size_t keyEnd = line.find('"', line.find('"') + 1);
            std::string value = keyEnd == std::string_view::npos ? std::string() : Quoted(line, keyEnd + 1);
            if (EqualNoCase(key, "\\IsSeamless") && EqualNoCase(value, "TRUE")) h.seamless = true;
            continue;
        }
        if (StartsWithWord(upper, "BEGIN_METADATA")) {
            inMetadata = true;
        } else if (StartsWithWord(upper, "FIELDS")) {
            std::string_view count = TrimBlanks(line.substr(6));
            unsigned long n = 0;
            if (count.empty()) NotAHeader(path, "its Fields line gives no count");
            for (char c : count) {
                if (c < '0' || c > '9')
                    NotAHeader(path, "its field count \"" + std::string(count) + "\" is not a number");
                n = n * 10 + static_cast<unsigned long>(c - '0');
                if (n > kMaxHeaderFields) NotAHeader(path, "its field count " + std::string(count) + " is absurd");
            }
            fieldsExpected = n;
            h.hasFieldList = true;
            if (n == 0) continue;
        } else if (StartsWithWord(upper, "TYPE")) {
            std::string_view rest = TrimBlanks(line.substr(4));
            std::string word;
            if (!rest.empty() && rest[0] == '"') {
                word = Quoted(rest);
            } else {
                std::size_t end = rest.find_first_of(" \t");
                word = std::string(rest.substr(0, end));
            }
            if (!typed) h.typeName = word;
            typed = true;
            TableKind kind = TableKind::Foreign;
            for (const TypeWord& t : kTypeWords)
                if (EqualNoCase(word, t.word)) kind = t.kind;
            if (kind == TableKind::Raster) raster = true;
            else if (typeKind == TableKind::Native) typeKind = kind;
        } else if (StartsWithWord(upper, "DEFINITION")) {
            definition = true;
        } else if (upper.rfind("CREATE VIEW", 0) == 0) {
            view = true;
        } else if (upper.rfind("OPEN TABLE", 0) == 0) {
            std::string name = Quoted(line);
            h.openTables.push_back(name);
            if (upper.find(" AS ") != std::string::npos) {
                h.redirectTable = name;
                redirect = true;
            }
        } else if (upper.rfind("RUN APPLICATION", 0) == 0) {
            h.runApplication = Quoted(line);
            runApp = true;
        }
        // A File line may stand alone or follow Type on the same line.
        std::size_t file = upper.find("FILE \"");
        if (file != std::string::npos) h.files.push_back(Quoted(line, file));
    }
    if (fieldsExpected > 0) NotAHeader(path, "it ends inside its field list");

    if (view) h.kind = TableKind::View;
    else if (raster) h.kind = TableKind::Raster;
    else if (typed && typeKind != TableKind::Native) h.kind = typeKind;
    else if (definition) h.kind = TableKind::Native;
    else if (redirect) h.kind = TableKind::Redirect;
    else if (runApp) h.kind = TableKind::Workspace;
    else NotAHeader(path, "it has no table definition");
    if (h.kind != TableKind::Native) h.seamless = false;
    return h;
}

}  // namespace mapinfo
