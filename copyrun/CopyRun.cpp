#include "copyrun/CopyRun.h"

#include "analysis/Analysis.h"
#include "app/Globals.h"
#include "app/UserInterface.h"
#include "app/pmUtils.h"
#include "copyrun/ZipStep.h"
#include "platform/FileSystem.h"

namespace copyrun {
namespace {

constexpr char CR = '\r';
constexpr const char* kLocked = "File is locked by another program.";

// Writes a small text file of CR LF lines, created or replaced whole.
void WriteTextFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    if (auto err = platform::WriteFile(path, text)) throw CopyRunError("Cannot create " + path + ". " + err.message);
}

std::string Join(const std::string& folder, const std::string& name) { return folder + "/" + name; }

// "Error copying file " + source + CR + the reason: the lock text for a file in use.
void ShowCopyFailure(const std::string& source, const platform::SysError& err) {
    app::UI().ShowNote("Error copying file " + source + CR +
                       (err.code == platform::kErrorSharingViolation ? std::string(kLocked) : err.message));
}

// "Error copying file " + source + CR + why the file was left as it is: its copy would
// replace `original`, a file the run reads from.
void ShowWouldReplace(const std::string& source, const std::string& original) {
    app::UI().ShowNote("Error copying file " + source + CR + "The copy would replace " + original +
                       ", which is being copied; it is left as it is.");
}

class CopyRunner {
public:
    CopyRunner(analysis::CopyFormState& state, const CopyRunContext& context, const std::string& target)
        : m_state(state), m_context(context), m_analysis(state), m_guard(target) {}

    RunOutcome Execute();

private:
    void Produced(const std::string& path) {
        if (m_state.options.zip && m_context.archiveList) m_context.archiveList->push_back(path);
    }
    bool RefusedBeforeStart();
    // False when the file was left alone because its copy would replace a file being copied.
    bool CopyTableFile(const std::string& source, const std::string& dest);
    // True when `dest`, the copy of `source`, may be written: it lies in the target folder and
    // is no file the run reads from. Otherwise the user is told and nothing is written.
    bool MayWrite(const std::string& source, const std::string& dest);
    void FinishTable(const std::string& name, const std::string& mainName);
    void LeaveOut(const std::string& name, const std::string& why);
    void SeamlessBranch(const std::string& name);
    void WriteStub(const std::string& name, const std::string& mainName);
    std::string Charset() { return app::MapInfoApp().Eval("SystemInfo(5)"); }
    void CdStep();

    analysis::CopyFormState& m_state;
    const CopyRunContext& m_context;
    analysis::Analysis m_analysis;
    TargetGuard m_guard;
    std::string m_target, m_tables, m_data;
    std::vector<std::string> m_names;  // the name each table is copied under
    // How far the seamless branch of the table being finished got.
    enum class Seamless { No, Rewriting, Committed, StubWritten } m_seamless = Seamless::No;
};

// Before anything is written: a zip name that is the work archive's own, or a target whose
// workspace, graph, CD or zip destinations are files the run reads, stops the run.
bool CopyRunner::RefusedBeforeStart() {
    app::UserInterface& ui = app::UI();
    const analysis::CopyOptions& options = m_state.options;
    const bool zipping = options.zip && m_context.zipStep;
    const std::string work = Join(m_target, kWorkArchiveName);
    const std::string archive = zipping ? ArchivePath(options, m_target) : std::string();
    if (zipping && pm::EqualNoCase(archive, work)) {
        ui.ShowNote(std::string("The zip file cannot be named ") + kWorkArchiveName +
                    ": the archive is built under that name before it takes its own.\rChoose another zip file name.");
        if (m_context.showZipOptions) m_context.showZipOptions();
        return true;
    }

    for (const auto& workspace : m_state.workspaces) m_guard.AddSource(workspace);
    for (const auto& entry : m_state.graphs) m_guard.AddSource(analysis::SplitEntry(entry).second);
    for (const auto& entry : m_state.tables) m_guard.AddSource(analysis::SplitEntry(entry).second + ".tab");
    const bool cd = options.cd && options.autoRun;
    if (cd) m_guard.AddSource(m_context.programDir + "Startup.exe");

    std::vector<std::string> destinations;
    for (const auto& workspace : m_state.workspaces) destinations.push_back(Join(m_target, pm::FileNameOf(workspace)));
    for (const auto& entry : m_state.graphs)
        destinations.push_back(Join(m_target, pm::FileNameOf(analysis::SplitEntry(entry).second)));
    if (cd) {
        destinations.push_back(Join(m_target, "AUTORUN.INF"));
        destinations.push_back(Join(m_target, "startup.exe"));
    }
    if (zipping) {
        destinations.push_back(work);
        if (options.exe && options.readme) destinations.push_back(Join(m_target, "ReadMe.txt"));
        destinations.push_back(archive);
        if (options.exe) destinations.push_back(pm::WithoutExtension(archive) + ".exe");
    }
    for (const auto& dest : destinations) {
        const auto source = m_guard.SourceAt(dest);
        if (!source) continue;
        const bool zipName = zipping && !m_guard.Inside(dest) && dest != work;
        ui.ShowNote("The copy would replace " + *source + ", which is being copied." + CR +
                    (zipName ? "Choose another zip file name." : "Choose another target folder."));
        if (zipName && m_context.showZipOptions) m_context.showZipOptions();
        if (!zipName && m_context.showCopyDetails) m_context.showCopyDetails();
        return true;
    }
    return false;
}

RunOutcome CopyRunner::Execute() {
    app::UserInterface& ui = app::UI();
    m_target = m_guard.Target();
    m_tables = Join(m_target, "TABLES");
    m_data = Join(m_tables, "DATA");

    if (!m_state.options.path.empty() && RefusedBeforeStart()) return RunOutcome::NotStarted;
    // The target folder; without it nothing can be written.
    if (m_state.options.path.empty() || !platform::ForceDirectories(m_target)) {
        ui.ShowNote(kCannotCreateTarget);
        if (m_context.showCopyDetails) m_context.showCopyDetails();
        return RunOutcome::NotStarted;
    }
    platform::CreateDir(m_tables);
    platform::CreateDir(m_data);
    if (m_context.archiveList) m_context.archiveList->clear();
    m_names = analysis::TargetNames(m_state.tables);
    m_analysis.SetTargetNames(m_names);
    const int tableCount = static_cast<int>(m_state.tables.size());
    ui.BeginProgress(tableCount > 0 ? tableCount - 1 : 0);

    // The table phase: the only place where Cancel is looked at.
    bool cancelled = false;
    for (int i = 0; i < tableCount && !cancelled; ++i) {
        ui.ProcessMessages();
        m_analysis.TableInfo(i);
        const std::string& name = m_names[static_cast<std::size_t>(i)];
        if (name != m_state.info.description) {
            ui.ShowNote("Another table is already copied as " + m_state.info.description + ": " +
                        analysis::SplitEntry(m_state.tables[static_cast<std::size_t>(i)]).second +
                        ".tab is copied as " + name + ".");
        }
        const std::string mainName = pm::FileNameOf(m_state.info.mainFile);
        const std::string tableFolder = Join(m_data, name);
        platform::CreateDir(tableFolder);
        const std::vector<std::string> files = m_state.info.fileInfo;
        for (const std::string& source : files) m_guard.AddSource(source);
        bool intact = true;  // no file was left alone for being a source of the run
        for (const std::string& source : files) {
            const std::string dest = Join(tableFolder, pm::FileNameOf(source));
            ui.SetProgress(i, "Copying " + source + "...");
            ui.ProcessMessages();
            if (ui.ProgressCancelled()) break;
            if (CopyTableFile(source, dest)) {
                // No copied table file keeps the read-only attribute.
                int attrs = platform::GetFileAttributes(dest);
                if (attrs >= 0) platform::SetFileAttributes(dest, (attrs & ~platform::kAttrReadOnly) & 0xFFFF);
            } else {
                intact = false;
            }
            Produced(dest);
            ui.ProcessMessages();
        }
        if (ui.ProgressCancelled()) {
            cancelled = true;
            break;
        }
        // Finishing rewrites the copied header and lets MapInfo write the copy, which must
        // not be a file being copied.
        if (intact) FinishTable(name, mainName);
    }

    ui.ProcessMessages();
    if (cancelled || ui.ProgressCancelled()) {
        ui.EndProgress();
        ui.Beep();
        ui.ShowNote(kInterrupted);
        return RunOutcome::Cancelled;
    }
    // The workspaces, rewritten for the target layout.
    for (const std::string& workspace : m_state.workspaces) {
        const std::string dest = Join(m_target, pm::FileNameOf(workspace));
        if (MayWrite(workspace, dest)) m_analysis.CopyWorkSpace(workspace, dest);
        Produced(dest);
    }
    // The graph files, beside the workspaces.
    for (const std::string& entry : std::vector<std::string>(m_state.graphs)) {
        std::string graph = analysis::SplitEntry(entry).second.substr(0, 1000);
        const std::string dest = Join(m_target, pm::FileNameOf(graph));
        if (MayWrite(graph, dest)) CopyOneFile(graph, dest);
        Produced(dest);
    }
    if (m_state.options.cd && m_state.options.autoRun) CdStep();
    if (m_state.options.zip && m_context.zipStep) m_context.zipStep(m_guard);
    ui.EndProgress();
    ui.Beep();
    ui.ShowNote(kFinished);
    return RunOutcome::Finished;
}

bool CopyRunner::MayWrite(const std::string& source, const std::string& dest) {
    if (!m_guard.Inside(dest)) {
        app::UI().ShowNote("Error copying file " + source + CR + "Its copy " + dest +
                           " would lie outside the target folder.");
        return false;
    }
    if (auto original = m_guard.SourceAt(dest)) {
        ShowWouldReplace(source, *original);
        return false;
    }
    return true;
}

bool CopyRunner::CopyTableFile(const std::string& source, const std::string& dest) {
    app::UserInterface& ui = app::UI();
    if (pm::EqualNoCase(pm::ExtensionOf(source), ".MBX")) return true;  // programs are not copied
    if (!m_guard.Inside(dest)) return MayWrite(source, dest);           // says why, writes nothing
    try {
        // The copy itself refuses a source another program holds, before it touches the
        // destination; only an existing destination needs both tests up front, in order.
        const auto existing = platform::StatPath(dest);
        if (existing) {
            if (auto original = m_guard.SourceAt(*existing)) {
                ShowWouldReplace(source, *original);
                return false;
            }
        }
        if (existing && SourceInUse(source)) {
            ui.ShowNote("Error copying file " + source + CR + '\n' + kLocked);
        } else if (existing && app::FileInUse(dest)) {
            ui.ShowNote("Error copying file " + dest + CR + kLocked);
        } else {
            platform::SysError err = platform::CopyFile(source, dest);
            if (err.code == platform::kErrorSharingViolation && SourceInUse(source)) {
                ui.ShowNote("Error copying file " + source + CR + '\n' + kLocked);
            } else if (err) {
                ShowCopyFailure(source, err);
            }
        }
    } catch (const std::exception& e) {
        const std::string text = e.what();
        ui.ShowNote("Error copying file " + source + CR +
                    (text.find("32") != std::string::npos ? std::string(kLocked) : text));
    }
    return true;
}

void CopyRunner::LeaveOut(const std::string& name, const std::string& why) {
    app::UI().ShowNote("The table " + name + " is left out of the copy: " + why);
}

void CopyRunner::FinishTable(const std::string& name, const std::string& mainName) {
    const std::string folder = Join(m_data, name);
    if (mainName.empty()) {
        LeaveOut(name, "the table its header opens does not exist.");
        return;
    }
    if (!platform::FileExists(Join(folder, mainName))) {
        LeaveOut(name, "its header " + m_state.info.mainFile + " could not be copied.");
        return;
    }
    // The stub, in either spelling (letter case is ignored when looking it up).
    if (auto original = m_guard.SourceAt(Join(m_tables, name + ".tab"))) {
        LeaveOut(name, "its stub would replace " + *original + ", which is being copied.");
        return;
    }
    const std::string tablePath = Join(folder, pm::WithoutExtension(mainName));
    auto& mapinfo = app::MapInfoApp();
    m_seamless = Seamless::No;
    try {
        analysis::Analysis::UpdateViewTAB(tablePath);
        analysis::Analysis::UpdateRasterTAB(tablePath);
        mapinfo.Do("Open Table \"" + Join(folder, mainName) + "\" As LAYER");
        if (mapinfo.Eval("TableInfo(LAYER,24)") == "T") {
            SeamlessBranch(name);
        } else {
            WriteStub(name, mainName);
            Produced(Join(m_tables, name + ".tab"));
        }
        if (mapinfo.Eval("TableInfo(LAYER,3)") == "3") analysis::Analysis::UpdateViewTAB(tablePath);
        mapinfo.Do("Close Table LAYER");
    } catch (const std::exception&) {
        // MapInfo could not finish the table: a plain stub opens it all the same. LAYER is
        // closed (discarding uncommitted changes), so the next table can be finished.
        try {
            mapinfo.Do("Close Table LAYER");
        } catch (const std::exception&) {}
        if (m_seamless == Seamless::Rewriting) {
            app::UI().ShowNote("The seamless table " + name +
                               " could not be relocated: its copy still uses the original tile files.");
        }
        if (m_seamless == Seamless::StubWritten) {
            // One stub, whatever its letter case: the plain one replaces the seamless one.
            const std::string seamlessStub = Join(m_tables, name + ".Tab");
            platform::DeleteFile(seamlessStub);
            if (m_context.archiveList) std::erase(*m_context.archiveList, seamlessStub);
        }
        WriteStub(name, mainName);
        try {
            analysis::Analysis::UpdateViewTAB(tablePath);
        } catch (const analysis::FileError& e) {
            app::UI().ShowNote(e.what());
        }
        Produced(Join(m_tables, name + ".tab"));
    }
}

void CopyRunner::WriteStub(const std::string& name, const std::string& mainName) {
    WriteTextFile(Join(m_tables, name + ".tab"), {"!Table", "!Version 300", "!Charset " + Charset(), "",
                                                  "Open Table \".\\DATA\\" + name + "\\" + mainName + "\" As " + name});
}

void CopyRunner::SeamlessBranch(const std::string& name) {
    auto& mapinfo = app::MapInfoApp();
    m_seamless = Seamless::Rewriting;
    mapinfo.Do("Set Table LAYER Seamless Off");
    mapinfo.Do("Fetch First From LAYER");
    while (mapinfo.Eval("EOT(LAYER)") != "T") {
        const std::string row = mapinfo.Eval("LAYER.Table");
        const std::string rowIdText = mapinfo.Eval("LAYER.RowId");
        std::size_t used = 0;
        unsigned long long rowId = std::stoull(rowIdText, &used);  // throws on no number
        if (used != rowIdText.size()) throw CopyRunError("Not a row number: " + rowIdText);
        const std::size_t sep = row.find_last_of("\\/");  // either separator, or both mixed
        const std::string file = sep == std::string::npos ? row : row.substr(sep + 1);
        mapinfo.Do("Update LAYER Set Table=\"" + file + "\" where RowId=" + std::to_string(rowId));
        mapinfo.Do("Fetch Next From LAYER");
    }
    mapinfo.Do("Commit Table LAYER");
    m_seamless = Seamless::Committed;
    const std::string stub = Join(m_tables, name + ".Tab");
    WriteTextFile(stub, {"!Table", "!Version 300", "!Charset " + Charset(), "",
                         "Run Application \".\\DATA\\" + name + "\\Seamless.Wor\""});
    m_seamless = Seamless::StubWritten;
    Produced(stub);
    const std::string workspace = Join(Join(m_data, name), "Seamless.wor");
    WriteTextFile(workspace, {"!Workspace", "!Version 400", "!Charset " + Charset(), "",
                              "Open Table \"" + name + "\" As " + name});
    Produced(workspace);
}

void CopyRunner::CdStep() {
    const std::string autorun = Join(m_target, "AUTORUN.INF");
    if (MayWrite(autorun, autorun)) WriteTextFile(autorun, {"[autorun]", "OPEN=startup.exe"});
    const std::string program = m_context.programDir + "Startup.exe";
    const std::string copy = Join(m_target, "startup.exe");
    if (MayWrite(program, copy)) CopyOneFile(program, copy);
    Produced(Join(m_target, "Startup.exe"));
    Produced(autorun);
}

}  // namespace

bool SourceInUse(const std::string& path) { return platform::HeldByAnother(path, platform::Access::SharedRead); }

bool CopyOneFile(const std::string& source, const std::string& dest) {
    platform::SysError err = platform::CopyFile(source, dest);
    if (err) ShowCopyFailure(source, err);
    return !err;
}

std::string TargetFolder(const analysis::CopyOptions& options) {
    std::string target = platform::ExpandFileName(options.path);
    while (target.size() > 1 && target.back() == '/') target.pop_back();
    return target;
}

RunOutcome Run(analysis::CopyFormState& state, const CopyRunContext& context) {
    CopyRunContext ctx = context;
    if (ctx.programDir.empty()) ctx.programDir = platform::ProgramDir();
    return CopyRunner(state, ctx, TargetFolder(state.options)).Execute();
}

}  // namespace copyrun
