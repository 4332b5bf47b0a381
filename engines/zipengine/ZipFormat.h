// Values and little helpers of the APPNOTE zip format as the engine writes and reads it
// (the record layouts are in common/ZipRecords.h, DOS date and time in common/DosTime.h):
// methods, flags, versions, attributes, little-endian encoding, and the writers of the
// records the engine makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "common/DosTime.h"
#include "common/ZipRecords.h"

namespace zipengine {

namespace ziprec = common::ziprec;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;

// Host system 11 (NTFS) with version 2.0: the low byte of the external attributes carries
// the DOS attributes (read-only, folder), which Windows' extractor and unzip both restore,
// and readers leave the names as stored (no OEM code-page conversion for this pair).
constexpr uint16_t kVersionMadeBy = (11 << 8) | 20;
constexpr uint16_t kVersionNeededStored = 10;
constexpr uint16_t kVersionNeededDeflated = 20;
// An entry whose headers carry the 64-bit extra field, and the 64-bit end record.
constexpr uint16_t kVersionNeededZip64 = 45;

constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosHidden = 0x02;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosArchive = 0x20;

// Extended timestamp extra field: tag, size 5, flags (bit 0: modification time), time_t.
constexpr uint16_t kExtTimeTag = 0x5455;
constexpr size_t kExtTimeFieldSize = 9;

constexpr uint64_t kMax32 = 0xFFFFFFFFull;

// A size or offset from this value on goes to the 64-bit extra field (the value itself is the
// marker that sends readers there); an entry count from 0xFFFF on to the 64-bit end record.
inline bool NeedsZip64(uint64_t value) { return value >= ziprec::kMarker32; }
inline bool NeedsZip64Count(uint64_t count) { return count >= ziprec::kMarker16; }

inline void Append16(std::string& s, uint16_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}
inline void Append32(std::string& s, uint32_t v) {
    Append16(s, uint16_t(v & 0xFFFF));
    Append16(s, uint16_t(v >> 16));
}
inline void Append64(std::string& s, uint64_t v) {
    Append32(s, uint32_t(v & 0xFFFFFFFF));
    Append32(s, uint32_t(v >> 32));
}

// What the headers of an entry stored anew say: its name as stored, its file's time, size and
// attributes, and how its data was written (method, CRC-32, stored size).
struct NewEntryFields {
    std::string_view name;
    time_t modified = 0;
    uint64_t size = 0;
    bool isFolder = false;
    bool readOnly = false;
    uint16_t method = kMethodStored;
    uint32_t crc = 0;
    uint64_t compressed = 0;
    uint64_t localOffset = 0;  // of the local header, as stored
    // The local header carries both sizes in the 64-bit extra field. Decided before the data
    // is written, from the file's size: the engine reads exactly that many bytes and never
    // keeps deflate data larger than the file, so neither size can pass it.
    bool zip64Local = false;
};

// True for a name that is not plain ASCII but valid UTF-8: its headers carry kFlagUtf8.
bool NeedsUtf8Flag(std::string_view name);
// The local header of an entry: the 64-bit extra field with both sizes when `zip64Local`
// says so, then the extended timestamp. Its length does not depend on the sizes and CRC, so
// the header written ahead of the data is overwritten in place once they are known.
std::string LocalHeader(const NewEntryFields& entry);
// The central header of the same entry. Sizes and offset that do not fit 32 bits go to the
// 64-bit extra field; the header of an entry that fits and whose local header has none is
// the one the engine always wrote.
std::string CentralHeader(const NewEntryFields& entry);
// The central header of an entry kept from an old archive, its local header now at `offset`
// as stored: the 32-bit offset patched, or the 64-bit extra field rebuilt with the offset in
// it (or without it, when it fits now). Empty when the extra field would grow too long.
std::string RelocatedCentralHeader(std::string_view header, uint64_t offset);
// The end of the archive, followed by its comment: the 64-bit end record and its locator
// first when the entry count, the directory's size or its offset do not fit the end record
// (`endOffset` is where that record goes, as stored).
std::string EndRecords(uint64_t entries, uint64_t directorySize, uint64_t directoryOffset, uint64_t endOffset,
                       const std::string& comment);

}  // namespace zipengine
