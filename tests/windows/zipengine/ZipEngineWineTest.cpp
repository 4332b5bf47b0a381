// ZipEngine.dll as Windows runs it: loaded by its file name and called through its C entry
// point with Windows paths (drive letters, both separators, names in the ANSI code page).
// The archive it makes is judged afterwards on the host by unzip -t and Python's zipfile
// (check_archive.py), against the list of entries this test writes beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "zipengine/ZipEngine.h"

namespace fs = std::filesystem;

namespace {

constexpr time_t kBaseTime = 1622548800;  // 2021-06-01 12:00:00 UTC

fs::path ProgramFolder() {
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return fs::path(buffer).parent_path();
}

// Where the tests build their files and archives (build tree: tests/bin/zipengine-wine).
fs::path Work() { return ProgramFolder() / L"zipengine-wine"; }

// The ANSI code page's text of `w`; false when a character has none there.
bool Ansi(const std::wstring& w, std::string& out) {
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), int(w.size()), nullptr, 0, nullptr, &lossy);
    out.assign(size_t(std::max(n, 0)), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), int(w.size()), out.data(), n, nullptr, &lossy);
    return !lossy;
}

std::string Ansi(const fs::path& p) {
    std::string out;
    EXPECT_TRUE(Ansi(p.wstring(), out)) << "the work folder's path needs the ANSI code page";
    return out;
}

void SetTimeAndAttributes(const fs::path& p, time_t modified, DWORD attributes = 0) {
    HANDLE h = CreateFileW(p.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << p.string();
    const uint64_t v = uint64_t(int64_t(modified) * 10000000 + 116444736000000000LL);
    const FILETIME ft{DWORD(v & 0xFFFFFFFFu), DWORD(v >> 32)};
    SetFileTime(h, nullptr, &ft, &ft);
    CloseHandle(h);
    if (attributes) SetFileAttributesW(p.c_str(), attributes);
}

void Put(const fs::path& p, const std::string& bytes, time_t modified, DWORD attributes = 0) {
    fs::create_directories(p.parent_path());
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    SetTimeAndAttributes(p, modified, attributes);
}

// Text that deflate shrinks, `size` bytes of it.
std::string Text(size_t size, uint32_t seed) {
    static const char* words[] = {"Roads ", "Parcel ", "North ", "Zone 7 ", "Water\r\n", "Forest ", "12.5 "};
    std::string s;
    for (uint32_t x = seed; s.size() < size;) {
        x = x * 1103515245u + 12345u;
        s += words[(x >> 16) % 7];
    }
    s.resize(size);
    return s;
}

time_t ModifiedTime(const fs::path& p) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &data)) return 0;
    const uint64_t v = uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    return time_t((int64_t(v) - 116444736000000000LL) / 10000000);
}

// The engine's temporary files left in `folder`.
std::vector<std::string> TemporaryFiles(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind(".~zipengine-", 0) == 0) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// Clears read-only marks, which would keep the folder from going.
void RemoveTree(const fs::path& root) {
    std::error_code ec;
    if (!fs::exists(root, ec)) return;
    for (const auto& e : fs::recursive_directory_iterator(root, ec))
        SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(root, ec);
}

struct Call {
    std::string archive;
    std::string tempDir;
    std::vector<std::string> specs;
    bool folderEntries = false;
    bool update = false;
    bool move = false;
    bool zipTime = false;
    std::function<void(const EngineCallbackRecord&)> onEvent;
};

struct Outcome {
    int32_t count = 0;
    std::vector<std::string> messages;  // "code: text"
};

struct Running {
    const Call* call;
    Outcome* outcome;
};

int32_t ZIPENGINE_CALL Record(EngineCallbackRecord* r) {
    auto* running = static_cast<Running*>(r->caller);
    if (r->action == ecbMessage)
        running->outcome->messages.push_back(std::to_string(r->errorCode) + ": " +
                                             std::string(r->text, strnlen(r->text, sizeof r->text)));
    if (running->call->onEvent) running->call->onEvent(*r);
    return 0;
}

// The engine, loaded the way the program loads it: by its file name, both entry points looked up.
ZipEngineExecFunc Engine() {
    static ZipEngineExecFunc exec = [] {
        HMODULE m = LoadLibraryW((ProgramFolder().parent_path().parent_path() / L"bin" / L"ZipEngine.dll").c_str());
        if (!m) return ZipEngineExecFunc(nullptr);
        auto version = reinterpret_cast<GetZipEngineVersionFunc>(
            reinterpret_cast<void*>(GetProcAddress(m, ZIPENGINE_VERSION_NAME)));
        if (!version || version() < ZIPENGINE_FILESPEC_ARRAY_VERSION) return ZipEngineExecFunc(nullptr);
        return reinterpret_cast<ZipEngineExecFunc>(reinterpret_cast<void*>(GetProcAddress(m, ZIPENGINE_EXEC_NAME)));
    }();
    return exec;
}

Outcome RunEngine(const Call& call) {
    Outcome outcome;
    Running running{&call, &outcome};
    std::vector<std::string> texts = call.specs;
    std::vector<FileSpecEntry> specs(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        std::memset(&specs[i], 0, sizeof specs[i]);
        specs[i].spec = texts[i].data();
    }
    std::string archive = call.archive, tempDir = call.tempDir;
    EngineCallRecord record;
    std::memset(&record, 0, sizeof record);
    EngineCallHead& h = record.head;
    h.caller = &running;
    h.recordVersion = ZIPENGINE_RECORD_VERSION;
    h.callback = &Record;
    h.noDirEntries = call.folderEntries ? ZIPENGINE_FLAG_OFF : ZIPENGINE_FLAG_ON;
    h.alwaysOn56 = ZIPENGINE_FLAG_ON;
    h.alwaysOn80 = ZIPENGINE_FLAG_ON;
    h.compLevel = 9;
    h.recurse = ZIPENGINE_RECURSE_ON;
    h.move = call.move ? ZIPENGINE_FLAG_ON : ZIPENGINE_FLAG_OFF;
    h.update = call.update ? ZIPENGINE_FLAG_ON : ZIPENGINE_FLAG_OFF;
    h.zipTime = call.zipTime ? ZIPENGINE_FLAG_ON : ZIPENGINE_FLAG_OFF;
    h.specCount = int32_t(specs.size());
    h.archiveName = archive.data();
    record.tempDir = tempDir.empty() ? nullptr : tempDir.data();
    record.fileSpecs = specs.data();
    record.tag = ZIPENGINE_RECORD_TAG;
    outcome.count = Engine()(&record);
    return outcome;
}

// One entry the archive must hold: its name as stored, the file whose bytes it holds (relative
// to the test's folder; none for a folder), and its attributes: R read-only, D folder.
struct Expected {
    std::string name;
    std::wstring source;
    std::string flags;
};

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

// The list for check_archive.py: names in hex, sources as UTF-8 in hex (the host's spelling).
void WriteExpectations(const fs::path& folder, const std::vector<Expected>& entries) {
    std::ofstream out(folder / L"expected.tsv", std::ios::binary);
    for (const Expected& e : entries) {
        const std::wstring& w = e.source;
        std::string utf8(size_t(WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr)),
                         '\0');
        WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), utf8.data(), int(utf8.size()), nullptr, nullptr);
        out << Hex(e.name) << '\t' << Hex(utf8) << '\t' << e.flags << '\n';
    }
}

class ZipEngineWine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Engine(), nullptr) << "ZipEngine.dll cannot be loaded from bin/ of the build tree";
        wchar_t previous[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, previous);
        m_previous = previous;
    }
    void TearDown() override { SetCurrentDirectoryW(m_previous.c_str()); }

    // A fresh folder of the test's own below the work folder.
    static fs::path Fresh(const wchar_t* name) {
        RemoveTree(Work() / name);
        fs::create_directories(Work() / name);
        return Work() / name;
    }

    std::wstring m_previous;
};

// A new archive from relative paths with either separator, then an update through the
// temporary folder that adds a file named by its drive-letter path and moves it: what Windows
// alone decides (hidden marks, read-only marks, names outside the code page, file identities
// that keep a file named twice to one entry and let recursion walk every folder, stale
// temporary files, the rename over the archive) must come out right.
TEST_F(ZipEngineWine, WindowsPathsAndNamesReachTheArchive) {
    const fs::path work = Fresh(L"paths"), tree = work / L"tree";
    Put(tree / L"data" / L"roads.tab", Text(3000, 1), kBaseTime);
    Put(tree / L"data" / L"roads.dat", Text(9'000'000, 2), kBaseTime + 2);  // three pieces for the pipeline
    Put(tree / L"data" / L"locked.id", Text(500, 3), kBaseTime + 4, FILE_ATTRIBUTE_READONLY);
    Put(tree / L"data" / L"thumbs.db", "hidden", kBaseTime, FILE_ATTRIBUTE_HIDDEN);
    Put(tree / L"data" / L"sub" / L"parcel.map", Text(70'000, 4), kBaseTime + 6);
    const std::wstring local = L"Stra\u00DFe \u00E9t\u00E9.tab", foreign = L"\u5730\u56FE.tab";
    std::string localName, foreignName;
    const bool haveLocal = Ansi(local, localName), haveForeign = Ansi(foreign, foreignName);
    Put(tree / L"data" / local, Text(900, 5), kBaseTime + 8);
    Put(tree / L"data" / foreign, Text(900, 6), kBaseTime + 8);
    SetTimeAndAttributes(tree / L"data" / L"sub", kBaseTime);  // their entries' times count for the archive's
    SetTimeAndAttributes(tree / L"data", kBaseTime);

    std::vector<Expected> expected = {{"data/", L"", "D"},
                                      {"data/locked.id", L"tree/data/locked.id", "R"},
                                      {"data/roads.dat", L"tree/data/roads.dat", ""},
                                      {"data/roads.tab", L"tree/data/roads.tab", ""},
                                      {"data/sub/", L"", "D"},
                                      {"data/sub/parcel.map", L"tree/data/sub/parcel.map", ""}};
    if (haveLocal) expected.push_back({"data/" + localName, L"tree/data/" + local, ""});
    if (haveForeign) expected.push_back({"data/" + foreignName, L"tree/data/" + foreign, ""});

    ASSERT_TRUE(SetCurrentDirectoryW(tree.c_str()));
    Call first;
    first.archive = "..\\packed.zip";
    first.specs = {"data\\*", "data/sub/parcel.map"};  // the second names a file the first already takes
    first.folderEntries = true;
    Outcome made = RunEngine(first);
    EXPECT_EQ(made.count, int32_t(expected.size())) << ::testing::PrintToString(made.messages);
    const auto codePageWarnings = std::count_if(made.messages.begin(), made.messages.end(), [](const std::string& m) {
        return m.rfind("1: ", 0) == 0 && m.find("code page") != std::string::npos;
    });
    EXPECT_EQ(codePageWarnings, haveForeign ? 0 : 1) << ::testing::PrintToString(made.messages);

    // The update: a newer roads.tab replaces its entry and notes.txt, named by its absolute
    // path, is added; both are then deleted (copies are kept for the checker). In the temporary
    // folder a dead run's file goes, a held one stays.
    Put(tree / L"data" / L"roads.tab", Text(4000, 7), kBaseTime + 60);
    Put(work / L"kept" / L"roads.tab", Text(4000, 7), kBaseTime + 60);
    Put(tree / L"extra" / L"notes.txt", Text(2000, 8), kBaseTime + 120, FILE_ATTRIBUTE_READONLY);
    Put(work / L"kept" / L"notes.txt", Text(2000, 8), kBaseTime + 120);
    Put(work / L"tmp" / L".~zipengine-Stale1.tmp", "dead", kBaseTime);
    Put(work / L"tmp" / L".~zipengine-Held01.tmp", "live", kBaseTime);
    HANDLE held = CreateFileW((work / L"tmp" / L".~zipengine-Held01.tmp").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::string absolute = Ansi(tree / L"extra" / L"notes.txt");
    ASSERT_GT(absolute.size(), 3u);
    ASSERT_EQ(absolute.substr(1, 2), ":\\") << "a drive-letter path: " << absolute;
    std::string stored = absolute.substr(3);
    std::replace(stored.begin(), stored.end(), '\\', '/');
    expected.erase(
        std::find_if(expected.begin(), expected.end(), [](const Expected& e) { return e.name == "data/roads.tab"; }));
    expected.push_back({"data/roads.tab", L"kept/roads.tab", ""});
    expected.push_back({stored, L"kept/notes.txt", "R"});

    Call update;
    update.archive = Ansi(work / L"packed.zip");
    update.tempDir = Ansi(work / L"tmp");
    update.specs = {"data\\roads.tab", absolute};
    update.update = true;
    update.move = true;
    update.zipTime = true;
    Outcome updated = RunEngine(update);
    CloseHandle(held);
    EXPECT_EQ(updated.count, 2) << ::testing::PrintToString(updated.messages);
    EXPECT_FALSE(fs::exists(tree / L"extra" / L"notes.txt"));
    EXPECT_FALSE(fs::exists(tree / L"data" / L"roads.tab"));
    EXPECT_EQ(ModifiedTime(work / L"packed.zip"), kBaseTime + 120);
    EXPECT_EQ(TemporaryFiles(work / L"tmp"), std::vector<std::string>{".~zipengine-Held01.tmp"});
    EXPECT_TRUE(TemporaryFiles(work).empty());
    WriteExpectations(work, expected);
}

// The temporary archive is marked for deletion until it is complete: a run that dies while
// writing it leaves nothing behind.
TEST_F(ZipEngineWine, ARunKilledMidWriteLeavesNothingBehind) {
    const fs::path work = Fresh(L"killed");
    Put(work / L"big.dat", Text(9'000'000, 9), kBaseTime);
    ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));
    Call call;
    call.archive = "k.zip";
    call.specs = {"big.dat"};
    call.onEvent = [](const EngineCallbackRecord& r) {
        if (r.action == ecbProgress) TerminateProcess(GetCurrentProcess(), 7);
    };
    EXPECT_EXIT(RunEngine(call), ::testing::ExitedWithCode(7), "");
    EXPECT_TRUE(TemporaryFiles(work).empty());
    EXPECT_FALSE(fs::exists(work / L"k.zip"));
}

}  // namespace
