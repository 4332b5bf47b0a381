#include "copyrun/Manifest.h"

#include <cstdio>

#include "app/Version.h"

namespace copyrun {
namespace {

// The code points of Windows-1252's bytes 0x80 to 0x9F (0 where the byte is unassigned and
// stands for itself).
constexpr unsigned kHigh1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t follow = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (follow == 9 || (follow > 0 && c < 0xC2) || i + follow >= text.size()) return false;
        for (std::size_t k = 1; k <= follow; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        i += follow + 1;
    }
    return true;
}

void AppendCodePoint(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A JSON string of a text of the program's.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char ch : ToUtf8(text)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string Relative(const std::string& path, const std::string& target) {
    const std::string prefix = target + "/";
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

std::string Bool(bool b) { return b ? "true" : "false"; }

std::string Options(const analysis::CopyOptions& o, const std::string& target) {
    return "{\"target\": " + Quoted(target) + ", \"noPrinter\": " + Bool(o.version5) + ", \"cd\": " + Bool(o.cd) +
           ", \"autorun\": " + Bool(o.autoRun) + ", \"zip\": " + (o.zip ? Quoted(o.zipFile) : "null") +
           ", \"removeFiles\": " + Bool(o.removeFiles) + ", \"exe\": " + Bool(o.exe) +
           ", \"message\": " + Bool(o.readme) + "}";
}

}  // namespace

std::string ToUtf8(const std::string& text) {
    if (IsUtf8(text)) return text;
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const unsigned mapped = c >= 0x80 && c < 0xA0 ? kHigh1252[c - 0x80] : 0;
        AppendCodePoint(out, mapped ? mapped : c);
    }
    return out;
}

std::string ManifestJson(const analysis::CopyFormState& state, const RunRecord& record, bool planned) {
    const std::string target = TargetFolder(state.options);
    std::string json = "{\n  \"program\": \"tallomir\",\n  \"version\": " + Quoted(app::kVersion) +
                       ",\n  \"planned\": " + Bool(planned) + ",\n  \"options\": " + Options(state.options, target) +
                       ",\n  \"workspaces\": [";
    for (std::size_t i = 0; i < state.workspaces.size(); ++i) json += (i ? ", " : "") + Quoted(state.workspaces[i]);
    json += "],\n  \"bytes\": " + std::to_string(record.bytes) + ",\n  \"files\": [";
    for (std::size_t i = 0; i < record.files.size(); ++i) {
        const FileRecord& f = record.files[i];
        json += std::string(i ? "," : "") + "\n    {\"kind\": " + Quoted(f.kind);
        if (!f.table.empty()) json += ", \"table\": " + Quoted(f.table);
        json += ", \"source\": " + (f.source.empty() ? std::string("null") : Quoted(f.source)) +
                ", \"target\": " + Quoted(Relative(f.target, target)) + ", \"size\": " + std::to_string(f.size) +
                ", \"sha256\": " + (f.sha256.empty() ? std::string("null") : Quoted(f.sha256)) +
                ", \"status\": " + Quoted(f.status) + ", \"note\": " + Quoted(f.note) + "}";
    }
    json += "\n  ],\n  \"notes\": [";
    for (std::size_t i = 0; i < record.notes.size(); ++i) json += (i ? ", " : "") + Quoted(record.notes[i]);
    return json + "]\n}\n";
}

std::string PlanTable(const analysis::CopyFormState& state, const RunRecord& record) {
    const std::string target = TargetFolder(state.options);
    std::size_t width = 6;
    for (const FileRecord& f : record.files) width = std::max(width, ToUtf8(Relative(f.target, target)).size());
    std::string out;
    auto row = [&](const std::string& kind, const std::string& status, const std::string& where,
                   const std::string& from) {
        char head[40];
        std::snprintf(head, sizeof head, "%-10s %-11s ", kind.c_str(), status.c_str());
        std::string line = head + where;
        if (!from.empty()) line += std::string(width + 2 - std::min(width, where.size()), ' ') + "<- " + from;
        out += line + "\n";
    };
    out += "Copy plan for " + ToUtf8(target) + "\n";
    row("KIND", "ACTION", "TARGET", "SOURCE");
    for (const FileRecord& f : record.files)
        row(f.kind, f.status, ToUtf8(Relative(f.target, target)), ToUtf8(f.source));
    out += "Disk space: " + std::to_string(record.bytes) + " bytes (" + state.sizeText + ")\n";
    for (const std::string& note : record.notes) {
        std::string oneLine;
        for (char c : ToUtf8(note)) oneLine += c == '\r' ? ' ' : c == '\n' ? ' ' : c;
        out += "NOTE " + oneLine + "\n";
    }
    return out;
}

}  // namespace copyrun
