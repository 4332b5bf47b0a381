#include "copyrun/PackageCheck.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>

#include "app/pmUtils.h"
#include "copyrun/Manifest.h"
#include "platform/FileSystem.h"
#include "platform/Hash.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipEntryTest.h"

namespace copyrun {
namespace {

constexpr std::size_t kMaxPath = 259;  // Windows' limit of 260, its terminating zero taken off

// The files of a package by relative name ('\' separators), upper-cased for lookups.
class PackageView {
public:
    struct Entry {
        std::string name;
        std::uint64_t size = 0;
    };
    std::map<std::string, Entry> files;
    std::map<std::string, std::string> texts;    // archives: the bytes of the files read
    std::map<std::string, std::string> digests;  // archives with a manifest: each entry's SHA-256
    std::string folder;                          // folders: the package's host path

    const Entry* Find(const std::string& rel) const {
        auto it = files.find(pm::UpperAscii(Normal(rel)));
        return it == files.end() ? nullptr : &it->second;
    }
    std::optional<std::string> Bytes(const std::string& rel) const {
        if (!folder.empty()) {
            std::string host = rel;
            for (char& c : host) c = c == '\\' ? '/' : c;
            return platform::ReadFile(folder + "/" + host).bytes;
        }
        auto it = texts.find(Normal(rel));
        if (it == texts.end()) return std::nullopt;
        return it->second;
    }
    // A file's SHA-256; empty when it could not be read whole.
    std::string Digest(const std::string& rel) const {
        if (folder.empty()) {
            auto it = digests.find(Normal(rel));
            return it == digests.end() ? std::string() : it->second;
        }
        std::string host = rel;
        for (char& c : host) c = c == '\\' ? '/' : c;
        return Sha256OfFile(folder + "/" + host);
    }
    // '/' to '\', "." and ".." folded; a name that leaves the package comes back as "..\".
    static std::string Normal(const std::string& rel) {
        std::vector<std::string> parts;
        std::string part;
        for (char c : rel + "\\") {
            if (c != '\\' && c != '/') {
                part += c;
                continue;
            }
            if (part == "..") {
                if (parts.empty()) return "..\\" + rel;
                parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            part.clear();
        }
        std::string out;
        for (const auto& p : parts) out += (out.empty() ? "" : "\\") + p;
        return out;
    }
};

void Walk(PackageView& view, const std::string& host, const std::string& rel) {
    for (const platform::DirEntry& e : platform::FindFiles(host, "*")) {
        const std::string name = rel.empty() ? e.name : rel + "\\" + e.name;
        if (e.isDirectory) Walk(view, host + "/" + e.name, name);
        else view.files[pm::UpperAscii(name)] = {name, e.size};
    }
}

class Checker {
public:
    Checker(PackageView& view, PackageCheck& result) : m_view(view), m_result(result) {}
    void Run(const std::string& root);
    void Find(const std::string& kind, const std::string& where, const std::string& what) {
        m_result.findings.push_back({kind, where, what});
    }

private:
    // The quoted file name of a MapInfo line, when it has one.
    static std::optional<std::string> Quoted(const std::string& line) {
        const auto a = line.find('"');
        if (a == std::string::npos) return std::nullopt;
        const auto b = line.find('"', a + 1);
        if (b == std::string::npos) return std::nullopt;
        return line.substr(a + 1, b - a - 1);
    }
    static std::string FolderOf(const std::string& rel) {
        const auto sep = rel.rfind('\\');
        return sep == std::string::npos ? std::string() : rel.substr(0, sep + 1);
    }
    // A name a file of the package uses: within the package, no drive, share or root.
    bool Leads(const std::string& where, const std::string& folder, const std::string& name,
               const std::vector<std::string>& extensions) {
        if (platform::IsAbsoluteText(name)) {
            Find("absolute", where, "names " + name);
            return false;
        }
        const std::string rel = PackageView::Normal(folder + name);
        for (const std::string& ext : extensions) {
            if (m_view.Find(rel + ext)) return true;
        }
        Find("missing", where, "names " + name + ", which the package lacks");
        return false;
    }
    std::vector<std::string> Lines(const std::string& rel) {
        auto bytes = m_view.Bytes(rel);
        if (!bytes) return {};
        std::vector<std::string> lines;
        std::string line;
        for (char c : *bytes) {
            if (c == '\r' || c == '\n') {
                if (!line.empty()) lines.push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        if (!line.empty()) lines.push_back(line);
        return lines;
    }
    void Workspace(const std::string& rel);
    void Header(const std::string& rel);
    void SeamlessRows(const std::string& rel, const std::string& data);

    PackageView& m_view;
    PackageCheck& m_result;
};

void Checker::Workspace(const std::string& rel) {
    for (const std::string& line : Lines(rel)) {
        const std::string upper = pm::UpperAscii(line);
        const auto open = upper.find("OPEN TABLE");
        const auto run = upper.find("RUN APPLICATION");
        const auto graph = upper.find("GRAPH ");
        std::optional<std::string> name = Quoted(line);
        if (!name) continue;
        if (open != std::string::npos || run != std::string::npos) {
            Leads(rel, FolderOf(rel), *name, {"", ".TAB"});
        } else if (graph != std::string::npos && upper.find(" USING ") != std::string::npos) {
            Leads(rel, FolderOf(rel), *name, {""});
        } else if (platform::IsAbsoluteText(*name)) {
            Find("absolute", rel, "names " + *name);
        }
    }
}

void Checker::Header(const std::string& rel) {
    const std::vector<std::string> lines = Lines(rel);
    const std::string base = rel.substr(0, rel.size() - 4);
    bool seamless = false, native = false, stub = false;
    for (const std::string& line : lines) {
        const std::string upper = pm::UpperAscii(line);
        auto name = Quoted(line);
        if (upper.find("\"\\ISSEAMLESS\" = \"TRUE\"") != std::string::npos) seamless = true;
        if (line.find("\"\\") != std::string::npos) continue;  // a metadata key
        if (upper.find("\"\\ISSEAMLESS\" = \"TRUE\"") != std::string::npos) seamless = true;
        if (upper.find("TYPE NATIVE") != std::string::npos) native = true;
        if (name &&
            (upper.find("OPEN TABLE") != std::string::npos || upper.find("RUN APPLICATION") != std::string::npos)) {
            stub = true;
            Leads(rel, FolderOf(rel), *name, {"", ".TAB"});
        } else if (name && upper.find("FILE ") != std::string::npos && upper.find("FILE ") < upper.find('"')) {
            Leads(rel, FolderOf(rel), *name, {""});  // a raster header's image
        } else if (name && platform::IsAbsoluteText(*name)) {
            Find("absolute", rel, "names " + *name);
        }
    }
    if (stub) return;
    if (native && !m_view.Find(base + ".DAT"))
        Find("missing", rel, "its data file " + base + ".DAT is not in the package");
    if (seamless && m_view.Find(base + ".DAT")) SeamlessRows(rel, base + ".DAT");
}

// The tile rows of a seamless table's data file (a dBase table): each names a tile header
// relative to the table's folder.
void Checker::SeamlessRows(const std::string& rel, const std::string& data) {
    auto bytes = m_view.Bytes(data);
    if (!bytes || bytes->size() < 32) return;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes->data());
    const std::uint32_t rows = p[4] | (p[5] << 8) | (p[6] << 16) | (static_cast<std::uint32_t>(p[7]) << 24);
    const std::size_t headerLength = p[8] | (p[9] << 8), recordLength = p[10] | (p[11] << 8);
    std::size_t offset = 1, width = 0, at = 0;  // the "Table" column: where in a record, how wide
    for (std::size_t d = 32; d + 32 <= headerLength && d + 32 <= bytes->size() && p[d] != 0x0D; d += 32) {
        std::string field(reinterpret_cast<const char*>(p + d), 11);
        field = field.substr(0, field.find('\0'));
        if (pm::UpperAscii(field) == "TABLE") {
            at = offset;
            width = p[d + 16];
            break;
        }
        offset += p[d + 16];
    }
    if (width == 0 || recordLength == 0 || headerLength > bytes->size()) return;
    // The row count of a damaged file may promise more rows than it holds.
    const std::size_t held = std::min<std::size_t>(rows, (bytes->size() - headerLength) / recordLength);
    for (std::size_t r = 0; r < held; ++r) {
        const std::size_t start = headerLength + r * recordLength;
        if (start + at + width > bytes->size()) break;
        if (p[start] == '*') continue;  // a deleted row
        std::string tile = bytes->substr(start + at, width);
        const std::size_t last = tile.find_last_not_of(std::string(" \0", 2));
        if (last == std::string::npos) continue;
        const bool full = last == width - 1;
        tile = tile.substr(0, last + 1);
        if (full)
            Find("truncated", rel,
                 "the tile row " + tile + " fills its column of " + std::to_string(width) + " characters");
        Leads(rel, FolderOf(rel), tile, {"", ".TAB"});
    }
}

void Checker::Run(const std::string& root) {
    std::string rootText = root;
    if (!rootText.empty() && rootText.back() != '\\') rootText += '\\';
    for (const auto& [key, entry] : m_view.files) {
        ++m_result.files;
        const std::string full = rootText + entry.name;
        if (full.size() > m_result.longestPath.size()) m_result.longestPath = full;
        if (full.size() > kMaxPath)
            Find("too-long", entry.name,
                 std::to_string(full.size()) + " characters at " + root + " (Windows allows 259)");
        if (pm::EndsWithNoCase(key, ".WOR")) Workspace(entry.name);
        else if (pm::EndsWithNoCase(key, ".TAB")) Header(entry.name);
    }
}

// The "target", "size" and "sha256" of each file of a manifest this program wrote.
struct ManifestFile {
    std::string target, sha256;
    std::uint64_t size = 0;
};
std::vector<ManifestFile> ReadManifest(const std::string& text) {
    std::vector<ManifestFile> files;
    auto field = [&](std::size_t from, std::size_t to, const std::string& key) -> std::string {
        const std::string marker = "\"" + key + "\": ";
        const auto at = text.find(marker, from);
        if (at == std::string::npos || at >= to) return {};
        const auto start = at + marker.size();
        if (start >= text.size()) return {};
        if (text[start] != '"') return text.substr(start, text.find_first_of(",}", start) - start);
        std::string value;
        for (std::size_t i = start + 1; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) ++i;
            value += text[i];
        }
        return value;
    };
    for (auto at = text.find("{\"kind\""); at != std::string::npos;) {
        const auto next = text.find("{\"kind\"", at + 1);
        const auto end = next == std::string::npos ? text.size() : next;
        ManifestFile f{field(at, end, "target"), field(at, end, "sha256"), 0};
        const std::string size = field(at, end, "size");
        // A number out of range or not a number reads as 0, which no file's size then matches.
        std::from_chars(size.data(), size.data() + size.size(), f.size);
        if (!f.sha256.empty() && f.sha256 != "null") files.push_back(f);
        at = next;
    }
    return files;
}

}  // namespace

PackageCheck CheckPackage(const std::string& package, const std::string& root, const std::string& manifest) {
    PackageCheck result;
    PackageView view;
    Checker checker(view, result);
    auto status = platform::StatPath(package);
    if (!status) {
        checker.Find("missing", package, "no such folder or archive");
        return result;
    }
    if (status->isDirectory) {
        view.folder = status->path;
        Walk(view, view.folder, "");
    } else {
        result.archive = true;
        zip::TZipArchiver zip;
        try {
            zip.SetZipFilename(status->path);
        } catch (const std::exception& e) {
            checker.Find("damaged", package, e.what());
            return result;
        }
        auto keep = [](const std::string& name) {
            return pm::EndsWithNoCase(name, ".WOR") || pm::EndsWithNoCase(name, ".TAB") ||
                   pm::EndsWithNoCase(name, ".DAT");
        };
        for (const zip::EntryFault& f :
             zip::TestEntries(zip, keep, &view.texts, manifest.empty() ? nullptr : &view.digests))
            checker.Find("damaged", f.name, f.why);
        for (const zip::ZipDirEntry& e : zip.Entries()) {
            if (!e.FileName.empty() && e.FileName.back() == '\\') continue;
            view.files[pm::UpperAscii(PackageView::Normal(e.FileName))] = {PackageView::Normal(e.FileName),
                                                                           e.UncomprSize};
        }
        for (auto* map : {&view.texts, &view.digests}) {
            std::map<std::string, std::string> normal;
            for (auto& [name, bytes] : *map) normal[PackageView::Normal(name)] = std::move(bytes);
            *map = std::move(normal);
        }
    }
    checker.Run(root);
    for (const ManifestFile& f : ReadManifest(manifest)) {
        const PackageView::Entry* entry = view.Find(f.target);
        if (!entry) continue;  // the archive or a removed file: the listing says what is there
        if (entry->size != f.size) {
            checker.Find("manifest", entry->name,
                         std::to_string(entry->size) + " bytes, the manifest says " + std::to_string(f.size));
        } else if (view.Digest(entry->name) != f.sha256) {
            checker.Find("manifest", entry->name, "its SHA-256 differs from the manifest's");
        }
    }
    return result;
}

}  // namespace copyrun
