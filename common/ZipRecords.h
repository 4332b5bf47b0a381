#pragma once
// The fixed parts of the zip records that the engine, the zip component and the
// self-extractor read and write: each record's signature, the size of its fixed part (the
// variable name, extra field and comment follow it) and the offsets of its fields. All
// values are little-endian; read and write them through ByteCursor and ByteWriter.
#include <cstddef>
#include <cstdint>

namespace common::ziprec {

// The longest archive comment the end record's 16-bit length can announce.
inline constexpr std::size_t kMaxCommentSize = 0xFFFF;

// The first four bytes of the first disk of a split or spanned set; the same value as the
// data descriptor's signature.
inline constexpr std::uint32_t kSpanMarker = 0x08074B50;

// The local file header in front of each entry's data.
namespace local {
inline constexpr std::uint32_t kSignature = 0x04034B50;
inline constexpr std::size_t kFixedSize = 30;
inline constexpr std::size_t kVersionNeededAt = 4;
inline constexpr std::size_t kFlagsAt = 6;
inline constexpr std::size_t kMethodAt = 8;
inline constexpr std::size_t kTimeAt = 10;
inline constexpr std::size_t kDateAt = 12;
inline constexpr std::size_t kCrcAt = 14;
inline constexpr std::size_t kCompressedSizeAt = 18;
inline constexpr std::size_t kUncompressedSizeAt = 22;
inline constexpr std::size_t kNameLengthAt = 26;
inline constexpr std::size_t kExtraLengthAt = 28;
}  // namespace local

// The central directory's header of one entry.
namespace central {
inline constexpr std::uint32_t kSignature = 0x02014B50;
inline constexpr std::size_t kFixedSize = 46;
inline constexpr std::size_t kMadeByAt = 4;
inline constexpr std::size_t kVersionNeededAt = 6;
inline constexpr std::size_t kFlagsAt = 8;
inline constexpr std::size_t kMethodAt = 10;
inline constexpr std::size_t kTimeAt = 12;
inline constexpr std::size_t kDateAt = 14;
inline constexpr std::size_t kCrcAt = 16;
inline constexpr std::size_t kCompressedSizeAt = 20;
inline constexpr std::size_t kUncompressedSizeAt = 24;
inline constexpr std::size_t kNameLengthAt = 28;
inline constexpr std::size_t kExtraLengthAt = 30;
inline constexpr std::size_t kCommentLengthAt = 32;
inline constexpr std::size_t kDiskStartAt = 34;
inline constexpr std::size_t kInternalAttributesAt = 36;
inline constexpr std::size_t kExternalAttributesAt = 38;
inline constexpr std::size_t kLocalOffsetAt = 42;
}  // namespace central

// The end of central directory record, followed by the archive comment.
namespace end {
inline constexpr std::uint32_t kSignature = 0x06054B50;
inline constexpr std::size_t kFixedSize = 22;
inline constexpr std::size_t kThisDiskAt = 4;
inline constexpr std::size_t kDirectoryDiskAt = 6;
inline constexpr std::size_t kEntriesHereAt = 8;
inline constexpr std::size_t kEntriesTotalAt = 10;
inline constexpr std::size_t kDirectorySizeAt = 12;
inline constexpr std::size_t kDirectoryOffsetAt = 16;
inline constexpr std::size_t kCommentLengthAt = 20;
}  // namespace end

// The data descriptor after an entry's data (flag bit 3): CRC-32 and the two sizes, with or
// without the signature in front.
namespace descriptor {
inline constexpr std::uint32_t kSignature = 0x08074B50;
inline constexpr std::size_t kSize = 16;
inline constexpr std::size_t kSizeWithoutSignature = 12;
}  // namespace descriptor

// The values a 16-bit or 32-bit field holds when the number itself lies in a 64-bit record:
// the 64-bit end record for the end record's fields, the 64-bit extra field for a header's.
inline constexpr std::uint16_t kMarker16 = 0xFFFF;
inline constexpr std::uint32_t kMarker32 = 0xFFFFFFFF;

// The 64-bit end record, in front of its locator: the directory's disks, counts, size and
// offset in full. The record-size field counts the bytes after itself (44 without the
// extensible data that may follow the fixed part).
namespace zip64end {
inline constexpr std::uint32_t kSignature = 0x06064B50;
inline constexpr std::size_t kFixedSize = 56;
inline constexpr std::size_t kRecordSizeAt = 4;
inline constexpr std::size_t kCountedFrom = 12;  // where the bytes the record size counts begin
inline constexpr std::size_t kMadeByAt = 12;
inline constexpr std::size_t kVersionNeededAt = 14;
inline constexpr std::size_t kThisDiskAt = 16;
inline constexpr std::size_t kDirectoryDiskAt = 20;
inline constexpr std::size_t kEntriesHereAt = 24;
inline constexpr std::size_t kEntriesTotalAt = 32;
inline constexpr std::size_t kDirectorySizeAt = 40;
inline constexpr std::size_t kDirectoryOffsetAt = 48;
}  // namespace zip64end

// The 64-bit end record's locator, which lies just in front of the end record.
namespace zip64locator {
inline constexpr std::uint32_t kSignature = 0x07064B50;
inline constexpr std::size_t kSize = 20;
inline constexpr std::size_t kEndRecordDiskAt = 4;
inline constexpr std::size_t kEndRecordOffsetAt = 8;
inline constexpr std::size_t kTotalDisksAt = 16;
}  // namespace zip64locator

// The 64-bit extra field of a local or central header: a 4-byte block head (tag, data
// length), then, in this order, the uncompressed size, the compressed size, the local-header
// offset (8 bytes each) and the disk number (4 bytes), each present only when the header's
// own field holds the marker.
namespace zip64extra {
inline constexpr std::uint16_t kTag = 0x0001;
}  // namespace zip64extra

}  // namespace common::ziprec
