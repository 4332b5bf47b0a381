#pragma once
// The integrity test of an archive: every entry read from its local header to its end,
// inflated where compressed, and its CRC-32 and size compared with the central directory.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "zip/ZipArchiver.h"

namespace zip {

struct EntryFault {
    std::string name;  // as the directory gives it ('\' separators)
    std::string why;
};

// Tests every entry of the archive `zip` read last (ZipFilename). An archive that cannot
// be opened gives one fault named after the archive.
// The bytes of each sound entry whose name `keep` accepts go to `kept`, by name; with
// `digests`, every sound entry's SHA-256 (as platform::Sha256 gives it) too, from the same read.
std::vector<EntryFault> TestEntries(const TZipArchiver& zip, const std::function<bool(const std::string&)>& keep = {},
                                    std::map<std::string, std::string>* kept = nullptr,
                                    std::map<std::string, std::string>* digests = nullptr);

}  // namespace zip
