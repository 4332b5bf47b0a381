// Extracts arbitrary self-extracting files into a scratch folder and checks that nothing
// was written beside it: whatever the names, entries land below the chosen folder or are
// refused. Aborts (a finding) when the scratch root holds anything but that folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Extractor.h"
#include "SfxArchive.h"

namespace fs = std::filesystem;

namespace {

class NoQuestions : public sfx::ExtractUI {
public:
    sfx::Answer AskOverwrite(const std::string&) override { return sfx::Answer::Yes; }
    void Progress(size_t, size_t, const std::string&) override {}
    bool Cancelled() override { return false; }
};

// The scratch folder lies in the current folder (the build tree under ctest) and is
// emptied at start: the fuzzer ends without running exit handlers, so nothing would clean
// a folder elsewhere.
const fs::path& Root() {
    static const fs::path root = [] {
        fs::path r = fs::current_path() / "sfx-extract-fuzz-scratch";
        fs::remove_all(r);
        fs::create_directories(r / "out");
        return r;
    }();
    return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sfx::MemorySource source(data, size);
    sfx::SfxArchive archive;
    if (!sfx::OpenSfxArchive(source, archive, false).ok) return 0;
    // Declared sizes can claim gigabytes: keep the work small.
    if (sfx::SelectedSize(archive, {}) > (uint64_t(8) << 20) || archive.entries.size() > 64) return 0;

    sfx::ExtractOptions options;
    options.folder = (Root() / "out").string() + "/";
    options.overwrite = sfx::Overwrite::Always;
    NoQuestions ui;
    sfx::ExtractAll(source, archive, options, ui);

    for (const auto& e : fs::directory_iterator(Root()))
        if (e.path().filename() != "out") std::abort();
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Root() / "out", ec)) fs::remove_all(e.path(), ec);
    return 0;
}
