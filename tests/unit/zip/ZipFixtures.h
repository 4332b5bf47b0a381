#pragma once
// Small archives built byte by byte for the directory and conversion tests: stored entries,
// optional comments, a prefix with or without shifted offsets, 64-bit records on request.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zipfixtures {

inline void Put16(std::string& s, std::uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, std::uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
inline void Put64(std::string& s, std::uint64_t v) {
    Put32(s, static_cast<std::uint32_t>(v));
    Put32(s, static_cast<std::uint32_t>(v >> 32));
}
inline std::uint32_t Get32(const std::string& s, std::size_t at) {
    auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + i])); };
    return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}
inline std::uint64_t Get64(const std::string& s, std::size_t at) {
    return Get32(s, at) | (static_cast<std::uint64_t>(Get32(s, at + 4)) << 32);
}

// Which values of a central header go to its 64-bit extra field, the header holding the
// marker in their place.
enum Zip64Mark : unsigned { kMarkSize = 1, kMarkCompressed = 2, kMarkOffset = 4 };

struct Entry {
    std::string name;
    std::string data;
    std::string comment;
    std::uint16_t madeBy = 0x031E;  // Unix host, version 3.0
    std::string extra;
    unsigned zip64Marks = 0;        // Zip64Mark bits
    std::uint64_t claimedSize = 0;  // not 0: the uncompressed size the directory claims
};

struct Archive {
    std::vector<Entry> entries;
    std::string comment;
    std::string prefix;        // bytes in front of the archive
    bool shiftOffsets = true;  // stored offsets count the prefix
    // The 64-bit end record and its locator, the end record holding markers for its counts,
    // size and offset.
    bool zip64End = false;
    // Overrides for damaged archives (applied to the written records).
    int totalEntriesDelta = 0;
    std::int64_t centralSizeDelta = 0;
    std::uint32_t centralSignature = 0x02014B50;
    int commentLengthDelta = 0;
};

struct Built {
    std::string bytes;
    std::size_t centralOffset = 0;          // file offset of the central directory
    std::size_t endOffset = 0;              // file offset of the end record
    std::size_t zip64EndOffset = 0;         // file offset of the 64-bit end record, if any
    std::vector<std::size_t> extraOffsets;  // file offset of each entry's 64-bit extra data, if any
};

inline Built Build(const Archive& a) {
    Built out;
    std::string& s = out.bytes;
    s = a.prefix;
    const std::uint32_t base = a.shiftOffsets ? static_cast<std::uint32_t>(a.prefix.size()) : 0;
    std::vector<std::uint32_t> offsets;
    for (const Entry& e : a.entries) {
        offsets.push_back(static_cast<std::uint32_t>(s.size() - a.prefix.size()) + base);
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        Put32(s, 0x04034B50);
        Put16(s, 10);
        Put16(s, 0);
        Put16(s, 0);
        Put16(s, 0);
        Put16(s, 0x21);  // time, date
        Put32(s, crc);
        Put32(s, static_cast<std::uint32_t>(e.data.size()));
        Put32(s, static_cast<std::uint32_t>(e.data.size()));
        Put16(s, static_cast<std::uint32_t>(e.name.size()));
        Put16(s, 0);
        s += e.name;
        s += e.data;
    }
    out.centralOffset = s.size();
    for (std::size_t i = 0; i < a.entries.size(); ++i) {
        const Entry& e = a.entries[i];
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const std::uint64_t size = e.claimedSize ? e.claimedSize : e.data.size();
        std::string zip64;
        if (e.zip64Marks & kMarkSize) Put64(zip64, size);
        if (e.zip64Marks & kMarkCompressed) Put64(zip64, e.data.size());
        if (e.zip64Marks & kMarkOffset) Put64(zip64, offsets[i]);
        std::string extra;
        if (!zip64.empty()) {
            Put16(extra, 0x0001);
            Put16(extra, static_cast<std::uint32_t>(zip64.size()));
            extra += zip64;
        }
        extra += e.extra;
        auto field = [&](unsigned mark, std::uint64_t value) {
            return (e.zip64Marks & mark) ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
        };
        Put32(s, a.centralSignature);
        Put16(s, e.madeBy);
        Put16(s, e.zip64Marks ? 45 : 10);
        Put16(s, 0);
        Put16(s, 0);
        Put16(s, 0);
        Put16(s, 0x21);
        Put32(s, crc);
        Put32(s, field(kMarkCompressed, e.data.size()));
        Put32(s, field(kMarkSize, size));
        Put16(s, static_cast<std::uint32_t>(e.name.size()));
        Put16(s, static_cast<std::uint32_t>(extra.size()));
        Put16(s, static_cast<std::uint32_t>(e.comment.size()));
        Put16(s, 0);
        Put16(s, 0);
        Put32(s, 0x81A40000u);
        Put32(s, field(kMarkOffset, offsets[i]));
        out.extraOffsets.push_back(zip64.empty() ? 0 : s.size() + e.name.size() + 4);
        s += e.name + extra + e.comment;
    }
    const std::size_t centralSize = s.size() - out.centralOffset;
    const std::uint64_t entryCount = a.entries.size() + a.totalEntriesDelta;
    const std::uint64_t storedSize =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(centralSize) + a.centralSizeDelta);
    const std::uint64_t storedOffset = out.centralOffset - a.prefix.size() + base;
    if (a.zip64End) {
        out.zip64EndOffset = s.size();
        Put32(s, 0x06064B50);
        Put64(s, 44);
        Put16(s, 0x031E);
        Put16(s, 45);
        Put32(s, 0);
        Put32(s, 0);
        Put64(s, entryCount);
        Put64(s, entryCount);
        Put64(s, storedSize);
        Put64(s, storedOffset);
        Put32(s, 0x07064B50);
        Put32(s, 0);
        Put64(s, out.zip64EndOffset - a.prefix.size() + base);
        Put32(s, 1);
    }
    out.endOffset = s.size();
    Put32(s, 0x06054B50);
    Put16(s, 0);
    Put16(s, 0);
    Put16(s, a.zip64End ? 0xFFFF : static_cast<std::uint32_t>(entryCount));
    Put16(s, a.zip64End ? 0xFFFF : static_cast<std::uint32_t>(entryCount));
    Put32(s, a.zip64End ? 0xFFFFFFFFu : static_cast<std::uint32_t>(storedSize));
    Put32(s, a.zip64End ? 0xFFFFFFFFu : static_cast<std::uint32_t>(storedOffset));
    Put16(s, static_cast<std::uint32_t>(static_cast<int>(a.comment.size()) + a.commentLengthDelta));
    s += a.comment;
    return out;
}

inline Archive TwoFiles() {
    Archive a;
    a.entries = {{"dir/alpha.txt", "alpha contents\r\n", "", 0x031E, ""},
                 {"beta.dat", std::string(300, 'b'), "", 0x031E, ""}};
    return a;
}

}  // namespace zipfixtures
