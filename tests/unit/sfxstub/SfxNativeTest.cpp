// The native self-extractor program, run as a user or a script would: Info-ZIP archives
// turned into self-extracting files, overwrite modes, hostile archives, links, the
// command line, exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "SfxArchive.h"
#include "SfxTestKit.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace testing_support;
using sfxtest::BuildZip;
using sfxtest::Header;
using sfxtest::MakeSfx;

namespace {

std::string NativeStub() { return ReadText(BinDir() + "/sfxstub-native"); }

// Writes the self-extracting file as an executable and runs it with `args`, feeding
// `input` to its standard input. The output holds stdout and stderr; a program that has not
// ended after a minute is stopped (status 124).
CommandResult RunSfx(const TempDir& tmp, const std::string& sfxBytes, const std::string& args,
                     const std::string& input = "", const std::string& name = "archive.run") {
    const std::string exe = tmp / name;
    WriteText(exe, sfxBytes);
    ::chmod(exe.c_str(), 0755);
    WriteText(tmp / "answers.txt", input);
    return RunCommand("cd '" + tmp.path() + "' && timeout 60 '" + exe + "' " + args + " < answers.txt 2>&1");
}

constexpr uint8_t kAlways = sfx::SfxOverwriteAlways, kNever = sfx::SfxOverwriteNever, kAsk = 0;

}  // namespace

TEST(SfxNative, ExtractsAnInfoZipArchiveSilentlyWithIdenticalBytes) {
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    TempDir tmp;
    WriteText(tmp / "src/Roads.WOR", "!Workspace\r\n!Version 600\r\n");
    WriteText(tmp / "src/TABLES/DATA/Roads/roads.DAT", std::string(300000, '\x03'));
    std::string noise;
    for (int i = 0; i < 100000; ++i) noise += char((i * 7919) >> 3);
    WriteText(tmp / "src/TABLES/DATA/Roads/roads.MAP", noise);
    WriteText(tmp / "src/TABLES/Roads.tab", "!table\r\n");
    fs::create_directories(tmp / "src/empty folder");
    const std::string file =
        MakeSfx(NativeStub(), Header(kAlways, "notepad.exe|><readme.txt"), sfxtest::InfoZipFolder(tmp / "src"));

    CommandResult r = RunSfx(tmp, file, "-s 'out dir'");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(TreeSnapshot(tmp / "src"), TreeSnapshot(tmp / "out dir"));
    EXPECT_TRUE(fs::is_directory(tmp / "out dir/empty folder"));
    EXPECT_EQ(r.output.find("run:"), std::string::npos) << "silent mode runs no command";
    // An independent reader agrees the result is a valid archive.
    if (HaveTool("unzip")) {
        EXPECT_EQ(RunCommand("unzip -tqq '" + (tmp / "archive.run") + "' 2>&1").status, 0);
    }
}

TEST(SfxNative, HonoursTheOverwriteModes) {
    struct Case {
        const char* what;
        uint8_t flags;
        bool silent;
        std::string answers;
        const char* keptOrNew;  // content of a.txt, then b.txt afterwards
        const char* expectB;
        int status;
    } cases[] = {
        {"always", kAlways, true, "", "new-a", "new-b", 0},
        {"never", kNever, true, "", "old-a", "old-b", 0},
        {"ask, silent keeps", kAsk, true, "", "old-a", "old-b", 0},
        {"ask yes then no", kAsk, false, "\n\ny\nn\n", "new-a", "old-b", 0},
        {"ask yes to all", kAsk, false, "\n\na\n", "new-a", "new-b", 0},
        {"ask no to all", kAsk, false, "\n\ns\n", "old-a", "old-b", 0},
        {"ask cancel", kAsk, false, "\n\nc\n", "old-a", "old-b", 3},
        {"window switches never to always", kNever, false, "\nalways\n", "new-a", "new-b", 0},
    };
    const std::string zip = BuildZip({{"a.txt", "new-a"}, {"b.txt", "new-b"}, {"c.txt", "new-c"}});
    for (const Case& c : cases) {
        TempDir tmp;
        WriteText(tmp / "out/a.txt", "old-a");
        WriteText(tmp / "out/b.txt", "old-b");
        sfx::SfxHeader h = Header(c.flags);
        h.defaultDir = "out";
        CommandResult r = RunSfx(tmp, MakeSfx(NativeStub(), h, zip), c.silent ? "-s out" : "", c.answers);
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.output;
        EXPECT_EQ(ReadText(tmp / "out/a.txt"), c.keptOrNew) << c.what;
        EXPECT_EQ(ReadText(tmp / "out/b.txt"), c.expectB) << c.what;
        if (c.status == 0) {
            EXPECT_EQ(ReadText(tmp / "out/c.txt"), "new-c") << c.what;
        }
    }
}

TEST(SfxNative, RefusesHostileEntriesAndSaysWhich) {
    const std::vector<std::string> hostile = {"../x", "/etc/x", "C:\\x", "a/../../x", "..\\x", "\\\\srv\\share\\x"};
    for (const std::string& name : hostile) {
        TempDir tmp;
        const std::string zip = BuildZip({{"good.txt", "fine"}, {name, "evil"}});
        CommandResult r = RunSfx(tmp, MakeSfx(NativeStub(), Header(kAlways), zip), "-s work/out");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.output.find("\"" + name + "\": refused"), std::string::npos) << name << "\n" << r.output;
        EXPECT_EQ(ReadText(tmp / "work/out/good.txt"), "fine") << name;
        EXPECT_FALSE(Exists(tmp / "work/x")) << name;
        EXPECT_FALSE(Exists(tmp / "x")) << name;
        EXPECT_FALSE(Exists("/etc/x")) << name;
        // Nothing but the good file lands anywhere.
        size_t files = 0;
        for (auto& e : fs::recursive_directory_iterator(tmp / "work")) files += e.is_regular_file();
        EXPECT_EQ(files, 1u) << name;
    }
}

TEST(SfxNative, NeverOverwritesItself) {
    TempDir tmp;
    // Extracting into its own folder an entry named like the running file.
    const std::string file =
        MakeSfx(NativeStub(), Header(kAlways), BuildZip({{"setup.run", "replacement"}, {"ok.txt", "ok"}}));
    CommandResult r = RunSfx(tmp, file, "-s .", "", "setup.run");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("overwrite this self-extracting program itself"), std::string::npos) << r.output;
    EXPECT_EQ(ReadText(tmp / "setup.run"), file);
    EXPECT_EQ(ReadText(tmp / "ok.txt"), "ok");

    // Where existing files are kept anyway, there is nothing to refuse.
    const std::string keep = MakeSfx(NativeStub(), Header(kNever), BuildZip({{"keep.run", "replacement"}}));
    r = RunSfx(tmp, keep, "-s .", "", "keep.run");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ReadText(tmp / "keep.run"), keep);
}

TEST(SfxNative, NeverCreatesOrFollowsLinks) {
    TempDir tmp;
    fs::create_directories(tmp / "outside");
    fs::create_directories(tmp / "out");
    fs::create_directory_symlink(tmp / "outside", tmp / "out/linkdir");
    fs::create_symlink(tmp / "outside/target.txt", tmp / "out/linkfile.txt");
    const std::string zip = BuildZip({
        {"linkdir/x.txt", "through a link"},
        {"linkfile.txt", "over a link"},
        {"newlink", "/etc/passwd", false, 0120777},
        {"plain.txt", "plain"},
    });
    CommandResult r = RunSfx(tmp, MakeSfx(NativeStub(), Header(kAlways), zip), "-s out");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(fs::is_empty(tmp / "outside")) << r.output;
    EXPECT_FALSE(Exists(tmp / "out/newlink"));
    EXPECT_TRUE(fs::is_symlink(tmp / "out/linkfile.txt"));
    EXPECT_EQ(ReadText(tmp / "out/plain.txt"), "plain");
    for (const char* name : {"\"linkdir/x.txt\"", "\"linkfile.txt\"", "\"newlink\""})
        EXPECT_NE(r.output.find(name), std::string::npos) << name << "\n" << r.output;
}

TEST(SfxNative, DamagedEntryLeavesNoFileAndKeepsTheOldOne) {
    TempDir tmp;
    WriteText(tmp / "out/data.bin", "previous version");
    std::string file = MakeSfx(NativeStub(), Header(kAlways), BuildZip({{"data.bin", std::string(50000, 'z'), false}}));
    file[file.rfind("zzzz")] = 'y';  // stored data changed: CRC error
    CommandResult r = RunSfx(tmp, file, "-s out");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("CRC"), std::string::npos) << r.output;
    EXPECT_EQ(ReadText(tmp / "out/data.bin"), "previous version");
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp / "out"), fs::directory_iterator()), 1);
}

TEST(SfxNative, RunsTheStoredCommandWithTheFolderExpanded) {
    struct Case {
        const char* what;
        uint8_t flags;
        const char* command;
        std::string answers;
        const char* expected;  // the "run:" line, with FOLDER for the extraction folder
    } cases[] = {
        {"read-me in notepad", kAlways, "notepad.exe|><readme.txt", "\n\n", "run: notepad.exe|FOLDERreadme.txt|FOLDER"},
        {"empty command runs nothing", kAlways, "", "\n\n", nullptr},
        {"user changes the command", kAlways | sfx::SfxAskCmdLine, "notepad.exe|><readme.txt",
         "\n\nwrite.exe|><x.txt\n", "run: write.exe|FOLDERx.txt|FOLDER"},
        {"user declines the command", kAlways | sfx::SfxAskCmdLine, "notepad.exe|><readme.txt", "\n\n-\n", nullptr},
        {"auto run asks nothing", kAlways | sfx::SfxAutoRun, "viewer|><readme.txt", "",
         "run: viewer|FOLDERreadme.txt|FOLDER"},
    };
    for (const Case& c : cases) {
        TempDir tmp;
        sfx::SfxHeader h = Header(c.flags, c.command);
        h.defaultDir = "dest";
        CommandResult r = RunSfx(tmp, MakeSfx(NativeStub(), h, BuildZip({{"readme.txt", "hello"}})), "", c.answers);
        EXPECT_EQ(r.status, 0) << c.what << "\n" << r.output;
        EXPECT_EQ(ReadText(tmp / "dest/readme.txt"), "hello") << c.what;
        if (!c.expected) {
            EXPECT_EQ(r.output.find("run:"), std::string::npos) << c.what << "\n" << r.output;
            continue;
        }
        std::string expected = c.expected;
        const std::string folder = fs::canonical(tmp.path()).string() + "/dest/";
        for (size_t p; (p = expected.find("FOLDER")) != std::string::npos;) expected.replace(p, 6, folder);
        EXPECT_NE(r.output.find(expected), std::string::npos) << c.what << "\n" << r.output;
    }
}

TEST(SfxNative, AskFilesExtractsOnlyTheChosenOnes) {
    TempDir tmp;
    sfx::SfxHeader h = Header(kAlways | sfx::SfxAskFiles | sfx::SfxHideOverwriteBox);
    const std::string zip = BuildZip({{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    CommandResult r = RunSfx(tmp, MakeSfx(NativeStub(), h, zip), "", "out\ny\nn\ny\n");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Exists(tmp / "out/a.txt"));
    EXPECT_FALSE(Exists(tmp / "out/b.txt"));
    EXPECT_TRUE(Exists(tmp / "out/c.txt"));
    EXPECT_EQ(r.output.find("overwrite (always"), std::string::npos) << "the overwrite choice is hidden";
}

TEST(SfxNative, ExitStatusSaysWhatHappened) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string args;
        std::string input;
        int status;
    };
    const std::string zip = BuildZip({{"a.txt", "a"}});
    const std::string good = MakeSfx(NativeStub(), Header(kAlways), zip);
    const Case cases[] = {
        {"done", good, "-s out", "", 0},
        {"plain zip, no header", NativeStub() + zip, "-s out", "", 2},
        {"cut short", good.substr(0, good.size() - 10), "-s out", "", 2},
        {"switch not understood", good, "-x", "", 4},
        {"folder missing after -s", good, "-s", "", 4},
        {"user cancels the window", good, "", "", 3},
    };
    for (const Case& c : cases) {
        TempDir tmp;
        CommandResult r = RunSfx(tmp, c.bytes, c.args, c.input);
        EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.output;
        EXPECT_FALSE(r.output.empty()) << c.what;
    }
}

TEST(SfxNative, APipeOrADeviceAsTheArchiveIsRefusedAtOnce) {
    TempDir tmp;
    ASSERT_EQ(::mkfifo((tmp / "pipe.exe").c_str(), 0644), 0);
    for (const std::string& archive : {tmp / "pipe.exe", std::string("/dev/zero")}) {
        // (with a time limit: reading the pipe as the archive would wait for ever)
        CommandResult r = RunSfx(tmp, NativeStub(), "--archive '" + archive + "' -s out", "", "stub.run");
        EXPECT_EQ(r.status, 2) << archive << "\n" << r.output;
        EXPECT_NE(r.output.find("Cannot read " + archive + ": Not a regular file"), std::string::npos) << r.output;
    }
}
