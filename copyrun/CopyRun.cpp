#include "copyrun/CopyRun.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "analysis/Analysis.h"
#include "app/Globals.h"
#include "app/UserInterface.h"
#include "app/pmUtils.h"
#include "platform/FileSystem.h"

namespace copyrun {
namespace {

constexpr char CR = '\r';
constexpr const char* kLocked = "File is locked by another program.";

// Writes a small text file of CR LF lines, created or replaced whole.
void WriteTextFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    if (auto err = platform::WriteFile(path, text))
        throw CopyRunError("Cannot create " + path + ". " + err.message);
}

std::string Join(const std::string& folder, const std::string& name) { return folder + "/" + name; }

// "Error copying file " + source + CR + the reason: the lock text for a file in use.
void ShowCopyFailure(const std::string& source, const platform::SysError& err) {
    app::UI().ShowNote("Error copying file " + source + CR +
                       (err.code == platform::kErrorSharingViolation ? std::string(kLocked) : err.message));
}

class Run {
public:
    Run(analysis::CopyFormState& state, const CopyRunContext& context)
        : m_state(state), m_context(context), m_analysis(state) {}

    RunOutcome Execute();

private:
    void Produced(const std::string& path) {
        if (m_state.options.zip && m_context.archiveList) m_context.archiveList->push_back(path);
    }
    void CopyTableFile(const std::string& source, const std::string& dest);
    void FinishTable(const std::string& alias, const std::string& mainName);
    void SeamlessBranch(const std::string& alias);
    void WriteStub(const std::string& alias, const std::string& mainName);
    std::string Charset() { return app::MapInfoApp().Eval("SystemInfo(5)"); }
    void CdStep();

    analysis::CopyFormState& m_state;
    const CopyRunContext& m_context;
    analysis::Analysis m_analysis;
    std::string m_target, m_tables, m_data;
};

RunOutcome Run::Execute() {
    app::UserInterface& ui = app::UI();
    m_target = TargetFolder(m_state.options);
    m_tables = Join(m_target, "TABLES");
    m_data = Join(m_tables, "DATA");

    // 1. The target folder; without it nothing can be written.
    if (m_state.options.path.empty() || !platform::ForceDirectories(m_target)) {
        ui.ShowNote(kCannotCreateTarget);
        if (m_context.showCopyDetails) m_context.showCopyDetails();
        return RunOutcome::NotStarted;
    }
    // 2.-4.
    platform::CreateDir(m_tables);
    platform::CreateDir(m_data);
    if (m_context.archiveList) m_context.archiveList->clear();
    const int tableCount = static_cast<int>(m_state.tables.size());
    ui.BeginProgress(tableCount > 0 ? tableCount - 1 : 0);

    // 5. The table phase: the only place where Cancel is looked at.
    bool cancelled = false;
    for (int i = 0; i < tableCount && !cancelled; ++i) {
        ui.ProcessMessages();
        m_analysis.TableInfo(i);
        const std::string alias = m_state.info.description;
        const std::string mainName = pm::FileNameOf(m_state.info.mainFile);
        const std::string tableFolder = Join(m_data, alias);
        platform::CreateDir(tableFolder);
        const std::vector<std::string> files = m_state.info.fileInfo;
        for (const std::string& source : files) {
            const std::string dest = Join(tableFolder, pm::FileNameOf(source));
            ui.SetProgress(i, "Copying " + source + "...");
            ui.ProcessMessages();
            if (ui.ProgressCancelled()) break;
            CopyTableFile(source, dest);
            // No copied table file keeps the read-only attribute.
            int attrs = platform::GetFileAttributes(dest);
            if (attrs >= 0) platform::SetFileAttributes(dest, (attrs & ~platform::kAttrReadOnly) & 0xFFFF);
            Produced(dest);
            ui.ProcessMessages();
        }
        if (ui.ProgressCancelled()) {
            cancelled = true;
            break;
        }
        FinishTable(alias, mainName);
    }

    // 6.
    ui.ProcessMessages();
    if (cancelled || ui.ProgressCancelled()) {
        ui.EndProgress();
        ui.Beep();
        ui.ShowNote(kInterrupted);
        return RunOutcome::Cancelled;
    }
    // 7. Workspaces, rewritten for the target layout.
    for (const std::string& workspace : m_state.workspaces) {
        const std::string dest = Join(m_target, pm::FileNameOf(workspace));
        m_analysis.CopyWorkSpace(workspace, dest);
        Produced(dest);
    }
    // 8. Graph files, beside the workspaces.
    for (const std::string& entry : std::vector<std::string>(m_state.graphs)) {
        std::string graph = analysis::SplitEntry(entry).second.substr(0, 1000);
        const std::string dest = Join(m_target, pm::FileNameOf(graph));
        CopyOneFile(graph, dest);
        Produced(dest);
    }
    // 9., 10.
    if (m_state.options.cd && m_state.options.autoRun) CdStep();
    if (m_state.options.zip && m_context.zipStep) m_context.zipStep();
    // 11.
    ui.EndProgress();
    ui.Beep();
    ui.ShowNote(kFinished);
    return RunOutcome::Finished;
}

void Run::CopyTableFile(const std::string& source, const std::string& dest) {
    app::UserInterface& ui = app::UI();
    if (pm::EqualNoCase(pm::ExtensionOf(source), ".MBX")) return;  // programs are not copied
    try {
        // The copy itself refuses a source another program holds, before it touches the
        // destination; only an existing destination needs both tests up front, in order.
        const bool destExists = platform::PathExists(dest);
        if (destExists && SourceInUse(source)) {
            ui.ShowNote("Error copying file " + source + CR + '\n' + kLocked);
        } else if (destExists && app::FileInUse(dest)) {
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
}

void Run::FinishTable(const std::string& alias, const std::string& mainName) {
    const std::string tablePath = Join(Join(m_data, alias), pm::WithoutExtension(mainName));
    auto& mapinfo = app::MapInfoApp();
    try {
        analysis::Analysis::UpdateViewTAB(tablePath);
        analysis::Analysis::UpdateRasterTAB(tablePath);
        mapinfo.Do("Open Table \"" + Join(Join(m_data, alias), mainName) + "\" As LAYER");
        if (mapinfo.Eval("TableInfo(LAYER,24)") == "T") {
            SeamlessBranch(alias);
        } else {
            WriteStub(alias, mainName);
            Produced(Join(m_tables, alias + ".tab"));
        }
        if (mapinfo.Eval("TableInfo(LAYER,3)") == "3") analysis::Analysis::UpdateViewTAB(tablePath);
        mapinfo.Do("Close Table LAYER");
    } catch (const std::exception&) {
        // MapInfo could not finish the table: a plain stub opens it all the same. LAYER is
        // closed (discarding uncommitted changes), so the next table can be finished.
        try {
            mapinfo.Do("Close Table LAYER");
        } catch (const std::exception&) {
        }
        WriteStub(alias, mainName);
        analysis::Analysis::UpdateViewTAB(tablePath);
        Produced(Join(m_tables, alias + ".tab"));
    }
}

void Run::WriteStub(const std::string& alias, const std::string& mainName) {
    WriteTextFile(Join(m_tables, alias + ".tab"),
                  {"!Table", "!Version 300", "!Charset " + Charset(), "",
                   "Open Table \".\\DATA\\" + alias + "\\" + mainName + "\" As " + alias});
}

void Run::SeamlessBranch(const std::string& alias) {
    auto& mapinfo = app::MapInfoApp();
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
    const std::string stub = Join(m_tables, alias + ".Tab");
    WriteTextFile(stub, {"!Table", "!Version 300", "!Charset " + Charset(), "",
                         "Run Application \".\\DATA\\" + alias + "\\Seamless.Wor\""});
    Produced(stub);
    const std::string workspace = Join(Join(m_data, alias), "Seamless.wor");
    WriteTextFile(workspace, {"!Workspace", "!Version 400", "!Charset " + Charset(), "",
                              "Open Table \"" + alias + "\" As " + alias});
    Produced(workspace);
}

void Run::CdStep() {
    const std::string autorun = Join(m_target, "AUTORUN.INF");
    WriteTextFile(autorun, {"[autorun]", "OPEN=startup.exe"});
    CopyOneFile(m_context.programDir + "Startup.exe", Join(m_target, "startup.exe"));
    Produced(Join(m_target, "Startup.exe"));
    Produced(autorun);
}

}  // namespace

bool SourceInUse(const std::string& path) {
    auto resolved = platform::ResolveCase(path);
    if (!resolved) return false;  // the copy reports the missing file with its reason
    int fd = ::open(resolved->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;     // likewise for a file that cannot be read
    // Readers share; a program that holds the file exclusively keeps it to itself.
    bool inUse = ::flock(fd, LOCK_SH | LOCK_NB) != 0 || platform::HeldByRecordLock(fd, false);
    ::close(fd);
    return inUse;
}

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

RunOutcome btnCopyClick(analysis::CopyFormState& state, const CopyRunContext& context) {
    CopyRunContext ctx = context;
    if (ctx.programDir.empty()) ctx.programDir = platform::ProgramDir();
    return Run(state, ctx).Execute();
}

}  // namespace copyrun
