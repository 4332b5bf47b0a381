// One engine operation: add the selected files to an archive, keeping, replacing or
// freshening its entries, and put the new archive in place only when all went well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipengine {

// Codes of the engine's messages (the callback's error code). A message with code 0 is
// information only.
enum EngineCode : int32_t {
    kCodeNone = 0,
    kCodeSkipped = 1,      // a named file was not found or cannot be stored; the rest goes on
    kCodeNothingToDo = 2,  // no file to add or replace; the archive is unchanged
    kCodeBadArchive = 3,   // the existing archive is damaged or of a kind not updated here
    kCodeNoMemory = 4,
    kCodeTooLarge = 5,     // beyond the 32-bit fields (4 GiB, 65,535 entries); refused up front
    kCodeWriteFailed = 6,  // the temporary archive could not be written or put in place
    kCodeReadFailed = 7,   // a file could not be read while it was packed
    kCodeCancelled = 8,
    kCodeUnsupported = 9,  // encryption was asked for
    kCodeBadRequest = 10,  // the call record names no archive
    kCodeMoveFailed = 11,  // a source file could not be deleted after a move
};

struct JobOptions {
    std::string archive;
    std::string tempDir;
    std::vector<std::string> specs;
    int level = 9;
    bool recurse = false;
    bool hidden = false;
    bool dropDirNames = false;
    bool folderEntries = false;
    bool forceDos = false;
    bool move = false;
    bool update = false;
    bool freshen = false;
    bool zipTime = false;
    bool encrypt = false;
    bool verbose = false;
    unsigned threads = 0;  // 0: one per core
};

// Receives what the engine reports (an EngineCallbackAction and its fields); returns false when the
// caller asks to stop.
class Reporter {
public:
    virtual ~Reporter() = default;
    virtual bool Report(int32_t action, int32_t code, int64_t number, const std::string& text) = 0;
};

// Runs the operation; returns the number of files and folders stored anew, 0 when nothing
// was done (then the archive is exactly as it was).
int32_t RunJob(const JobOptions& options, Reporter& reporter);

}  // namespace zipengine
