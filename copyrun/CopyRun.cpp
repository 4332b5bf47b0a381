#include "copyrun/CopyRun.h"

#include "analysis/Analysis.h"
#include "app/Globals.h"
#include "app/UserInterface.h"
#include "app/pmUtils.h"
#include "copyrun/CopyAhead.h"
#include "copyrun/Manifest.h"
#include "copyrun/ZipStep.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Hash.h"

#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <unordered_set>

namespace copyrun {
namespace {

constexpr char CR = '\r';
constexpr const char* kLocked = "File is locked by another program.";

// Writes a small text file of CR LF lines, created or replaced whole; `isNew` when no file
// of its name can be there. A disk found full is tried once more if `settle` says that what
// filled it may have been taken away since.
void WriteTextFile(const std::string& path, const std::vector<std::string>& lines, bool isNew = false,
                   const std::function<bool()>& settle = {}) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    auto write = [&] { return isNew ? platform::WriteNewFile(path, text) : platform::WriteFile(path, text); };
    platform::SysError err = write();
    if (err.code == platform::kErrorDiskFull && settle && settle()) err = write();
    if (err) throw CopyRunError("Cannot create " + path + ". " + err.message);
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

// Why a planned copy of `source` could not be made, as the copy would find it: the source
// is opened for reading, shared with every other program, and closed again.
platform::SysError UnreadableSource(const std::string& source) {
    platform::SysError err = platform::ProbeRead(platform::ExpandFileName(source));
    if (err.code != platform::kErrorFileNotFound && err.code != platform::kErrorPathNotFound) return err;
    auto resolved = platform::ResolveCase(source);
    if (!resolved) return err;
    return platform::ProbeRead(*resolved);
}

// Whether the copy could make `folder`: it is a folder already, or the nearest part of its
// path that exists is one. Creates nothing.
bool CouldCreateFolder(const std::string& folder) {
    for (std::string path = folder; !path.empty();) {
        if (auto status = platform::StatPath(path)) return status->isDirectory;
        const auto sep = path.find_last_of('/');
        if (sep == std::string::npos || sep == 0) return true;
        path.resize(sep);
    }
    return false;
}

// The character set a workspace or header names, read from its first lines; empty when it
// names none or cannot be read.
std::string CharsetOfFile(const std::string& path) {
    auto bytes = platform::ReadFile(platform::ResolveCase(path).value_or(path)).bytes;
    return bytes ? NamedCharset(*bytes) : std::string();
}

// Passes everything on to the interface in force and keeps each note, so that a record can
// tell which notes came with which file.
class NoteTap : public app::UserInterface {
public:
    NoteTap(app::UserInterface& inner, std::vector<std::string>& notes) : m_inner(inner), m_notes(notes) {}
    void ShowNote(const std::string& text) override {
        m_notes.push_back(text);
        m_inner.ShowNote(text);
    }
    void BeginProgress(int maximum) override { m_inner.BeginProgress(maximum); }
    void SetProgress(int position, const std::string& text) override { m_inner.SetProgress(position, text); }
    void EndProgress() override { m_inner.EndProgress(); }
    bool ProgressCancelled() const override { return m_inner.ProgressCancelled(); }
    void ProcessMessages() override { m_inner.ProcessMessages(); }
    void SetHourglass(bool on) override { m_inner.SetHourglass(on); }
    void Beep() override { m_inner.Beep(); }
    void ShowMessage(const std::string& text) override { m_inner.ShowMessage(text); }
    void ReportError(const std::string& text) override { m_inner.ReportError(text); }

private:
    app::UserInterface& m_inner;
    std::vector<std::string>& m_notes;
};

class CopyRunner {
public:
    CopyRunner(analysis::CopyFormState& state, const CopyRunContext& context, const std::string& target)
        : m_state(state), m_context(context), m_analysis(state), m_guard(target), m_copier(context.hash) {}

    RunOutcome Execute();

private:
    bool Planning() const { return m_context.plan; }
    // The notes shown from here on belong to the next record.
    void BeginRecord() {
        if (m_context.record) m_noteMark = m_context.record->notes.size();
    }
    // Describes one file handled (or planned); the notes since BeginRecord go with it.
    void Record(const std::string& kind, const std::string& source, const std::string& target, std::string status,
                std::string sha256 = {});
    // A file the run wrote itself: its record, with its size and digest read back.
    void RecordWritten(const std::string& kind, const std::string& target);
    // After finishing a table: records of files that finishing changed get their new digest,
    // and a seamless table's records say which files are tiles.
    void AfterFinish(std::size_t firstRecord, const std::string& mainName, bool seamless);
    bool PlanSeamless();
    // Copies `source` to `dest`, or when planning tells whether the copy could read it (no
    // lock is taken to test whether another program holds it), with the note the copy would
    // give; the record's status, and the digest in m_copyDigest.
    std::string CopyOrPlan(const std::string& source, const std::string& dest);
    void RecordArchive();
    void Produced(const std::string& path) {
        if (m_state.options.zip && m_context.archiveList) m_context.archiveList->push_back(path);
    }
    bool RefusedBeforeStart();
    // A table read, its folder made and its files noted as sources before its turn.
    struct PreparedTable {
        int index = 0;
        analysis::TableInformation info;
        std::exception_ptr error;                  // what reading it ended with
        bool freshFolder = false;                  // its folder was made by the run
        std::unique_ptr<CopyAhead::Table> copies;  // its files, when copied on the other thread
        // The sizes its files had at the refresh, when its information is the refresh's.
        std::optional<std::vector<std::uint64_t>> known;
    };
    // Reads table `index` for its turn, leaving the information in place as it was; makes its
    // folder and, where nothing can be in the way, queues its files for the other thread. Its
    // files are noted as sources in its turn.
    void Prepare(int index);
    // Reads the table into table.info (or table.error), from what the refresh found where
    // `mayKnow` and that still holds; the information in place stays as it was.
    void ReadTable(PreparedTable& table, bool mayKnow);
    // What was made for tables read ahead whose turn did not come (the run was cancelled or
    // stopped on an error) is taken away again: their copies and folders, all the run's own.
    void DropTablesAhead();
    // Copies and finishes table `i`, whose information is in place; false when cancelled.
    bool CopyTable(int i, PreparedTable& table);
    // Waits for the files the other thread copies and reports each in order; with the sizes
    // the refresh found (`known`), the table's size is taken from the copies.
    void ReportCopiedAhead(int i, CopyAhead::Table& copies, const std::optional<std::vector<std::uint64_t>>& known);
    // What became of one copy: its status and digest, and the note for a failure.
    void TakeCopyOutcome(const std::string& source, const platform::SysError& err, std::string digest);
    void ShowThrownCopyFailure(const std::string& source, const std::string& text);
    // The attributes, record and archive entry of one table file handled; `handled` is false
    // when the file was left alone for being a source of the run.
    void AfterTableFile(const std::string& source, const std::string& dest, bool handled);
    // False when the file was left alone because its copy would replace a file being copied.
    bool CopyTableFile(const std::string& source, const std::string& dest);
    // True when `dest`, the copy of `source`, may be written: it lies in the target folder and
    // is no file the run reads from. Otherwise the user is told and nothing is written.
    bool MayWrite(const std::string& source, const std::string& dest);
    void FinishTable(const std::string& name, const std::string& mainName);
    // MapInfo's part of finishing a copied table: the headers rewritten, the stub written,
    // a seamless table's rows relocated.
    void FinishCopiedTable(const std::string& name, const std::string& mainName);
    bool PlannedCopy(const std::string& dest) const {
        for (const auto& p : m_planned)
            if (pm::EqualNoCase(p, dest)) return true;
        return false;
    }
    void LeaveOut(const std::string& name, const std::string& why);
    void SeamlessBranch(const std::string& name);
    void WriteStub(const std::string& name, const std::string& mainName);
    // Whether the stub of table `name` is the first file of its name in a stubs folder the
    // run made (names are kept in capitals).
    bool NewStub(const std::string& name) { return m_freshTables && m_stubNames.insert(pm::UpperAscii(name)).second; }
    // The character set stubs are written in, asked of MapInfo once.
    std::string Charset() {
        if (m_charset.empty()) m_charset = app::MapInfoApp().Eval("SystemInfo(5)");
        return m_charset;
    }
    std::string m_charset;
    // For a file written while the other thread copies: waits for its copy to be through.
    std::function<bool()> Settle() {
        return [this] { return m_copier.Settle(); };
    }
    void CdStep();

    analysis::CopyFormState& m_state;
    const CopyRunContext& m_context;
    analysis::Analysis m_analysis;
    TargetGuard m_guard;
    std::string m_target, m_tables, m_data;
    std::vector<std::string> m_names;  // the name each table is copied under
    // How far the seamless branch of the table being finished got.
    enum class Seamless { No, Rewriting, Committed, StubWritten } m_seamless = Seamless::No;
    std::size_t m_noteMark = 0;
    std::string m_tableCharset;          // what the header of the table being copied is written in
    std::string m_workspaceCharset;      // the workspace being copied's, or the first workspace's
    std::string m_tableName;             // the table being copied, for its records
    std::string m_copyStatus;            // what CopyTableFile did with the last file
    std::string m_copyDigest;            // and the digest of the bytes it copied
    std::vector<std::string> m_planned;  // when planning: the table files that would be copied
    // Whether the folder of the table being copied was made by this run, and the names (in
    // capitals) written into it since.
    bool m_freshFolder = false;
    bool m_freshTables = false;  // whether the run made the folder of the stubs
    std::unordered_set<std::string> m_stubNames;
    std::unordered_set<std::string> m_freshNames;
    // The tables read ahead of their turn, and the thread that copies their files; it ends
    // before the tables it copies for go.
    static constexpr int kTablesAhead = 8;
    std::deque<PreparedTable> m_ahead;
    int m_prepared = 0;
    CopyAhead m_copier;
};

void CopyRunner::Record(const std::string& kind, const std::string& source, const std::string& target,
                        std::string status, std::string sha256) {
    RunRecord* record = m_context.record;
    if (!record) return;
    FileRecord r;
    r.kind = kind;
    r.table = kind == "table" || kind == "stub" ? m_tableName : std::string();
    r.source = source;
    r.target = target;
    if (Planning()) {
        if (auto size = platform::FileSize(source)) r.size = *size;
    } else if (auto size = platform::FileSize(target)) {
        r.size = *size;
    }
    r.sha256 = std::move(sha256);
    r.status = std::move(status);
    r.notes.assign(record->notes.begin() + static_cast<std::ptrdiff_t>(m_noteMark), record->notes.end());
    r.charset = kind == "table" || kind == "stub" ? m_tableCharset : m_workspaceCharset;
    m_noteMark = record->notes.size();
    if (kind == "table" && (r.status == "copy" || r.status == "copied")) record->bytes += r.size;
    if (Planning() && r.status == "copy") m_planned.push_back(target);
    record->files.push_back(std::move(r));
}

void CopyRunner::RecordWritten(const std::string& kind, const std::string& target) {
    if (!m_context.record) return;
    if (Planning()) return Record(kind, {}, target, "write");
    const bool exists = platform::FileExists(target);
    Record(kind, {}, target, exists ? "written" : "not written", exists && m_context.hash ? Sha256OfFile(target) : "");
}

void CopyRunner::AfterFinish(std::size_t firstRecord, const std::string& mainName, bool seamless) {
    if (!m_context.record) return;
    auto& files = m_context.record->files;
    const std::string mainBase = pm::UpperAscii(pm::WithoutExtension(mainName));
    for (std::size_t i = firstRecord; i < files.size(); ++i) {
        FileRecord& r = files[i];
        if (r.kind != "table") continue;
        if (seamless)
            r.kind = pm::UpperAscii(pm::WithoutExtension(pm::FileNameOf(r.source))) == mainBase ? "seamless" : "tile";
        if (Planning() || r.status != "copied") continue;
        // Finishing rewrites headers and lets MapInfo write the copy of a seamless table.
        auto size = platform::FileSize(r.target);
        const std::uint64_t now = size ? *size : 0;
        if (m_context.hash && (now != r.size || pm::EqualNoCase(pm::ExtensionOf(r.target), ".TAB") || seamless)) {
            r.sha256 = Sha256OfFile(r.target);
        }
        r.size = now;
    }
}

// Whether the table being planned is seamless, asked of MapInfo as the refresh asks it: the
// source table is opened as LAYER and closed again.
bool CopyRunner::PlanSeamless() {
    auto& mapinfo = app::MapInfoApp();
    bool seamless = false;
    try {
        mapinfo.Do("Open Table \"" + m_state.info.mainFile + "\" As LAYER");
        seamless = mapinfo.Eval("TableInfo(LAYER,24)") == "T";
        mapinfo.Do("Close Table LAYER");
    } catch (const std::exception&) {
        try {
            mapinfo.Do("Close Table LAYER");
        } catch (const std::exception&) {}
    }
    return seamless;
}

void CopyRunner::RecordArchive() {
    if (!m_context.record || !m_state.options.zip) return;
    const std::string archive = ArchivePath(m_state.options, m_target);
    BeginRecord();
    if (Planning()) {
        Record("archive", {}, m_state.options.exe ? pm::WithoutExtension(archive) + ".exe" : archive, "write");
        return;
    }
    // With the files removed after zipping, their records say the archive holds them now.
    for (FileRecord& r : m_context.record->files) {
        if ((r.status == "copied" || r.status == "written") && !platform::FileExists(r.target)) r.status = "archived";
    }
    for (const std::string& made : {archive, pm::WithoutExtension(archive) + ".exe"}) {
        if (platform::FileExists(made)) RecordWritten("archive", made);
    }
}

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
    std::vector<std::pair<std::string, platform::PathStatus>> present;
    for (const auto& dest : destinations)
        if (auto status = platform::StatPath(dest)) present.emplace_back(dest, std::move(*status));
    // A table's header can meet a file of the run's only in a target folder that is there
    // already, or at a destination that is; elsewhere the run makes every file it writes.
    if (!present.empty() || platform::PathExists(m_guard.Target()))
        for (const auto& entry : m_state.tables) m_guard.AddSource(analysis::SplitEntry(entry).second + ".tab");
    for (const auto& [dest, status] : present) {
        const auto source = m_guard.SourceAt(status);
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
    const bool targetUsable = Planning() ? CouldCreateFolder(m_target) : platform::ForceDirectories(m_target);
    if (m_state.options.path.empty() || !targetUsable) {
        ui.ShowNote(kCannotCreateTarget);
        if (m_context.showCopyDetails) m_context.showCopyDetails();
        return RunOutcome::NotStarted;
    }
    if (!Planning()) {
        m_freshTables = !platform::CreateDir(m_tables);
        platform::CreateDir(m_data);
    }
    if (m_context.archiveList) m_context.archiveList->clear();
    if (!m_state.workspaces.empty()) m_workspaceCharset = CharsetOfFile(m_state.workspaces.front());
    if (m_context.record) {
        m_context.record->charset = m_workspaceCharset;
        m_context.record->inUseTested = !Planning();
    }
    m_names = analysis::TargetNames(m_state.tables);
    m_analysis.SetTargetNames(m_names);
    const int tableCount = static_cast<int>(m_state.tables.size());
    ui.BeginProgress(tableCount > 0 ? tableCount - 1 : 0);

    // The table phase: the only place where Cancel is looked at. Into a stubs folder the run
    // has made, the tables ahead are read and their files copied on another thread while
    // the run reports and finishes the tables before them.
    const int ahead = m_freshTables ? kTablesAhead : 1;
    bool cancelled = false;
    PreparedTable table;  // the one in its turn: kept until the copying thread has stopped
    try {
        for (int i = 0; i < tableCount && !cancelled; ++i) {
            ui.ProcessMessages();
            while (m_prepared < tableCount && m_prepared < i + ahead) Prepare(m_prepared++);
            table = std::move(m_ahead.front());
            m_ahead.pop_front();
            if (table.error) std::rethrow_exception(table.error);
            m_state.info = std::move(table.info);
            cancelled = !CopyTable(i, table);
        }
    } catch (...) {
        DropTablesAhead();
        throw;
    }
    DropTablesAhead();

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
        BeginRecord();
        if (m_context.record) m_workspaceCharset = CharsetOfFile(workspace);
        const bool may = MayWrite(workspace, dest);
        if (may) m_analysis.CopyWorkSpace(workspace, dest, !Planning());
        Produced(dest);
        if (!may) Record("workspace", workspace, dest, "left alone");
        else if (Planning()) Record("workspace", workspace, dest, "write");
        else Record("workspace", workspace, dest, "written", m_context.hash ? Sha256OfFile(dest) : "");
    }
    m_workspaceCharset = m_context.record ? m_context.record->charset : std::string();
    // The graph files, beside the workspaces.
    for (const std::string& entry : std::vector<std::string>(m_state.graphs)) {
        std::string graph = analysis::SplitEntry(entry).second.substr(0, 1000);
        const std::string dest = Join(m_target, pm::FileNameOf(graph));
        BeginRecord();
        std::string status = "left alone";
        if (MayWrite(graph, dest)) status = CopyOrPlan(graph, dest);
        Produced(dest);
        Record("graph", graph, dest, status, m_copyDigest);
    }
    if (m_state.options.cd && m_state.options.autoRun) CdStep();
    if (m_state.options.zip && m_context.zipStep && !Planning()) m_context.zipStep(m_guard);
    RecordArchive();
    ui.EndProgress();
    if (Planning()) return RunOutcome::Finished;  // the caller sums the plan up
    ui.Beep();
    ui.ShowNote(kFinished);
    return RunOutcome::Finished;
}

void CopyRunner::ReadTable(PreparedTable& table, bool mayKnow) {
    analysis::TableInformation inPlace = std::move(m_state.info);
    try {
        table.known = mayKnow ? m_analysis.KnownTableInfo(table.index) : std::nullopt;
        if (!table.known) m_analysis.TableInfo(table.index);
        table.info = std::move(m_state.info);
    } catch (...) {
        table.error = std::current_exception();  // raised when the table's turn comes
    }
    m_state.info = std::move(inPlace);
}

void CopyRunner::Prepare(int index) {
    PreparedTable table;
    table.index = index;
    // What the refresh found of the table stands while its folder and header are unchanged,
    // for tables copied on the other thread, which confirms the sizes of their files.
    ReadTable(table, m_freshTables && !Planning());
    if (table.error) {
        m_ahead.push_back(std::move(table));
        return;
    }
    const std::string folder = Join(m_data, m_names[static_cast<std::size_t>(index)]);
    table.freshFolder = !Planning() && !platform::CreateDir(folder);
    // Copied on the other thread: into a folder just made, under names of their own, with
    // nothing that needs a question first.
    std::unordered_set<std::string> names;
    bool alongside = table.freshFolder && m_freshTables && !table.info.fileInfo.empty();
    for (const std::string& source : table.info.fileInfo) {
        alongside = alongside && !pm::EqualNoCase(pm::ExtensionOf(source), ".MBX") &&
                    names.insert(pm::UpperAscii(pm::FileNameOf(source))).second;
    }
    if (table.known && !alongside) ReadTable(table, false);  // only copies ahead confirm sizes
    if (alongside) {
        table.copies = std::make_unique<CopyAhead::Table>();
        for (const std::string& source : table.info.fileInfo)
            table.copies->files.push_back({source, Join(folder, pm::FileNameOf(source)), {}, {}, {}, {}});
        table.copies->bytes = std::strtoull(table.info.fileSize.c_str(), nullptr, 10);
        m_copier.Queue(*table.copies);
    }
    m_ahead.push_back(std::move(table));
}

void CopyRunner::DropTablesAhead() {
    // Nothing more is copied ahead; what was copied is known once the table being copied is.
    m_copier.Halt();
    for (const PreparedTable& table : m_ahead) {
        if (table.copies) {
            for (std::size_t j = 0; j < table.copies->copied; ++j) {
                const CopyAhead::File& file = table.copies->files[j];
                if (!file.error && file.thrown.empty()) platform::DeleteFile(file.dest);
            }
        }
        if (table.freshFolder) platform::RemoveDir(Join(m_data, m_names[static_cast<std::size_t>(table.index)]));
    }
    m_ahead.clear();
}

bool CopyRunner::CopyTable(int i, PreparedTable& table) {
    app::UserInterface& ui = app::UI();
    const std::string& name = m_names[static_cast<std::size_t>(i)];
    m_tableName = name;
    if (m_context.record) m_tableCharset = CharsetOfFile(m_state.info.mainFile);
    m_planned.clear();
    BeginRecord();
    const std::size_t firstRecord = m_context.record ? m_context.record->files.size() : 0;
    if (name != m_state.info.description) {
        ui.ShowNote("Another table is already copied as " + m_state.info.description + ": " +
                    analysis::SplitEntry(m_state.tables[static_cast<std::size_t>(i)]).second + ".tab is copied as " +
                    name + ".");
    }
    const std::string mainName = pm::FileNameOf(m_state.info.mainFile);
    const std::string tableFolder = Join(m_data, name);
    m_freshFolder = table.freshFolder;
    m_freshNames.clear();
    bool intact = true;  // no file was left alone for being a source of the run
    if (table.copies) {
        ReportCopiedAhead(i, *table.copies, table.known);
    } else {
        const std::vector<std::string> files = m_state.info.fileInfo;
        for (const std::string& source : files) m_guard.AddSource(source);
        for (const std::string& source : files) {
            const std::string dest = Join(tableFolder, pm::FileNameOf(source));
            ui.SetProgress(i, "Copying " + source + "...");
            ui.ProcessMessages();
            if (ui.ProgressCancelled()) break;
            const bool handled = CopyTableFile(source, dest);
            if (!handled) intact = false;
            AfterTableFile(source, dest, handled);
        }
    }
    if (ui.ProgressCancelled()) return false;
    // Finishing rewrites the copied header and lets MapInfo write the copy, which must
    // not be a file being copied.
    m_seamless = Seamless::No;
    if (intact) FinishTable(name, mainName);
    AfterFinish(firstRecord, mainName, m_seamless != Seamless::No);
    return true;
}

void CopyRunner::ReportCopiedAhead(int i, CopyAhead::Table& copies,
                                   const std::optional<std::vector<std::uint64_t>>& known) {
    app::UserInterface& ui = app::UI();
    const std::size_t copied = m_copier.Wait(copies, [&ui] {
        ui.ProcessMessages();
        return ui.ProgressCancelled();
    });
    // The files are the run's sources from here on, as they are when copied one by one; each
    // is reported as that copy reports it.
    for (std::size_t j = 0; j < copied; ++j) m_guard.AddSource(copies.files[j].status);
    if (known) {
        // The table's size is that of its files as they were copied.
        std::uint64_t total = 0;
        for (std::size_t j = 0; j < known->size(); ++j) {
            const bool seen = j < copied && copies.files[j].status;
            total += seen ? copies.files[j].status->size : (*known)[j];
        }
        m_state.info.fileSize = std::to_string(total);
    }
    for (std::size_t j = 0; j < copied; ++j) {
        CopyAhead::File& file = copies.files[j];
        ui.SetProgress(i, "Copying " + file.source + "...");
        ui.ProcessMessages();
        m_copyStatus = "in use";
        m_copyDigest.clear();
        if (!file.thrown.empty()) ShowThrownCopyFailure(file.source, file.thrown);
        else TakeCopyOutcome(file.source, file.error, std::move(file.digest));
        AfterTableFile(file.source, file.dest, true);
    }
}

void CopyRunner::AfterTableFile(const std::string& source, const std::string& dest, bool handled) {
    // No copied table file keeps the read-only attribute (a copy is made without it; this is
    // for a file that was there and not replaced).
    int attrs = Planning() || !handled || m_copyStatus == "copied" ? -1 : platform::GetFileAttributes(dest);
    if (attrs >= 0) platform::SetFileAttributes(dest, (attrs & ~platform::kAttrReadOnly) & 0xFFFF);
    Record("table", source, dest, m_copyStatus, m_copyDigest);
    Produced(dest);
    app::UI().ProcessMessages();
}

void CopyRunner::TakeCopyOutcome(const std::string& source, const platform::SysError& err, std::string digest) {
    if (err.code == platform::kErrorSharingViolation && SourceInUse(source)) {
        app::UI().ShowNote("Error copying file " + source + CR + '\n' + kLocked);
    } else if (err) {
        ShowCopyFailure(source, err);
        m_copyStatus = err.code == platform::kErrorFileNotFound ? "missing" : "not copied";
    } else {
        m_copyStatus = "copied";
        m_copyDigest = std::move(digest);
    }
}

void CopyRunner::ShowThrownCopyFailure(const std::string& source, const std::string& text) {
    app::UI().ShowNote("Error copying file " + source + CR +
                       (text.find("32") != std::string::npos ? std::string(kLocked) : text));
}

std::string CopyRunner::CopyOrPlan(const std::string& source, const std::string& dest) {
    m_copyDigest.clear();
    if (!Planning()) {
        platform::Sha256 hash;
        platform::SysError err = platform::CopyFile(source, dest, m_context.hash ? &hash : nullptr);
        if (err) {
            ShowCopyFailure(source, err);
            return err.code == platform::kErrorFileNotFound ? "missing" : "not copied";
        }
        if (m_context.hash) m_copyDigest = hash.HexDigest();
        return "copied";
    }
    if (platform::SysError err = UnreadableSource(source)) {
        ShowCopyFailure(source, err);
        return err.code == platform::kErrorFileNotFound || err.code == platform::kErrorPathNotFound ? "missing"
                                                                                                    : "not copied";
    }
    return "copy";
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
    m_copyDigest.clear();
    m_copyStatus = "left alone";
    if (pm::EqualNoCase(pm::ExtensionOf(source), ".MBX")) {  // programs are not copied
        m_copyStatus = "skipped";
        return true;
    }
    if (!m_guard.Inside(dest)) return MayWrite(source, dest);  // says why, writes nothing
    m_copyStatus = "in use";
    // In a folder this run has just made, a name it has not written there yet names nothing.
    const bool fresh = m_freshFolder && m_freshNames.insert(pm::UpperAscii(pm::FileNameOf(dest))).second;
    try {
        // The copy itself refuses a source another program holds, before it touches the
        // destination; only an existing destination needs both tests up front, in order.
        const auto existing = fresh ? std::nullopt : platform::StatPath(dest);
        if (existing) {
            if (auto original = m_guard.SourceAt(*existing)) {
                ShowWouldReplace(source, *original);
                return false;
            }
        }
        if (existing && !Planning() && SourceInUse(source)) {
            ui.ShowNote("Error copying file " + source + CR + '\n' + kLocked);
        } else if (existing && !Planning() && app::FileInUse(dest)) {
            ui.ShowNote("Error copying file " + dest + CR + kLocked);
        } else if (Planning()) {
            m_copyStatus = CopyOrPlan(source, dest);
        } else {
            platform::Sha256 hash;
            platform::CopyOptions options;
            options.hash = m_context.hash ? &hash : nullptr;
            options.newDestination = fresh;
            options.writable = true;
            platform::SysError err = platform::CopyFile(source, dest, options);
            TakeCopyOutcome(source, err, m_context.hash && !err ? hash.HexDigest() : std::string());
        }
    } catch (const std::exception& e) {
        ShowThrownCopyFailure(source, e.what());
    }
    return true;
}

void CopyRunner::LeaveOut(const std::string& name, const std::string& why) {
    app::UI().ShowNote("The table " + name + " is left out of the copy: " + why);
}

void CopyRunner::FinishTable(const std::string& name, const std::string& mainName) {
    const std::string folder = Join(m_data, name);
    m_seamless = Seamless::No;
    if (mainName.empty()) {
        LeaveOut(name, "the table its header opens does not exist.");
        return;
    }
    if (!(Planning() ? PlannedCopy(Join(folder, mainName)) : platform::FileExists(Join(folder, mainName)))) {
        LeaveOut(name, "its header " + m_state.info.mainFile + " could not be copied.");
        return;
    }
    // The stub, in either spelling (letter case is ignored when looking it up). What lies in
    // a folder this run has made is none of its sources.
    if (auto original = m_freshTables ? std::nullopt : m_guard.SourceAt(Join(m_tables, name + ".tab"))) {
        LeaveOut(name, "its stub would replace " + *original + ", which is being copied.");
        return;
    }
    if (Planning()) {
        if (PlanSeamless()) {
            m_seamless = Seamless::StubWritten;
            RecordWritten("stub", Join(m_tables, name + ".Tab"));
            RecordWritten("stub", Join(folder, "Seamless.wor"));
        } else {
            RecordWritten("stub", Join(m_tables, name + ".tab"));
        }
        return;
    }
    FinishCopiedTable(name, mainName);
    if (m_seamless == Seamless::StubWritten && platform::FileExists(Join(m_tables, name + ".Tab"))) {
        RecordWritten("stub", Join(m_tables, name + ".Tab"));
    } else {
        RecordWritten("stub", Join(m_tables, name + ".tab"));
    }
    if (m_seamless != Seamless::No && platform::FileExists(Join(folder, "Seamless.wor")))
        RecordWritten("stub", Join(folder, "Seamless.wor"));
}

void CopyRunner::FinishCopiedTable(const std::string& name, const std::string& mainName) {
    const std::string folder = Join(m_data, name);
    const std::string tablePath = Join(folder, pm::WithoutExtension(mainName));
    auto& mapinfo = app::MapInfoApp();
    m_seamless = Seamless::No;
    try {
        if (pm::EqualNoCase(pm::ExtensionOf(mainName), ".TAB")) {
            analysis::Analysis::UpdateCopiedHeader(Join(folder, mainName));  // as copied, no lookup
        } else {
            analysis::Analysis::UpdateViewTAB(tablePath);
            analysis::Analysis::UpdateRasterTAB(tablePath);
        }
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
    WriteTextFile(Join(m_tables, name + ".tab"),
                  {"!Table", "!Version 300", "!Charset " + Charset(), "",
                   "Open Table \".\\DATA\\" + name + "\\" + mainName + "\" As " + name},
                  NewStub(name), Settle());
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
    WriteTextFile(stub,
                  {"!Table", "!Version 300", "!Charset " + Charset(), "",
                   "Run Application \".\\DATA\\" + name + "\\Seamless.Wor\""},
                  NewStub(name), Settle());
    m_seamless = Seamless::StubWritten;
    Produced(stub);
    const std::string workspace = Join(Join(m_data, name), "Seamless.wor");
    WriteTextFile(workspace,
                  {"!Workspace", "!Version 400", "!Charset " + Charset(), "", "Open Table \"" + name + "\" As " + name},
                  false, Settle());
    Produced(workspace);
}

void CopyRunner::CdStep() {
    const std::string autorun = Join(m_target, "AUTORUN.INF");
    BeginRecord();
    if (MayWrite(autorun, autorun)) {
        if (!Planning()) WriteTextFile(autorun, {"[autorun]", "OPEN=startup.exe"});
        RecordWritten("cd", autorun);
    }
    const std::string program = m_context.programDir + "Startup.exe";
    const std::string copy = Join(m_target, "startup.exe");
    std::string status = "left alone";
    if (MayWrite(program, copy)) status = CopyOrPlan(program, copy);
    Record("cd", program, copy, status, m_copyDigest);
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
    if (!ctx.record) return CopyRunner(state, ctx, TargetFolder(state.options)).Execute();
    // The notes pass through a tap for the record; the interface in force comes back after.
    app::UserInterface& inner = app::UI();
    NoteTap tap(inner, ctx.record->notes);
    struct Restore {
        app::UserInterface& ui;
        ~Restore() { app::SetUserInterface(&ui); }
    } restore{inner};
    app::SetUserInterface(&tap);
    return CopyRunner(state, ctx, TargetFolder(state.options)).Execute();
}

}  // namespace copyrun
