#include "SfxStub.h"

#include "CommandLine.h"
#include "Platform.h"

namespace sfx {

const char kUsage[] =
    "Switches:\n"
    "  -s FOLDER   extract every file into FOLDER without asking, run no command\n"
    "Exit status: 0 done, 1 some files were not extracted, 2 not a whole self-extracting\n"
    "archive, 3 cancelled, 4 switches not understood.";

namespace {

constexpr char kDefaultCaption[] = "Self-Extracting Archive";

std::string WithSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != os::kSeparator && folder.back() != '/') folder += os::kSeparator;
    return folder;
}

// A folder as the user reads it: without its trailing separator, except for a drive's root.
std::string Shown(const std::string& folder) {
    if (folder.size() > 1 && (folder.back() == os::kSeparator || folder.back() == '/') &&
        folder[folder.size() - 2] != ':')
        return folder.substr(0, folder.size() - 1);
    return folder;
}

std::string Plural(size_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

}  // namespace

StubArgs ParseStubArgs(const std::vector<std::string>& args, bool allowArchive) {
    StubArgs out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string lower;
        for (char c : a) lower += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (lower == "-s" || lower == "/s") {
            if (i + 1 >= args.size()) {
                out.error = "The switch " + a + " needs a folder.";
                return out;
            }
            out.silent = true;
            out.folder = args[++i];
        } else if (lower.rfind("-s:", 0) == 0 || lower.rfind("/s:", 0) == 0) {
            out.silent = true;
            out.folder = a.substr(3);
        } else if (allowArchive && lower == "--archive" && i + 1 < args.size()) {
            out.archivePath = args[++i];
        } else if (lower == "-h" || lower == "/?" || lower == "--help") {
            out.help = true;
        } else {
            out.error = "The switch " + a + " is not understood.";
            return out;
        }
    }
    if (out.silent && out.folder.empty()) out.error = "The switch -s needs a folder.";
    return out;
}

std::string DefaultFolder(const SfxHeader& header, const std::string& selfPath) {
    std::string own = os::FolderOf(selfPath);
    if (header.defaultDir.empty()) return own;
    std::string dir = os::ExpandEnvironment(header.defaultDir);
    if (!os::IsAbsolute(dir)) dir = own + dir;
    return WithSeparator(dir);
}

int RunStub(const StubArgs& args, StubUI& ui) {
    const std::string selfPath = os::SelfPath();
    const std::string path = args.archivePath.empty() ? selfPath : args.archivePath;
    if (!args.error.empty() || args.help) {
        ui.ShowError(kDefaultCaption, args.error.empty() ? std::string(kUsage) : args.error + "\n\n" + kUsage);
        return args.help ? ExitOk : ExitUsage;
    }

    std::string error;
    std::unique_ptr<ByteSource> source = os::OpenSource(path, error);
    if (!source) {
        ui.ShowError(kDefaultCaption, "Cannot read " + path + ": " + error);
        return ExitBadArchive;
    }
    SfxArchive archive;
    if (OpenResult r = OpenSfxArchive(*source, archive, true); !r.ok) {
        ui.ShowError(kDefaultCaption, path + "\n\n" + r.error);
        return ExitBadArchive;
    }
    const SfxHeader& header = archive.header;
    const std::string caption = header.caption.empty() ? kDefaultCaption : header.caption;
    ui.SetCaption(caption);

    StubChoice choice;
    choice.overwrite = OverwriteFromFlags(header.flags);
    choice.selected.assign(archive.entries.size(), true);
    if (args.silent) {
        choice.folder = args.folder;
        // Nobody can be asked: files that exist are kept.
        if (choice.overwrite == Overwrite::Ask) choice.overwrite = Overwrite::Never;
    } else {
        choice.folder = DefaultFolder(header, path);
        if (!(header.flags & SfxAutoRun) && !ui.Choose(archive, choice)) return ExitCancelled;
    }
    choice.folder = WithSeparator(os::FullPath(choice.folder));

    if (std::string err = os::CreateFolders(choice.folder); !err.empty()) {
        ui.ShowReport(caption, "Cannot create the folder " + choice.folder + ": " + err, true);
        return ExitProblems;
    }
    if (!(header.flags & SfxNoCheckSize)) {
        uint64_t needed = SelectedSize(archive, choice.selected), free = 0;
        if (os::FreeSpace(choice.folder, free) && free < needed) {
            ui.ShowReport(caption,
                          "There is not enough free space in " + choice.folder + ": " + std::to_string(needed) +
                              " bytes are needed, " + std::to_string(free) + " are free.",
                          true);
            return ExitProblems;
        }
    }

    ExtractOptions options;
    options.folder = choice.folder;
    options.overwrite = choice.overwrite;
    options.selected = choice.selected;
    options.selfPath = path;  // the file being run: never overwritten
    ExtractReport report = ExtractAll(*source, archive, options, ui);

    std::string summary = Plural(report.extracted, "file") + " extracted to " + Shown(choice.folder) + ".";
    if (report.skipped) summary += "\n" + Plural(report.skipped, "existing file") + " kept.";
    if (report.cancelled) summary += "\nExtraction was cancelled.";
    if (!report.problems.empty()) {
        summary += "\n\n" + Plural(report.problems.size(), "file") + " could not be extracted:";
        for (const std::string& p : report.problems) summary += "\n" + p;
    }
    const bool failed = !report.problems.empty() || report.cancelled;

    // The command runs only after a complete extraction, never in silent mode.
    std::string command = header.commandLine;
    bool ran = false;
    if (!args.silent && !failed && !command.empty()) {
        if ((header.flags & SfxAskCmdLine) && !ui.AskCommand(archive, command)) command.clear();
        Command cmd = ExpandCommandLine(command, choice.folder);
        if (!cmd.program.empty()) {
            if (std::string err = os::RunProgram(cmd.program, cmd.arguments, choice.folder); !err.empty()) {
                ui.ShowReport(caption, summary + "\n\nCannot start " + cmd.program + ": " + err, true);
                return ExitProblems;
            }
            ran = true;
        }
    }
    if (failed || !ran) ui.ShowReport(caption, summary, failed);
    if (report.cancelled) return ExitCancelled;
    return report.problems.empty() ? ExitOk : ExitProblems;
}

}  // namespace sfx
