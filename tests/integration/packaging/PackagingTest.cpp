#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"

namespace fs = std::filesystem;
using testing_support::Exists;
using testing_support::ReadText;
using testing_support::RunCommand;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

// Python's zipfile as the judge: tests every CRC, then prints "name size sha256" per entry.
const char* kZipListing =
    "import hashlib, sys, zipfile\n"
    "z = zipfile.ZipFile(sys.argv[1])\n"
    "bad = z.testzip()\n"
    "if bad: sys.exit('bad CRC: ' + bad)\n"
    "for i in z.infolist():\n"
    "    print(i.filename, i.file_size, hashlib.sha256(z.read(i)).hexdigest())\n";

class PackagingTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy(testing_support::SourceDir() + "/examples", dir / "src", fs::copy_options::recursive);
        WriteText(dir / "zipls.py", kZipListing);
        workspaces = dir / "src/City.WOR " + dir / "src/Rural/Rural.WOR";
    }
    testing_support::CommandResult Batch(const std::string& args) {
        return RunCommand(testing_support::BinDir() + "/tallomir-batch --to " + dir / "out " + args + " " + workspaces +
                          " 2>" + dir / "stderr.txt");
    }
    std::string Stderr() { return ReadText(dir / "stderr.txt"); }
    // name -> "size sha256" of every entry, after zipfile has checked every CRC.
    std::map<std::string, std::string> Entries(const std::string& archive) {
        auto r = RunCommand("python3 " + dir / "zipls.py " + archive);
        EXPECT_EQ(r.status, 0) << r.output;
        std::map<std::string, std::string> out;
        std::istringstream in(r.output);
        for (std::string name, size, hash; in >> name >> size >> hash;) out[name] = size + " " + hash;
        return out;
    }
    std::map<std::string, std::string> Files(const std::string& root) {
        std::map<std::string, std::string> out;
        for (auto& e : fs::recursive_directory_iterator(root)) {
            if (!e.is_regular_file()) continue;
            std::string rel = fs::relative(e.path(), root).string();
            auto r = RunCommand("sha256sum '" + e.path().string() + "'");
            out[rel] = std::to_string(e.file_size()) + " " + r.output.substr(0, 64);
        }
        return out;
    }

    TempDir dir;
    std::string workspaces;
};

TEST_F(PackagingTest, ZipHoldsEveryProducedFileUnderItsRelativeName) {
    auto r = Batch("--cd --autorun --zip Out");
    ASSERT_EQ(r.status, 0) << Stderr();
    auto files = Files(dir / "out");
    files.erase("Out.zip");
    auto entries = Entries(dir / "out/Out.zip");
    // startup.exe is listed only when the start program ships beside the program.
    EXPECT_EQ(entries, files);
    EXPECT_TRUE(entries.count("TABLES/DATA/Streets/Streets.TAB"));
    EXPECT_TRUE(entries.count("TABLES/Parcels.Tab"));
    EXPECT_TRUE(entries.count("AUTORUN.INF"));
    EXPECT_FALSE(Exists(dir / "out/~temp.zip"));
    if (testing_support::HaveTool("unzip")) {
        EXPECT_EQ(RunCommand("unzip -tq " + dir / "out/Out.zip" + " >/dev/null 2>&1").status, 0);
    }
}

TEST_F(PackagingTest, ReadmeListsTheFilesAfterTheMessage) {
    WriteText(dir / "message.txt", "Dear colleague,\r\nhere is the city project.\nRegards");
    auto r = Batch("--zip Out.ZIP --exe --message " + dir / "message.txt");
    ASSERT_EQ(r.status, 0) << Stderr();
    // ".ZIP" is not ".zip": the name is mended. The executable replaces the archive.
    const std::string archive = dir / (Exists(dir / "out/Out.exe") ? "out/Out.exe" : "out/Out.zip");
    const std::string readme = ReadText(dir / "out/ReadMe.txt");
    EXPECT_EQ(readme.rfind("Dear colleague,\r\nhere is the city project.\r\nRegards\r\n\r\n" + std::string(53, '-') +
                               "\r\nList of Files Extracted:\r\n  TABLES\\DATA\\",
                           0),
              0u)
        << readme;
    EXPECT_NE(readme.find("\r\n  City.WOR\r\n"), std::string::npos);
    const std::string tail = "\r\n  ReadMe.txt\r\n\r\n" + std::string(61, '-') + "\r\nVisit ";
    EXPECT_NE(readme.find(tail), std::string::npos);
    EXPECT_EQ(readme.substr(readme.size() - 65), "\r\n" + std::string(61, '-') + "\r\n");
    auto entries = Entries(archive);
    EXPECT_TRUE(entries.count("ReadMe.txt"));
    EXPECT_TRUE(entries.count("TABLES/DATA/Parcels/Seamless.wor"));
    EXPECT_EQ(Exists(dir / "out/Out.exe"), Exists(testing_support::BinDir() + "/SFXStub.bin"));
    if (testing_support::HaveTool("unzip")) {
        EXPECT_EQ(RunCommand("unzip -tq " + archive + " >/dev/null 2>&1").status, 0);
    }

    // An empty message: the read-me starts with the empty line.
    WriteText(dir / "message.txt", "");
    ASSERT_EQ(Batch("--zip Out --exe --message " + dir / "message.txt").status, 0) << Stderr();
    EXPECT_EQ(ReadText(dir / "out/ReadMe.txt").rfind("\r\n-----", 0), 0u);
}

TEST_F(PackagingTest, RemoveFilesLeavesTheArchiveAndFoldersThatHoldOtherFiles) {
    WriteText(dir / "out/TABLES/DATA/Streets/notes.txt", "mine");
    WriteText(dir / "out/Keep.txt", "mine too");
    auto r = Batch("--zip Out --remove-files");
    ASSERT_EQ(r.status, 0) << Stderr();
    std::vector<std::string> left;
    for (auto& e : fs::recursive_directory_iterator(dir / "out")) left.push_back(fs::relative(e.path(), dir / "out"));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Keep.txt", "Out.zip", "TABLES", "TABLES/DATA", "TABLES/DATA/Streets",
                                              "TABLES/DATA/Streets/notes.txt"}));
    EXPECT_TRUE(Entries(dir / "out/Out.zip").count("TABLES/DATA/Wells/Wells.DAT"));
}

TEST_F(PackagingTest, RemoveFilesWithASelfExtractorLeavesOnlyTheProgram) {
    WriteText(dir / "message.txt", "Open City.WOR");
    auto r = Batch("--zip Out --remove-files --exe --message " + dir / "message.txt");
    ASSERT_EQ(r.status, 0) << Stderr();
    std::vector<std::string> left;
    for (auto& e : fs::recursive_directory_iterator(dir / "out")) left.push_back(fs::relative(e.path(), dir / "out"));
    EXPECT_EQ(left, std::vector<std::string>{"Out.exe"});
    auto entries = Entries(dir / "out/Out.exe");
    EXPECT_TRUE(entries.count("City.WOR"));
    EXPECT_TRUE(entries.count("ReadMe.txt"));
    EXPECT_TRUE(entries.count("TABLES/DATA/Parcels/Parcels2.DAT"));
}

TEST_F(PackagingTest, LeftoverWorkArchiveIsUpdatedNotReplaced) {
    fs::create_directories(dir / "out");
    WriteText(dir / "old/Earlier.txt", "from an earlier run");
    ASSERT_EQ(RunCommand("cd " + dir / "old && zip -q " + dir / "out/~temp.zip Earlier.txt").status, 0);
    ASSERT_EQ(Batch("--zip " + dir / "elsewhere.zip").status, 0) << Stderr();
    auto entries = Entries(dir / "elsewhere.zip");
    EXPECT_TRUE(entries.count("Earlier.txt"));
    EXPECT_TRUE(entries.count("City.WOR"));
}

TEST_F(PackagingTest, AnotherVersionKeptFromALeftoverArchiveIsNotTakenForTheFile) {
    // An entry newer than the copied file survives an update: it is not the file just copied,
    // so the copy must not be removed for it.
    fs::create_directories(dir / "out");
    ASSERT_EQ(RunCommand("python3 -c \"import zipfile; z = zipfile.ZipFile('" + dir / "out/~temp.zip" +
                         "', 'w'); z.writestr(zipfile.ZipInfo('City.WOR', (2099, 1, 1, 0, 0, 0)), "
                         "'a workspace from another run')\"")
                  .status,
              0);
    auto r = Batch("--zip Out --remove-files");
    EXPECT_EQ(r.status, 1) << Stderr();
    EXPECT_NE(Stderr().find("another version of City.WOR"), std::string::npos) << Stderr();
    EXPECT_NE(ReadText(dir / "out/City.WOR").find("TABLES\\Streets"), std::string::npos) << "the copy is kept";
    EXPECT_FALSE(Exists(dir / "out/Out.zip"));
}

TEST_F(PackagingTest, MissingFilesAreReportedAndStillListed) {
    WriteText(dir / "src/Data/Streets.MBX", "a MapBasic program is never copied");
    WriteText(dir / "message.txt", "m");
    auto r = Batch("--zip Out --exe --message " + dir / "message.txt");
    EXPECT_EQ(r.status, 1) << Stderr();  // the engine's warning is a problem to report
    EXPECT_NE(ReadText(dir / "out/ReadMe.txt").find("  TABLES\\DATA\\Streets\\Streets.MBX\r\n"), std::string::npos);
    EXPECT_NE(Stderr().find("zip: "), std::string::npos) << Stderr();
    auto entries = Entries(dir / (Exists(dir / "out/Out.exe") ? "out/Out.exe" : "out/Out.zip"));
    EXPECT_FALSE(entries.count("TABLES/DATA/Streets/Streets.MBX"));
    EXPECT_TRUE(entries.count("TABLES/DATA/Streets/Streets.DAT"));
}

TEST_F(PackagingTest, AFailedArchiveLosesNothing) {
    // A damaged work archive: the engine refuses to update it and changes nothing.
    WriteText(dir / "out/~temp.zip", "PK\x05\x06 this is not an archive");
    WriteText(dir / "out/Out.zip", "the user's older archive");
    auto r = Batch("--zip Out --remove-files");
    EXPECT_EQ(r.status, 1) << Stderr();
    EXPECT_NE(Stderr().find("could not be made"), std::string::npos) << Stderr();
    EXPECT_EQ(ReadText(dir / "out/Out.zip"), "the user's older archive");
    EXPECT_TRUE(Exists(dir / "out/TABLES/DATA/Streets/Streets.DAT"));  // nothing deleted
    EXPECT_TRUE(Exists(dir / "out/City.WOR"));
}

}  // namespace

// --remove-files never takes what the user owns: a target that holds the workspaces, or the
// work archive's own name as the zip name, stops the run before anything is written; copied
// files go only once the archive under its final name holds them; a table file that lies
// where its copy belongs is no copy to give up.
TEST_F(PackagingTest, RemoveFilesNeverTakesTheUsersFiles) {
    const auto before = testing_support::TreeSnapshot(dir / "src");
    auto r = RunCommand(testing_support::BinDir() + "/tallomir-batch --to " + dir / "src --zip Out --remove-files " +
                        workspaces + " 2>" + dir / "stderr.txt");
    EXPECT_EQ(r.status, 2) << Stderr();
    EXPECT_NE(Stderr().find("Choose another target folder."), std::string::npos) << Stderr();
    r = Batch("--zip ~TEMP.zip --remove-files");
    EXPECT_EQ(r.status, 2) << Stderr();
    EXPECT_FALSE(Exists(dir / "out"));
    EXPECT_EQ(testing_support::TreeSnapshot(dir / "src"), before);

    // The final name cannot be taken: a folder is in the way.
    fs::create_directories(dir / "out/Out.zip");
    r = Batch("--zip Out --remove-files");
    EXPECT_EQ(r.status, 1) << Stderr();
    EXPECT_TRUE(Exists(dir / "out/City.WOR"));
    EXPECT_TRUE(Exists(dir / "out/TABLES/DATA/Streets/Streets.DAT"));

    // A workspace elsewhere opens the copy's own Streets table, packed into the same target.
    fs::remove(dir / "out/~temp.zip");
    fs::remove(dir / "out/Out.zip");
    WriteText(dir / "w/Again.WOR", "Open Table \"" + dir / "out/TABLES/DATA/Streets/Streets.TAB\" As Streets\r\n");
    const auto packaged = testing_support::TreeSnapshot(dir / "out/TABLES/DATA/Streets");
    r = RunCommand(testing_support::BinDir() + "/tallomir-batch --to " + dir / "out --zip Again --remove-files " +
                   dir / "w/Again.WOR 2>" + dir / "stderr.txt");
    EXPECT_EQ(r.status, 1) << Stderr();
    EXPECT_NE(Stderr().find("which is being copied"), std::string::npos) << Stderr();
    EXPECT_EQ(testing_support::TreeSnapshot(dir / "out/TABLES/DATA/Streets"), packaged);
    EXPECT_FALSE(Exists(dir / "out/Again.WOR"));  // a copied file, given up for the archive
    EXPECT_TRUE(Entries(dir / "out/Again.zip").count("TABLES/DATA/Streets/Streets.DAT"));
}
