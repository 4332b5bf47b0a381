#pragma once
// The self-extractor's run from start to end, shared by the Windows program and the
// native build: read the header and the archive, let the user choose (or take the silent
// switch), extract, report, and run the stored command.
#include <string>
#include <vector>

#include "Extractor.h"
#include "SfxArchive.h"

namespace sfx {

// Exit status of the program.
enum ExitCode : int {
    ExitOk = 0,
    ExitProblems = 1,    // some entries were not extracted, or the command did not start
    ExitBadArchive = 2,  // the file is not a whole self-extracting archive
    ExitCancelled = 3,
    ExitUsage = 4,
};

struct StubArgs {
    bool silent = false;  // -s FOLDER: extract into FOLDER, ask nothing, run nothing
    std::string folder;
    std::string archivePath;  // the file to read; empty: the program itself
    bool help = false;
    std::string error;  // a switch that was not understood
};

// Reads the switches: "-s FOLDER" or "/s FOLDER" (also "-s:FOLDER"), and, with
// `allowArchive`, "--archive FILE" for the native build.
StubArgs ParseStubArgs(const std::vector<std::string>& args, bool allowArchive);
extern const char kUsage[];

// The user's choices in the main window.
struct StubChoice {
    std::string folder;
    Overwrite overwrite = Overwrite::Ask;
    std::vector<bool> selected;  // per entry; the window may untick some with SfxAskFiles
};

class StubUI : public ExtractUI {
public:
    // The caption of every window from here on (the header's, or a general one).
    virtual void SetCaption(const std::string&) {}
    // Shows the main window filled with `choice`; false when the user cancels.
    virtual bool Choose(const SfxArchive& archive, StubChoice& choice) = 0;
    // Lets the user see and change the command (SfxAskCmdLine); false: run nothing.
    virtual bool AskCommand(const SfxArchive& archive, std::string& command) = 0;
    virtual void ShowError(const std::string& caption, const std::string& text) = 0;
    // The end of the run: what was done and every problem met.
    virtual void ShowReport(const std::string& caption, const std::string& text, bool problems) = 0;
};

// The folder offered first: the header's folder (environment names expanded, relative to
// the program's folder), else the folder the program sits in.
std::string DefaultFolder(const SfxHeader& header, const std::string& selfPath);

int RunStub(const StubArgs& args, StubUI& ui);

}  // namespace sfx
