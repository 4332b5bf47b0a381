#pragma once
// Small archives built byte by byte for the directory and conversion tests: stored entries,
// optional comments, a prefix with or without shifted offsets.
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
inline std::uint32_t Get32(const std::string& s, std::size_t at) {
    auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + i])); };
    return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}

struct Entry {
    std::string name;
    std::string data;
    std::string comment;
    std::uint16_t madeBy = 0x031E;  // Unix host, version 3.0
    std::string extra;
};

struct Archive {
    std::vector<Entry> entries;
    std::string comment;
    std::string prefix;        // bytes in front of the archive
    bool shiftOffsets = true;  // stored offsets count the prefix
    // Overrides for damaged archives (applied to the written records).
    int totalEntriesDelta = 0;
    std::int64_t centralSizeDelta = 0;
    std::uint32_t centralSignature = 0x02014B50;
    int commentLengthDelta = 0;
};

struct Built {
    std::string bytes;
    std::size_t centralOffset = 0;  // file offset of the central directory
    std::size_t endOffset = 0;      // file offset of the end record
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
        Put32(s, a.centralSignature);
        Put16(s, e.madeBy);
        Put16(s, 10);
        Put16(s, 0);
        Put16(s, 0);
        Put16(s, 0);
        Put16(s, 0x21);
        Put32(s, crc);
        Put32(s, static_cast<std::uint32_t>(e.data.size()));
        Put32(s, static_cast<std::uint32_t>(e.data.size()));
        Put16(s, static_cast<std::uint32_t>(e.name.size()));
        Put16(s, static_cast<std::uint32_t>(e.extra.size()));
        Put16(s, static_cast<std::uint32_t>(e.comment.size()));
        Put16(s, 0);
        Put16(s, 0);
        Put32(s, 0x81A40000u);
        Put32(s, offsets[i]);
        s += e.name + e.extra + e.comment;
    }
    const std::size_t centralSize = s.size() - out.centralOffset;
    out.endOffset = s.size();
    Put32(s, 0x06054B50);
    Put16(s, 0);
    Put16(s, 0);
    Put16(s, static_cast<std::uint32_t>(a.entries.size() + a.totalEntriesDelta));
    Put16(s, static_cast<std::uint32_t>(a.entries.size() + a.totalEntriesDelta));
    Put32(s, static_cast<std::uint32_t>(static_cast<std::int64_t>(centralSize) + a.centralSizeDelta));
    Put32(s, static_cast<std::uint32_t>(out.centralOffset - a.prefix.size()) + base);
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
