// The runtime as the program reaches it: the automation class "MapInfo.Runtime" from the
// built tree's automation folder, called by method name.
#include <gtest/gtest.h>

#include <filesystem>

#include "MapInfoFixtures.h"
#include "platform/Automation.h"

using platform::AutomationError;
using platform::CreateOleObject;
using testing_support::HaveTool;
using testing_support::RunCommand;
using testing_support::TempDir;
using testing_support::TreeSnapshot;
using testing_support::WriteText;

namespace {

std::string Shell(const std::string& s) { return "'" + s + "'"; }

TEST(RuntimePlugin, CreateOleObjectGivesAWorkingServer) {
    auto mapinfo = CreateOleObject("MapInfo.Runtime");
    EXPECT_EQ(mapinfo->Invoke("Eval", "SystemInfo(5)"), "WindowsLatin1");
    EXPECT_EQ(mapinfo->Invoke("eval", "PathToTableName$(\"C:\\Data\\World\")"), "World");
    EXPECT_EQ(
        mapinfo->Invoke("Do", "Open Table \"" + testing_support::SourceDir() + "/examples/Data/Streets\" As LAYER"),
        "");
    EXPECT_EQ(mapinfo->Invoke("Eval", "TableInfo(LAYER,3)"), "1");
    mapinfo->Invoke("Do", "Close Table LAYER");
    try {
        mapinfo->Invoke("Do", "Drop Table LAYER");
        FAIL() << "accepted";
    } catch (const AutomationError& e) {
        EXPECT_NE(std::string(e.what()).find("\"Drop Table LAYER\""), std::string::npos) << e.what();
    }
    EXPECT_THROW(mapinfo->Invoke("RunMenuCommand", "1"), AutomationError);
    // Texts with any bytes, and huge ones, are answered with an error, not a crash.
    EXPECT_THROW(mapinfo->Invoke("Do", std::string("Open\0Table", 10)), AutomationError);
    EXPECT_THROW(mapinfo->Invoke("Eval", std::string(4 << 20, 'x')), AutomationError);
}

// Makes a MapInfo table with GDAL's ogr2ogr from CSV rows with WKT geometries.
void Ogr2Ogr(const std::string& dir, const std::string& name, const std::string& header, const std::string& types,
             const std::vector<std::string>& rows) {
    std::string csv = header + "\n";
    for (const std::string& r : rows) csv += r + "\n";
    WriteText(dir + "/" + name + ".csv", csv);
    WriteText(dir + "/" + name + ".csvt", types + "\n");
    auto r = RunCommand("cd " + Shell(dir) + " && ogr2ogr -q -f 'MapInfo File' " + name + ".tab " + name +
                        ".csv -oo GEOM_POSSIBLE_NAMES=WKT -oo KEEP_GEOM_COLUMNS=NO -a_srs EPSG:4326 2>&1 && rm " +
                        name + ".csv " + name + ".csvt");
    ASSERT_EQ(r.status, 0) << r.output;
}

// Three tiles and a seamless table whose rows name the tiles by their full paths.
void MakeSeamless(const std::string& dir) {
    for (int i = 1; i <= 3; ++i) {
        std::string x0 = std::to_string(i - 1), x1 = std::to_string(i), n = std::to_string(i);
        Ogr2Ogr(dir, "tile" + n, "WKT,Code", "WKT,String(10)",
                {"\"POLYGON ((" + x0 + " 0," + x1 + " 0," + x1 + " 1," + x0 + " 0))\",T" + n + "A",
                 "\"POINT (" + x0 + ".5 0.5)\",T" + n + "B"});
    }
    std::vector<std::string> rows;
    for (int i = 1; i <= 3; ++i) {
        std::string x0 = std::to_string(i - 1), x1 = std::to_string(i);
        rows.push_back("\"POLYGON ((" + x0 + " 0," + x1 + " 0," + x1 + " 1," + x0 + " 0))\"," + dir + "/tile" +
                       std::to_string(i) + ".tab");
    }
    Ogr2Ogr(dir, "seam", "WKT,Table", "WKT,String(200)", rows);
    std::string header = testing_support::ReadText(dir + "/seam.tab");
    WriteText(dir + "/seam.tab", header + "begin_metadata\n\"\\IsSeamless\" = \"TRUE\"\nend_metadata\n");
}

// The attribute values and geometries GDAL reads from a table, without layer names and ids.
// GDAL joins a seamless row's path to the folder the table was named with, so the table
// is named from its own folder: then full paths and bare names both resolve.
std::string Features(const std::string& folder, const std::string& tab) {
    return RunCommand("cd " + Shell(folder) + " && ogrinfo -ro -al -q " + tab +
                      " | grep -E '^  [A-Za-z]+ \\(|^  (POLYGON|POINT)'")
        .output;
}

TEST(RuntimePlugin, SeamlessRowsRelocatedToBareNamesAreReadByGdal) {
    if (!HaveTool("ogr2ogr") || !HaveTool("ogrinfo")) GTEST_SKIP() << "gdal-bin is not installed";
    TempDir dir;
    std::string src = dir / "src";
    std::filesystem::create_directories(src);
    MakeSeamless(src);
    if (HasFatalFailure()) return;
    std::string featuresBefore = Features(src, "seam.tab");
    ASSERT_NE(featuresBefore.find("T3B"), std::string::npos) << featuresBefore;

    // The seamless branch of the copy run, text for text.
    auto mapinfo = CreateOleObject("MapInfo.Runtime");
    mapinfo->Invoke("Do", "Open Table \"" + src + "/seam.tab\" As LAYER");
    ASSERT_EQ(mapinfo->Invoke("Eval", "TableInfo(LAYER,24)"), "T");
    mapinfo->Invoke("Do", "Set Table LAYER Seamless Off");
    mapinfo->Invoke("Do", "Fetch First From LAYER");
    int rows = 0;
    while (mapinfo->Invoke("Eval", "EOT(LAYER)") != "T") {
        std::string r = mapinfo->Invoke("Eval", "LAYER.Table");
        int n = std::stoi(mapinfo->Invoke("Eval", "LAYER.RowId"));
        std::string f = r.substr(r.find_last_of("\\/") + 1);
        mapinfo->Invoke("Do", "Update LAYER Set Table=\"" + f + "\" where RowId=" + std::to_string(n));
        mapinfo->Invoke("Do", "Fetch Next From LAYER");
        ++rows;
    }
    EXPECT_EQ(rows, 3);
    mapinfo->Invoke("Do", "Commit Table LAYER");
    EXPECT_EQ(mapinfo->Invoke("Eval", "TableInfo(LAYER,3)"), "1");
    mapinfo->Invoke("Do", "Close Table LAYER");

    // Moved elsewhere, the table still finds its tiles: the rows name them by bare names.
    std::string moved = dir / "moved";
    std::filesystem::rename(src, moved);
    EXPECT_EQ(Features(moved, "seam.tab"), featuresBefore);
    // GDAL reads the rows themselves through a plain header over the same data file.
    for (const char* ext : {".dat", ".map", ".id"})
        std::filesystem::copy_file(moved + "/seam" + ext, moved + "/plain" + ext);
    WriteText(moved + "/plain.tab",
              "!table\n!version 300\n!charset Neutral\n\nDefinition Table\n  Type NATIVE Charset \"Neutral\"\n"
              "  Fields 1\n    Table Char (200) ;\n");
    std::string plain =
        RunCommand("ogrinfo -ro -al -q " + Shell(moved + "/plain.tab") + " | grep 'Table (String)'").output;
    EXPECT_EQ(plain, "  Table (String) = tile1.tab\n  Table (String) = tile2.tab\n  Table (String) = tile3.tab\n");
}

TEST(RuntimePlugin, FailedUpdateAndUncommittedCloseLeaveSourceFilesByteIdentical) {
    TempDir dir;
    mapinfo_test::CopySample(dir / "s");
    auto before = TreeSnapshot(dir.path());
    auto mapinfo = CreateOleObject("MapInfo.Runtime");
    mapinfo->Invoke("Do", "Open Table \"" + (dir / "s/Parcels/Parcels") + "\" As LAYER");
    mapinfo->Invoke("Do", "Set Table LAYER Seamless Off");
    EXPECT_THROW(mapinfo->Invoke("Do", "Update LAYER Set Table=\"" + std::string(101, 'x') + "\" where RowId=1"),
                 AutomationError);
    EXPECT_THROW(mapinfo->Invoke("Do", "Update LAYER Set Table=\"x\" where RowId=4"), AutomationError);
    mapinfo->Invoke("Do", "Update LAYER Set Table=\"Other.TAB\" where RowId=1");
    mapinfo->Invoke("Do", "Close Table LAYER");
    mapinfo.reset();
    EXPECT_EQ(TreeSnapshot(dir.path()), before);
}

}  // namespace
