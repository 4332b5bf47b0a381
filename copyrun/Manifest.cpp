#include "copyrun/Manifest.h"

#include <cstdio>

#include "app/Version.h"
#include "common/Ascii.h"
#include "platform/File.h"
#include "platform/Hash.h"
#include "platform/TextCodec.h"

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

// Bytes of Windows-1252, the character set MapInfo writes where none is named, in UTF-8.
std::string Windows1252(const std::string& text) {
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const unsigned mapped = c >= 0x80 && c < 0xA0 ? kHigh1252[c - 0x80] : 0;
        AppendCodePoint(out, mapped ? mapped : c);
    }
    return out;
}

// The Windows code page of a character set MapInfo names.
unsigned CodePage(const std::string& charset) {
    static const struct {
        const char* name;
        unsigned codePage;
    } kSets[] = {{"WINDOWSLATIN1", 1252},
                 {"WINDOWSLATIN2", 1250},
                 {"WINDOWSCYRILLIC", 1251},
                 {"WINDOWSGREEK", 1253},
                 {"WINDOWSTURKISH", 1254},
                 {"WINDOWSHEBREW", 1255},
                 {"WINDOWSARABIC", 1256},
                 {"WINDOWSBALTICRIM", 1257},
                 {"WINDOWSVIETNAMESE", 1258},
                 {"WINDOWSTHAI", 874},
                 {"WINDOWSJAPANESE", 932},
                 {"WINDOWSSIMPCHINESE", 936},
                 {"WINDOWSKOREAN", 949},
                 {"WINDOWSTRADCHINESE", 950},
                 {"CODEPAGE437", 437},
                 {"CODEPAGE850", 850},
                 {"CODEPAGE852", 852},
                 {"CODEPAGE855", 855},
                 {"CODEPAGE857", 857},
                 {"CODEPAGE860", 860},
                 {"CODEPAGE861", 861},
                 {"CODEPAGE863", 863},
                 {"CODEPAGE864", 864},
                 {"CODEPAGE865", 865},
                 {"CODEPAGE869", 869},
                 {"ISO8859_1", 28591},
                 {"ISO8859_2", 28592},
                 {"ISO8859_3", 28593},
                 {"ISO8859_4", 28594},
                 {"ISO8859_5", 28595},
                 {"ISO8859_6", 28596},
                 {"ISO8859_7", 28597},
                 {"ISO8859_8", 28598},
                 {"ISO8859_9", 28599},
                 {"UTF-8", 65001},
                 {"UTF8", 65001}};
    const std::string upper = common::UpperAscii(common::Trim(charset));
    for (const auto& set : kSets)
        if (upper == set.name) return set.codePage;
    return 1252;
}

// A JSON string of a text already in UTF-8.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
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
           ", \"autorun\": " + Bool(o.autoRun) + ", \"zip\": " + (o.zip ? Quoted(ToUtf8(o.zipFile)) : "null") +
           ", \"removeFiles\": " + Bool(o.removeFiles) + ", \"exe\": " + Bool(o.exe) +
           ", \"message\": " + Bool(o.readme) + "}";
}

std::string NotesJson(const std::vector<std::string>& notes, const std::string& charset) {
    std::string json = "[";
    for (std::size_t i = 0; i < notes.size(); ++i) json += (i ? ", " : "") + Quoted(ToUtf8(notes[i], charset));
    return json + "]";
}

// One file's object. A workspace's own path comes from the command line, not from a file
// written in a character set; every other text of the record is in the record's.
std::string FileJson(const FileRecord& f, const std::string& target) {
    std::string json = "{\"kind\": " + Quoted(f.kind);
    if (!f.table.empty()) json += ", \"table\": " + Quoted(ToUtf8(f.table, f.charset));
    const std::string source = f.kind == "workspace" ? ToUtf8(f.source) : ToUtf8(f.source, f.charset);
    json += ", \"source\": " + (f.source.empty() ? std::string("null") : Quoted(source)) +
            ", \"target\": " + Quoted(ToUtf8(Relative(f.target, target), f.charset)) +
            ", \"size\": " + std::to_string(f.size) +
            ", \"sha256\": " + (f.sha256.empty() ? std::string("null") : Quoted(f.sha256)) +
            ", \"status\": " + Quoted(f.status) + ", \"notes\": " + NotesJson(f.notes, f.charset) + "}";
    return json;
}

}  // namespace

std::string Sha256OfFile(const std::string& path) {
    platform::File::Opened in = platform::File::Open(path, platform::File::Mode::Read);
    if (in.error) return {};
    platform::Sha256 hash;
    // The files read here are mostly stubs and headers of a few hundred bytes: a buffer
    // made afresh for each would cost more than reading and hashing them.
    thread_local std::vector<char> buffer(std::size_t(64) << 10);
    for (;;) {
        const std::int64_t got = in.file.Read(buffer.data(), static_cast<std::int64_t>(buffer.size()));
        if (got < 0) return {};
        if (got == 0) return hash.HexDigest();
        hash.Update(buffer.data(), static_cast<std::size_t>(got));
    }
}

std::string NamedCharset(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string line(common::Trim(std::string_view(text).substr(at, end - at)));
        if (common::UpperAscii(line.substr(0, 9)) == "!CHARSET " ||
            common::UpperAscii(line.substr(0, 9)) == "!CHARSET\t")
            return std::string(common::Trim(line.substr(9)));
        if (!line.empty() && line[0] != '!') break;  // the "!" lines lead the file
        at = end + 1;
    }
    return {};
}

std::string ToUtf8(const std::string& text, const std::string& charset) {
    const unsigned codePage = CodePage(charset);
    if (codePage == 65001) return ToUtf8(text);  // already UTF-8 unless damaged
    bool plain = true;
    for (char c : text) plain = plain && static_cast<unsigned char>(c) < 0x80;
    if (plain) return text;
    if (codePage != 1252) {
        if (auto converted = platform::Utf8FromCodePage(text, codePage)) return *converted;
    }
    return Windows1252(text);
}

std::string ToUtf8(const std::string& text) { return IsUtf8(text) ? text : Windows1252(text); }

std::string ManifestJson(const analysis::CopyFormState& state, const RunRecord& record, bool planned) {
    const std::string target = TargetFolder(state.options);
    std::string json = "{\n  \"program\": \"tallomir\",\n  \"version\": " + Quoted(app::kVersion) +
                       ",\n  \"planned\": " + Bool(planned) + ",\n  \"options\": " + Options(state.options, target) +
                       ",\n  \"workspaces\": [";
    for (std::size_t i = 0; i < state.workspaces.size(); ++i)
        json += (i ? ", " : "") + Quoted(ToUtf8(state.workspaces[i]));
    json += "],\n  \"bytes\": " + std::to_string(record.bytes) + ",\n  \"files\": [";
    for (std::size_t i = 0; i < record.files.size(); ++i)
        json += std::string(i ? "," : "") + "\n    " + FileJson(record.files[i], target);
    json += "\n  ],\n  \"notes\": " + NotesJson(record.notes, record.charset);
    return json + "\n}\n";
}

std::string PlanTable(const analysis::CopyFormState& state, const RunRecord& record) {
    const std::string target = TargetFolder(state.options);
    std::size_t width = 6;
    for (const FileRecord& f : record.files)
        width = std::max(width, ToUtf8(Relative(f.target, target), f.charset).size());
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
        row(f.kind, f.status, ToUtf8(Relative(f.target, target), f.charset),
            f.kind == "workspace" ? ToUtf8(f.source) : ToUtf8(f.source, f.charset));
    out += "Disk space: " + std::to_string(record.bytes) + " bytes (" + state.sizeText + ")\n";
    for (const std::string& note : record.notes) {
        std::string oneLine;
        for (char c : ToUtf8(note, record.charset)) oneLine += c == '\r' ? ' ' : c == '\n' ? ' ' : c;
        out += "NOTE " + oneLine + "\n";
    }
    if (!record.inUseTested)
        out += "Not tested: whether another program holds a source (the test would take a lock).\n";
    return out;
}

}  // namespace copyrun
