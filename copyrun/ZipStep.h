#pragma once
// The copy run's zip step: packs every file the run produced into the chosen archive, with
// an optional read-me, optional removal of the copied files and an optional
// self-extracting executable.
#include <string>

#include "analysis/CopyFormState.h"
#include "copyrun/TargetGuard.h"

namespace zip {
class TZipArchiver;
}

namespace copyrun {

// The address in the read-me's "Visit " line.
inline constexpr const char* kWebAddress = "https://tallomir.example.org";
inline constexpr const char* kSfxCaption = "Tallomir Self-Extracting Archive";
inline constexpr const char* kReadmeCommand = "notepad.exe|><readme.txt";

// Gives the component the settings the packaging relies on: level 9, folder names kept,
// older entries replaced, the archive dated by its newest entry, hidden files included;
// the stub "SFXStub.bin" in `programDir` (with its trailing separator), overwrite always,
// the caption "Tallomir Self-Extracting Archive".
void ConfigureZipComponent(zip::TZipArchiver& zip, const std::string& programDir);

// The full path of the final archive Z: the zip name as it stands when absolute, else
// inside the target folder `target`.
std::string ArchivePath(const analysis::CopyOptions& options, const std::string& target);

// The zip step, in the run's target folder `guard.Target()`. On entry the component's
// FSpecArgs holds every produced file (absolute). When the engine made no archive, or one
// that lacks a listed file that exists, nothing the user had is touched: the old archive
// stays, no copied file is deleted, and a note says why. Copied files are given up only once
// the archive under its final name holds each of them, and never a file the run read from.
// Throws (the copy run stops) when the read-me cannot be saved or T cannot be made the
// current folder.
void ZipStep(const analysis::CopyFormState& state, zip::TZipArchiver& zip, const TargetGuard& guard);

// The read-me's lines: the message, then the list of files relative to T with '\'.
std::vector<std::string> ReadmeLines(const std::string& message, const std::vector<std::string>& files,
                                     const std::string& target);

}  // namespace copyrun
