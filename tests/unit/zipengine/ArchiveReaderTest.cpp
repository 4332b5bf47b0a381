// The reader of existing archives: valid layouts are understood, every damaged one is
// refused with a reason, and no input makes it read outside the file.
#include <gtest/gtest.h>

#include "ArchiveReader.h"
#include "TestSupport.h"

using namespace zipengine;
using testing_support::ReadText;
using testing_support::RunCommand;
using testing_support::TempDir;

namespace {

// A small archive made by an independent writer: a stored and a deflated entry, a comment.
std::string SampleArchive() {
    static std::string bytes = [] {
        TempDir dir;
        std::string path = dir / "s.zip";
        auto r = RunCommand("python3 -c \"import zipfile; z=zipfile.ZipFile('" + path +
                            "','w'); z.writestr('a.txt','hello'); "
                            "z.writestr('dir/b.txt','x'*100, compress_type=zipfile.ZIP_DEFLATED); "
                            "z.comment=b'note'; z.close()\"");
        EXPECT_EQ(r.status, 0);
        return ReadText(path);
    }();
    return bytes;
}

void Put32At(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}
void Put16At(std::string& s, size_t at, uint16_t v) {
    s[at] = char(v & 0xFF);
    s[at + 1] = char(v >> 8);
}

ReadResult Read(const std::string& bytes, ExistingArchive& archive) {
    MemorySource source(bytes.data(), bytes.size());
    return ReadExistingArchive(source, archive);
}

TEST(ZipEngineReader, ValidLayoutsAreUnderstood) {
    const std::string zip = SampleArchive();
    const std::string prefix(1000, 'S');
    const std::string empty = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    struct Case {
        const char* what;
        std::string bytes;
        size_t entries;
        uint64_t prefixLength, delta;
    };
    const std::vector<Case> cases = {
        {"plain with comment", zip, 2, 0, 0},
        {"prefix put in front, offsets unshifted", prefix + zip, 2, 1000, 1000},
        {"bytes after the comment", zip + std::string(100, '\0'), 2, 0, 0},
        {"empty archive", empty, 0, 0, 0},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.what);
        ExistingArchive a;
        ReadResult r = Read(tc.bytes, a);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(a.entries.size(), tc.entries);
        EXPECT_EQ(a.prefixLength, tc.prefixLength);
        EXPECT_EQ(a.offsetDelta, tc.delta);
        if (tc.entries == 2) {
            EXPECT_EQ(a.comment, "note");
            EXPECT_EQ(a.entries[0].name, "a.txt");
            EXPECT_EQ(a.entries[1].name, "dir/b.txt");
            EXPECT_EQ(a.entries[0].localPosition, tc.prefixLength);
            EXPECT_EQ(a.entries[0].localPosition + a.entries[0].entryLength, a.entries[1].localPosition);
        }
    }
}

TEST(ZipEngineReader, DamagedArchivesAreRefused) {
    const std::string zip = SampleArchive();
    const size_t end = zip.size() - 22 - 4;  // end record (comment "note" follows it)
    ExistingArchive probe;
    ASSERT_TRUE(Read(zip, probe).ok);
    auto centralAt = [&](size_t i) {  // position of central header i
        size_t pos = zip.rfind(std::string("PK\x01\x02", 4), end);
        if (i == 1) return pos;
        return zip.rfind(std::string("PK\x01\x02", 4), pos - 1);
    };
    auto mutate = [&](auto f) {
        std::string d = zip;
        f(d);
        return d;
    };
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty file", ""},
        {"shorter than an end record", zip.substr(zip.size() - 21)},
        {"text", "this is not an archive, only words and more words"},
        {"central header signature", mutate([&](std::string& d) { d[centralAt(0)] = 'X'; })},
        {"local header signature", mutate([&](std::string& d) { d[0] = 'X'; })},
        {"one entry more than there is", mutate([&](std::string& d) {
             Put16At(d, end + 8, 3);
             Put16At(d, end + 10, 3);
         })},
        {"name longer than the directory", mutate([&](std::string& d) { Put16At(d, centralAt(1) + 28, 0xFFFF); })},
        {"directory offset one off", mutate([&](std::string& d) { Put32At(d, end + 16, uint32_t(centralAt(0) - 1)); })},
        {"directory size past the start", mutate([&](std::string& d) { Put32At(d, end + 12, 0x7FFFFFFF); })},
        {"entries overlap", mutate([&](std::string& d) { Put32At(d, centralAt(1) + 42, 0); })},
        {"data runs into the directory", mutate([&](std::string& d) { Put32At(d, centralAt(1) + 20, 0x10000); })},
        {"64-bit sizes", mutate([&](std::string& d) { Put32At(d, centralAt(0) + 20, 0xFFFFFFFF); })},
        {"second disk", mutate([&](std::string& d) { Put16At(d, end + 4, 1); })},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        ExistingArchive a;
        ReadResult r = Read(bytes, a);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.empty());
    }
}

TEST(ZipEngineReader, NoCutOrDamagedByteMakesItReadOutsideTheFile) {
    const std::string zip = SampleArchive();
    for (size_t n = 0; n < zip.size(); ++n) {
        ExistingArchive a;
        // Cut anywhere, the end record or its comment is incomplete: never accepted.
        EXPECT_FALSE(Read(zip.substr(0, n), a).ok) << n;
    }
    for (size_t i = 0; i < zip.size(); ++i) {
        for (char v : {char(0x00), char(0xFF), char(0x80)}) {
            std::string d = zip;
            d[i] = v;
            ExistingArchive a;
            ReadResult r = Read(d, a);
            // Accepted or not, every entry it reports lies inside the file.
            if (r.ok) {
                for (const auto& e : a.entries) EXPECT_LE(e.localPosition + e.entryLength, d.size());
            }
        }
    }
}

}  // namespace
