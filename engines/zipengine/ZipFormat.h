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

constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosHidden = 0x02;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosArchive = 0x20;

// Extended timestamp extra field: tag, size 5, flags (bit 0: modification time), time_t.
constexpr uint16_t kExtTimeTag = 0x5455;
constexpr size_t kExtTimeFieldSize = 9;

constexpr uint64_t kMax32 = 0xFFFFFFFFull;
constexpr size_t kMaxEntries = 0xFFFF;

inline void Append16(std::string& s, uint16_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}
inline void Append32(std::string& s, uint32_t v) {
    Append16(s, uint16_t(v & 0xFFFF));
    Append16(s, uint16_t(v >> 16));
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
};

// True for a name that is not plain ASCII but valid UTF-8: its headers carry kFlagUtf8.
bool NeedsUtf8Flag(std::string_view name);
// The local header of an entry, with the extended timestamp as its only extra field.
std::string LocalHeader(const NewEntryFields& entry);
// The central header of the same entry, whose local header is at `localOffset` as stored.
std::string CentralHeader(const NewEntryFields& entry, uint32_t localOffset);
// The end record of a single-disk archive, followed by its comment.
std::string EndRecord(size_t entries, uint32_t directorySize, uint32_t directoryOffset, const std::string& comment);

}  // namespace zipengine
