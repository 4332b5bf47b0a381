#include "FileSelection.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_set>

#include "common/ParallelFor.h"

namespace zipengine {

namespace {

struct FileIdHash {
    size_t operator()(const sys::FileId& id) const { return std::hash<uint64_t>()(id.index * 31 + id.volume); }
};

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

bool IsHiddenName(const std::string& name) { return !name.empty() && name[0] == '.' && name != "." && name != ".."; }

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

// One file found on disk: where it is and the path components its archive name is made of.
struct Found {
    std::string source;
    std::vector<std::string> components;  // relative path as stored, before name conversion
    sys::FileInfo info;
};

// A file pattern taken apart: the folders to walk into literally and the last part.
struct ParsedSpec {
    bool empty = false;               // it names nothing
    bool inHiddenFolder = false;      // a folder on the way is hidden, and hidden files are not wanted
    std::string folder;               // the folders joined, each followed by '/', after the root
    std::vector<std::string> stored;  // components that make the archive name
    std::string last;
};

ParsedSpec ParseSpec(const std::string& rawSpec, bool hidden) {
    ParsedSpec parsed;
    std::string spec = rawSpec;
    std::replace(spec.begin(), spec.end(), '\\', '/');
    // Where an absolute path begins is not part of the names stored.
    const sys::PathStart start = sys::SplitRoot(spec);
    if (start.root.empty() && start.rest.empty()) {
        parsed.empty = true;
        return parsed;
    }
    std::vector<std::string> parts = SplitPath(start.rest);
    parsed.folder = start.root;
    // Every component but the last is a folder to walk into literally.
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string& p = parts[i];
        parsed.folder += p + "/";
        if (p == ".") continue;
        if (p == "..") {
            if (!parsed.stored.empty()) parsed.stored.pop_back();
            continue;
        }
        if (IsHiddenName(p) && !hidden) {
            parsed.inHiddenFolder = true;
            return parsed;
        }
        parsed.stored.push_back(p);
    }
    parsed.last = parts.empty() ? "." : parts.back();
    return parsed;
}

// What the file system says about the path a pattern names without wildcards, asked
// before the patterns are taken in order (on several threads for many of them).
struct Probe {
    bool asked = false;
    bool found = false;
    sys::FileInfo info;
    bool readable = false;  // asked for a regular file that would be stored
};

// Looks up what the pattern names; a regular file that would be stored is tested for
// reading too.
void ProbeSpec(const ParsedSpec& parsed, bool hidden, Probe& probe) {
    if (parsed.empty || parsed.inHiddenFolder || HasWildcard(parsed.last)) return;
    const std::string path = parsed.folder + parsed.last;
    probe.asked = true;
    probe.found = sys::Stat(path, probe.info);
    const sys::FileInfo& info = probe.info;
    if (!probe.found || info.isFolder || !info.isRegular) return;
    if ((IsHiddenName(parsed.last) || info.hidden) && !hidden) return;
    probe.readable = sys::CanRead(path);
}

// The probes of every pattern, in their order.
std::vector<Probe> ProbeAll(const std::vector<ParsedSpec>& parsed, const SelectionOptions& options) {
    std::vector<Probe> probes(parsed.size());
    constexpr size_t kBlock = 64;  // patterns a thread takes at a time
    common::ForEachIndex(parsed.size(), options.threads, kBlock,
                         [&](size_t i) { ProbeSpec(parsed[i], options.hidden, probes[i]); });
    return probes;
}

class Selector {
public:
    Selector(const SelectionOptions& options, std::vector<SelectionWarning>& warnings)
        : m_options(options), m_warnings(warnings) {}

    // Takes one pattern, with what the file system said about the path it names.
    void AddSpec(const std::string& rawSpec, ParsedSpec&& parsed, const Probe& probe) {
        if (parsed.empty) return;
        if (parsed.inHiddenFolder) {
            Warn(rawSpec, "is in a hidden folder and was skipped");
            return;
        }
        std::vector<std::string> stored = std::move(parsed.stored);
        const std::string& folder = parsed.folder;
        const std::string& last = parsed.last;
        const size_t before = m_found.size();
        const size_t foldersBefore = m_folders.size();
        if (HasWildcard(last)) {
            Walk(folder.empty() ? "." : folder, folder, stored, last, true);
        } else {
            std::string path = folder + last;
            sys::FileInfo info;
            if (!(probe.asked ? probe.found : sys::Stat(path, info))) {
                Warn(rawSpec, "was not found");
                return;
            }
            if (probe.asked) info = probe.info;
            if (info.isFolder) {
                if (last != "." && last != "..") {
                    if ((IsHiddenName(last) || info.hidden) && !m_options.hidden) {
                        Warn(rawSpec, "is a hidden folder and was skipped");
                        return;
                    }
                    stored.push_back(last);
                } else if (last == ".." && !stored.empty()) {
                    stored.pop_back();
                }
                if (m_options.recurse) {
                    Walk(path, path + "/", stored, "*", true);
                } else if (m_options.folderEntries && !m_options.dropDirNames && !stored.empty()) {
                    m_folders.push_back({path, stored, info});
                    return;
                } else {
                    Warn(rawSpec, "is a folder; nothing was added from it without sub-folders");
                    return;
                }
            } else {
                if ((IsHiddenName(last) || info.hidden) && !m_options.hidden) {
                    Warn(rawSpec, "is a hidden file and was skipped");
                    return;
                }
                stored.push_back(last);
                AddFile(rawSpec, path, stored, info, probe.asked ? &probe : nullptr);
            }
        }
        if (m_found.size() == before && m_folders.size() == foldersBefore && HasWildcard(last))
            Warn(rawSpec, "matched no file");
    }

    std::vector<SelectedItem> Finish() {
        std::vector<SelectedItem> items;
        items.reserve(m_found.size() + m_folders.size() + m_walkedFolders.size());
        std::unordered_set<std::string> taken;  // archive names, upper case
        taken.reserve(items.capacity());
        std::map<std::string, std::string> dosNames;            // source folder path -> converted path, for 8.3 names
        std::map<std::string, std::set<std::string>> dosTaken;  // converted parent -> names used
        auto convert = [&](const std::vector<std::string>& comps, bool isFolder) -> std::string {
            if (m_options.dropDirNames) return Convert("", comps.back(), dosTaken) + (isFolder ? "/" : "");
            std::string parent, key;
            for (size_t i = 0; i < comps.size(); ++i) {
                key += comps[i] + "/";
                bool last = i + 1 == comps.size();
                std::string name;
                if (!m_options.forceDos) {
                    name = comps[i];
                } else if (!last || isFolder) {
                    auto it = dosNames.find(UpperAscii(key));
                    if (it == dosNames.end())
                        it = dosNames.emplace(UpperAscii(key), Convert(parent, comps[i], dosTaken)).first;
                    name = it->second;
                } else {
                    name = Convert(parent, comps[i], dosTaken);
                }
                parent += name + ((last && !isFolder) ? "" : "/");
            }
            return parent;
        };
        auto add = [&](const Found& f, bool isFolder) {
            SelectedItem item;
            item.source = f.source;
            item.isFolder = isFolder;
            item.size = isFolder ? 0 : f.info.size;
            item.modified = f.info.modified;
            item.readOnly = f.info.readOnly;
            item.id = f.info.id;
            item.archiveName = convert(f.components, isFolder);
            items.push_back(std::move(item));
        };
        std::unordered_set<sys::FileId, FileIdHash> seenFiles;
        seenFiles.reserve(m_found.size());
        for (const Found& folder : m_folders) {
            if (!taken.insert(UpperAscii(JoinUpper(folder.components) + "/")).second) continue;
            add(folder, true);
        }
        for (const Found& f : m_found) {
            // The same file named twice is stored once; another file under a taken name is left out.
            std::string key = UpperAscii(m_options.dropDirNames ? f.components.back() : JoinUpper(f.components));
            if (!seenFiles.insert(f.info.id).second && taken.count(key)) continue;
            if (!taken.insert(key).second) {
                Warn(f.source, "has the same name in the archive as a file already added and was skipped");
                continue;
            }
            if (m_options.folderEntries && !m_options.dropDirNames) {
                std::string folderPath = f.source.substr(0, f.source.size() - f.components.back().size());
                for (size_t depth = 1; depth < f.components.size(); ++depth) {
                    std::vector<std::string> comps(f.components.begin(), f.components.begin() + long(depth));
                    std::string folderKey = UpperAscii(JoinUpper(comps) + "/");
                    if (!taken.insert(folderKey).second) continue;
                    Found folder;
                    folder.components = comps;
                    // The folder on disk: strip the remaining components from the file's folder.
                    std::string path = folderPath;
                    for (size_t k = depth; k + 1 < f.components.size(); ++k) {
                        path.erase(path.size() - 1);
                        path.erase(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
                    }
                    folder.source = path.empty() ? "." : path;
                    if (!sys::Stat(folder.source, folder.info)) folder.info.modified = f.info.modified;
                    add(folder, true);
                }
            }
            add(f, false);
        }
        for (const Found& folder : m_walkedFolders)  // those no file brought in: the empty ones
            if (taken.insert(UpperAscii(JoinUpper(folder.components) + "/")).second) add(folder, true);
        return items;
    }

private:
    static std::string JoinUpper(const std::vector<std::string>& comps) {
        std::string s;
        for (const auto& c : comps) s += (s.empty() ? "" : "/") + c;
        return UpperAscii(s);
    }

    std::string Convert(const std::string& parent, const std::string& name,
                        std::map<std::string, std::set<std::string>>& dosTaken) const {
        if (!m_options.forceDos) return name;
        std::string shortName = DosName(name);
        auto& used = dosTaken[parent];
        if (used.insert(shortName).second) return shortName;
        // Taken: NAME~n.EXT, the base cut so the whole stays 8.3.
        size_t dot = shortName.find('.');
        std::string base = shortName.substr(0, dot), ext = dot == std::string::npos ? "" : shortName.substr(dot);
        for (int n = 1; n < 1000000; ++n) {
            std::string tail = "~" + std::to_string(n);
            std::string candidate = base.substr(0, 8 - std::min<size_t>(8, tail.size())) + tail + ext;
            if (used.insert(candidate).second) return candidate;
        }
        return shortName;
    }

    void Warn(const std::string& spec, const std::string& text) { m_warnings.push_back({spec, text}); }

    // `probe`: what was asked about the file ahead, when it was.
    void AddFile(const std::string& spec, const std::string& path, const std::vector<std::string>& stored,
                 const sys::FileInfo& info, const Probe* probe = nullptr) {
        if (!info.isRegular) {
            Warn(spec, "is not a regular file and was skipped");
            return;
        }
        if (!(probe ? probe->readable : sys::CanRead(path))) {
            Warn(spec, "cannot be read and was skipped");
            return;
        }
        m_found.push_back({path, stored, info});
    }

    // Adds every entry of `folder` that matches `pattern`; with recursion, the same pattern in
    // every sub-folder. `prefix` is what joins the folder and an entry name into a path.
    void Walk(const std::string& folder, const std::string& prefix, const std::vector<std::string>& stored,
              const std::string& pattern, bool top) {
        sys::FileInfo folderInfo;
        if (!sys::Stat(folder, folderInfo)) {
            if (top) Warn(prefix + pattern, "was not found");
            return;
        }
        if (!m_visited.insert(folderInfo.id).second) return;  // a link back up the tree
        // A folder taken whole, with folder entries of their own, keeps its entry even when it
        // holds no file (an empty folder is part of what was asked for).
        if (pattern == "*" && m_options.folderEntries && !m_options.dropDirNames && !stored.empty())
            m_walkedFolders.push_back({folder, stored, folderInfo});
        std::vector<std::string> names, unnamable;
        if (!sys::ListFolder(folder, names, unnamable)) {
            Warn(folder, "cannot be read and was skipped");
            return;
        }
        std::sort(unnamable.begin(), unnamable.end());
        for (const std::string& n : unnamable)
            Warn(prefix + n, "has a name the system's code page cannot write and was skipped");
        std::sort(names.begin(), names.end());
        std::vector<std::string> subFolders;
        for (const std::string& n : names) {
            if (IsHiddenName(n) && !m_options.hidden) continue;
            std::string path = prefix + n;
            sys::FileInfo info;
            if (!sys::Stat(path, info)) continue;  // a dangling link
            if (info.hidden && !m_options.hidden) continue;
            std::vector<std::string> comps = stored;
            comps.push_back(n);
            if (info.isFolder) {
                if (m_options.recurse) subFolders.push_back(n);
                continue;
            }
            if (WildcardMatch(pattern, n)) AddFile(path, path, comps, info);
        }
        for (const std::string& n : subFolders) {
            std::vector<std::string> comps = stored;
            comps.push_back(n);
            Walk(prefix + n, prefix + n + "/", comps, pattern, false);
        }
    }

    const SelectionOptions& m_options;
    std::vector<SelectionWarning>& m_warnings;
    std::vector<Found> m_found;
    std::vector<Found> m_folders;        // folders named on their own, without recursion
    std::vector<Found> m_walkedFolders;  // folders taken whole, for their own entries
    std::set<sys::FileId> m_visited;
};

}  // namespace

std::string DosName(const std::string& name) {
    static const std::string refused = "\"*+,/:;<=>?[\\]| ";
    std::string clean;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        clean.push_back((u < 0x20 || u >= 0x80 || refused.find(c) != std::string::npos) ? '_' : UpperAscii(c));
    }
    size_t first = clean.find_first_not_of('.');
    clean = first == std::string::npos ? "" : clean.substr(first);
    size_t dot = clean.rfind('.');
    std::string base = clean.substr(0, dot), ext = dot == std::string::npos ? "" : clean.substr(dot + 1);
    std::replace(base.begin(), base.end(), '.', '_');
    if (base.empty()) base = "_";
    base = base.substr(0, 8);
    ext = ext.substr(0, 3);
    return ext.empty() ? base : base + "." + ext;
}

std::vector<SelectedItem> SelectFiles(const std::vector<std::string>& specs, const SelectionOptions& options,
                                      std::vector<SelectionWarning>& warnings) {
    std::vector<ParsedSpec> parsed;
    parsed.reserve(specs.size());
    for (const std::string& spec : specs) parsed.push_back(ParseSpec(spec, options.hidden));
    std::vector<Probe> probes = ProbeAll(parsed, options);
    Selector selector(options, warnings);
    for (size_t i = 0; i < specs.size(); ++i) selector.AddSpec(specs[i], std::move(parsed[i]), probes[i]);
    return selector.Finish();
}

}  // namespace zipengine
