// Times the copy run's zip step on its own: everything that follows the copying (the engine
// packing, the archive list, the check that the archive holds every file, and with the flags
// the removal of the copied files or the self-extracting conversion), on a finished package
// folder (what `tallomir-batch --to DIR` leaves), against Info-ZIP `zip -9 -r` of the same
// folder, round after round in the same session.
//
//   zip_step_bench [--remove-files] [--exe] PACKAGE_DIR [ROUNDS [WORK_DIR]]
//
// ROUNDS: default 3. Each round packs a fresh copy of the folder, made (not timed) in the
// folder zip-step-bench.PID of WORK_DIR (default /dev/shm), which goes at the end, so the
// removal of the copied files has something to remove. The step packs the files in the
// order of their names; the copy run lists them as it makes them, which costs the same.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/CopyFormState.h"
#include "bench/BenchCommandLine.h"
#include "copyrun/TargetGuard.h"
#include "copyrun/ZipStep.h"
#include "zip/ZipArchiver.h"

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A fresh copy of the package at `copy`; false when it could not be made.
bool FreshCopy(const fs::path& package, const fs::path& copy) {
    std::error_code ignored;
    fs::remove_all(copy, ignored);
    return Shell("cp -a " + Quoted(package.string()) + " " + Quoted(copy.string()));
}

// Every file below `folder`, absolute, in order of their paths.
std::vector<std::string> FilesBelow(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// One zip step on `copy`: its wall time, or a negative time when no archive was made.
double TimeZipStep(const fs::path& copy, bool removeFiles, bool exe) {
    analysis::CopyFormState state;
    state.options.zip = true;
    state.options.zipFile = "Out.zip";
    state.options.removeFiles = removeFiles;
    state.options.exe = exe;
    zip::TZipArchiver zip;
    copyrun::ConfigureZipComponent(zip, TALLOMIR_BIN_DIR "/");
    zip.Unattended = true;
    zip.LoadEngine();
    zip.FSpecArgs() = FilesBelow(copy);
    const copyrun::TargetGuard guard(copy.string());
    const auto start = std::chrono::steady_clock::now();
    copyrun::ZipStep(state, zip, guard);
    const double seconds = Seconds(start);
    zip.UnloadEngine();
    fs::current_path(copy.parent_path());  // the step left its target current
    return fs::exists(copy / (exe ? "Out.exe" : "Out.zip")) ? seconds : -1;
}

double TimePeerZip(const fs::path& copy) {
    const auto start = std::chrono::steady_clock::now();
    if (!Shell("cd " + Quoted(copy.string()) + " && zip -q -9 -r ../peer.zip .")) return -1;
    return Seconds(start);
}

std::string Figure(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s (best %.3f)", times[(times.size() - 1) / 2], times.front());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const bench::CommandLine line =
        bench::ParseCommandLine(argc, argv,
                                "Usage: zip_step_bench [--remove-files] [--exe] PACKAGE_DIR [ROUNDS [WORK_DIR]]\n"
                                "Times the copy run's zip step on a finished package folder against zip -9 -r.\n"
                                "  --remove-files  leave just the archive, as the copy run's option does\n"
                                "  --exe           make the self-extracting executable too\n",
                                {"--remove-files", "--exe"}, 3);
    if (line.exitStatus >= 0) return line.exitStatus;
    if (line.words.empty()) {
        std::fputs("zip_step_bench: name a package folder (try --help)\n", stderr);
        return 2;
    }
    const fs::path package = fs::absolute(line.words[0]);
    const int rounds = line.words.size() > 1 ? std::max(1, std::atoi(line.words[1].c_str())) : 3;
    const bool removeFiles = line.flags.count("--remove-files") > 0;
    const bool exe = line.flags.count("--exe") > 0;
    if (!fs::is_directory(package)) {
        std::fprintf(stderr, "zip_step_bench: %s is no folder\n", package.c_str());
        return 2;
    }
    const fs::path base = line.words.size() > 2 ? fs::absolute(line.words[2]) : fs::path("/dev/shm");
    const fs::path work = base / ("zip-step-bench." + std::to_string(::getpid()));
    const fs::path copy = work / "package";
    fs::create_directories(work);
    std::vector<double> step, peer;
    for (int r = 0; r < rounds; ++r) {
        if (!FreshCopy(package, copy)) return 3;
        step.push_back(TimeZipStep(copy, removeFiles, exe));
        if (!FreshCopy(package, copy)) return 3;
        fs::remove(work / "peer.zip");
        peer.push_back(TimePeerZip(copy));
        if (step.back() < 0 || peer.back() < 0) {
            std::fputs("zip_step_bench: a round made no archive\n", stderr);
            fs::remove_all(work);
            return 1;
        }
    }
    fs::remove_all(work);
    const std::size_t files = FilesBelow(package).size();
    std::printf("%zu files, %d rounds: zip step %s, zip -9 -r %s, ratio %.2f\n", files, rounds, Figure(step).c_str(),
                Figure(peer).c_str(),
                *std::min_element(step.begin(), step.end()) / *std::min_element(peer.begin(), peer.end()));
    return 0;
}
