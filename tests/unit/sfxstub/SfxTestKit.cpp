#include "SfxTestKit.h"

#include <zlib.h>

#include <stdexcept>

#include "TestSupport.h"

namespace sfxtest {

namespace {

void Put16(std::string& s, uint32_t v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
uint32_t Get32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
           uint32_t(uint8_t(s[at + 3])) << 24;
}
uint16_t Get16(const std::string& s, size_t at) { return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8); }
void Set32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

std::string RawDeflate(const std::string& data) {
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, uLong(data.size())) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

}  // namespace

std::string BuildZip(const std::vector<TestEntry>& entries, const std::string& comment) {
    std::string body, central;
    for (const TestEntry& e : entries) {
        const std::string packed = e.deflate ? RawDeflate(e.data) : e.data;
        const uint16_t method = e.method != 0xFFFF ? e.method : (e.deflate ? 8 : 0);
        const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), uInt(e.data.size())));
        const uint32_t offset = uint32_t(body.size());
        const uint16_t time = (12 << 11) | (30 << 5), date = ((2024 - 1980) << 9) | (5 << 5) | 17;
        auto common = [&](std::string& s) {
            Put16(s, 20);  // version needed
            Put16(s, e.flags);
            Put16(s, method);
            Put16(s, time);
            Put16(s, date);
            Put32(s, crc);
            Put32(s, uint32_t(packed.size()));
            Put32(s, uint32_t(e.data.size()));
            Put16(s, uint16_t(e.name.size()));
            Put16(s, 0);
        };
        Put32(body, 0x04034B50);
        common(body);
        body += e.name + packed;

        Put32(central, 0x02014B50);
        Put16(central, e.unixMode ? (3 << 8) | 30 : 20);
        common(central);
        Put16(central, 0);  // comment
        Put16(central, 0);  // disk
        Put16(central, 0);  // internal attributes
        Put32(central, e.unixMode << 16);
        Put32(central, offset);
        central += e.name;
    }
    std::string end;
    Put32(end, 0x06054B50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, uint16_t(entries.size()));
    Put16(end, uint16_t(entries.size()));
    Put32(end, uint32_t(central.size()));
    Put32(end, uint32_t(body.size()));
    Put16(end, uint16_t(comment.size()));
    return body + central + end + comment;
}

std::string MakeSfx(const std::string& stub, const sfx::SfxHeader& header, const std::string& zip) {
    const size_t endPos = zip.rfind(std::string("PK\x05\x06", 4));
    if (endPos == std::string::npos) throw std::runtime_error("no end record");
    const uint32_t shift = uint32_t(stub.size() + sfx::kSfxHeaderSize);
    const uint16_t count = Get16(zip, endPos + 10);
    const uint32_t cdOffset = Get32(zip, endPos + 16);
    std::string out = stub;
    std::vector<uint8_t> h = sfx::BuildSfxHeader(header);
    out.append(h.begin(), h.end());
    out += zip.substr(0, cdOffset);
    size_t p = cdOffset;
    for (unsigned i = 0; i < count; ++i) {
        std::string rec = zip.substr(p, 46);
        const size_t rest = size_t(Get16(rec, 28)) + Get16(rec, 30) + Get16(rec, 32);
        Set32(rec, 42, Get32(rec, 42) + shift);
        out += rec + zip.substr(p + 46, rest);
        p += 46 + rest;
    }
    std::string end = zip.substr(endPos, 22);
    Set32(end, 16, cdOffset + shift);
    return out + end + zip.substr(endPos + 22, Get16(zip, endPos + 20));
}

std::string InfoZipFolder(const std::string& folder) {
    testing_support::TempDir tmp;
    const std::string out = tmp / "folder.zip";
    auto r = testing_support::RunCommand("cd '" + folder + "' && zip -qrX '" + out + "' .");
    if (r.status != 0) throw std::runtime_error("zip failed");
    return testing_support::ReadText(out);
}

sfx::SfxHeader Header(uint8_t flags, const std::string& command, const std::string& caption) {
    sfx::SfxHeader h;
    h.flags = flags;
    h.caption = caption;
    h.commandLine = command;
    return h;
}

}  // namespace sfxtest
