#include "CommandLine.h"

#include "common/Ascii.h"

namespace sfx {

namespace {

constexpr char kFolderMark[] = "><";

std::string Trim(const std::string& s) { return std::string(common::Trim(s, " \t")); }

std::string ReplaceMark(const std::string& s, const std::string& folder) {
    std::string out;
    size_t pos = 0;
    for (;;) {
        size_t hit = s.find(kFolderMark, pos);
        if (hit == std::string::npos) break;
        out.append(s, pos, hit - pos).append(folder);
        pos = hit + 2;
    }
    return out.append(s, pos, std::string::npos);
}

}  // namespace

Command ExpandCommandLine(const std::string& text, const std::string& folder) {
    Command cmd;
    size_t bar = text.find('|');
    cmd.program = ReplaceMark(Trim(text.substr(0, bar)), folder);
    if (cmd.program.empty() || bar == std::string::npos) return cmd;

    // Arguments: blank-separated words; a quoted stretch stays inside its word.
    const std::string args = Trim(text.substr(bar + 1));
    std::string word;
    bool quoted = false, hasQuote = false;
    auto flush = [&] {
        if (word.empty()) return;
        std::string expanded = ReplaceMark(word, folder);
        if (!hasQuote && expanded != word && expanded.find(' ') != std::string::npos) expanded = '"' + expanded + '"';
        if (!cmd.arguments.empty()) cmd.arguments += ' ';
        cmd.arguments += expanded;
        word.clear();
        hasQuote = false;
    };
    for (char c : args) {
        if (c == '"') {
            quoted = !quoted;
            hasQuote = true;
        }
        if ((c == ' ' || c == '\t') && !quoted) {
            flush();
            continue;
        }
        word += c;
    }
    flush();
    return cmd;
}

}  // namespace sfx
