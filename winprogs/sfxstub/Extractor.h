#pragma once
// Extracts the entries of a self-extracting archive below one folder: checks every name,
// creates folders without following links, honours the overwrite mode, and collects each
// problem as one plain line for the user.
#include <cstdint>
#include <string>
#include <vector>

#include "SfxArchive.h"

namespace sfx {

enum class Overwrite { Always, Never, Ask };
enum class Answer { Yes, No, YesToAll, NoToAll, Cancel };

// What the extraction asks of whoever shows it.
class ExtractUI {
public:
    virtual ~ExtractUI() = default;
    // `path` exists already: replace it?
    virtual Answer AskOverwrite(const std::string& path) = 0;
    virtual void Progress(size_t index, size_t count, const std::string& name) = 0;
    virtual bool Cancelled() = 0;
};

struct ExtractOptions {
    std::string folder;  // extraction folder, ending with the separator
    Overwrite overwrite = Overwrite::Ask;
    std::vector<bool> selected;  // per entry; empty = all
    std::string selfPath;        // the running program, never overwritten
};

struct ExtractReport {
    size_t extracted = 0;  // files written
    size_t skipped = 0;    // existing files kept
    std::vector<std::string> problems;
    bool cancelled = false;
};

// The overwrite mode the header's flags ask for.
Overwrite OverwriteFromFlags(uint8_t flags);

// Total size of the selected file entries, for the free-space check; at most UINT64_MAX.
uint64_t SelectedSize(const SfxArchive& archive, const std::vector<bool>& selected);

ExtractReport ExtractAll(const ByteSource& source, const SfxArchive& archive, const ExtractOptions& options,
                         ExtractUI& ui);

}  // namespace sfx
