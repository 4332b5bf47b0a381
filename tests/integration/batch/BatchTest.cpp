#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "TestSupport.h"

namespace fs = std::filesystem;
using testing_support::Exists;
using testing_support::ReadText;
using testing_support::RunCommand;
using testing_support::TempDir;

namespace {

// The sample project, copied into a temporary folder so that tests may change it.
class BatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy(testing_support::SourceDir() + "/examples", dir / "src", fs::copy_options::recursive);
        city = dir / "src/City.WOR";
        rural = dir / "src/Rural/Rural.WOR";
    }
    testing_support::CommandResult Batch(const std::string& args) {
        return RunCommand(testing_support::BinDir() + "/tallomir-batch " + args + " 2>" + dir / "stderr.txt");
    }
    std::string Stderr() { return ReadText(dir / "stderr.txt"); }

    TempDir dir;
    std::string city, rural;
};

TEST_F(BatchTest, ListPrintsTablesGraphsAndSize) {
    auto r = Batch("--list " + city + " " + rural);
    ASSERT_EQ(r.status, 0) << Stderr();
    const std::string src = dir / "src";
    EXPECT_NE(r.output.find("TABLE Streets " + src + "/Data/Streets\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("TABLE Parcels " + src + "/Parcels/Parcels\n"), std::string::npos);
    EXPECT_NE(r.output.find("GRAPH 0 " + src + "/Column.3tf\n"), std::string::npos);
    EXPECT_NE(r.output.find("\nSIZE "), std::string::npos);
    EXPECT_NE(r.output.find(" KiloBytes\n"), std::string::npos);
    EXPECT_FALSE(Exists(dir / "out"));
    // Each table once, although both workspaces open some of them.
    EXPECT_EQ(r.output.find("TABLE Districts "), r.output.rfind("TABLE Districts "));
}

TEST_F(BatchTest, CopiesTheSampleIntoAFolderThatOpensOnItsOwn) {
    const auto before = testing_support::TreeSnapshot(dir / "src");
    auto r = Batch("--to " + dir / "out --no-printer " + city + " " + rural);
    ASSERT_EQ(r.status, 0) << Stderr();
    EXPECT_EQ(testing_support::TreeSnapshot(dir / "src"), before);  // the source is untouched
    EXPECT_TRUE(Exists(dir / "out/City.WOR"));
    EXPECT_TRUE(Exists(dir / "out/Rural.WOR"));
    EXPECT_TRUE(Exists(dir / "out/Column.3tf"));
    const std::string cityCopy = ReadText(dir / "out/City.WOR");
    EXPECT_NE(cityCopy.find("Open Table \"TABLES\\Streets\" Interactive\r\n"), std::string::npos);
    EXPECT_EQ(cityCopy.find("Printer"), std::string::npos);
    EXPECT_EQ(ReadText(dir / "out/TABLES/Streets.tab"),
              "!Table\r\n!Version 300\r\n!Charset WindowsLatin1\r\n\r\n"
              "Open Table \".\\DATA\\Streets\\Streets.TAB\" As Streets\r\n");
    EXPECT_TRUE(Exists(dir / "out/TABLES/Parcels.Tab"));
    EXPECT_TRUE(Exists(dir / "out/TABLES/DATA/Parcels/Seamless.wor"));
    // The view names its base tables in the layout, the raster its image beside it.
    const std::string view = ReadText(dir / "out/TABLES/DATA/DistrictStreets/DistrictStreets.TAB");
    EXPECT_NE(view.find("OPEN TABLE \"..\\Streets\\Streets\" Hide\r\n"), std::string::npos) << view;
    EXPECT_NE(view.find("OPEN TABLE \"..\\Districts\\Districts\" Hide\r\n"), std::string::npos) << view;
    EXPECT_NE(ReadText(dir / "out/TABLES/DATA/Aerial/Aerial.TAB").find("File \"Aerial.png\"\r\n"), std::string::npos);
    EXPECT_TRUE(Exists(dir / "out/TABLES/DATA/Aerial/Aerial.png"));

    // GDAL opens every native table of the copy after the source has gone away.
    fs::rename(dir / "src", dir / "gone");
    if (!testing_support::HaveTool("ogrinfo")) GTEST_SKIP() << "ogrinfo not installed";
    for (const char* table : {"Streets/Streets.TAB", "Districts/Districts.TAB", "Farms/Farms.TAB", "Wells/Wells.TAB"}) {
        auto info = RunCommand("ogrinfo -ro -so -al " + dir / "out/TABLES/DATA/" + table + " 2>&1");
        EXPECT_EQ(info.status, 0) << table << "\n" << info.output;
        EXPECT_NE(info.output.find("Feature Count"), std::string::npos) << table;
    }
    // The relocated seamless table opens with the rows of all three tiles.
    auto seamless = RunCommand("ogrinfo -ro -so -al " + dir / "out/TABLES/DATA/Parcels/Parcels.TAB" + " 2>&1");
    EXPECT_EQ(seamless.status, 0) << seamless.output;
    EXPECT_NE(seamless.output.find("Feature Count: 6\n"), std::string::npos) << seamless.output;
}

TEST_F(BatchTest, RelativeTargetCountsFromWhereTheCommandWasGiven) {
    fs::create_directories(dir / "here");
    auto r = RunCommand("cd " + dir / "here && " + testing_support::BinDir() + "/tallomir-batch --to out " + city +
                        " 2>" + dir / "stderr.txt");
    ASSERT_EQ(r.status, 0) << Stderr();
    EXPECT_TRUE(Exists(dir / "here/out/City.WOR"));
    EXPECT_FALSE(Exists(dir / "src/out"));
}

TEST_F(BatchTest, ExitStatusesForUsageProblemsAndStops) {
    EXPECT_EQ(Batch(city).status, 2);                                       // no --to
    EXPECT_EQ(Batch("--frobnicate --to x " + city).status, 2);              // unknown option
    EXPECT_EQ(Batch("--to " + dir / "out " + dir / "none.WOR").status, 2);  // no such workspace
    EXPECT_EQ(Batch("--help").status, 0);
    EXPECT_EQ(Batch("--version").output, "tallomir-batch 2.0.7\n");

    testing_support::WriteText(dir / "file", "");
    auto r = Batch("--to " + dir / "file/out " + city);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(Stderr().find("note: Error creating directory. Cannot continue."), std::string::npos);

    // A duplicate workspace and a missing table are problem notes: status 1.
    std::string lower = city.substr(0, city.size() - 8) + "city.wor";
    testing_support::WriteText(dir / "src/Extra.WOR", "Open Table \"Nowhere\" As Nowhere\r\n");
    r = Batch("--to " + dir / "out " + city + " " + lower + " " + dir / "src/Extra.WOR");
    EXPECT_EQ(r.status, 1) << Stderr();
    EXPECT_NE(Stderr().find("note: Workspace already exists in the list!"), std::string::npos);
    EXPECT_NE(Stderr().find("note: The workspace references a table that does not exist. "), std::string::npos);
}

TEST_F(BatchTest, WithoutMapInfoTheRunDoesNotStart) {
    // A copy of the program has no automation folder beside it.
    fs::copy_file(testing_support::BinDir() + "/tallomir-batch", dir / "tallomir-batch");
    auto r = RunCommand("env -u TALLOMIR_AUTOMATION_PATH " + dir / "tallomir-batch" + " --to " + dir / "out " + city +
                        " 2>" + dir / "stderr.txt");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(Stderr().find("MapInfo is required to run Tallomir.\nCannot find MapInfo on this computer."),
              std::string::npos);
}

TEST_F(BatchTest, InterruptStopsTheTablePhase) {
    // The first table brings many named pipes, each refused with a note. The notes go to a
    // small pipe this test does not read until the signal is sent, so the run cannot leave
    // the table phase before it: it waits to write the notes that do not fit.
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(::mkfifo((dir / ("src/Data/Streets.p" + std::to_string(i))).c_str(), 0644), 0);
    int err[2];
    ASSERT_EQ(::pipe(err), 0);
    ASSERT_GT(::fcntl(err[0], F_SETPIPE_SZ, 4096), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(err[1], STDERR_FILENO);
        ::close(err[0]);
        ::close(err[1]);
        std::string out = dir / "out";
        std::string program = testing_support::BinDir() + "/tallomir-batch";
        ::execl(program.c_str(), program.c_str(), "--to", out.c_str(), city.c_str(), static_cast<char*>(nullptr));
        ::_exit(98);
    }
    ::close(err[1]);
    // The first note (written in the table phase only) is there: interrupt.
    pollfd ready{err[0], POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 60000), 1) << "no note came";
    ::kill(pid, SIGINT);
    std::string stderrText;
    char buf[4096];
    for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) != 0;) {
        if (n > 0) stderrText.append(buf, static_cast<std::size_t>(n));
        else if (errno != EINTR) break;
    }
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << stderrText;
    EXPECT_NE(stderrText.find("Not a regular file"), std::string::npos) << stderrText;
    EXPECT_NE(stderrText.find("Copying interrupted by user. Warning: Copying incomplete!"), std::string::npos);
    EXPECT_FALSE(Exists(dir / "out/TABLES/Streets.tab"));  // no stub for the current table
    EXPECT_FALSE(Exists(dir / "out/City.WOR"));            // workspaces not written
}

// A target on a file system that fills up during the run: the run goes on, says why each
// copy failed, leaves no cut-off file that looks complete, and never touches the source.
// The small file system is mounted in a mount namespace of its own, which needs the rights
// to make one (as root, or where user namespaces are allowed).
TEST_F(BatchTest, AFullDiskIsReportedAndLeavesNoCutOffFiles) {
    testing_support::WriteText(dir / "src/Imagery/Aerial.png", std::string(1 << 20, 'p'));  // larger than the disk
    const auto before = testing_support::TreeSnapshot(dir / "src");
    const std::string disk = dir / "disk";
    fs::create_directories(disk);
    const std::string script = "mount -t tmpfs -o size=512k tmpfs " + disk + " || exit 77; " +
                               testing_support::BinDir() + "/tallomir-batch --to " + disk + "/out " + city + " 2>" +
                               dir / "stderr.txt" + "; echo \\$? >" + dir / "status" + "; cd " + disk +
                               "/out && find . -type f -printf '%s %f\\n' >" + dir / "listing";
    auto r = RunCommand("unshare -m --propagation private sh -c \"" + script + "\" 2>&1");
    if (r.status != 0 || !Exists(dir / "status")) {
        if (!testing_support::HaveTool("unshare") || r.status == 77 || r.status == 1)
            GTEST_SKIP() << "cannot mount a small file system here: " << r.output;
        FAIL() << r.output;
    }
    EXPECT_EQ(ReadText(dir / "status"), "1\n") << Stderr();
    EXPECT_NE(Stderr().find("Aerial.png"), std::string::npos) << Stderr();
    EXPECT_NE(Stderr().find("space"), std::string::npos) << "the reason is given: " << Stderr();
    EXPECT_EQ(testing_support::TreeSnapshot(dir / "src"), before);
    // Every file that is there is whole: the same size as the file of that name in the source.
    std::map<std::string, std::uintmax_t> sourceSizes;
    for (const auto& e : fs::recursive_directory_iterator(dir / "src"))
        if (e.is_regular_file()) sourceSizes[e.path().filename().string()] = e.file_size();
    std::istringstream listing(ReadText(dir / "listing"));
    std::uintmax_t size = 0;
    std::string name;
    int checked = 0;
    while (listing >> size >> name) {
        const std::string upper = [&] {
            std::string u = name;
            for (char& c : u) c = static_cast<char>(std::toupper(c));
            return u;
        }();
        if (upper.ends_with(".TAB") || upper.ends_with(".WOR")) continue;  // rewritten by the run
        auto it = sourceSizes.find(name);
        if (it == sourceSizes.end()) continue;
        EXPECT_EQ(size, it->second) << name << " is cut off";
        ++checked;
    }
    EXPECT_GT(checked, 0) << "some tables fit and were copied";
}

// Lines of `text` that start with `prefix`, in order.
std::vector<std::string> LinesStarting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
}

TEST_F(BatchTest, CheckFindsWhatTiesAPackageToTheOutside) {
    ASSERT_EQ(Batch("--to " + dir / "out " + city + " " + rural).status, 0) << Stderr();
    fs::rename(dir / "src", dir / "gone");  // the check needs no source
    auto r = Batch("--check " + dir / "out");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("SELF-CONTAINED: 46 files, 0 findings"), std::string::npos) << r.output;

    // One damaged copy: a stub gone, a line naming a drive, a tile gone, a path too long.
    fs::copy(dir / "out", dir / "bad", fs::copy_options::recursive);
    fs::remove(dir / "bad/TABLES/Streets.tab");
    std::ofstream(dir / "bad/Rural.WOR", std::ios::app) << "Open Table \"C:\\Data\\Roads.TAB\" As Roads\r\n";
    fs::remove(dir / "bad/TABLES/DATA/Parcels/Parcels2.TAB");
    const std::string deep = dir / ("bad/TABLES/" + std::string(150, 'd') + "/" + std::string(140, 'f'));
    fs::create_directories(deep.substr(0, deep.rfind('/')));
    testing_support::WriteText(deep, "");
    r = Batch("--check " + dir / "bad --root 'D:\\Maps'");
    EXPECT_EQ(r.status, 1) << r.output;
    const std::string found = r.output;
    EXPECT_NE(found.find("FOUND missing City.WOR: names TABLES\\Streets, which the package lacks\n"), std::string::npos)
        << found;
    EXPECT_NE(found.find("FOUND absolute Rural.WOR: names C:\\Data\\Roads.TAB\n"), std::string::npos) << found;
    EXPECT_NE(found.find("FOUND missing TABLES\\DATA\\Parcels\\Parcels.TAB: names Parcels2.TAB"), std::string::npos)
        << found;
    EXPECT_NE(found.find("FOUND too-long TABLES\\" + std::string(150, 'd') + "\\" + std::string(140, 'f') +
                         ": 306 characters at D:\\Maps"),
              std::string::npos)
        << found;
    EXPECT_EQ(LinesStarting(found, "FOUND ").size(), 4u) << found;
    EXPECT_NE(found.find("NOT SELF-CONTAINED: 45 files, 4 findings"), std::string::npos) << found;

    // An archive of the clean package passes; one with an entry's bytes changed does not.
    if (!testing_support::HaveTool("python3")) GTEST_SKIP() << "python3 not installed";
    const std::string zipIt =
        "python3 -c \"import os,sys,zipfile\n"
        "z=zipfile.ZipFile(sys.argv[2],'w',zipfile.ZIP_STORED)\n"
        "for d,_,fs in os.walk(sys.argv[1]):\n"
        " for f in fs: p=os.path.join(d,f); z.write(p,os.path.relpath(p,sys.argv[1]))\n"
        "z.close()\" ";
    ASSERT_EQ(RunCommand(zipIt + dir / "out " + dir / "Package.zip").status, 0);
    r = Batch("--check " + dir / "Package.zip");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("SELF-CONTAINED: 46 files, 0 findings; every entry's CRC checked"), std::string::npos)
        << r.output;
    std::string bytes = ReadText(dir / "Package.zip");
    const auto at = bytes.find("Open Table \"TABLES\\Streets\"");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 12] = 'X';  // TABLES becomes XABLES: the stored entry's CRC no longer fits
    testing_support::WriteText(dir / "Broken.zip", bytes);
    r = Batch("--check " + dir / "Broken.zip");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(LinesStarting(r.output, "FOUND damaged City.WOR: ").size(), 1u) << r.output;
}

// The files and notes of a manifest: "status target" per file, then the run's notes.
std::vector<std::string> FilesAndNotes(const std::string& manifest) {
    auto r = RunCommand(
        "python3 -c \"import json,sys\nm=json.load(open(sys.argv[1]))\n"
        "for f in m['files']: print(f['kind'], f['status'], f['target'])\n"
        "for n in m['notes']: print('note', repr(n))\" " +
        manifest);
    std::vector<std::string> lines;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(BatchTest, DryRunWritesNothingAndForetellsTheRun) {
    if (!testing_support::HaveTool("python3")) GTEST_SKIP() << "python3 not installed";
    // A missing table gives notes the plan must foretell too.
    testing_support::WriteText(dir / "src/Extra.WOR", "Open Table \"Nowhere\" As Nowhere\r\n");
    fs::create_directories(dir / "plans");
    const std::string args = "--no-printer --to " + dir / "out " + city + " " + rural + " " + dir / "src/Extra.WOR";
    const auto before = testing_support::TreeSnapshot(dir / "src");
    auto plan = Batch("--dry-run --manifest " + dir / "plans/plan.json " + args);
    const std::string planNotes = Stderr();
    EXPECT_EQ(plan.status, 1) << planNotes;
    EXPECT_EQ(testing_support::TreeSnapshot(dir / "src"), before);
    EXPECT_FALSE(Exists(dir / "out"));
    EXPECT_EQ(plan.output.find("Finished Copying!"), std::string::npos);
    EXPECT_EQ(planNotes.find("Finished Copying!"), std::string::npos);
    EXPECT_EQ(LinesStarting(plan.output, "Dry run: 36 files would be copied and 11 written, 2 problem notes").size(),
              1u)
        << plan.output;

    auto run = Batch("--manifest " + dir / "plans/run.json " + args);
    EXPECT_EQ(run.status, plan.status);
    EXPECT_EQ(Stderr(), planNotes + "note: Finished Copying!\n");
    auto planned = FilesAndNotes(dir / "plans/plan.json");
    auto done = FilesAndNotes(dir / "plans/run.json");
    for (auto& line : planned) {
        if (line.find(" copy ") != std::string::npos) line.replace(line.find(" copy "), 6, " copied ");
        if (line.find(" write ") != std::string::npos) line.replace(line.find(" write "), 7, " written ");
    }
    planned.push_back("note 'Finished Copying!'");
    EXPECT_EQ(planned, done);
    // Every file the run made was in the plan.
    std::size_t made = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir / "out")) made += e.is_regular_file();
    EXPECT_EQ(made, LinesStarting(plan.output, "table ").size() + LinesStarting(plan.output, "seamless ").size() +
                        LinesStarting(plan.output, "tile ").size() + LinesStarting(plan.output, "stub ").size() +
                        LinesStarting(plan.output, "workspace ").size() + LinesStarting(plan.output, "graph ").size());
}

TEST_F(BatchTest, ManifestDigestsMatchTheCopiesAndTheSchema) {
    if (!testing_support::HaveTool("python3") || RunCommand("python3 -c 'import jsonschema'").status != 0)
        GTEST_SKIP() << "python3-jsonschema not installed";
    auto r = Batch("--manifest " + dir / "m.json --cd --autorun --to " + dir / "out " + city + " " + rural);
    ASSERT_EQ(r.status, 0) << Stderr();
    auto check = RunCommand(
        "python3 -c \"import json,sys,jsonschema,hashlib,os\n"
        "m=json.load(open(sys.argv[1],encoding='utf-8'))\n"
        "jsonschema.validate(m,json.load(open(sys.argv[2])))\n"
        "n=0\n"
        "for f in m['files']:\n"
        " p=os.path.join(sys.argv[3],f['target'])\n"
        " b=open(p,'rb').read()\n"
        " assert f['sha256']==hashlib.sha256(b).hexdigest() and f['size']==len(b),f['target']\n"
        " n+=1\n"
        "print(n)\" " +
        dir / "m.json " + testing_support::SourceDir() + "/docs/manifest.schema.json " + dir / "out 2>&1");
    EXPECT_EQ(check.status, 0) << check.output;
    // Every file of the package is in the manifest, with its digest.
    std::size_t made = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir / "out")) made += e.is_regular_file();
    EXPECT_EQ(check.output, std::to_string(made) + "\n");
    auto sums = RunCommand("cd " + dir / "out && sha256sum TABLES/DATA/Parcels/Parcels.DAT City.WOR startup.exe");
    ASSERT_EQ(sums.status, 0);
    std::istringstream in(sums.output);
    const std::string manifest = ReadText(dir / "m.json");
    for (std::string digest, name; in >> digest >> name;)
        EXPECT_NE(manifest.find("\"target\": \"" + name +
                                "\", \"size\": " + std::to_string(fs::file_size(dir / ("out/" + name))) +
                                ", \"sha256\": \"" + digest + "\""),
                  std::string::npos)
            << name;

    // The check compares a package with its manifest, in a folder and in an archive.
    ASSERT_EQ(RunCommand("cd " + dir / "out && python3 -m zipfile -c " + dir / "Package.zip *").status, 0);
    EXPECT_EQ(Batch("--check " + dir / "Package.zip --manifest " + dir / "m.json").status, 0);
    std::string wor = ReadText(dir / "out/Rural.WOR");
    wor[wor.size() - 3] ^= 1;  // the same size, other bytes
    testing_support::WriteText(dir / "out/Rural.WOR", wor);
    r = Batch("--check " + dir / "out --manifest " + dir / "m.json");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LinesStarting(r.output, "FOUND ").size(), 1u) << r.output;
    EXPECT_NE(r.output.find("FOUND manifest Rural.WOR: its SHA-256 differs from the manifest's\n"), std::string::npos)
        << r.output;
}

}  // namespace
