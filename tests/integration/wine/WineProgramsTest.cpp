// The two Windows programs as Windows runs them, under Wine: the self-extractor stub
// extracting silently, and the CD start program finding the workspaces beside it. Also
// checks that both are x86-64 PE files that import nothing beyond Windows' own libraries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "SfxArchive.h"
#include "SfxTestKit.h"
#include "TestSupport.h"
#include "WineSupport.h"

namespace fs = std::filesystem;
using namespace testing_support;
using namespace winetest;

namespace {

std::string StubPath() { return BinDir() + "/SFXStub.bin"; }
std::string StartupPath() { return BinDir() + "/Startup.exe"; }

#define REQUIRE_WINDOWS_PROGRAM(path)                                \
    ASSERT_TRUE(Exists(path)) << path << " is built with the tests"; \
    if (WineLoader().empty()) GTEST_SKIP() << "wine is not installed"

std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

TEST(WindowsPrograms, ArePe64AndImportOnlySystemLibraries) {
    if (!HaveTool("x86_64-w64-mingw32-objdump")) GTEST_SKIP() << "MinGW-w64 objdump is not installed";
    const std::set<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "MSVCRT.DLL",   "SHELL32.DLL", "COMDLG32.DLL",
                                           "OLE32.DLL",    "GDI32.DLL",  "COMCTL32.DLL", "ADVAPI32.DLL"};
    for (const std::string& file : {StubPath(), StartupPath()}) {
        ASSERT_TRUE(Exists(file)) << file << " is built with the tests";
        CommandResult r = RunCommand("x86_64-w64-mingw32-objdump -p " + Quote(file));
        ASSERT_EQ(r.status, 0) << file;
        EXPECT_NE(r.output.find("file format pei-x86-64"), std::string::npos) << file;
        EXPECT_NE(r.output.find("Magic\t\t\t020b"), std::string::npos) << file << ": not PE32+";
        std::istringstream lines(r.output);
        int dlls = 0;
        for (std::string line; std::getline(lines, line);) {
            size_t at = line.find("DLL Name: ");
            if (at == std::string::npos) continue;
            std::string dll = line.substr(at + 10);
            std::transform(dll.begin(), dll.end(), dll.begin(), ::toupper);
            EXPECT_TRUE(allowed.count(dll)) << file << " imports " << dll;
            ++dlls;
        }
        EXPECT_GT(dlls, 0) << file;
    }
}

TEST(WineStub, ExtractsSilentlyWithIdenticalBytes) {
    REQUIRE_WINDOWS_PROGRAM(StubPath());
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    TempDir tmp;
    WriteText(tmp / "src/Roads.WOR", "!Workspace\r\n!Version 600\r\nOpen Table \"TABLES\\Roads\" As Roads\r\n");
    std::string noise;
    for (int i = 0; i < 200000; ++i) noise += char((i * 2654435761u) >> 13);
    WriteText(tmp / "src/TABLES/DATA/Roads/roads.MAP", noise);
    WriteText(tmp / "src/TABLES/DATA/Roads/roads.DAT", std::string(100000, ' '));
    WriteText(tmp / "src/Read Me.txt", "hello\r\n");
    const std::string file =
        sfxtest::MakeSfx(ReadText(StubPath()), sfxtest::Header(sfx::SfxOverwriteAlways, "notepad.exe|><readme.txt"),
                         sfxtest::InfoZipFolder(tmp / "src"));
    WriteText(tmp / "Package.exe", file);

    CommandResult r = RunWine(tmp / "Package.exe", "-s " + Quote(WinPath(tmp / "out folder")), tmp.path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(TreeSnapshot(tmp / "src"), TreeSnapshot(tmp / "out folder"));
}

TEST(WineStub, RefusesEntriesOutsideTheFolderAndSaysSoInItsStatus) {
    REQUIRE_WINDOWS_PROGRAM(StubPath());
    TempDir tmp;
    const std::string zip =
        sfxtest::BuildZip({{"good.txt", "fine"}, {"..\\evil.txt", "evil"}, {"a/../../evil2.txt", "evil"}});
    WriteText(tmp / "Package.exe",
              sfxtest::MakeSfx(ReadText(StubPath()), sfxtest::Header(sfx::SfxOverwriteAlways), zip));
    CommandResult r = RunWine(tmp / "Package.exe", "-s " + Quote(WinPath(tmp / "work/out")), tmp.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(ReadText(tmp / "work/out/good.txt"), "fine");
    EXPECT_FALSE(Exists(tmp / "work/evil.txt"));
    EXPECT_FALSE(Exists(tmp / "evil2.txt"));
    EXPECT_FALSE(Exists(tmp / "work/evil2.txt"));
}

TEST(WineStub, TheBareStubIsNoArchive) {
    REQUIRE_WINDOWS_PROGRAM(StubPath());
    TempDir tmp;
    WriteText(tmp / "stub.exe", ReadText(StubPath()));
    CommandResult r = RunWine(tmp / "stub.exe", "-s " + Quote(WinPath(tmp / "out")), tmp.path());
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_FALSE(Exists(tmp / "out"));
}

TEST(WineStub, AutoRunExtractsIntoTheDefaultFolderAndRunsTheCommand) {
    REQUIRE_WINDOWS_PROGRAM(StubPath());
    if (!HaveTool("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
    TempDir tmp;
    // The default folder lies beside the program and holds a blank, so the expanded
    // arguments must be quoted for the command to find its files.
    sfx::SfxHeader h =
        sfxtest::Header(sfx::SfxOverwriteAlways | sfx::SfxAutoRun, "cmd.exe|/c copy ><readme.txt ><copied.txt");
    h.defaultDir = "My Package";
    WriteText(tmp / "Package.exe",
              sfxtest::MakeSfx(ReadText(StubPath()), h, sfxtest::BuildZip({{"readme.txt", "read me"}})));
    CommandResult r = RunWine(tmp / "Package.exe", "", tmp.path(), true);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ReadText(tmp / "My Package/readme.txt"), "read me");
    // The command runs on its own; give it a moment.
    WaitForFile(tmp / "My Package/copied.txt");
    EXPECT_TRUE(Exists(tmp / "My Package/copied.txt"));
}

// The windows, driven by the clicker: the overwrite question and the end report in auto-run
// mode, and the main window's Extract button with the file list shown.
TEST(WineStub, WindowsAnswerTheUser) {
    REQUIRE_WINDOWS_PROGRAM(StubPath());
    if (!HaveTool("xvfb-run") || !Exists(ClickerPath())) GTEST_SKIP() << "xvfb-run or the clicker is missing";
    constexpr int kOk = 1, kYesToAll = 1012;
    struct Case {
        const char* what;
        uint8_t flags;
        std::string steps;
        const char* a;  // a.txt afterwards
        std::string command = "";
        const char* made = nullptr;  // a file the command makes
    } cases[] = {
        {"auto-run, yes to all", sfx::SfxAutoRun,
         "ClickTest:" + std::to_string(kYesToAll) + " ClickTest:" + std::to_string(kOk), "new-a"},
        {"main window, extract", sfx::SfxOverwriteNever | sfx::SfxAskFiles,
         "ClickTest:" + std::to_string(kOk) + " ClickTest:" + std::to_string(kOk), "old-a"},
        {"command shown before it runs", sfx::SfxOverwriteAlways | sfx::SfxAskCmdLine | sfx::SfxHideOverwriteBox,
         "ClickTest:" + std::to_string(kOk) + " ClickTest:" + std::to_string(kOk), "new-a",
         "cmd.exe|/c copy ><a.txt ><made.txt", "made.txt"},
    };
    for (const Case& c : cases) {
        TempDir tmp;
        WriteText(tmp / "out/a.txt", "old-a");
        sfx::SfxHeader h = sfxtest::Header(c.flags, c.command, "ClickTest");
        h.defaultDir = "out";
        WriteText(
            tmp / "Package.exe",
            sfxtest::MakeSfx(ReadText(StubPath()), h, sfxtest::BuildZip({{"a.txt", "new-a"}, {"sub/b.txt", "new-b"}})));
        bool clicked = false;
        CommandResult r = RunWineClicking(tmp / "Package.exe", c.steps, tmp.path(), clicked);
        EXPECT_TRUE(clicked) << c.what << "\n" << r.output;
        EXPECT_EQ(r.status, 0) << c.what << "\n" << r.output;
        EXPECT_EQ(ReadText(tmp / "out/a.txt"), c.a) << c.what;
        EXPECT_EQ(ReadText(tmp / "out/sub/b.txt"), "new-b") << c.what;
        if (!c.made) continue;
        WaitForFile(tmp / ("out/" + std::string(c.made)));
        EXPECT_TRUE(Exists(tmp / ("out/" + std::string(c.made)))) << c.what;
    }
}

TEST(WineStartup, ListsEveryWorkspaceBesideIt) {
    REQUIRE_WINDOWS_PROGRAM(StartupPath());
    TempDir tmp;
    WriteText(tmp / "cd/startup.exe", ReadText(StartupPath()));
    WriteText(tmp / "cd/AUTORUN.INF", "[autorun]\r\nOPEN=startup.exe\r\n");
    WriteText(tmp / "cd/Roads.WOR", "!Workspace\r\n");
    WriteText(tmp / "cd/towns.wor", "!Workspace\r\n");
    WriteText(tmp / "cd/notes.WORX", "not a workspace");
    WriteText(tmp / "cd/TABLES/Roads.tab", "!table\r\n");
    // Started from elsewhere, as Windows may: it looks beside itself, not in the current folder.
    CommandResult r = RunWine(tmp / "cd/startup.exe", "/list", tmp.path());
    EXPECT_EQ(r.status, 0) << r.output;
    const std::string folder = WinPath(tmp / "cd") + "\\";
    EXPECT_EQ(r.output, folder + "Roads.WOR\r\n" + folder + "towns.wor\r\n");
}

// In the tests' prefix, workspaces open with a command that leaves a copy "NAME.opened"
// beside them (the same setting for every test, so tests may run side by side).
bool WorkspacesOpenWithAMark(const std::string& cwd) {
    return RunWine("reg", "add 'HKCR\\.wor' /ve /d TallomirTest.Workspace /f", cwd).status == 0 &&
           RunWine("reg",
                   "add 'HKCR\\TallomirTest.Workspace\\shell\\open\\command' /ve /d 'cmd.exe /c copy \"%1\" "
                   "\"%1.opened\"' /f",
                   cwd)
                   .status == 0;
}

TEST(WineStartup, OpensTheOnlyWorkspaceWithItsAssociatedProgram) {
    REQUIRE_WINDOWS_PROGRAM(StartupPath());
    if (!HaveTool("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
    TempDir tmp;
    ASSERT_TRUE(WorkspacesOpenWithAMark(tmp.path()));
    WriteText(tmp / "cd/startup.exe", ReadText(StartupPath()));
    WriteText(tmp / "cd/Only.WOR", "!Workspace\r\n");
    CommandResult r = RunWine(tmp / "cd/startup.exe", "", tmp.path(), true);
    EXPECT_EQ(r.status, 0) << r.output;
    WaitForFile(tmp / "cd/Only.WOR.opened");
    EXPECT_EQ(ReadText(tmp / "cd/Only.WOR.opened"), "!Workspace\r\n");
}

TEST(WineStartup, SeveralWorkspacesAreOfferedInAListAndTheChosenOneOpens) {
    REQUIRE_WINDOWS_PROGRAM(StartupPath());
    if (!HaveTool("xvfb-run") || !Exists(ClickerPath())) GTEST_SKIP() << "xvfb-run or the clicker is missing";
    TempDir tmp;
    ASSERT_TRUE(WorkspacesOpenWithAMark(tmp.path()));
    WriteText(tmp / "cd/startup.exe", ReadText(StartupPath()));
    WriteText(tmp / "cd/towns.wor", "!Workspace\r\n");
    WriteText(tmp / "cd/Roads.WOR", "!Workspace\r\nroads\r\n");
    // The list ("Choose a Workspace") starts on the first workspace by name; "Open" opens it.
    constexpr int kOpen = 1;
    bool clicked = false;
    CommandResult r = RunWineClicking(tmp / "cd/startup.exe", "Choose:" + std::to_string(kOpen), tmp.path(), clicked);
    EXPECT_TRUE(clicked) << r.output;
    EXPECT_EQ(r.status, 0) << r.output;
    WaitForFile(tmp / "cd/Roads.WOR.opened");
    EXPECT_EQ(ReadText(tmp / "cd/Roads.WOR.opened"), "!Workspace\r\nroads\r\n");
    EXPECT_FALSE(Exists(tmp / "cd/towns.wor.opened"));
}

TEST(WineStartup, SaysSoWhenThereIsNoWorkspace) {
    REQUIRE_WINDOWS_PROGRAM(StartupPath());
    TempDir tmp;
    WriteText(tmp / "cd/startup.exe", ReadText(StartupPath()));
    CommandResult r = RunWine(tmp / "cd/startup.exe", "/list", tmp.path());
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(r.output, "");
}
