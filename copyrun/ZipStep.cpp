#include "copyrun/ZipStep.h"

#include <algorithm>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "analysis/TextFile.h"
#include "app/UserInterface.h"
#include "app/pmUtils.h"
#include "common/ParallelFor.h"
#include "copyrun/CopyRun.h"
#include "platform/FileSystem.h"
#include "zip/ZipArchiver.h"

namespace copyrun {
namespace {

// The part of `path` below `target` ("TABLES/DATA/Roads/roads.TAB"); the path itself when
// it does not lie below T.
std::string RelativeToTarget(const std::string& path, const std::string& target) {
    const std::string prefix = target + "/";
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) return path.substr(prefix.size());
    return path;
}

// Runs `work(i)` for every listed file, on every core: the file system questions for tens of
// thousands of files each wait on the system, and the answers do not depend on one another.
template <typename Work>
void ForEachFile(std::size_t count, const Work& work) {
    constexpr std::size_t kBlock = 256;  // files a thread takes at a time
    common::ForEachIndex(count, std::thread::hardware_concurrency(), kBlock, work);
}

// The listed files relative to T as they lie on disk (a CD start program listed as
// "Startup.exe" is "startup.exe"), so the engine finds them on a file system that minds
// letter case.
std::vector<std::string> OnDiskRelatives(const std::vector<std::string>& paths, const std::string& target) {
    std::vector<std::string> relative(paths.size());
    ForEachFile(paths.size(), [&](std::size_t i) {
        auto resolved = platform::ResolveCase(paths[i]);
        relative[i] = RelativeToTarget(resolved ? *resolved : paths[i], target);
    });
    return relative;
}

// What lies at each listed file (relative to T) now; nullopt where nothing does.
using Statuses = std::vector<std::optional<platform::PathStatus>>;
Statuses StatusesOf(const std::vector<std::string>& relative, const std::string& target) {
    Statuses statuses(relative.size());
    ForEachFile(relative.size(), [&](std::size_t i) { statuses[i] = platform::StatPath(target + "/" + relative[i]); });
    return statuses;
}

// True when every listed file that exists (as `statuses` found it) lies in the archive the
// component read last, with its size: an entry of another size is another version of the
// file (kept from an earlier work archive, say, as an update keeps entries newer than their
// file), and the file on disk must not be given up for it. `why` says what is wrong otherwise.
bool ArchiveHoldsAll(const zip::TZipArchiver& zip, const std::vector<std::string>& relative, const Statuses& statuses,
                     std::string& why) {
    // The archive's names folded to one letter case and one separator once, then one lookup
    // per file.
    std::unordered_map<std::string, const zip::ZipDirEntry*> entries;
    entries.reserve(zip.Entries().size());
    for (const zip::ZipDirEntry& e : zip.Entries()) entries.emplace(pm::UpperAscii(pm::ToBackslashes(e.FileName)), &e);
    for (std::size_t i = 0; i < relative.size(); ++i) {
        const auto& file = statuses[i];
        if (!file || file->isDirectory) continue;  // reported by the engine
        const std::string want = pm::ToBackslashes(relative[i]);
        auto entry = entries.find(pm::UpperAscii(want));
        if (entry == entries.end()) {
            why = "The archive lacks " + want + ".";
            return false;
        }
        if (entry->second->UncomprSize != file->size) {
            why = "The archive holds another version of " + want + ".";
            return false;
        }
    }
    return true;
}

// Deletes the copied files (never one the run read from, nor one outside T, as `statuses`
// tell) and each folder that they leave empty, tried once its last file still there is gone,
// as it would be when tried after every file.
void RemoveCopied(const std::vector<std::string>& copied, const Statuses& statuses, const TargetGuard& guard) {
    std::vector<bool> removable(copied.size());
    std::unordered_map<std::string, std::size_t> lastPresent;  // folder -> its last file still there then
    std::unordered_set<std::string> named;                     // a file listed twice is gone the second time
    for (std::size_t i = 0; i < copied.size(); ++i) {
        const bool inside = guard.Inside(copied[i]);
        removable[i] = inside && !(statuses[i] && guard.SourceAt(*statuses[i]));
        if (removable[i] && statuses[i] && named.insert(statuses[i]->path).second)
            lastPresent[pm::FolderOf(copied[i])] = i;
    }
    for (std::size_t i = 0; i < copied.size(); ++i) {
        if (!removable[i]) continue;
        platform::DeleteFile(copied[i]);
        const std::string folder = pm::FolderOf(copied[i]);
        auto last = lastPresent.find(folder);
        if (last == lastPresent.end() || i >= last->second) platform::RemoveDir(folder);
    }
}

}  // namespace

void ConfigureZipComponent(zip::TZipArchiver& zip, const std::string& programDir) {
    zip.AddCompLevel = 9;
    zip.AddOptions = zip::AddOpts{zip::AddDirNames, zip::AddUpdate, zip::AddZipTime, zip::AddHiddenFiles};
    zip.ExtrOptions = zip::ExtrOpts{zip::ExtrDirNames};
    zip.Unattended = false;
    zip.Verbose = false;
    zip.Trace = false;
    zip.SFXOverWriteMode = zip::OvrAlways;
    zip.SFXCaption = kSfxCaption;
    zip.KeepFreeOnDisk1 = 0;
    zip.SFXPath = programDir + "SFXStub.bin";
    zip.SetDLLDirectory(programDir);
}

std::string ArchivePath(const analysis::CopyOptions& options, const std::string& target) {
    if (platform::IsAbsoluteText(options.zipFile)) return platform::ExpandFileName(options.zipFile);
    return platform::ExpandFileName(target + "/" + options.zipFile);
}

std::vector<std::string> ReadmeLines(const std::string& message, const std::vector<std::string>& files,
                                     const std::string& target) {
    std::vector<std::string> lines = message.empty() ? std::vector<std::string>{} : analysis::SplitLines(message);
    lines.push_back("");
    lines.push_back(std::string(53, '-'));
    lines.push_back("List of Files Extracted:");
    for (const auto& f : files) lines.push_back("  " + pm::ToBackslashes(RelativeToTarget(f, target)));
    lines.push_back("");
    lines.push_back(std::string(61, '-'));
    lines.push_back(std::string("Visit ") + kWebAddress + " for more information.");
    lines.push_back(std::string(61, '-'));
    return lines;
}

void ZipStep(const analysis::CopyFormState& state, zip::TZipArchiver& zip, const TargetGuard& guard) {
    const analysis::CopyOptions& options = state.options;
    const std::string& target = guard.Target();
    const std::string archive = ArchivePath(options, target);
    const std::string work = target + "/" + kWorkArchiveName;

    // The work archive, the copied-file list, the archive list made relative to T.
    zip.TempDir = target;
    zip.SetZipFilename(work);
    std::vector<std::string> copied = zip.FSpecArgs();
    std::vector<std::string> relative = OnDiskRelatives(copied, target);

    // The read-me, for a self-extracting archive with a message.
    if (options.exe && options.readme) {
        copied.push_back(target + "/ReadMe.txt");
        relative.push_back("ReadMe.txt");
        std::string text;
        for (const auto& line : ReadmeLines(options.readmeText, copied, target)) text += line + "\r\n";
        if (auto err = platform::WriteFile(target + "/ReadMe.txt", text))
            throw CopyRunError("Cannot create " + target + "/ReadMe.txt. " + err.message);
        zip.SFXCommandLine = kReadmeCommand;
    } else {
        zip.SFXCommandLine.clear();
    }
    zip.SetFSpecArgs(relative);

    // Pack from T. Packing is the longest part of a run, so the progress window follows it
    // file by file (its Cancel is not looked at any more once the tables are copied).
    if (auto err = platform::SetCurrentDir(target)) throw CopyRunError("Cannot open " + target + ". " + err.message);
    {
        int packed = 0;
        zip.OnProgress = [&packed](zip::TZipArchiver&, zip::ProgressType type, const std::string& name,
                                   std::int32_t number) {
            if (type == zip::ptTotalFiles) {
                app::UI().BeginProgress(std::max(number - 1, 0));
                packed = 0;
            } else if (type == zip::ptNewFile) {
                app::UI().SetProgress(packed++, "Zipping " + name + "...");
            }
        };
        struct Detach {
            zip::TZipArchiver& zip;
            ~Detach() { zip.OnProgress = nullptr; }
        } detach{zip};
        zip.Add();
    }

    // Nothing the user had is given up unless the work archive really holds the files. (Add
    // has read the directory of an archive it wrote.)
    if (zip.AddedCount() == 0 || zip.ZipFilename() != work) zip.SetZipFilename(work);
    std::string wrong;
    Statuses statuses;
    if (platform::FileExists(work)) statuses = StatusesOf(relative, target);
    if (!platform::FileExists(work) || !ArchiveHoldsAll(zip, relative, statuses, wrong)) {
        std::string why = zip.Message();
        if (why.empty()) why = wrong.empty() ? "The engine wrote no archive." : wrong;
        app::UI().ShowNote("The zip archive " + archive + " could not be made.\r" + why);
        return;
    }

    // The work archive takes the final name (the run refused a final name that is the work
    // archive's own, in any letter case).
    platform::DeleteFile(archive);
    if (auto err = platform::RenameFile(work, archive)) {
        // The archive is whole under its work name; say where, and give up nothing.
        app::UI().ShowNote("The zip archive could not be named " + archive + "; it was left as " + work + ".\r" +
                           err.message);
        return;
    }
    // Only the archive is left, once it holds every copied file under its final name (the
    // files as found a moment ago: only the archive was renamed since).
    if (options.removeFiles) {
        zip.SetZipFilename(archive);
        if (!ArchiveHoldsAll(zip, relative, statuses, wrong)) {
            app::UI().ShowNote("The copied files are kept: the zip archive " + archive + " does not hold them all.\r" +
                               wrong);
        } else {
            RemoveCopied(copied, statuses, guard);
            platform::RemoveDir(target + "/TABLES/DATA");
            platform::RemoveDir(target + "/TABLES");
        }
    }
    // The self-extracting executable beside the archive.
    if (options.exe) {
        if (!options.removeFiles || zip.ZipFilename() != archive) zip.SetZipFilename(archive);
        zip.ConvertToSFX();
    }
}

}  // namespace copyrun
