#pragma once
// The copy run behind "Copy Workspaces": copies every table into the target layout, writes
// the stubs and the rewritten workspaces, the graph files, the CD files and the archive.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/CopyFormState.h"
#include "copyrun/TargetGuard.h"

namespace copyrun {

// An error that no step of the run guards (a stub that cannot be written even as the
// fallback, the autorun file): the run stops and the caller reports the text.
class CopyRunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How a run ended.
enum class RunOutcome {
    Finished,    // "Finished Copying!"
    Cancelled,   // "Copying interrupted by user. Warning: Copying incomplete!"
    NotStarted,  // the target folder could not be created or holds files the run reads, or
                 // the zip name is the work archive's
};

// What the run did, or would do, with one file: kept when the caller asks for a record.
struct FileRecord {
    std::string kind;    // "workspace", "table", "seamless", "tile", "stub", "graph", "cd", "archive"
    std::string table;   // the name the table is copied under (table files and stubs)
    std::string source;  // full host path; empty for a file the run writes itself
    std::string target;  // full host path of the copy
    std::uint64_t size = 0;
    std::string sha256;  // of the bytes the copy holds; empty when nothing was written
    // "copy", "write", "missing", "in use", "left alone", "not copied", "skipped"; with a
    // finished run "copied", "written", "not written" or "archived" (removed after zipping).
    std::string status;
    std::vector<std::string> notes;  // the notes shown while this file was handled
    std::string charset;             // the character set of its texts, as MapInfo names it
};

struct RunRecord {
    std::vector<FileRecord> files;
    std::vector<std::string> notes;  // every note the run showed, in order
    std::uint64_t bytes = 0;         // what the copied files take
    std::string charset;             // the first workspace's character set, for the run's own notes
    // A plan does not test whether another program holds a source: that test takes a lock.
    bool inUseTested = true;
};

// What the run needs from its surroundings besides the state.
struct CopyRunContext {
    // The archive list: every file the run produces while the zip option is on, as an
    // absolute path in production order. Cleared at the start of the run.
    std::vector<std::string>* archiveList = nullptr;
    // Where "Startup.exe" ships: the program's folder, with a trailing separator.
    std::string programDir;
    // The window shows its "Copy Details" page with the focus in the path field.
    std::function<void()> showCopyDetails;
    // The window shows its "Zip Options" page with the focus in the zip name field.
    std::function<void()> showZipOptions;
    // The zip step, run when the zip option is on (after the CD step), with the run's target
    // folder and the files it reads from.
    std::function<void(const TargetGuard&)> zipStep;
    // When set, every file the run handles is described here, with its SHA-256 when `hash`.
    RunRecord* record = nullptr;
    bool hash = false;
    // Plans instead of copying: the run goes through every step and shows the notes it would
    // show, but writes, creates and locks nothing (the zip step is not run; `record` lists
    // what would be made). A plan ends without the end message and does not test whether
    // another program holds a source.
    bool plan = false;
};

inline constexpr const char* kFinished = "Finished Copying!";
inline constexpr const char* kInterrupted = "Copying interrupted by user. Warning: Copying incomplete!";
inline constexpr const char* kCannotCreateTarget = "Error creating directory. Cannot continue.";

// Runs the whole copy run on `state`, whose lists the refresh has filled. Problems are
// shown through app::UI() and the run goes on; an unguarded error is thrown
// (CopyRunError, analysis::FileError, or another std::exception) after the progress
// display was left open, as the window's general error report expects.
RunOutcome Run(analysis::CopyFormState& state, const CopyRunContext& context);

// The target folder T of the options' path, as a full host path without a trailing '/',
// taken from the current folder when the path is relative. The run works it out once, when
// it starts, and keeps it while reading the workspaces moves the current folder.
std::string TargetFolder(const analysis::CopyOptions& options);

// Copies one file, replacing the destination; a failure is shown as
// "Error copying file " + source + CR + the reason. True when copied.
bool CopyOneFile(const std::string& source, const std::string& dest);

// The name of the archive the zip step builds before it takes the chosen name.
inline constexpr const char* kWorkArchiveName = "~temp.zip";

// True when another program holds the source so that it may change under the copy. A
// read-only or missing source is not "in use": it is read, or its copy fails with the
// system's own reason.
bool SourceInUse(const std::string& path);

}  // namespace copyrun
