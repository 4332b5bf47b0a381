// The engine through its C entry point: archives judged by independent readers, and the
// effects of each flag of the call record.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "TestSupport.h"
#include "zipengine/ZipEngine.h"

extern "C" int32_t GetZipEngineVersion(void);

using namespace zipengine_test;
using testing_support::Exists;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;
namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = size_t(4) << 20;  // the engine's piece size; boundaries are tested

class ZipEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_dir / "proj");
        m_cd = std::make_unique<ScopedChdir>(m_dir / "proj");
    }
    void TearDown() override { m_cd.reset(); }

    std::string Proj(const std::string& rel) const { return m_dir / ("proj/" + rel); }
    std::string Archive() const { return m_dir / "out.zip"; }

    EngineCall Call(std::vector<std::string> specs) const {
        EngineCall c;
        c.archive = Archive();
        c.specs = std::move(specs);
        return c;
    }

    // Every checker accepts the archive; returns its entries.
    std::map<std::string, ListedEntry> Checked(const std::string& archive) {
        ArchiveCheck check = CheckArchive(archive);
        EXPECT_TRUE(check.pythonOk) << check.report;
        EXPECT_TRUE(check.unzipOk) << check.report;
        EXPECT_TRUE(check.sevenZipOk) << check.report;
        return check.ByName();
    }

    std::vector<std::string> Names(const std::string& archive) {
        std::vector<std::string> names;
        for (const auto& e : CheckArchive(archive, false).entries) names.push_back(e.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    // Files left in the archive's folder besides the archive (temporary files must not stay).
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(m_dir.path()))
            if (e.path().filename() != "proj" && e.path().string() != Archive()) out.push_back(e.path().filename());
        return out;
    }

    TempDir m_dir;
    std::unique_ptr<ScopedChdir> m_cd;
};

TEST(ZipEngineVersion, SelectsTheRecordWithTheFilePatternArray) {
    EXPECT_GE(GetZipEngineVersion(), ZIPENGINE_FILESPEC_ARRAY_VERSION);
}

TEST_F(ZipEngineTest, NewArchiveOfAwkwardFilesPassesEveryChecker) {
    struct Case {
        std::string name;
        std::string content;
        int method;  // expected compression method
    };
    const std::vector<Case> cases = {
        {"empty.dat", "", 0},
        {"tiny.txt", "x", 0},
        {"text.tab", TextBytes(100000, 1), 8},
        {"block64k.dat", TextBytes(65536, 2), 8},
        {"chunk.dat", TextBytes(kChunk, 3), 8},
        {"chunkplus1.dat", TextBytes(kChunk + 1, 4), 8},
        {"big.tif", TextBytes(3 * kChunk + 12345, 5), 8},
        {"noise.ecw", RandomBytes(kChunk + 4096, 6), 0},
        {"noise-small.bin", RandomBytes(70000, 7), 0},
        {"DATA/Roads/roads.map", TextBytes(5000, 8), 8},
    };
    std::vector<std::string> specs;
    for (const auto& c : cases) {
        WriteText(Proj(c.name), c.content);
        specs.push_back(c.name);
    }
    EngineResult r = RunEngine(Call(specs));
    EXPECT_EQ(r.count, int32_t(cases.size())) << ::testing::PrintToString(r.Messages());
    auto entries = Checked(Archive());
    ASSERT_EQ(entries.size(), cases.size());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ListedEntry& e = entries[c.name];
        EXPECT_EQ(e.size, c.content.size());
        EXPECT_EQ(e.sha256, Sha256(c.content));
        EXPECT_EQ(e.method, c.method);
        EXPECT_EQ(e.system, 11);  // NTFS: DOS attributes, names left as stored
        if (c.method == 8) {
            EXPECT_LT(e.compressedSize, c.content.size());
        }
    }
    // Reports: totals first, each file as it starts, the end last.
    auto actions = r.Actions();
    ASSERT_GE(actions.size(), 3u);
    EXPECT_EQ(actions[0], ecbTotalFiles);
    EXPECT_EQ(r.events[0].number, int32_t(cases.size()));
    EXPECT_EQ(actions[1], ecbTotalSize);
    EXPECT_EQ(actions.back(), ecbEndOfBatch);
    EXPECT_EQ(std::count(actions.begin(), actions.end(), ecbNewFile), long(cases.size()));
    int64_t progressed = 0;
    for (const auto& e : r.events)
        if (e.action == ecbProgress) progressed += e.number;
    EXPECT_EQ(progressed, r.events[1].number);
    EXPECT_TRUE(Leftovers().empty()) << ::testing::PrintToString(Leftovers());
}

TEST_F(ZipEngineTest, StoredLevelZeroAndNamesAttributesAndTimes) {
    WriteText(Proj("Straße/Café.tab"), "Café");
    WriteText(Proj("readonly.txt"), "locked");
    chmod(Proj("readonly.txt").c_str(), 0444);
    SetTime(Proj("readonly.txt"), 1700000000);  // 2023-11-14 22:13:20 UTC
    EngineCall c = Call({"Straße/Café.tab", "readonly.txt"});
    c.level = 0;
    EXPECT_EQ(RunEngine(c).count, 2);
    auto entries = Checked(Archive());
    ASSERT_EQ(entries.count("Straße/Café.tab"), 1u);
    EXPECT_EQ(entries["Straße/Café.tab"].flags & 0x800, 0x800);  // UTF-8 name
    EXPECT_EQ(entries["readonly.txt"].flags & 0x800, 0);
    EXPECT_EQ(entries["readonly.txt"].attributes & 0x01, 0x01u);  // read-only
    EXPECT_EQ(entries["Straße/Café.tab"].attributes & 0x01, 0u);
    for (const auto& [name, e] : entries) EXPECT_EQ(e.method, 0) << name;
    // unzip restores the modification time (from the extended timestamp) and the read-only flag.
    fs::create_directories(m_dir / "x");
    auto r = testing_support::RunCommand("cd '" + (m_dir / "x") + "' && unzip -qq '" + Archive() + "' 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
    struct stat st {};
    ASSERT_EQ(stat((m_dir / "x/readonly.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1700000000);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(ReadText(m_dir / "x/Straße/Café.tab"), "Café");
}

TEST_F(ZipEngineTest, UpdateFreshenAndPlainAddTreatEntriesAsAsked) {
    struct Case {
        const char* what;
        bool update, freshen;
        int32_t count;
        std::vector<std::string> replaced;  // entries with new content
        std::vector<std::string> kept;      // entries whose bytes are unchanged
        bool newAdded;
    };
    const std::vector<Case> cases = {
        {"update", true, false, 2, {"a.txt"}, {"b.txt", "other.txt"}, true},
        {"freshen", false, true, 1, {"a.txt"}, {"b.txt", "other.txt"}, false},
        {"update wins over freshen", true, true, 2, {"a.txt"}, {"b.txt", "other.txt"}, true},
        {"plain add", false, false, 3, {"a.txt", "b.txt"}, {"other.txt"}, true},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.what);
        for (auto n : {"a.txt", "b.txt", "other.txt", "c.txt"}) fs::remove(Proj(n));
        fs::remove(Archive());
        WriteText(Proj("a.txt"), "old a");
        WriteText(Proj("b.txt"), "b stays");
        WriteText(Proj("other.txt"), "not named again");
        for (auto n : {"a.txt", "b.txt", "other.txt"}) SetTime(Proj(n), 1600000000);
        ASSERT_EQ(RunEngine(Call({"a.txt", "b.txt", "other.txt"})).count, 3);
        const std::string before = ReadText(Archive());
        auto old = CheckArchive(Archive()).ByName();

        WriteText(Proj("a.txt"), "new a, newer");
        SetTime(Proj("a.txt"), 1600000100);
        WriteText(Proj("c.txt"), "brand new");
        EngineCall c = Call({"a.txt", "b.txt", "c.txt"});
        c.update = tc.update;
        c.freshen = tc.freshen;
        EngineResult r = RunEngine(c);
        EXPECT_EQ(r.count, tc.count) << ::testing::PrintToString(r.Messages());
        auto now = Checked(Archive());
        for (const auto& n : tc.replaced) EXPECT_EQ(now[n].sha256, Sha256(ReadText(Proj(n)))) << n;
        for (const auto& n : tc.kept) {
            // Kept byte for byte: the same local record (header, name, extra, data).
            const ListedEntry &o = old[n], &e = now[n];
            size_t length = 30 + n.size() + 9 + o.compressedSize;
            EXPECT_EQ(before.substr(o.headerOffset, length), ReadText(Archive()).substr(e.headerOffset, length)) << n;
        }
        EXPECT_EQ(now.count("c.txt"), tc.newAdded ? 1u : 0u);
    }
}

TEST_F(ZipEngineTest, VerboseReportsEachEntryAsInformation) {
    WriteText(Proj("text.txt"), TextBytes(20000, 16));
    WriteText(Proj("empty.txt"), "");
    EngineCall c = Call({"text.txt", "empty.txt"});
    c.verbose = true;
    EngineResult r = RunEngine(c);
    EXPECT_EQ(r.count, 2);
    auto messages = r.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("0:   adding: text.txt (deflated ", 0), 0u) << messages[0];
    EXPECT_EQ(messages[1], "0:   adding: empty.txt (stored 0%)");
}

TEST_F(ZipEngineTest, PastTheCountOfTheEndRecordAndZip64ArchivesOfOtherWriters) {
    // 65,535 entries of another writer and one more: the count needs the 64-bit end record,
    // which the next update reads back.
    auto made = testing_support::RunCommand("python3 -c \"import zipfile; z=zipfile.ZipFile('" + Archive() +
                                            "','w'); [z.writestr('e%05d' % i, '') for i in range(65535)]; z.close()\"");
    ASSERT_EQ(made.status, 0);
    WriteText(Proj("one-more.txt"), "x");
    ASSERT_EQ(RunEngine(Call({"one-more.txt"})).count, 1);
    EXPECT_EQ(Checked(Archive()).size(), 65536u);
    WriteText(Proj("two-more.txt"), "y");
    EngineResult r = RunEngine(Call({"two-more.txt"}));
    ASSERT_EQ(r.count, 1) << ::testing::PrintToString(r.Messages());
    EXPECT_EQ(CheckArchive(Archive(), false).entries.size(), 65537u);

    // Small entries whose headers carry 64-bit fields anyway, and a 64-bit end record.
    fs::remove(Archive());
    made = testing_support::RunCommand(
        "python3 -c \"import zipfile; z=zipfile.ZipFile('" + Archive() +
        "','w', zipfile.ZIP_DEFLATED); [z.open(n, 'w', force_zip64=True).write(b'data ' * 999) for n in ('p', 'q')]; "
        "z.close()\" && zip -q -fz '" +
        Archive() + "' -r '" + Proj("") + "' -i '*two-more.txt'");
    ASSERT_EQ(made.status, 0) << made.output;
    auto before = CheckArchive(Archive(), false).ByName();
    WriteText(Proj("q"), "replaced");
    r = RunEngine(Call({"q", "one-more.txt"}));
    ASSERT_EQ(r.count, 2) << ::testing::PrintToString(r.Messages());
    auto after = Checked(Archive());
    EXPECT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after["p"].sha256, before["p"].sha256);
    EXPECT_EQ(after["q"].sha256, Sha256("replaced"));
}

TEST_F(ZipEngineTest, EntriesOfAnotherWriterAndTheCommentAreKept) {
    // Python writes a data descriptor after an entry it streams to an unseekable file.
    WriteText(m_dir / "make.py",
              "import io, sys, zipfile\n"
              "class Pipe(io.RawIOBase):\n"
              "    def __init__(s): s.buf = bytearray()\n"
              "    def writable(s): return True\n"
              "    def write(s, d): s.buf += d; return len(d)\n"
              "p = Pipe()\n"
              "with zipfile.ZipFile(p, 'w', compression=zipfile.ZIP_DEFLATED) as z:\n"
              "    with z.open('streamed.txt', 'w') as w: w.write(b'streamed ' * 500)\n"
              "    z.writestr('plain.txt', 'plain')\n"
              "    z.comment = b'made elsewhere'\n"
              "open(sys.argv[1], 'wb').write(bytes(p.buf))\n");
    ASSERT_EQ(testing_support::RunCommand("python3 '" + (m_dir / "make.py") + "' '" + Archive() + "'").status, 0);
    const std::string before = ReadText(Archive());
    auto old = CheckArchive(Archive()).ByName();
    ASSERT_EQ(old["streamed.txt"].flags & 0x08, 0x08);
    WriteText(Proj("new.txt"), "new");
    ASSERT_EQ(RunEngine(Call({"new.txt"})).count, 1);
    const std::string now = ReadText(Archive());
    auto entries = Checked(Archive());
    EXPECT_EQ(entries.size(), 3u);
    for (const char* n : {"streamed.txt", "plain.txt"}) {
        EXPECT_EQ(entries[n].sha256, old[n].sha256) << n;
        // The local record, data and descriptor included, comes over unchanged.
        size_t length = 30 + std::string(n).size() + old[n].compressedSize + ((old[n].flags & 0x08) ? 16 : 0);
        EXPECT_EQ(before.substr(old[n].headerOffset, length), now.substr(entries[n].headerOffset, length)) << n;
    }
    EXPECT_EQ(now.substr(now.size() - 14), "made elsewhere");
}

TEST_F(ZipEngineTest, NothingToDoLeavesTheArchiveUntouched) {
    WriteText(Proj("a.txt"), "a");
    ASSERT_EQ(RunEngine(Call({"a.txt"})).count, 1);
    const std::string before = ReadText(Archive());
    EngineCall c = Call({"a.txt"});
    c.update = true;
    EngineResult r = RunEngine(c);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(ReadText(Archive()), before);
    EXPECT_EQ(r.Actions().back(), ecbEndOfBatch);
}

TEST_F(ZipEngineTest, MissingFilesAreWarnedAndSkipped) {
    WriteText(Proj("here.txt"), "here");
    EngineResult r = RunEngine(Call({"here.txt", "gone.txt", "nothing*.tab"}));
    EXPECT_EQ(r.count, 1);
    auto messages = r.Messages();
    ASSERT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
    EXPECT_NE(messages[0].find("1: "), std::string::npos);
    EXPECT_NE(messages[0].find("gone.txt"), std::string::npos);
    EXPECT_NE(messages[1].find("nothing*.tab"), std::string::npos);
    // The totals come first, then the warnings.
    auto actions = r.Actions();
    ASSERT_GE(actions.size(), 4u);
    EXPECT_EQ(actions[0], ecbTotalFiles);
    EXPECT_EQ(actions[1], ecbTotalSize);
    EXPECT_EQ(actions[2], ecbMessage);
    EXPECT_EQ(Names(Archive()), std::vector<std::string>{"here.txt"});

    // A folder taken as an entry of its own by an earlier file pattern does not hide
    // that a later wildcard matched nothing.
    WriteText(Proj("TABLES/t.tab"), "t");
    EngineCall c = Call({"TABLES", "nothing*.tab"});
    c.separateDirs = true;
    r = RunEngine(c);
    messages = r.Messages();
    ASSERT_EQ(messages.size(), 1u) << ::testing::PrintToString(messages);
    EXPECT_NE(messages[0].find("nothing*.tab"), std::string::npos);
}

TEST_F(ZipEngineTest, SelectionFlagsDecideWhatIsStoredUnderWhichName) {
    struct Case {
        const char* what;
        std::vector<std::string> specs;
        bool dirNames, recurse, hidden, separateDirs, forceDos;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"wildcard, this folder", {"*.tab"}, true, false, false, false, false, {"Roads.TAB", "rivers.tab"}},
        {"wildcard, recursed",
         {"*.tab"},
         true,
         true,
         false,
         false,
         false,
         {"Roads.TAB", "TABLES/DATA/parcels.tab", "TABLES/t.tab", "rivers.tab"}},
        {"question mark, case ignored", {"TABLES/?.TAB"}, true, false, false, false, false, {"TABLES/t.tab"}},
        {"folder names dropped",
         {"TABLES/DATA/parcels.tab", "TABLES/t.tab"},
         false,
         false,
         false,
         false,
         false,
         {"parcels.tab", "t.tab"}},
        {"folder entries of their own",
         {"TABLES/DATA/parcels.tab"},
         true,
         false,
         false,
         true,
         false,
         {"TABLES/", "TABLES/DATA/", "TABLES/DATA/parcels.tab"}},
        {"folder recursed", {"TABLES"}, true, true, false, false, false, {"TABLES/DATA/parcels.tab", "TABLES/t.tab"}},
        {"folder recursed, empty folders kept with entries of their own",
         {"TABLES"},
         true,
         true,
         false,
         true,
         false,
         {"TABLES/", "TABLES/DATA/", "TABLES/DATA/parcels.tab", "TABLES/Empty/", "TABLES/t.tab"}},
        {"hidden left out",
         {"*"},
         true,
         true,
         false,
         false,
         false,
         {"Long File Name.table", "Long File Name2.table", "Roads.TAB", "TABLES/DATA/parcels.tab", "TABLES/t.tab",
          "notes.txt", "rivers.tab"}},
        {"hidden taken",
         {"*"},
         true,
         true,
         true,
         false,
         false,
         {".cache/x.tab", ".hidden.txt", "Long File Name.table", "Long File Name2.table", "Roads.TAB",
          "TABLES/DATA/parcels.tab", "TABLES/t.tab", "notes.txt", "rivers.tab"}},
        {"hidden named on its own", {".hidden.txt", ".cache/x.tab"}, true, false, false, false, false, {}},
        {"forced 8.3 names",
         {"Long File Name.table", "Long File Name2.table", "TABLES/DATA/parcels.tab"},
         true,
         false,
         false,
         false,
         true,
         {"LONG_F~1.TAB", "LONG_FIL.TAB", "TABLES/DATA/PARCELS.TAB"}},
        {"current-folder prefix and backslashes",
         {".\\TABLES\\t.tab"},
         true,
         false,
         false,
         false,
         false,
         {"TABLES/t.tab"}},
    };
    WriteText(Proj("Roads.TAB"), "r");
    WriteText(Proj("rivers.tab"), "r");
    WriteText(Proj("notes.txt"), "n");
    WriteText(Proj("TABLES/t.tab"), "t");
    WriteText(Proj("TABLES/DATA/parcels.tab"), "p");
    WriteText(Proj(".hidden.txt"), "h");
    WriteText(Proj(".cache/x.tab"), "h");
    WriteText(Proj("Long File Name.table"), "l1");
    WriteText(Proj("Long File Name2.table"), "l2");
    fs::create_directories(Proj("TABLES/Empty"));
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.what);
        fs::remove(Archive());
        EngineCall c = Call(tc.specs);
        c.dirNames = tc.dirNames;
        c.recurse = tc.recurse;
        c.hidden = tc.hidden;
        c.separateDirs = tc.separateDirs;
        c.forceDos = tc.forceDos;
        EngineResult r = RunEngine(c);
        if (tc.names.empty()) {
            EXPECT_EQ(r.count, 0);
            EXPECT_FALSE(Exists(Archive()));
            continue;
        }
        EXPECT_EQ(r.count, int32_t(tc.names.size())) << ::testing::PrintToString(r.Messages());
        auto names = Names(Archive());
        std::vector<std::string> expected = tc.names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
    }
}

TEST_F(ZipEngineTest, TheArchiveNeverPacksItself) {
    WriteText(Proj("a.txt"), "a");
    EngineCall c = Call({"*"});
    c.archive = Proj("work.zip");
    ASSERT_EQ(RunEngine(c).count, 1);
    c.update = false;
    WriteText(Proj("b.txt"), "b");
    ASSERT_EQ(RunEngine(c).count, 2);
    EXPECT_EQ(Names(Proj("work.zip")), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(ZipEngineTest, CancelAtAnyPointLeavesTheOldArchiveByteIdentical) {
    WriteText(Proj("first.txt"), "first");
    ASSERT_EQ(RunEngine(Call({"first.txt"})).count, 1);
    const std::string before = ReadText(Archive());
    WriteText(Proj("big.dat"), TextBytes(2 * kChunk + 100, 9));
    WriteText(Proj("second.txt"), "second");
    for (int32_t stopAt : {ecbTotalFiles, ecbTotalSize, ecbNewFile, ecbProgress}) {
        SCOPED_TRACE(stopAt);
        EngineCall c = Call({"first.txt", "big.dat", "second.txt"});
        c.move = true;
        c.answer = [stopAt](const EngineEvent& e) { return e.action == stopAt ? -1 : 0; };
        EngineResult r = RunEngine(c);
        EXPECT_LE(r.count, 0);
        EXPECT_EQ(ReadText(Archive()), before);
        EXPECT_TRUE(Exists(Proj("big.dat")));  // a move deletes nothing when stopped
        EXPECT_TRUE(Leftovers().empty()) << ::testing::PrintToString(Leftovers());
        EXPECT_EQ(r.Actions().back(), ecbEndOfBatch);
    }
}

// Runs the engine in a child that dies by SIGKILL at its first progress report, when the
// temporary archive is open and partly written; nullopt when it died so.
std::optional<std::string> RunKilledMidWrite(EngineCall c, bool namedTemporary) {
    return testing_support::FinishedWithin(60, [&] {
        if (namedTemporary) ::setenv("ZIPENGINE_TEST_NAMED_TEMP", "1", 1);  // in the child only
        c.answer = [](const EngineEvent& e) {
            if (e.action == ecbProgress) ::raise(SIGKILL);
            return 0;
        };
        return "ended with " + std::to_string(RunEngine(c).count);
    });
}

TEST_F(ZipEngineTest, ARunKilledMidWriteLeavesNothingInTheFolder) {
    const int probe = ::open(m_dir.path().c_str(), O_TMPFILE | O_RDWR, 0600);
    if (probe < 0) GTEST_SKIP() << "this file system has no unnamed files";
    ::close(probe);
    WriteText(Proj("first.txt"), "first");
    ASSERT_EQ(RunEngine(Call({"first.txt"})).count, 1);
    const std::string before = ReadText(Archive());
    WriteText(Proj("big.dat"), RandomBytes(2 * kChunk + 100, 9));  // its first piece goes to disk at once
    EXPECT_EQ(RunKilledMidWrite(Call({"first.txt", "big.dat"}), false), std::nullopt);
    EXPECT_EQ(ReadText(Archive()), before);
    EXPECT_TRUE(Leftovers().empty()) << ::testing::PrintToString(Leftovers());
}

// Where the temporary archive has a name (forced here), a run removes the ones dead runs left,
// but never one someone still holds locked or one just made (its writer may not lock it yet).
TEST_F(ZipEngineTest, NamedTemporaryFilesOfDeadRunsAreRemovedAndLiveOnesKept) {
    WriteText(Proj("big.dat"), RandomBytes(2 * kChunk + 100, 9));  // its first piece goes to disk at once
    EXPECT_EQ(RunKilledMidWrite(Call({"big.dat"}), true), std::nullopt);
    ASSERT_EQ(Leftovers().size(), 1u);
    const std::string dead = m_dir / Leftovers()[0];
    EXPECT_GT(fs::file_size(dead), 0u);
    const time_t twoDaysAgo = time(nullptr) - 2 * 24 * 60 * 60;
    SetTime(dead, twoDaysAgo);
    const std::string fresh = m_dir / ".~zipengine-Fresh1.tmp", locked = m_dir / ".~zipengine-Locked.tmp",
                      notOurs = m_dir / "zipAb12Cd";
    for (const std::string& f : {fresh, locked, notOurs}) WriteText(f, "x");
    SetTime(locked, twoDaysAgo);
    SetTime(notOurs, twoDaysAgo);
    testing_support::LockHolder writer(locked);

    ASSERT_EQ(RunEngine(Call({"big.dat"})).count, 1);
    Checked(Archive());
    EXPECT_FALSE(Exists(dead));
    EXPECT_TRUE(Exists(fresh));
    EXPECT_TRUE(Exists(locked));
    EXPECT_TRUE(Exists(notOurs));
}

TEST_F(ZipEngineTest, DamagedArchiveIsReportedAndLeftAlone) {
    WriteText(Proj("a.txt"), TextBytes(5000, 10));
    WriteText(Proj("b.txt"), "b");
    ASSERT_EQ(RunEngine(Call({"a.txt"})).count, 1);
    const std::string good = ReadText(Archive());
    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"cut in its data", good.substr(0, 100)},
        {"end record only half there", good.substr(0, good.size() - 10)},
        {"not an archive", "just some text that is long enough to be looked at"},
        {"directory offset too large",
         [&] {
             std::string d = good;
             d[d.size() - 3] = char(0x7F);
             return d;
         }()},
    };
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        WriteText(Archive(), bytes);
        EngineResult r = RunEngine(Call({"b.txt"}));
        EXPECT_EQ(r.count, 0);
        EXPECT_EQ(ReadText(Archive()), bytes);
        auto messages = r.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].substr(0, 3), "3: ") << messages[0];
        EXPECT_TRUE(Leftovers().empty());
    }
}

TEST_F(ZipEngineTest, FailureToWriteLeavesTheOldArchiveAlone) {
    WriteText(Proj("a.txt"), "a");
    ASSERT_EQ(RunEngine(Call({"a.txt"})).count, 1);
    const std::string before = ReadText(Archive());
    WriteText(Proj("noise.bin"), RandomBytes(400000, 15));
    // A file-size limit makes the temporary archive's writes fail part way (also for root).
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EngineCall c = Call({"a.txt", "noise.bin"});
    c.move = true;
    EngineResult r = RunEngine(c);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(ReadText(Archive()), before);
    EXPECT_TRUE(Exists(Proj("noise.bin")));
    EXPECT_TRUE(Leftovers().empty()) << ::testing::PrintToString(Leftovers());
    ASSERT_FALSE(r.Messages().empty());
    EXPECT_EQ(r.Messages().back().substr(0, 3), "6: ") << r.Messages().back();
}

TEST_F(ZipEngineTest, AFileThatBecameAPipeIsRefusedNotWaitedOn) {
    WriteText(Proj("a.txt"), "a");
    ASSERT_EQ(RunEngine(Call({"a.txt"})).count, 1);
    const std::string before = ReadText(Archive());
    WriteText(Proj("b.txt"), TextBytes(5000, 12));
    // (in a child with a time limit: opening the pipe to read it would wait for ever)
    auto outcome = testing_support::FinishedWithin(20, [&] {
        EngineCall c = Call({"b.txt"});
        c.answer = [&](const EngineEvent& e) {
            if (e.action == ecbTotalFiles) {  // the files are chosen: b.txt gives way to a pipe
                ::unlink(Proj("b.txt").c_str());
                ::mkfifo(Proj("b.txt").c_str(), 0644);
            }
            return 0;
        };
        EngineResult r = RunEngine(c);
        return std::to_string(r.count) + " " + (r.Messages().empty() ? "" : r.Messages().back());
    });
    ASSERT_TRUE(outcome) << "the engine waited on the pipe";
    EXPECT_EQ(outcome->substr(0, 5), "0 7: ") << *outcome;
    EXPECT_NE(outcome->find("b.txt cannot be opened: Not a regular file."), std::string::npos) << *outcome;
    EXPECT_EQ(ReadText(Archive()), before);
    EXPECT_TRUE(Leftovers().empty()) << ::testing::PrintToString(Leftovers());
}

TEST_F(ZipEngineTest, TemporaryFolderIsUsedAndLeftClean) {
    WriteText(Proj("a.txt"), TextBytes(1000, 11));
    fs::create_directories(m_dir / "tmp");
    EngineCall c = Call({"a.txt"});
    c.tempDir = m_dir / "tmp";
    EXPECT_EQ(RunEngine(c).count, 1);
    Checked(Archive());
    EXPECT_TRUE(fs::is_empty(m_dir / "tmp"));
}

TEST_F(ZipEngineTest, PrefixIsKeptAndOffsetsStayAsTheyWere) {
    // A stub and its 256-byte header in front of the archive, as a self-extractor carries them.
    const std::string prefix = "MZ" + RandomBytes(998, 12) + std::string(256, '\0');
    WriteText(Proj("a.txt"), TextBytes(3000, 13));
    WriteText(Proj("b.txt"), TextBytes(4000, 14));
    ASSERT_EQ(RunEngine(Call({"a.txt"})).count, 1);
    const std::string plain = ReadText(Archive());

    struct Case {
        const char* what;
        std::string file;
        bool shifted;  // offsets count from the start of the file
    };
    // The empty archive a self-extractor is created with: stub, header, end record whose
    // directory offset is the prefix length.
    std::string emptyEnd = std::string("PK\x05\x06", 4) + std::string(12, '\0');
    uint32_t at = uint32_t(prefix.size());
    emptyEnd += std::string{char(at & 0xFF), char((at >> 8) & 0xFF), char((at >> 16) & 0xFF), char(at >> 24)};
    emptyEnd += std::string(2, '\0');
    const std::vector<Case> cases = {
        {"unshifted (prefix put in front)", prefix + plain, false},
        {"empty self-extractor", prefix + emptyEnd, true},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.what);
        WriteText(Archive(), tc.file);
        EngineResult r = RunEngine(Call({"b.txt"}));
        ASSERT_EQ(r.count, 1) << ::testing::PrintToString(r.Messages());
        const std::string now = ReadText(Archive());
        EXPECT_EQ(now.substr(0, prefix.size()), prefix);
        ArchiveCheck check = CheckArchive(Archive());
        EXPECT_TRUE(check.pythonOk) << check.report;
        EXPECT_EQ(check.ByName().count("b.txt"), 1u);
        // The end record's directory offset, against where the directory really is.
        uint32_t stored = 0, size = 0;
        const auto* end = reinterpret_cast<const unsigned char*>(now.data() + now.size() - 22);
        for (int i = 3; i >= 0; --i) stored = (stored << 8) | end[16 + i];
        for (int i = 3; i >= 0; --i) size = (size << 8) | end[12 + i];
        uint32_t actual = uint32_t(now.size() - 22 - size);
        EXPECT_EQ(actual - stored, tc.shifted ? 0u : prefix.size());
        if (tc.shifted) {
            // unzip and 7-Zip read only archives whose offsets count from the file start (7-Zip
            // refuses the unshifted layout whoever wrote it).
            EXPECT_TRUE(check.unzipOk) << check.report;
            EXPECT_TRUE(check.sevenZipOk) << check.report;
        }
        // A second round keeps the prefix again and finds the first round's entries.
        WriteText(Proj("c.txt"), "c");
        ASSERT_EQ(RunEngine(Call({"c.txt"})).count, 1);
        EXPECT_EQ(ReadText(Archive()).substr(0, prefix.size()), prefix);
        EXPECT_EQ(CheckArchive(Archive()).ByName().count("b.txt"), 1u);
        fs::remove(Proj("c.txt"));
    }
}

TEST_F(ZipEngineTest, MoveDeletesSourcesOnlyOnceTheArchiveIsInPlace) {
    WriteText(Proj("m1.txt"), "one");
    WriteText(Proj("sub/m2.txt"), "two");
    WriteText(Proj("keep.txt"), "not named");
    EngineCall c = Call({"m1.txt", "sub/m2.txt"});
    c.move = true;
    EXPECT_EQ(RunEngine(c).count, 2);
    EXPECT_EQ(Names(Archive()), (std::vector<std::string>{"m1.txt", "sub/m2.txt"}));
    EXPECT_FALSE(Exists(Proj("m1.txt")));
    EXPECT_FALSE(Exists(Proj("sub/m2.txt")));
    EXPECT_TRUE(Exists(Proj("keep.txt")));
}

TEST_F(ZipEngineTest, ArchiveTimeIsTheNewestEntrysTime) {
    WriteText(Proj("old.txt"), "o");
    WriteText(Proj("new.txt"), "n");
    SetTime(Proj("old.txt"), 1500000000);
    SetTime(Proj("new.txt"), 1600000000);
    EngineCall c = Call({"old.txt", "new.txt"});
    c.zipTime = true;
    ASSERT_EQ(RunEngine(c).count, 2);
    struct stat st {};
    ASSERT_EQ(stat(Archive().c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1600000000);
}

TEST_F(ZipEngineTest, EncryptionIsRefusedClearly) {
    WriteText(Proj("a.txt"), "a");
    EngineCall c = Call({"a.txt"});
    c.encrypt = true;
    EngineResult r = RunEngine(c);
    EXPECT_EQ(r.count, 0);
    EXPECT_FALSE(Exists(Archive()));
    ASSERT_EQ(r.Messages().size(), 1u);
    EXPECT_EQ(r.Messages()[0].substr(0, 3), "9: ");
}

TEST_F(ZipEngineTest, ByteCountsPast4GiBTravelInTheUnitsTheRecordAnnounces) {
    // Sparse files of 5 GiB together, never read: the run stops at the first file.
    const uint64_t g = uint64_t(1) << 30;
    for (const char* name : {"huge0.img", "huge1.img"}) {
        int fd = open(Proj(name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t(2 * g + g / 2)), 0);
        close(fd);
    }
    EngineCall call = Call({"huge0.img", "huge1.img"});
    call.answer = [](const EngineEvent& e) { return e.action == ecbNewFile ? -1 : 0; };
    EngineResult r = RunEngine(call);
    EXPECT_EQ(r.count, 0);
    EXPECT_FALSE(Exists(Archive()));
    bool announced = false, named = false;
    for (const EngineEvent& e : r.events) {
        if (e.action == ecbTotalSize) {
            announced = true;
            EXPECT_EQ(e.unitShift, 1u);
            EXPECT_EQ(uint64_t(uint32_t(e.number)) << e.unitShift, 5 * g);
        }
        if (e.action == ecbNewFile) {
            named = true;
            EXPECT_EQ(uint64_t(uint32_t(e.number)) << e.unitShift, 2 * g + g / 2);
        }
    }
    EXPECT_TRUE(announced && named);
}

}  // namespace
