// tallomir-batch: the refresh and the copy run without windows, for scripts and large jobs.
//
//   tallomir-batch [OPTIONS] WORKSPACE...
//
// Exit status: 0 finished without problem notes; 1 finished with problem notes; 2 usage
// error or the run could not start; 3 the run stopped on an error; 130 cancelled by a
// signal.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/Analysis.h"
#include "app/ConsoleUserInterface.h"
#include "app/Globals.h"
#include "app/Version.h"
#include "app/WizardRules.h"
#include "app/pmUtils.h"
#include "copyrun/CopyRun.h"
#include "copyrun/Manifest.h"
#include "copyrun/PackageCheck.h"
#include "copyrun/ZipStep.h"
#include "platform/FileSystem.h"
#include "zip/ZipArchiver.h"

namespace {

enum Status { kOk = 0, kProblems = 1, kUsage = 2, kStopped = 3, kCancelled = 130 };

constexpr const char* kUsageText =
    "Usage: tallomir-batch [OPTIONS] WORKSPACE...\n"
    "Copies MapInfo workspaces and every table they use into one folder.\n"
    "\n"
    "  --to DIR          target folder (required unless --list)\n"
    "  --list            only list the tables, graphs and the disk space needed\n"
    "  --no-printer      remove the printer settings from the workspaces\n"
    "  --cd              the workspaces go on a CD (editable layers are dropped)\n"
    "  --autorun         load the workspace when the CD is inserted (with --cd)\n"
    "  --zip NAME        pack everything into the zip archive NAME\n"
    "  --remove-files    with --zip: leave just the archive\n"
    "  --exe             with --zip: make a self-extracting executable\n"
    "  --message FILE    with --exe: show FILE's text after extraction\n"
    "  --dry-run         show what the copy would do, writing nothing\n"
    "  --manifest FILE   write FILE: every file of the package with its SHA-256 (JSON)\n"
    "  --check PACKAGE   check a finished folder, .zip or .exe on its own\n"
    "  --root DIR        with --check: where the package will lie (default C:\\)\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "Ctrl-C stops the copying before the next table; a second Ctrl-C ends at once.\n"
    "Exit status: 0 done, 1 done with problems, 2 not started, 3 stopped on an error,\n"
    "130 stopped by the user.\n";

struct Options {
    bool list = false;
    bool dryRun = false;
    std::string manifest;
    std::string check;
    std::string root = "C:\\";
    bool zipRequested = false;
    std::string messageFile;
    analysis::CopyOptions copy;
    std::vector<std::string> workspaces;
};

int UsageError(const std::string& text) {
    std::fprintf(stderr, "tallomir-batch: %s\nTry 'tallomir-batch --help'.\n", text.c_str());
    return kUsage;
}

// Parses the command line; returns -1 to go on, or an exit status.
int Parse(int argc, char* argv[], Options& o) {
    bool haveTarget = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        if (a == "--help") {
            std::fputs(kUsageText, stdout);
            return kOk;
        } else if (a == "--version") {
            std::printf("tallomir-batch %s\n", app::kVersion);
            return kOk;
        } else if (a == "--to") {
            if (!value(o.copy.path)) return UsageError("--to needs a folder");
            // Relative to where the command was given: the refresh moves the current folder.
            o.copy.path = platform::ExpandFileName(o.copy.path);
            haveTarget = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--manifest") {
            if (!value(o.manifest)) return UsageError("--manifest needs a file name");
            o.manifest = platform::ExpandFileName(o.manifest);
        } else if (a == "--check") {
            if (!value(o.check)) return UsageError("--check needs a folder or an archive");
            o.check = platform::ExpandFileName(o.check);
        } else if (a == "--root") {
            if (!value(o.root)) return UsageError("--root needs a folder");
        } else if (a == "--list") {
            o.list = true;
        } else if (a == "--no-printer") {
            o.copy.version5 = true;
        } else if (a == "--cd") {
            o.copy.cd = true;
        } else if (a == "--autorun") {
            o.copy.autoRun = true;
        } else if (a == "--zip") {
            if (!value(o.copy.zipFile)) return UsageError("--zip needs a file name");
            o.copy.zip = true;
            o.zipRequested = true;
        } else if (a == "--remove-files") {
            o.copy.removeFiles = true;
            o.zipRequested = true;
        } else if (a == "--exe") {
            o.copy.exe = true;
            o.zipRequested = true;
        } else if (a == "--message") {
            if (!value(o.messageFile)) return UsageError("--message needs a file");
            o.copy.readme = true;
            o.zipRequested = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return UsageError("unknown option " + a);
        } else {
            o.workspaces.push_back(a);
        }
    }
    if (!o.check.empty()) return -1;
    if (o.workspaces.empty()) return UsageError("no workspace given");
    if (!o.list && !haveTarget) return UsageError("--to DIR is required");
    if (o.zipRequested && !o.copy.zip) return UsageError("--remove-files, --exe and --message go with --zip");
    if (!o.messageFile.empty()) {
        auto text = platform::ReadFile(o.messageFile);
        if (!text.bytes) return UsageError("cannot read " + o.messageFile + ": " + text.error.message);
        o.copy.readmeText = *text.bytes;
    }
    o.copy.zipFile = app::ApplyZipNameRule(o.copy.zipFile);
    return -1;
}

bool IsEndMessage(const std::string& note) { return note == copyrun::kFinished || note == copyrun::kInterrupted; }

// Counts the notes that report problems (every note but the end message).
class BatchUserInterface : public app::ConsoleUserInterface {
public:
    void ShowNote(const std::string& text) override {
        if (!IsEndMessage(text)) ++problems;
        ConsoleUserInterface::ShowNote(text);
    }
    void ShowMessage(const std::string& text) override {  // the zip component's reports
        ++problems;
        ConsoleUserInterface::ShowMessage(text);
    }
    int problems = 0;
};

// The check of a finished package: one line per finding, then a summary.
int Check(const Options& o) {
    std::string manifest;
    if (!o.manifest.empty()) {
        auto text = platform::ReadFile(o.manifest);
        if (!text.bytes) return UsageError("cannot read " + o.manifest + ": " + text.error.message);
        manifest = *text.bytes;
    }
    const copyrun::PackageCheck result = copyrun::CheckPackage(o.check, o.root, manifest);
    for (const auto& f : result.findings)
        std::printf("FOUND %s %s: %s\n", f.kind.c_str(), copyrun::ToUtf8(f.where).c_str(),
                    copyrun::ToUtf8(f.what).c_str());
    std::printf("%s: %zu files, %zu findings; %s. Longest path at %s: %zu characters (%s)\n",
                result.SelfContained() ? "SELF-CONTAINED" : "NOT SELF-CONTAINED", result.files, result.findings.size(),
                result.archive ? "every entry's CRC checked" : "a folder", o.root.c_str(), result.longestPath.size(),
                copyrun::ToUtf8(result.longestPath).c_str());
    return result.SelfContained() ? kOk : kProblems;
}

// The dry run's table, and its summary line in place of the copy's end message.
void PrintPlan(const analysis::CopyFormState& state, const copyrun::RunRecord& record, int problems) {
    std::fputs(copyrun::PlanTable(state, record).c_str(), stdout);
    std::size_t copies = 0, writes = 0;
    for (const auto& f : record.files) {
        copies += f.status == "copy";
        writes += f.status == "write";
    }
    std::printf("Dry run: %zu files would be copied and %zu written, %d problem notes; nothing was written.\n", copies,
                writes, problems);
}

bool WriteManifest(const Options& o, const analysis::CopyFormState& state, const copyrun::RunRecord& record) {
    if (auto err = platform::WriteFile(o.manifest, copyrun::ManifestJson(state, record, o.dryRun))) {
        std::fprintf(stderr, "tallomir-batch: cannot write %s: %s\n", o.manifest.c_str(), err.message.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    if (int status = Parse(argc, argv, options); status >= 0) return status;
    if (!options.check.empty()) return Check(options);

    BatchUserInterface ui;
    app::SetUserInterface(&ui);
    ui.InstallSignalHandlers();

    analysis::CopyFormState state;
    state.options = options.copy;
    for (const std::string& given : options.workspaces) {
        std::string path = platform::ResolveCase(given).value_or(platform::ExpandFileName(given));
        if (!platform::FileExists(path)) return UsageError("no such workspace: " + given);
        bool duplicate = false;
        for (const auto& w : state.workspaces) duplicate = duplicate || pm::EqualNoCase(w, path);
        if (duplicate) {
            ui.ShowNote("Workspace already exists in the list!");
            continue;
        }
        state.workspaces.push_back(path);
    }

    if (!app::ConnectMapInfo()) {
        std::fputs("tallomir-batch: MapInfo is required to run Tallomir.\nCannot find MapInfo on this computer.\n",
                   stderr);
        return kUsage;
    }
    struct Release {
        ~Release() { app::MapInfoApp().Release(); }
    } release;

    try {
        analysis::Analysis(state).Refresh(!options.list && !options.dryRun);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tallomir-batch: %s\n", app::ConsoleUserInterface::WithLineBreaks(e.what()).c_str());
        return kStopped;
    }
    if (options.list) {
        for (const auto& t : state.tables) std::printf("TABLE %s\n", t.c_str());
        for (const auto& g : state.graphs) std::printf("GRAPH %s\n", g.c_str());
        std::printf("SIZE %s\n", state.sizeText.c_str());
        return ui.problems ? kProblems : kOk;
    }
    if (app::ConsoleUserInterface::Interrupted()) return kCancelled;
    if (state.tables.empty()) {
        std::fputs("tallomir-batch: the workspaces open no table; nothing to copy\n", stderr);
        return kUsage;
    }

    zip::TZipArchiver zip;
    copyrun::ConfigureZipComponent(zip, platform::ProgramDir());
    // The engine's warnings (a listed file that is missing, say) are problems to report.
    zip.OnMessage = [&ui](zip::TZipArchiver&, std::int32_t errCode, const std::string& message) {
        if (errCode == 0 || message.empty()) return;
        ++ui.problems;
        std::fprintf(stderr, "zip: %s\n", app::ConsoleUserInterface::WithLineBreaks(message).c_str());
    };
    zip.LoadEngine();
    copyrun::CopyRunContext context;
    copyrun::RunRecord record;
    if (options.dryRun || !options.manifest.empty()) context.record = &record;
    context.hash = !options.manifest.empty() && !options.dryRun;
    context.plan = options.dryRun;
    context.archiveList = &zip.FSpecArgs();
    context.zipStep = [&](const copyrun::TargetGuard& guard) { copyrun::ZipStep(state, zip, guard); };
    copyrun::RunOutcome outcome;
    try {
        outcome = copyrun::Run(state, context);
    } catch (const std::exception& e) {
        ui.EndProgress();
        std::fprintf(stderr, "tallomir-batch: %s\n", app::ConsoleUserInterface::WithLineBreaks(e.what()).c_str());
        return kStopped;
    }
    switch (outcome) {
        case copyrun::RunOutcome::NotStarted: return kUsage;
        case copyrun::RunOutcome::Cancelled: return kCancelled;
        case copyrun::RunOutcome::Finished: break;
    }
    if (options.dryRun) PrintPlan(state, record, ui.problems);
    if (!options.manifest.empty() && !WriteManifest(options, state, record)) return kStopped;
    return ui.problems ? kProblems : kOk;
}
