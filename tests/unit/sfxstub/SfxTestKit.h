#pragma once
// Builds the files the self-extractor reads: small zip archives with any entry names,
// methods and attributes (so hostile and damaged archives can be made at will), and
// self-extracting files laid out as stub, 256-byte header, archive with shifted offsets.
#include <cstdint>
#include <string>
#include <vector>

#include "SfxArchive.h"

namespace sfxtest {

struct TestEntry {
    std::string name;
    std::string data;
    bool deflate = true;
    uint32_t unixMode = 0;     // with a value, "made by" Unix and the mode in the attributes
    uint16_t flags = 0;        // general-purpose bits
    uint16_t method = 0xFFFF;  // overrides the stored method number when set
};

// A complete zip archive of the entries, in order.
std::string BuildZip(const std::vector<TestEntry>& entries, const std::string& comment = "");

// Stub + header + archive, every stored offset moved by stub size + 256.
std::string MakeSfx(const std::string& stub, const sfx::SfxHeader& header, const std::string& zip);

// The zip archive Info-ZIP makes of everything in `folder` (names relative to it).
std::string InfoZipFolder(const std::string& folder);

sfx::SfxHeader Header(uint8_t flags, const std::string& command = "", const std::string& caption = "Test");

}  // namespace sfxtest
