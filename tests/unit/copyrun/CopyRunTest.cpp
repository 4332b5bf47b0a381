#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "TestSupport.h"
#include "analysis/Analysis.h"
#include "app/Globals.h"
#include "copyrun/CopyAhead.h"
#include "copyrun/CopyRun.h"
#include "platform/Automation.h"
#include "platform/FileSystem.h"

using testing_support::Exists;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::TreeSnapshot;

namespace {

using testing_support::LockHolder;

const std::string kHeader =
    "!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\nDefinition Table\r\n  Type NATIVE\r\n";

// Files written an hour ago, as a project's files are, so that what the refresh found of its
// tables may be taken over by the copy run while each table is unchanged.
void MakeOld(const std::string& folder) {
    const struct timespec hourAgo = {::time(nullptr) - 3600, 0};
    const struct timespec times[2] = {hourAgo, hourAgo};
    for (const platform::DirEntry& e : platform::FindFiles(folder, "*")) {
        if (e.isDirectory) MakeOld(folder + "/" + e.name);
        ::utimensat(AT_FDCWD, (folder + "/" + e.name).c_str(), times, 0);
    }
}

class CopyRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedCwd = platform::CurrentDir();
        setenv("TALLOMIR_AUTOMATION_PATH", (testing_support::TestBinDir() + "/automation").c_str(), 1);
        app::MapInfoApp().Assign(platform::CreateOleObject("Test.MapInfo"));
        platform::CreateOleObject("Test.MapInfo")->Invoke("Reset", "");
        src = dir / "src";
        target = dir / "out";
        state.options.path = target;
        context.archiveList = &archive;
        context.programDir = src + "/prog/";
    }
    void TearDown() override {
        app::MapInfoApp().Release();
        platform::SetCurrentDir(savedCwd);
    }
    std::string Write(const std::string& rel, const std::string& bytes) {
        testing_support::WriteText(src + "/" + rel, bytes);
        return src + "/" + rel;
    }
    void Table(const std::string& rel, std::size_t dat = 100) {
        Write(rel + ".TAB", kHeader);
        Write(rel + ".DAT", std::string(dat, 'd'));
        Write(rel + ".MAP", std::string(300, 'm'));
    }
    void Workspace(const std::string& rel, const std::string& text) { state.workspaces.push_back(Write(rel, text)); }
    copyrun::RunOutcome Refresh_And_Run() {
        analysis::Analysis(state).Refresh();
        ui.events.clear();
        return copyrun::Run(state, context);
    }
    std::vector<std::string> MapInfoLog() {
        std::istringstream in(platform::CreateOleObject("Test.MapInfo")->Invoke("Log", ""));
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    std::string Out(const std::string& rel) { return target + "/" + rel; }

    TempDir dir;
    std::string src, target, savedCwd;
    testing_support::ScopedRecordingUI ui;
    analysis::CopyFormState state;
    std::vector<std::string> archive;
    copyrun::CopyRunContext context;
};

TEST_F(CopyRunTest, TargetLayoutStubsAndWorkspaces) {
    Table("Maps/roads");
    Table("Maps/Lots/parcels", 2000);
    Table("Tiles/Seam");
    Table("Tiles/t1");
    Table("Tiles/t2");
    // rows name tiles by absolute path, with either separator or both, or by bare name
    Write("Tiles/Seam.tiles", src + "/Tiles/t1.TAB\n" + src + "\\Tiles/t2.TAB\nt1.TAB\n");
    Write("Proj/Col.3tf", "graph");
    Workspace("Proj/City.WOR",
              "!Workspace\r\nOpen Table \"../Maps/roads.TAB\" As Roads Interactive\r\n"
              "Open Table \"" +
                  src +
                  "/Maps/Lots/parcels\" As Parcels\r\n"
                  "Open Table \"../Tiles/Seam\" As Tiles\r\nGraph Using \"Col.3tf\"\r\n");
    state.options.zip = true;
    const auto before = TreeSnapshot(src);

    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::Finished);

    EXPECT_EQ(ReadText(Out("TABLES/Roads.tab")),
              "!Table\r\n!Version 300\r\n!Charset WindowsLatin1\r\n\r\n"
              "Open Table \".\\DATA\\Roads\\roads.TAB\" As Roads\r\n");
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Parcels/parcels.DAT")), std::string(2000, 'd'));
    EXPECT_TRUE(Exists(Out("TABLES/DATA/Roads/roads.MAP")));
    // The seamless table: its rows name the tiles by file name, a stub runs Seamless.wor.
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Tiles/Seam.tiles")), "t1.TAB\nt2.TAB\nt1.TAB\n");
    EXPECT_TRUE(Exists(Out("TABLES/DATA/Tiles/t2.DAT")));
    EXPECT_EQ(ReadText(Out("TABLES/Tiles.Tab")),
              "!Table\r\n!Version 300\r\n!Charset WindowsLatin1\r\n\r\n"
              "Run Application \".\\DATA\\Tiles\\Seamless.Wor\"\r\n");
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Tiles/Seamless.wor")),
              "!Workspace\r\n!Version 400\r\n!Charset WindowsLatin1\r\n\r\nOpen Table \"Tiles\" As Tiles\r\n");
    EXPECT_FALSE(Exists(Out("TABLES/Tiles.tab")));
    EXPECT_EQ(ReadText(Out("City.WOR")),
              "!Workspace\r\nOpen Table \"TABLES\\Roads\" Interactive\r\nOpen Table \"TABLES\\Parcels\" Interactive\r\n"
              "Open Table \"TABLES\\Tiles\" Interactive\r\nGraph Using \"Col.3tf\"\r\n");
    EXPECT_EQ(ReadText(Out("Col.3tf")), "graph");
    // The archive list: table files, stubs, workspaces, graphs, in production order.
    ASSERT_FALSE(archive.empty());
    EXPECT_EQ(archive.front().rfind(Out("TABLES/DATA/Roads/roads."), 0), 0u) << archive.front();
    auto pos = [&](const std::string& p) { return std::find(archive.begin(), archive.end(), p) - archive.begin(); };
    EXPECT_LT(pos(Out("TABLES/Roads.tab")), pos(Out("TABLES/DATA/Parcels/parcels.TAB")));
    EXPECT_EQ(pos(Out("TABLES/Tiles.Tab")) + 1, pos(Out("TABLES/DATA/Tiles/Seamless.wor")));
    EXPECT_EQ(archive[archive.size() - 2], Out("City.WOR"));
    EXPECT_EQ(archive.back(), Out("Col.3tf"));
    // Progress: one step per table, then the beep and the end message.
    EXPECT_EQ(ui.events.front().kind, "begin");
    EXPECT_EQ(ui.events.front().value, 2);
    EXPECT_EQ(ui.Notes(), std::vector<std::string>{"Finished Copying!"});
    auto kinds = ui.Kinds();
    EXPECT_EQ(std::vector<std::string>(kinds.end() - 3, kinds.end()),
              (std::vector<std::string>{"end", "beep", "note"}));
    // The source tree is exactly as it was.
    EXPECT_EQ(TreeSnapshot(src), before);
}

TEST_F(CopyRunTest, MbxIsListedButNotCopiedAndTheArchiveListIsOnlyKeptWithZip) {
    Table("D/Prog");
    Write("D/Prog.mbx", "program");
    Workspace("W.wor", "Open Table \"D/Prog\" As Prog\r\n");
    state.options.zip = true;
    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::Finished);
    EXPECT_FALSE(Exists(Out("TABLES/DATA/Prog/Prog.mbx")));
    EXPECT_NE(std::find(archive.begin(), archive.end(), Out("TABLES/DATA/Prog/Prog.mbx")), archive.end());
    state.options.zip = false;
    archive.push_back("left over");
    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::Finished);
    EXPECT_TRUE(archive.empty());  // cleared at the start, nothing added without zip
}

TEST_F(CopyRunTest, LockedReadOnlyAndMissingSources) {
    Table("D/Locked");
    Table("D/Ro");
    Table("D/Gone");
    Workspace("W.wor",
              "Open Table \"D/Locked\" As Locked\r\nOpen Table \"D/Ro\" As Ro\r\nOpen Table \"D/Gone\" As Gone\r\n");
    analysis::Analysis(state).Refresh();
    ASSERT_EQ(::chmod((src + "/D/Ro.DAT").c_str(), 0444), 0);
    // A file the search lists but that cannot be opened: a link to nowhere.
    ::unlink((src + "/D/Gone.MAP").c_str());
    ASSERT_EQ(::symlink((src + "/nowhere").c_str(), (src + "/D/Gone.MAP").c_str()), 0);
    ui.events.clear();
    {
        LockHolder lock(src + "/D/Locked.DAT");
        ASSERT_EQ(copyrun::Run(state, context), copyrun::RunOutcome::Finished);
    }
    auto notes = ui.Notes();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0], "Error copying file " + src + "/D/Locked.DAT\r\nFile is locked by another program.");
    EXPECT_EQ(notes[1].rfind("Error copying file " + src + "/D/Gone.MAP\r", 0), 0u) << notes[1];
    EXPECT_EQ(notes[1].find("locked"), std::string::npos);
    EXPECT_FALSE(Exists(Out("TABLES/DATA/Locked/Locked.DAT")));
    EXPECT_TRUE(Exists(Out("TABLES/DATA/Locked/Locked.MAP")));
    // A read-only source is copied, and the copy is writable.
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Ro/Ro.DAT")), std::string(100, 'd'));
    EXPECT_EQ(platform::GetFileAttributes(Out("TABLES/DATA/Ro/Ro.DAT")) & platform::kAttrReadOnly, 0);
}

TEST_F(CopyRunTest, LockedDestinationIsLeftAsItWas) {
    Table("D/Roads");
    Workspace("W.wor", "Open Table \"D/Roads\" As Roads\r\n");
    testing_support::WriteText(Out("TABLES/DATA/Roads/Roads.DAT"), "old copy");
    analysis::Analysis(state).Refresh();
    ui.events.clear();
    {
        LockHolder lock(Out("TABLES/DATA/Roads/Roads.DAT"));
        copyrun::Run(state, context);
    }
    EXPECT_EQ(ui.Notes()[0],
              "Error copying file " + Out("TABLES/DATA/Roads/Roads.DAT") + "\rFile is locked by another program.");
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Roads/Roads.DAT")), "old copy");
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Roads/Roads.MAP")), std::string(300, 'm'));
}

TEST_F(CopyRunTest, UnwritableTargetStopsBeforeAnything) {
    Table("D/Roads");
    Workspace("W.wor", "Open Table \"D/Roads\" As Roads\r\n");
    testing_support::WriteText(dir / "file", "a file, not a folder");
    state.options.path = dir / "file/out";
    int shown = 0;
    context.showCopyDetails = [&] { ++shown; };
    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::NotStarted);
    EXPECT_EQ(ui.Notes(), std::vector<std::string>{"Error creating directory. Cannot continue."});
    EXPECT_EQ(shown, 1);
    const auto kinds = ui.Kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "begin"), 0);
}

TEST_F(CopyRunTest, CancelStopsTheTablePhase) {
    Table("D/A");
    Table("D/B");
    Workspace("W.wor", "Open Table \"D/A\" As A\r\nOpen Table \"D/B\" As B\r\n");
    // Also with files as old as a project's, whose tables the run takes over from the refresh.
    for (const bool old : {false, true}) {
        SCOPED_TRACE(old ? "old files" : "new files");
        if (old) MakeOld(src);
        target = dir / (old ? "out-old" : "out");
        state.options.path = target;
        analysis::Analysis(state).Refresh();
        ui.events.clear();
        ui.cancelled = false;
        ui.onProcessMessages = [&] {
            // Cancel once the first file of the first table is through.
            if (Exists(Out("TABLES/DATA/A/A.DAT")) || Exists(Out("TABLES/DATA/A/A.TAB"))) ui.cancelled = true;
        };
        ASSERT_EQ(copyrun::Run(state, context), copyrun::RunOutcome::Cancelled);
        EXPECT_EQ(ui.Notes().back(), "Copying interrupted by user. Warning: Copying incomplete!");
        EXPECT_FALSE(Exists(Out("TABLES/A.tab")));  // the current table gets no stub
        EXPECT_FALSE(Exists(Out("TABLES/DATA/B")));
        EXPECT_FALSE(Exists(Out("TABLES/B.tab")));
        EXPECT_FALSE(Exists(Out("W.wor")));
    }
}

TEST_F(CopyRunTest, FallbackStubClosesLayerSoTheNextTableIsFinished) {
    Table("D/Bad");
    Write("D/Bad.infofail", "");  // opens, then fails while being finished
    Table("D/Seam");
    Table("D/t1");
    Write("D/Seam.tiles", "t1.TAB\n");
    Workspace("W.wor",
              "Open Table \"D/Seam\" As Seam\r\nOpen Table \"D/Bad\" As Bad\r\nOpen Table \"D/Seam\" As Seam2\r\n");
    // Bad fails after MapInfo opened it; LAYER must be free again for Seam2.
    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::Finished);
    EXPECT_EQ(
        ReadText(Out("TABLES/Bad.tab")),
        "!Table\r\n!Version 300\r\n!Charset WindowsLatin1\r\n\r\nOpen Table \".\\DATA\\Bad\\Bad.TAB\" As Bad\r\n");
    EXPECT_TRUE(Exists(Out("TABLES/Seam2.Tab")));  // finished as seamless after the failure
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Seam2/Seam.tiles")), "t1.TAB\n");
    EXPECT_TRUE(ui.Notes() == std::vector<std::string>{"Finished Copying!"});
}

TEST_F(CopyRunTest, SeamlessFailuresFallBackToOnePlainStub) {
    Table("D/Seam");
    Table("D/t1");
    Write("D/Seam.tiles", src + "/D/t1.TAB\n");
    Write("D/Seam.commitfail", "");
    Table("E/Seam2");
    Write("E/Seam2.tiles", "t1.TAB\n");
    Workspace("W.wor", "Open Table \"D/Seam\" As Seam\r\nOpen Table \"E/Seam2\" As Seam2\r\n");
    // Seam2 is relocated and gets its seamless stub, then its Seamless.wor cannot be written.
    ASSERT_EQ(::mkdir(target.c_str(), 0777), 0);
    testing_support::WriteText(Out("TABLES/DATA/Seam2/Seamless.wor/x"), "a folder in the way");
    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::Finished);
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Seam/Seam.tiles")), src + "/D/t1.TAB\n");  // not committed
    for (const char* name : {"Seam", "Seam2"}) {
        auto stubs = platform::FindFiles(Out("TABLES"), std::string(name) + ".tab");
        ASSERT_EQ(stubs.size(), 1u) << name;
        EXPECT_EQ(stubs[0].name, std::string(name) + ".tab");
        EXPECT_NE(ReadText(Out("TABLES/" + stubs[0].name)).find("Open Table"), std::string::npos);
    }
    // Only the table whose rows still name the source tiles is reported.
    EXPECT_EQ(ui.Notes(),
              (std::vector<std::string>{
                  "The seamless table Seam could not be relocated: its copy still uses the original tile files.",
                  "Finished Copying!"}));
}

// The table-list entries of a target that would replace files being copied: the run does not
// start (whatever the spelling of the folder), nor with the work archive's name as the zip
// name; a table file lying where its copy belongs is left as it is, and gets no stub.
TEST_F(CopyRunTest, NothingBeingCopiedIsWrittenOver) {
    Table("D/Roads");
    Write("G.3tf", "graph");
    Workspace("W.wor", "Open Table \"D/Roads\" As Roads\r\nUsing \"G.3tf\"\r\n");
    analysis::Analysis(state).Refresh();
    const auto before = TreeSnapshot(dir.path());
    int details = 0, zipOptions = 0;
    context.showCopyDetails = [&] { ++details; };
    context.showZipOptions = [&] { ++zipOptions; };
    context.zipStep = [](const copyrun::TargetGuard&) { ADD_FAILURE() << "the zip step ran"; };
    struct Case {
        std::string path, zipName;
        int details, zipOptions;
    };
    for (const Case& c : {Case{src, "", 1, 0}, Case{dir / "SRC", "Out.zip", 1, 0}, Case{target, "~TEMP.zip", 0, 1}}) {
        state.options.path = c.path;
        state.options.zip = !c.zipName.empty();
        state.options.zipFile = c.zipName;
        details = zipOptions = 0;
        ui.events.clear();
        EXPECT_EQ(copyrun::Run(state, context), copyrun::RunOutcome::NotStarted) << c.path;
        ASSERT_EQ(ui.Notes().size(), 1u) << c.path;
        EXPECT_NE(ui.Notes()[0].find(c.zipOptions ? "Choose another zip file name." : "Choose another target folder."),
                  std::string::npos)
            << ui.Notes()[0];
        EXPECT_EQ(details, c.details) << c.path;
        EXPECT_EQ(zipOptions, c.zipOptions) << c.path;
        EXPECT_EQ(TreeSnapshot(dir.path()), before) << c.path;
    }

    // A workspace elsewhere opens a table that already lies in the target's data folder.
    state = {};
    state.options.path = target;
    Table("D/Roads");
    testing_support::WriteText(Out("TABLES/Roads.tab"), "not a stub of ours");
    for (const char* ext : {".TAB", ".DAT", ".MAP"})
        testing_support::WriteText(Out(std::string("TABLES/DATA/Roads/Roads") + ext), ReadText(src + "/D/Roads" + ext));
    Workspace("W2/W.wor", "Open Table \"" + Out("TABLES/DATA/Roads/Roads") + "\" As Roads\r\n");
    const auto packaged = TreeSnapshot(Out("TABLES"));
    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::Finished);
    EXPECT_EQ(TreeSnapshot(Out("TABLES")), packaged);
    const auto notes = ui.Notes();
    ASSERT_EQ(notes.size(), 4u);
    const std::string header = "Error copying file " + Out("TABLES/DATA/Roads/Roads.TAB") +
                               "\rThe copy would replace " + Out("TABLES/DATA/Roads/Roads.TAB") +
                               ", which is being copied; it is left as it is.";
    EXPECT_NE(std::find(notes.begin(), notes.end(), header), notes.end()) << notes[0];
}

// A relative target is taken from the current folder when the run starts, and the zip step
// packs from that folder although reading the workspaces moved the current folder since.
TEST_F(CopyRunTest, ARelativeTargetIsWorkedOutOnceWhenTheRunStarts) {
    Table("A/Roads");
    Table("B/Lots");
    Workspace("A/A.wor", "Open Table \"Roads\" As Roads\r\n");
    Workspace("B/B.wor", "Open Table \"Lots\" As Lots\r\n");
    analysis::Analysis(state).Refresh();
    ASSERT_FALSE(platform::SetCurrentDir(dir.path()));
    state.options.path = "out";
    state.options.zip = true;
    std::string zippedFrom;
    context.zipStep = [&](const copyrun::TargetGuard& guard) { zippedFrom = guard.Target(); };
    ASSERT_EQ(copyrun::Run(state, context), copyrun::RunOutcome::Finished);
    EXPECT_EQ(zippedFrom, target);
    EXPECT_TRUE(Exists(Out("B.wor")));
    EXPECT_NE(platform::CurrentDir(), dir.path());
}

TEST_F(CopyRunTest, TwoTablesUnderOneAliasAreCopiedApart) {
    Table("A/Streets", 10);
    Table("B/streets", 20);
    Table("C/Streets_2", 30);  // a table whose own alias is the first free name
    Workspace("A/A.wor", "Open Table \"Streets\" As Streets Interactive\r\nMap From Streets\r\n");
    Workspace("B/B.wor",
              "Open Table \"streets\" As streets Interactive\r\nOpen Table \"../A/Streets\" As Streets\r\n"
              "Open Table \"../C/Streets_2\" As Streets_2\r\n");
    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::Finished);
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Streets/Streets.DAT")), std::string(10, 'd'));
    EXPECT_EQ(ReadText(Out("TABLES/DATA/streets_3/streets.DAT")), std::string(20, 'd'));
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Streets_2/Streets_2.DAT")), std::string(30, 'd'));
    EXPECT_EQ(ReadText(Out("TABLES/streets_3.tab")),
              "!Table\r\n!Version 300\r\n!Charset WindowsLatin1\r\n\r\n"
              "Open Table \".\\DATA\\streets_3\\streets.TAB\" As streets_3\r\n");
    // The renamed table is opened from its own stub under the alias the workspace uses.
    EXPECT_EQ(ReadText(Out("A.wor")), "Open Table \"TABLES\\Streets\" Interactive\r\nMap From Streets\r\n");
    EXPECT_EQ(ReadText(Out("B.wor")),
              "Open Table \"TABLES\\streets_3\" As streets Interactive\r\n"
              "Open Table \"TABLES\\Streets\" Interactive\r\n"
              "Open Table \"TABLES\\Streets_2\" Interactive\r\n");
    EXPECT_EQ(ui.Notes(), (std::vector<std::string>{"Another table is already copied as streets: " + src +
                                                        "/B/streets.tab is copied as streets_3.",
                                                    "Finished Copying!"}));
}

// An alias names a folder and a stub of the copy: one that is a path, a device or no name at
// all is refused where the workspace is read, and nothing is written outside the target.
TEST_F(CopyRunTest, AliasesThatAreNoNamesAreRefused) {
    Table("D/Roads");
    const std::vector<std::string> bad = {"..\\..\\escape", "../up", "C:x",      "CON",
                                          "com1.tab",       "..",    "Tab\tbed", "Dot."};
    std::string text;
    for (const auto& alias : bad) text += "Open Table \"D/Roads\" As " + alias + "\r\n";
    Workspace("W.wor", text + "Open Table \"D/Roads\" As Roads_ok\r\n");
    const auto before = TreeSnapshot(dir.path());
    analysis::Analysis(state).Refresh();
    EXPECT_EQ(state.tables, std::vector<std::string>{"Roads_ok " + src + "/D/Roads"});
    ASSERT_EQ(ui.Notes().size(), bad.size());
    EXPECT_EQ(ui.Notes()[0], "The workspace " + src +
                                 "/W.wor opens a table under an alias that cannot be a file name; "
                                 "the table is left out:\rOpen Table \"D/Roads\" As ..\\..\\escape");
    ui.events.clear();
    ASSERT_EQ(copyrun::Run(state, context), copyrun::RunOutcome::Finished);
    auto after = TreeSnapshot(dir.path());
    std::erase_if(after, [&](const auto& entry) { return entry.first.rfind("out", 0) == 0; });
    EXPECT_EQ(after, before);
    EXPECT_TRUE(Exists(Out("TABLES/Roads_ok.tab")));
}

// A table that cannot be finished (its header opens a table that is not there, or its header
// is held by another program) is left out with a note; the rest of the run goes on.
TEST_F(CopyRunTest, OneFailingTableLeavesTheRestGoing) {
    Write("D/Ghost.TAB", "!table\r\n!version 300\r\n\r\nOpen Table \"Nowhere\" As Nowhere\r\n");
    Table("D/Held");
    Table("D/Roads");
    Workspace(
        "W.wor",
        "Open Table \"D/Ghost\" As Ghost\r\nOpen Table \"D/Held\" As Held\r\nOpen Table \"D/Roads\" As Roads\r\n");
    analysis::Analysis(state).Refresh();
    ui.events.clear();
    {
        LockHolder lock(src + "/D/Held.TAB");
        ASSERT_EQ(copyrun::Run(state, context), copyrun::RunOutcome::Finished);
    }
    EXPECT_EQ(ui.Notes(),
              (std::vector<std::string>{
                  "The table Ghost is left out of the copy: the table its header opens does not exist.",
                  "Error copying file " + src + "/D/Held.TAB\r\nFile is locked by another program.",
                  "The table Held is left out of the copy: its header " + src + "/D/Held.TAB could not be copied.",
                  "Finished Copying!"}));
    EXPECT_FALSE(Exists(Out("TABLES/Ghost.tab")));
    EXPECT_FALSE(Exists(Out("TABLES/Held.tab")));
    EXPECT_TRUE(Exists(Out("TABLES/Roads.tab")));
    EXPECT_TRUE(Exists(Out("W.wor")));
}

TEST_F(CopyRunTest, CdStepWritesAutorunAndCopiesTheStartProgram) {
    Table("D/Roads");
    Workspace("W.wor", "Open Table \"D/Roads\" As Roads\r\n");
    Write("prog/Startup.exe", "MZ start program");
    state.options.cd = true;
    state.options.autoRun = true;
    state.options.zip = true;
    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::Finished);
    EXPECT_EQ(ReadText(Out("AUTORUN.INF")), "[autorun]\r\nOPEN=startup.exe\r\n");
    EXPECT_EQ(ReadText(Out("startup.exe")), "MZ start program");
    EXPECT_EQ(std::vector<std::string>(archive.end() - 2, archive.end()),
              (std::vector<std::string>{Out("Startup.exe"), Out("AUTORUN.INF")}));

    // Without the start program beside the program: reported, the run goes on.
    ::unlink((src + "/prog/Startup.exe").c_str());
    ::unlink(Out("startup.exe").c_str());
    ui.events.clear();
    ASSERT_EQ(copyrun::Run(state, context), copyrun::RunOutcome::Finished);
    ASSERT_EQ(ui.Notes().size(), 2u);
    EXPECT_EQ(ui.Notes()[0].rfind("Error copying file " + src + "/prog/Startup.exe\r", 0), 0u);
    // Only one of the two CD boxes: no CD files.
    state.options.autoRun = false;
    ::unlink(Out("AUTORUN.INF").c_str());
    copyrun::Run(state, context);
    EXPECT_FALSE(Exists(Out("AUTORUN.INF")));
}

TEST_F(CopyRunTest, TablesChangedAfterTheRefreshAreCopiedAsTheyAreNow) {
    Table("Grown/g");
    Table("Added/a");
    Table("Raster/r");
    Write("Images/r.tif", "image");
    Workspace("W.wor",
              "Open Table \"Added/a\" As A\r\nOpen Table \"Raster/r\" As R\r\nOpen Table \"Grown/g\" As G\r\n");
    MakeOld(src);
    analysis::Analysis(state).Refresh();
    // Changed in place, which leaves the folder's time as it was: a file grown, and a header
    // that now names an image elsewhere; and a file added beside a table.
    Write("Grown/g.DAT", std::string(500, 'd'));
    Write("Raster/r.TAB", "!table\r\nDefinition Table\r\n  File \"../Images/r.tif\"\r\n  Type \"RASTER\"\r\n");
    Write("Added/a.IND", "index");
    ui.events.clear();
    ASSERT_EQ(copyrun::Run(state, context), copyrun::RunOutcome::Finished);
    EXPECT_EQ(ReadText(Out("TABLES/DATA/A/a.IND")), "index");
    EXPECT_EQ(ReadText(Out("TABLES/DATA/R/r.tif")), "image");
    EXPECT_FALSE(Exists(Out("TABLES/DATA/R/r.DAT")));
    EXPECT_EQ(ReadText(Out("TABLES/DATA/G/g.DAT")), std::string(500, 'd'));
    EXPECT_EQ(state.info.description, "G");
    EXPECT_EQ(state.info.fileSize, std::to_string(kHeader.size() + 500 + 300));
    EXPECT_EQ(ui.Notes(), std::vector<std::string>{"Finished Copying!"});
}

TEST(CopyAheadTest, HaltedItIsDoneWithEveryTable) {
    // A run that stops drops the tables queued ahead at once: the thread must be done with
    // all of them, the one it is copying included, and begin none of the others.
    TempDir dir;
    testing_support::WriteText(dir / "big.dat", std::string(16 << 20, 'b'));
    testing_support::WriteText(dir / "small.dat", "s");
    std::vector<std::unique_ptr<copyrun::CopyAhead::Table>> tables;
    copyrun::CopyAhead copier(true);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(::mkdir((dir / std::to_string(i)).c_str(), 0755), 0);
        tables.push_back(std::make_unique<copyrun::CopyAhead::Table>());
        const std::string source = dir / (i == 0 ? "big.dat" : "small.dat");
        tables.back()->files.push_back({source, dir / (std::to_string(i) + "/copy"), {}, {}, {}, {}});
        copier.Queue(*tables.back());
    }
    copier.Wait(*tables.back(), [] { return false; });  // the last, copied by the caller
    copier.Halt();
    for (const auto& table : tables) EXPECT_TRUE(table->done);
    EXPECT_EQ(tables.back()->copied, 1u);
    tables.clear();  // under the address sanitizer, a late write to any of them is caught
}

TEST_F(CopyRunTest, SingleTableAndSecondRunIntoTheSameTarget) {
    Table("D/Roads");
    Write("G.3tf", "graph");
    ASSERT_EQ(::chmod((src + "/G.3tf").c_str(), 0444), 0);
    Workspace("W.wor", "Open Table \"D/Roads\" As Roads\r\nUsing \"G.3tf\"\r\n");
    ASSERT_EQ(Refresh_And_Run(), copyrun::RunOutcome::Finished);
    EXPECT_EQ(ui.events.front().value, 0);  // bar maximum 0
    // A graph file keeps its read-only attribute.
    EXPECT_EQ(platform::GetFileAttributes(Out("G.3tf")) & platform::kAttrReadOnly, platform::kAttrReadOnly);
    Write("D/Roads.DAT", "changed");
    testing_support::WriteText(Out("TABLES/DATA/Old/Old.DAT"), "stays");
    ASSERT_EQ(::chmod(Out("G.3tf").c_str(), 0644), 0);
    ui.events.clear();
    ASSERT_EQ(copyrun::Run(state, context), copyrun::RunOutcome::Finished);
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Roads/Roads.DAT")), "changed");
    EXPECT_EQ(ReadText(Out("TABLES/DATA/Old/Old.DAT")), "stays");
    EXPECT_EQ(ui.Notes(), std::vector<std::string>{"Finished Copying!"});
}

}  // namespace
