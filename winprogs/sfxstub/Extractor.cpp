#include "Extractor.h"

#include "Platform.h"
#include "SafeName.h"

namespace sfx {

namespace {

bool IsSelected(const std::vector<bool>& selected, size_t i) {
    return selected.empty() || (i < selected.size() && selected[i]);
}

// Creates the folders of `parts[0..count)` below `root`; refuses a link or a file on the way.
std::string MakeFolders(const std::string& root, const std::vector<std::string>& parts, size_t count, bool utf8,
                        std::string& path) {
    path = root;
    for (size_t i = 0; i < count; ++i) {
        path += os::EntryNameToPath(parts[i], utf8);
        switch (os::KindOf(path)) {
            case os::Kind::Folder: break;
            case os::Kind::Missing:
                if (std::string err = os::CreateFolder(path); !err.empty())
                    return "cannot create the folder " + path + ": " + err;
                break;
            case os::Kind::Link: return path + " is a link; links are never followed";
            default: return path + " exists and is not a folder";
        }
        path += os::kSeparator;
    }
    return {};
}

}  // namespace

Overwrite OverwriteFromFlags(uint8_t flags) {
    if (flags & SfxOverwriteAlways) return Overwrite::Always;
    if (flags & SfxOverwriteNever) return Overwrite::Never;
    return Overwrite::Ask;
}

uint64_t SelectedSize(const SfxArchive& archive, const std::vector<bool>& selected) {
    uint64_t total = 0;
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        if (!IsSelected(selected, i) || archive.entries[i].IsDirectory()) continue;
        // Sizes a damaged directory claims could add up past 64 bits: the total stops there.
        const uint64_t size = archive.entries[i].size;
        total = size > UINT64_MAX - total ? UINT64_MAX : total + size;
    }
    return total;
}

ExtractReport ExtractAll(const ByteSource& source, const SfxArchive& archive, const ExtractOptions& options,
                         ExtractUI& ui) {
    ExtractReport report;
    Overwrite mode = options.overwrite;
    const size_t count = archive.entries.size();
    for (size_t i = 0; i < count; ++i) {
        if (!IsSelected(options.selected, i)) continue;
        if (ui.Cancelled()) {
            report.cancelled = true;
            break;
        }
        const ZipEntry& entry = archive.entries[i];
        ui.Progress(i, count, entry.name);
        auto problem = [&](const std::string& text) { report.problems.push_back("\"" + entry.name + "\": " + text); };

        NameCheck name = CheckEntryName(entry.name);
        if (!name.ok) {
            problem("refused, " + name.reason);
            continue;
        }
        if (entry.IsSymlink()) {
            problem("refused, it is a symbolic link and links are never created");
            continue;
        }
        const bool folderEntry = entry.IsDirectory();
        if (name.parts.empty()) {
            if (!folderEntry) problem("refused, it has no name");
            continue;
        }
        std::string path;
        size_t folders = folderEntry ? name.parts.size() : name.parts.size() - 1;
        if (std::string err = MakeFolders(options.folder, name.parts, folders, entry.utf8, path); !err.empty()) {
            problem(err);
            continue;
        }
        if (folderEntry) continue;
        path += os::EntryNameToPath(name.parts.back(), entry.utf8);

        switch (os::KindOf(path)) {
            case os::Kind::Missing: break;
            case os::Kind::File: {
                if (mode == Overwrite::Never) {
                    ++report.skipped;
                    continue;
                }
                if (!options.selfPath.empty() && os::SameFile(path, options.selfPath)) {
                    problem("refused, it would overwrite this self-extracting program itself");
                    continue;
                }
                bool replace = mode == Overwrite::Always;
                if (mode == Overwrite::Ask) {
                    switch (ui.AskOverwrite(path)) {
                        case Answer::Yes: replace = true; break;
                        case Answer::No: break;
                        case Answer::YesToAll:
                            replace = true;
                            mode = Overwrite::Always;
                            break;
                        case Answer::NoToAll: mode = Overwrite::Never; break;
                        case Answer::Cancel: report.cancelled = true; return report;
                    }
                }
                if (!replace) {
                    ++report.skipped;
                    continue;
                }
                break;
            }
            case os::Kind::Link:
                problem("refused, " + path + " is a link; links are never followed or replaced");
                continue;
            default: problem(path + " exists and is not a file"); continue;
        }

        os::OutputFile out;
        if (std::string err = out.Create(path); !err.empty()) {
            problem("cannot create " + path + ": " + err);
            continue;
        }
        // The window stays responsive and Cancel works within a large file too.
        uint64_t sinceCheck = 0;
        bool stopped = false;
        std::string err = ExtractEntryData(source, archive, entry, [&](const uint8_t* data, size_t n) {
            if ((sinceCheck += n) >= (uint64_t(1) << 20)) {
                sinceCheck = 0;
                if (ui.Cancelled()) return !(stopped = true);
            }
            return out.Write(data, n);
        });
        if (stopped) {
            out.Discard();
            report.cancelled = true;
            return report;
        }
        if (err == "write error") err = "cannot write " + path + " (is the disk full?)";
        if (err.empty()) err = out.Commit(entry);
        if (!err.empty()) {
            out.Discard();
            problem(err);
            continue;
        }
        ++report.extracted;
    }
    return report;
}

}  // namespace sfx
