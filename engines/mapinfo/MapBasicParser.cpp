#include "engines/mapinfo/MapBasicParser.h"

#include <vector>

#include "engines/mapinfo/MapInfoError.h"
#include "engines/mapinfo/Text.h"

namespace mapinfo {

namespace {

enum class TokenKind { Word, String, Number, Symbol };

struct Token {
    TokenKind kind;
    std::string text;  // words as written; strings without their quotes
};

bool IsWordStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsWordChar(char c) { return IsWordStart(c) || (c >= '0' && c <= '9') || c == '$'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Cuts the text into words, strings, numbers and the symbols ( ) , = . ; returns false on
// a character that belongs to none of them or a string without its closing quote.
bool Tokenize(std::string_view text, std::vector<Token>& out, std::string& why) {
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else if (IsWordStart(c)) {
            std::size_t start = i;
            while (i < text.size() && IsWordChar(text[i])) ++i;
            out.push_back({TokenKind::Word, std::string(text.substr(start, i - start))});
        } else if (IsDigit(c)) {
            std::size_t start = i;
            while (i < text.size() && IsDigit(text[i])) ++i;
            out.push_back({TokenKind::Number, std::string(text.substr(start, i - start))});
        } else if (c == '"') {
            std::string value;
            ++i;
            bool closed = false;
            while (i < text.size()) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        value += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed) {
                why = "a string has no closing quote";
                return false;
            }
            out.push_back({TokenKind::String, std::move(value)});
        } else if (c == '(' || c == ')' || c == ',' || c == '=' || c == '.') {
            out.push_back({TokenKind::Symbol, std::string(1, c)});
            ++i;
        } else {
            why = "unexpected character at position " + std::to_string(i + 1);
            return false;
        }
    }
    return true;
}

class Parser {
public:
    Parser(std::string_view text, const char* what) : m_text(text), m_what(what) {
        if (text.size() > kMaxStatementBytes)
            Fail("it is longer than " + std::to_string(kMaxStatementBytes) + " bytes");
        std::string why;
        if (!Tokenize(text, m_tokens, why)) Fail(why);
    }

    [[noreturn]] void Fail(const std::string& why = {}) const {
        std::string msg = std::string("Unrecognized ") + m_what + ": \"" + QuoteForMessage(m_text) + "\"";
        if (!why.empty()) msg += " (" + why + ")";
        throw MapInfoError(msg + ".");
    }

    bool AtEnd() const { return m_pos >= m_tokens.size(); }
    const Token* Peek() const { return AtEnd() ? nullptr : &m_tokens[m_pos]; }

    bool PeekWord(const char* upperWord) const {
        const Token* t = Peek();
        return t && t->kind == TokenKind::Word && EqualNoCase(t->text, upperWord);
    }
    void Keyword(const char* upperWord) {
        if (!PeekWord(upperWord)) Fail(std::string("expected ") + upperWord);
        ++m_pos;
    }
    bool TryKeyword(const char* upperWord) {
        if (!PeekWord(upperWord)) return false;
        ++m_pos;
        return true;
    }
    std::string Name(const char* role) {
        const Token* t = Peek();
        if (!t || t->kind != TokenKind::Word) Fail(std::string("expected ") + role);
        ++m_pos;
        return t->text;
    }
    std::string String() {
        const Token* t = Peek();
        if (!t || t->kind != TokenKind::String) Fail("expected a text in double quotes");
        ++m_pos;
        return t->text;
    }
    std::uint32_t Number() {
        const Token* t = Peek();
        if (!t || t->kind != TokenKind::Number) Fail("expected a number");
        std::uint64_t v = 0;
        for (char c : t->text) {
            v = v * 10 + static_cast<std::uint64_t>(c - '0');
            if (v > 0xFFFFFFFFull) Fail("the number " + QuoteForMessage(t->text) + " is too large");
        }
        ++m_pos;
        return static_cast<std::uint32_t>(v);
    }
    void Symbol(char c) {
        const Token* t = Peek();
        if (!t || t->kind != TokenKind::Symbol || t->text[0] != c) Fail(std::string("expected \"") + c + "\"");
        ++m_pos;
    }
    void End() {
        if (!AtEnd()) Fail("unexpected text after the end");
    }

private:
    std::string_view m_text;
    const char* m_what;
    std::vector<Token> m_tokens;
    std::size_t m_pos = 0;
};

// ---- statements ----

Statement ParseOpen(Parser& p) {
    p.Keyword("TABLE");
    OpenTableStmt s;
    s.path = p.String();
    if (p.TryKeyword("AS")) s.alias = p.Name("a table alias after As");
    // Display options MapInfo accepts after the alias.
    while (!p.AtEnd()) {
        if (p.TryKeyword("READONLY")) s.readOnly = true;
        else if (!p.TryKeyword("INTERACTIVE") && !p.TryKeyword("HIDE")) p.Fail("unknown option");
    }
    return s;
}

Statement ParseSet(Parser& p) {
    p.Keyword("TABLE");
    SetSeamlessStmt s;
    s.alias = p.Name("a table alias");
    p.Keyword("SEAMLESS");
    if (p.TryKeyword("ON")) s.on = true;
    else p.Keyword("OFF");
    p.End();
    return s;
}

Statement ParseFetch(Parser& p) {
    struct Where {
        const char* word;
        FetchWhere where;
    };
    static constexpr Where kWheres[] = {{"FIRST", FetchWhere::First}, {"NEXT", FetchWhere::Next}};
    FetchStmt s;
    bool found = false;
    for (const Where& w : kWheres) {
        if (p.TryKeyword(w.word)) {
            s.where = w.where;
            found = true;
            break;
        }
    }
    if (!found) p.Fail("expected First or Next");
    p.Keyword("FROM");
    s.alias = p.Name("a table alias");
    p.End();
    return s;
}

Statement ParseUpdate(Parser& p) {
    UpdateStmt s;
    s.alias = p.Name("a table alias");
    p.Keyword("SET");
    s.column = p.Name("a column name");
    p.Symbol('=');
    s.value = p.String();
    p.Keyword("WHERE");
    p.Keyword("ROWID");
    p.Symbol('=');
    s.rowId = p.Number();
    p.End();
    return s;
}

Statement ParseCommit(Parser& p) {
    p.Keyword("TABLE");
    CommitStmt s{p.Name("a table alias")};
    p.End();
    return s;
}

Statement ParseClose(Parser& p) {
    p.Keyword("TABLE");
    CloseStmt s{p.Name("a table alias")};
    p.End();
    return s;
}

struct StatementWord {
    const char* word;
    Statement (*parse)(Parser&);
};
constexpr StatementWord kStatements[] = {
    {"OPEN", ParseOpen},     {"SET", ParseSet},       {"FETCH", ParseFetch},
    {"UPDATE", ParseUpdate}, {"COMMIT", ParseCommit}, {"CLOSE", ParseClose},
};

// ---- expressions ----

Expression ParsePathFunction(Parser& p, PathFunction f) {
    p.Symbol('(');
    PathFunctionExpr e{f, p.String()};
    p.Symbol(')');
    p.End();
    return e;
}
Expression ParsePathToTableName(Parser& p) { return ParsePathFunction(p, PathFunction::PathToTableName); }
Expression ParsePathToDirectory(Parser& p) { return ParsePathFunction(p, PathFunction::PathToDirectory); }
Expression ParseFileExists(Parser& p) { return ParsePathFunction(p, PathFunction::FileExists); }

Expression ParseTableInfo(Parser& p) {
    p.Symbol('(');
    TableInfoExpr e;
    e.alias = p.Name("a table alias");
    p.Symbol(',');
    e.code = p.Number();
    p.Symbol(')');
    p.End();
    return e;
}

Expression ParseEot(Parser& p) {
    p.Symbol('(');
    EotExpr e{p.Name("a table alias")};
    p.Symbol(')');
    p.End();
    return e;
}

Expression ParseSystemInfo(Parser& p) {
    p.Symbol('(');
    SystemInfoExpr e{p.Number()};
    p.Symbol(')');
    p.End();
    return e;
}

struct FunctionWord {
    const char* word;
    Expression (*parse)(Parser&);
};
constexpr FunctionWord kFunctions[] = {
    {"PATHTOTABLENAME$", ParsePathToTableName},
    {"PATHTODIRECTORY$", ParsePathToDirectory},
    {"FILEEXISTS", ParseFileExists},
    {"TABLEINFO", ParseTableInfo},
    {"EOT", ParseEot},
    {"SYSTEMINFO", ParseSystemInfo},
};

}  // namespace

Statement ParseStatement(std::string_view text) {
    Parser p(text, "command");
    for (const StatementWord& s : kStatements)
        if (p.TryKeyword(s.word)) return s.parse(p);
    p.Fail();
}

Expression ParseExpression(std::string_view text) {
    Parser p(text, "expression");
    for (const FunctionWord& f : kFunctions)
        if (p.TryKeyword(f.word)) return f.parse(p);
    // alias.column
    ColumnExpr e;
    e.alias = p.Name("a function or a table alias");
    p.Symbol('.');
    e.column = p.Name("a column name");
    p.End();
    return e;
}

}  // namespace mapinfo
