#pragma once
// The 64-bit records of a zip archive, parsed from bytes already in memory: the locator in
// front of the end record, the 64-bit end record it points to, and the 64-bit extra field
// of a central header. The zip component and the self-extractor each fetch the bytes their
// own way; every length and position here is checked against the bytes given.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/ZipRecords.h"

namespace common::zip64 {

struct Locator {
    std::uint32_t endRecordDisk = 0;
    std::uint64_t endRecordOffset = 0;  // as stored: counted from the archive's first byte
    std::uint32_t totalDisks = 0;
};
// The locator at the start of `bytes`; nullopt when fewer than its 20 bytes are given or
// its signature is not there.
std::optional<Locator> ParseLocator(std::string_view bytes);

struct EndRecord {
    std::uint64_t recordSize = 0;  // the bytes after the record-size field
    std::uint32_t thisDisk = 0;
    std::uint32_t directoryDisk = 0;
    std::uint64_t entriesHere = 0;
    std::uint64_t entriesTotal = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;  // as stored
    // The whole record with its extensible data; recordSize is below 2^63 once parsed.
    std::uint64_t Length() const { return ziprec::zip64end::kCountedFrom + recordSize; }
};
// The 64-bit end record at the start of `bytes` (its fixed part at least); nullopt when the
// signature is wrong or the record claims to be shorter than its fixed part.
std::optional<EndRecord> ParseEndRecord(std::string_view bytes);

// The values of one central header that its 64-bit extra field can carry, as the header
// stores them; a field that holds the marker says the value lies in the extra field.
struct HeaderValues {
    std::uint64_t uncompressedSize = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t localOffset = 0;
    std::uint32_t disk = 0;

    bool AnyMarked() const;
};

// Where the extra field keeps each marked value, counted from the extra data's first byte;
// npos for a value the header holds itself.
struct ExtraLayout {
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t uncompressedSizeAt = npos;
    std::size_t compressedSizeAt = npos;
    std::size_t localOffsetAt = npos;
    std::size_t diskAt = npos;
};
// The layout for the marked values of `stored`; nullopt when a value is marked and the extra
// data holds no 64-bit block, or one too short for every marked value.
std::optional<ExtraLayout> LocateExtra(std::string_view extra, const HeaderValues& stored);

// Replaces every marked value of `values` by the extra field's; false when LocateExtra fails.
bool ApplyExtra(std::string_view extra, HeaderValues& values);

}  // namespace common::zip64
