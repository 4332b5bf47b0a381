// A scripted stand-in for MapInfo, registered as "Test.MapInfo", for the analysis unit
// tests. It answers the program's statements from the file system:
//  - PathToTableName$, PathToDirectory$ and FileExists from the path text;
//  - a table "X" is seamless when "X.tiles" exists beside its header: one tile path a line;
//  - opening "X" fails when "X.openfail" exists; reading a row fails when "X.rowfail" exists;
//    closing fails when "X.closefail" exists; TableInfo(LAYER,3) fails with "X.infofail"; committing fails when
//    "X.commitfail" exists;
//  - "Update LAYER Set Table=..." changes a row, "Commit Table LAYER" writes the rows back
//    into "X.tiles"; TableInfo(LAYER,3) is "3" when the header holds "Create View".
// "Log" returns every call received so far, one "Do text" / "Eval text" per line.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestPlugin.h"
#include "platform/AutomationPlugin.h"
#include "platform/FileSystem.h"

namespace {

struct State {
    std::string log;
    std::string open;               // the table open under LAYER, "" when none
    std::vector<std::string> rows;  // tile names of a seamless table
    std::size_t cursor = 0;
    bool seamless = false;
};

State g_state;

std::string Arg(const std::string& text) {  // the text inside the first pair of quotes
    std::size_t a = text.find('"');
    std::size_t b = text.find('"', a + 1);
    return a == std::string::npos || b == std::string::npos ? "" : text.substr(a + 1, b - a - 1);
}

bool Exists(const std::string& path) { return platform::FileExists(path); }

int Answer(const std::string& text, bool ok, char** out, size_t* len) {
    *out = testing_support::PluginText(text, len);
    return ok ? TALLOMIR_INVOKE_OK : TALLOMIR_INVOKE_ERROR;
}

int Invoke(void*, const char* method, const char* arg, size_t argLen, char** out, size_t* outLen) {
    std::string m = method, a(arg, argLen);
    if (m == "Log") return Answer(g_state.log, true, out, outLen);
    if (m == "Reset") {
        g_state = State{};
        return Answer("", true, out, outLen);
    }
    g_state.log += m + " " + a + "\n";
    State& s = g_state;
    if (m == "Eval") {
        if (a.rfind("PathToTableName$(", 0) == 0) {
            std::string p = Arg(a);
            std::size_t sep = p.find_last_of("\\/");
            std::string name = sep == std::string::npos ? p : p.substr(sep + 1);
            name = name.substr(0, name.rfind('.'));
            for (char& c : name)
                if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
            return Answer(name, true, out, outLen);
        }
        if (a.rfind("PathToDirectory$(", 0) == 0) {
            std::string p = Arg(a);
            std::size_t sep = p.find_last_of("\\/");
            return Answer(sep == std::string::npos ? "" : p.substr(0, sep + 1), true, out, outLen);
        }
        if (a.rfind("FileExists(", 0) == 0) return Answer(Exists(Arg(a)) ? "T" : "F", true, out, outLen);
        if (a == "SystemInfo(5)") return Answer("WindowsLatin1", true, out, outLen);
        if (s.open.empty()) return Answer("Table LAYER is not open.", false, out, outLen);
        if (a == "TableInfo(LAYER,24)") return Answer(s.seamless ? "T" : "F", true, out, outLen);
        if (a == "TableInfo(LAYER,3)") {
            if (Exists(s.open + ".infofail")) return Answer("Cannot tell the table type.", false, out, outLen);
            auto header = platform::ReadFile(s.open + ".tab");
            bool view = header.bytes && header.bytes->find("Create View") != std::string::npos;
            return Answer(view ? "3" : "1", true, out, outLen);
        }
        if (a == "LAYER.RowId") return Answer(std::to_string(s.cursor + 1), true, out, outLen);
        if (a == "EOT(LAYER)") return Answer(s.cursor >= s.rows.size() ? "T" : "F", true, out, outLen);
        if (a == "LAYER.Table") {
            if (Exists(s.open + ".rowfail")) return Answer("Cannot read the row.", false, out, outLen);
            return Answer(s.rows.at(s.cursor), true, out, outLen);
        }
        return Answer("Unknown expression: " + a, false, out, outLen);
    }
    if (m == "Do") {
        if (a.rfind("Open Table ", 0) == 0) {
            if (!s.open.empty()) return Answer("Alias LAYER is already in use.", false, out, outLen);
            std::string p = Arg(a);
            if (p.size() > 4 && (p.substr(p.size() - 4) == ".TAB" || p.substr(p.size() - 4) == ".tab"))
                p.resize(p.size() - 4);
            if (!Exists(p + ".tab") || Exists(p + ".openfail")) return Answer("Cannot open " + p, false, out, outLen);
            s.open = p;
            s.rows.clear();
            s.cursor = 0;
            s.seamless = Exists(p + ".tiles");
            if (s.seamless) {
                auto text = platform::ReadFile(p + ".tiles");
                std::istringstream in(text.bytes.value_or(""));
                for (std::string line; std::getline(in, line);)
                    if (!line.empty()) s.rows.push_back(line);
            }
            return Answer("", true, out, outLen);
        }
        if (s.open.empty()) return Answer("Table LAYER is not open.", false, out, outLen);
        if (a == "Fetch First From LAYER") {
            s.cursor = 0;
            return Answer("", true, out, outLen);
        }
        if (a == "Fetch Next From LAYER") {
            ++s.cursor;
            return Answer("", true, out, outLen);
        }
        if (a == "Set Table LAYER Seamless Off") return Answer("", true, out, outLen);
        if (a.rfind("Update LAYER Set Table=\"", 0) == 0) {
            std::size_t row = std::stoul(a.substr(a.find("RowId=") + 6));
            if (row == 0 || row > s.rows.size()) return Answer("No such row.", false, out, outLen);
            s.rows[row - 1] = Arg(a);
            return Answer("", true, out, outLen);
        }
        if (a == "Commit Table LAYER") {
            if (Exists(s.open + ".commitfail")) return Answer("Cannot commit.", false, out, outLen);
            std::string text;
            for (const auto& r : s.rows) text += r + "\n";
            platform::WriteFile(platform::ResolveCase(s.open + ".tiles").value_or(s.open + ".tiles"), text);
            return Answer("", true, out, outLen);
        }
        if (a == "Close Table LAYER") {
            bool fail = Exists(s.open + ".closefail");
            s.open.clear();
            return Answer(fail ? "Close failed." : "", !fail, out, outLen);
        }
        return Answer("Unknown statement: " + a, false, out, outLen);
    }
    *out = testing_support::PluginText("Unknown name: " + m, outLen);
    return TALLOMIR_INVOKE_UNKNOWN_METHOD;
}

}  // namespace

extern "C" TALLOMIR_PLUGIN_EXPORT TallomirAutomationObject* TallomirCreateAutomationObject(void) {
    return testing_support::NewPluginObject(Invoke);
}
