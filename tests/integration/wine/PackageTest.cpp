// Packages made by the program's own code: the zip component's conversion with the stub
// built here, and, where the batch front end offers it, a whole copy run with --zip --exe.
// The Windows stub must extract them under Wine byte for byte, and the native stub must
// read the same files and expand the stored read-me command.
#include <gtest/gtest.h>

#include <filesystem>

#include "SfxTestKit.h"
#include "TestSupport.h"
#include "WineSupport.h"
#include "platform/FileSystem.h"
#include "zip/ZipArchiver.h"

namespace fs = std::filesystem;
using namespace testing_support;
using namespace winetest;
using namespace zip;

namespace {

// Every extracted file must be the file it was packed from; returns how many there were.
size_t ExpectSameAs(const std::string& extracted, const std::string& source, const std::string& what) {
    size_t files = 0;
    for (auto& e : fs::recursive_directory_iterator(extracted)) {
        if (!e.is_regular_file()) continue;
        ++files;
        const std::string rel = fs::relative(e.path(), extracted).string();
        EXPECT_TRUE(Exists(source + "/" + rel)) << what << ": " << rel;
        if (Exists(source + "/" + rel)) {
            EXPECT_EQ(ReadText(e.path().string()), ReadText(source + "/" + rel)) << what << ": " << rel;
        }
    }
    return files;
}

// Extracts `package` with the native stub (silently, and once as a user would, to see the
// command it runs) and with the Windows stub under Wine; compares with `source`.
void ExtractEverywhere(const TempDir& tmp, const std::string& package, const std::string& source, size_t files) {
    const std::string native = BinDir() + "/sfxstub-native";
    CommandResult asUser =
        RunCommand("cd '" + tmp.path() + "' && printf '\\n\\n' | '" + native + "' --archive '" + package + "' 2>&1");
    EXPECT_EQ(asUser.status, 0) << asUser.output;
    const std::string folder = fs::path(package).parent_path().string() + "/";
    EXPECT_NE(asUser.output.find("run: notepad.exe|" + folder + "readme.txt|"), std::string::npos) << asUser.output;

    CommandResult silent =
        RunCommand("'" + native + "' --archive '" + package + "' -s '" + (tmp / "native") + "' 2>&1");
    EXPECT_EQ(silent.status, 0) << silent.output;
    EXPECT_EQ(ExpectSameAs(tmp / "native", source, "native"), files);

    if (WineLoader().empty()) GTEST_SKIP() << "wine is not installed";
    CommandResult wine = RunWine(package, "-s '" + WinPath(tmp / "wine") + "'", tmp.path());
    EXPECT_EQ(wine.status, 0) << wine.output;
    EXPECT_EQ(ExpectSameAs(tmp / "wine", source, "wine"), files);
}

}  // namespace

TEST(ProgramPackage, ZipComponentConversionExtractsUnderWine) {
    ASSERT_TRUE(Exists(BinDir() + "/SFXStub.bin")) << "SFXStub.bin is built with the tests";
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    TempDir tmp;
    fs::copy(SourceDir() + "/examples", tmp / "src", fs::copy_options::recursive);
    WriteText(tmp / "src/ReadMe.txt", "Sample project.\r\n");
    WriteText(tmp / "pkg/Sample.zip", sfxtest::InfoZipFolder(tmp / "src"));

    ScopedRecordingUI ui;
    TZipArchiver zip;
    zip.Unattended = true;
    zip.HowToDelete = htdFinal;
    // The values the copy run uses.
    zip.SFXPath = BinDir() + "/SFXStub.bin";
    zip.SFXOverWriteMode = OvrAlways;
    zip.SFXCaption = "Tallomir Self-Extracting Archive";
    zip.SFXCommandLine = "notepad.exe|><readme.txt";
    zip.SetZipFilename(tmp / "pkg/Sample.zip");
    ASSERT_EQ(zip.ConvertToSFX(), 0);
    ASSERT_TRUE(Exists(tmp / "pkg/Sample.exe"));

    size_t files = 0;
    for (auto& e : fs::recursive_directory_iterator(tmp / "src")) files += e.is_regular_file();
    ExtractEverywhere(tmp, tmp / "pkg/Sample.exe", tmp / "src", files);
}

TEST(ProgramPackage, CopyRunPackageExtractsUnderWine) {
    const std::string batch = BinDir() + "/tallomir-batch";
    ASSERT_TRUE(Exists(batch)) << "tallomir-batch is built with the tests";
    ASSERT_TRUE(Exists(BinDir() + "/SFXStub.bin")) << "SFXStub.bin is built with the tests";
    TempDir tmp;
    fs::copy(SourceDir() + "/examples", tmp / "src", fs::copy_options::recursive);
    WriteText(tmp / "message.txt", "Sample project.\r\n");
    CommandResult made =
        RunCommand(batch + " --to '" + (tmp / "out") + "' --cd --autorun --zip Sample.zip --exe --message '" +
                   (tmp / "message.txt") + "' '" + (tmp / "src/City.WOR") + "' 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    ASSERT_TRUE(Exists(tmp / "out/Sample.exe")) << made.output;
    EXPECT_TRUE(Exists(tmp / "out/ReadMe.txt"));
    // Everything but the package itself was packed from the target folder.
    size_t files = 0;
    for (auto& e : fs::recursive_directory_iterator(tmp / "out")) files += e.is_regular_file();
    ExtractEverywhere(tmp, tmp / "out/Sample.exe", tmp / "out", files - 1);
}
