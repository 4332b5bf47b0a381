#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "MapInfoFixtures.h"
#include "engines/mapinfo/MapInfoEngine.h"
#include "engines/mapinfo/MapInfoError.h"
#include "platform/FileSystem.h"

using mapinfo::Engine;
using mapinfo::MapInfoError;
using mapinfo_test::kSeamlessMetadata;
using mapinfo_test::WriteNativeTable;
using testing_support::TempDir;
using testing_support::TreeSnapshot;
using testing_support::WriteText;

namespace {

// Every test works on its own copy of the sample project.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        mapinfo_test::CopySample(m_dir / "sample");
        m_sample = m_dir / "sample";
    }
    void TearDown() override { platform::ClearDriveMappings(); }

    std::string ErrorOf(const std::string& statement) {
        try {
            m_engine.Do(statement);
        } catch (const MapInfoError& e) {
            return e.what();
        }
        return "(accepted)";
    }
    std::string EvalErrorOf(const std::string& expression) {
        try {
            m_engine.Eval(expression);
        } catch (const MapInfoError& e) {
            return e.what();
        }
        return "(accepted)";
    }

    TempDir m_dir;
    std::string m_sample;
    Engine m_engine;
};

TEST_F(EngineTest, PathFunctionsAnswerWithMapInfosMeaning) {
    const std::pair<std::string, std::string> cases[] = {
        {"PathToTableName$(\"C:\\Data\\World\")", "World"},
        {"PathToTableName$(\"..\\Base\\Roads.tab\")", "Roads"},
        {"PathToTableName$(\"Roads\")", "Roads"},
        {"PathToTableName$(\"/srv/maps/My Roads-2010.TAB\")", "My_Roads_2010"},
        {"PathToTableName$(\"D:2010 roads\")", "_2010_roads"},
        {"PathToTableName$(\"C:\\x\\city.centre.tab\")", "city_centre"},
        {"PathToTableName$(\"C:\\Data\\\")", ""},
        {"PathToDirectory$(\"C:\\Data\\Roads.TAB\")", "C:\\Data\\"},
        {"PathToDirectory$(\"/srv/maps/Roads.TAB\")", "/srv/maps/"},
        {"PathToDirectory$(\"Roads.TAB\")", ""},
        {"PathToDirectory$(\"..\\Base\\Roads\")", "..\\Base\\"},
        {"SystemInfo(5)", "WindowsLatin1"},
    };
    for (const auto& [expression, answer] : cases) {
        SCOPED_TRACE(expression);
        EXPECT_EQ(m_engine.Eval(expression), answer);
    }
    EXPECT_NE(EvalErrorOf("SystemInfo(6)").find("6"), std::string::npos);
}

TEST_F(EngineTest, FileExistsFollowsThePlatformsLetterCaseAndDriveMap) {
    platform::SetDriveMapping("Q", m_sample);
    const std::pair<std::string, std::string> cases[] = {
        {m_sample + "/Data/Streets.TAB", "T"},
        {m_sample + "/data/STREETS.tab", "T"},
        {m_sample + "\\Data\\Streets.TAB", "T"},
        {"Q:\\Data\\Streets.TAB", "T"},
        {"Q:\\Data\\Nothing.TAB", "F"},
        {m_sample + "/Data", "F"},  // a folder is no file
        {"", "F"},
    };
    for (const auto& [path, answer] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(m_engine.Eval("FileExists(\"" + path + "\")"), answer);
    }
}

TEST_F(EngineTest, TableTypesAndSeamlessFlagOfTheSample) {
    const struct {
        const char* table;
        const char* type;
        const char* seamless;
    } cases[] = {
        {"Data/Streets", "1", "F"},   {"Data/Districts.TAB", "1", "F"}, {"Data/DistrictStreets", "3", "F"},
        {"Imagery/Aerial", "4", "F"}, {"Parcels/Parcels", "1", "T"},    {"Parcels/Parcels2.TAB", "1", "F"},
        {"Rural/Farms", "1", "F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        m_engine.Do("Open Table \"" + m_sample + "/" + c.table + "\" As LAYER");
        EXPECT_EQ(m_engine.Eval("TableInfo(LAYER,3)"), c.type);
        EXPECT_EQ(m_engine.Eval("TableInfo(LAYER,24)"), c.seamless);
        EXPECT_EQ(m_engine.Eval(" tableinfo ( layer , 3 ) "), c.type);
        EXPECT_NE(EvalErrorOf("TableInfo(LAYER,1)").find("code 1 "), std::string::npos);
        m_engine.Do("Close Table LAYER");
    }
    EXPECT_EQ(m_engine.OpenTableCount(), 0u);
}

// The seamless check exactly as the table information step sends it.
TEST_F(EngineTest, SeamlessCheckWalksTheTileRows) {
    std::string folder = m_engine.Eval("PathToDirectory$(\"" + m_sample + "/Parcels/Parcels.TAB\")");
    EXPECT_EQ(m_engine.Eval("FileExists(\"" + folder + "Parcels.TAB\")"), "T");
    m_engine.Do("Open Table \"" + folder + "Parcels\" As LAYER");
    ASSERT_EQ(m_engine.Eval("TableInfo(LAYER,24)"), "T");
    m_engine.Do("Fetch First From LAYER");
    std::vector<std::string> tiles, rows;
    while (m_engine.Eval("EOT(LAYER)") != "T") {
        tiles.push_back(m_engine.Eval("LAYER.Table"));
        rows.push_back(m_engine.Eval("LAYER.RowId"));
        m_engine.Do("Fetch Next From LAYER");
    }
    EXPECT_EQ(tiles, (std::vector<std::string>{"Parcels1.TAB", "Parcels2.TAB", "Parcels3.TAB"}));
    EXPECT_EQ(rows, (std::vector<std::string>{"1", "2", "3"}));
    m_engine.Do("Fetch Next From LAYER");  // past the end it stays there
    EXPECT_EQ(m_engine.Eval("EOT(LAYER)"), "T");
    EXPECT_THROW(m_engine.Eval("LAYER.Description"), MapInfoError);  // no current row
    m_engine.Do("Close Table LAYER");
}

TEST_F(EngineTest, ColumnsAreReadAsTheHeaderTypesThem) {
    m_engine.Do("Open Table \"" + m_sample + "/Data/Districts\" As D");
    m_engine.Do("Fetch First From D");
    EXPECT_EQ(m_engine.Eval("D.Name"), "Old Town");
    EXPECT_EQ(m_engine.Eval("d.population"), "5120");  // a binary Integer column
    m_engine.Do("Open Table \"" + m_sample + "/Rural/Farms\" As F");
    m_engine.Do("Fetch First From F");
    EXPECT_EQ(m_engine.Eval("F.Hectares"), "84.50");
    EXPECT_NE(EvalErrorOf("F.Table").find("F.Table"), std::string::npos);  // no such column
}

TEST_F(EngineTest, OpenFindsTablesByAnySpellingOfThePath) {
    platform::SetDriveMapping("Q", m_sample);
    ASSERT_FALSE(platform::SetCurrentDir(m_sample + "/Rural"));
    const char* paths[] = {
        "Q:\\Data\\Streets", "Q:\\DATA\\streets.tab", "q:/Data/Streets.TAB", "..\\Data\\Streets", "Farms", "farms.TAB",
    };
    for (const char* p : paths) {
        SCOPED_TRACE(p);
        m_engine.Do(std::string("Open Table \"") + p + "\" As LAYER");
        m_engine.Do("Close Table LAYER");
    }
    m_engine.Do("Open Table \"Wells\"");  // no alias: the table name of the path
    m_engine.Do("Fetch First From Wells");
    EXPECT_EQ(m_engine.Eval("Wells.WellId"), "1");
}

// Headers are kept between openings; a changed header must never be answered from what was
// kept, however soon after the last opening it changed and whatever it kept of the old one.
TEST_F(EngineTest, AChangedHeaderIsReadAgain) {
    const std::string folder = m_dir / "kept";
    auto openAndRead = [&](const std::string& column) {
        m_engine.Do("Open Table \"" + folder + "/T\" As T");
        m_engine.Do("Fetch First From T");
        std::string value = m_engine.Eval("T." + column);
        m_engine.Do("Close Table T");
        return value;
    };
    auto makeOld = [&](const std::string& file) {
        struct timespec times[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    };
    WriteNativeTable(folder, "T", {{"Alpha", 10}}, {{"one"}});
    EXPECT_EQ(openAndRead("Alpha"), "one");

    // rewritten at once, same size: within the same clock tick as the last reading
    WriteNativeTable(folder, "T", {{"Bravo", 10}}, {{"two"}});
    EXPECT_EQ(openAndRead("Bravo"), "two");

    // an old header, kept; then another file put in its place with the same size and time
    makeOld(folder + "/T.TAB");
    EXPECT_EQ(openAndRead("Bravo"), "two");
    EXPECT_EQ(openAndRead("Bravo"), "two");
    WriteText(folder + "/new.TAB", mapinfo_test::NativeHeader({{"Carol", 10}}));
    makeOld(folder + "/new.TAB");
    ASSERT_EQ(::rename((folder + "/new.TAB").c_str(), (folder + "/T.TAB").c_str()), 0);
    EXPECT_EQ(openAndRead("Carol"), "two");

    // changed in place: a new time stamp
    makeOld(folder + "/T.TAB");
    EXPECT_EQ(openAndRead("Carol"), "two");
    WriteText(folder + "/T.TAB", mapinfo_test::NativeHeader({{"Delta", 10}}));
    EXPECT_EQ(openAndRead("Delta"), "two");
    EXPECT_NE(EvalErrorOf("T.Carol"), "(accepted)");
}

TEST_F(EngineTest, OpenFailsWithAMessageForEveryMisuse) {
    const std::string d = m_dir.path();
    WriteText(d + "/garbage.TAB", "this is not a table\r\n");
    WriteText(d + "/access.TAB", "!table\r\nDefinition Table\r\n  Type ACCESS Table \"Orders\" File \"Sales.mdb\"\r\n");
    WriteText(d + "/linked.TAB", "!table\r\nDefinition Table\r\n  Type LINKED Connection \"x\"\r\n");
    WriteText(d + "/runs.TAB", "!Table\r\n!Version 300\r\n\r\nRun Application \".\\DATA\\x\\Seamless.Wor\"\r\n");
    WriteText(d + "/view.TAB",
              "!table\r\nOpen Table \"Nowhere\" Hide\r\nCreate View V As\r\nSelect * From Nowhere\r\n");
    WriteText(d + "/photo.TAB", "!table\r\nDefinition Table\r\n  File \"photo.png\"\r\n  Type \"RASTER\"\r\n");
    WriteText(d + "/nodat.TAB", mapinfo_test::NativeHeader({{"Table", 10}}));
    WriteText(d + "/mismatch.TAB", mapinfo_test::NativeHeader({{"A", 4}, {"B", 4}}));
    WriteText(d + "/mismatch.DAT", mapinfo_test::MakeDat({{"A", 4}}, {{"x"}}));
    WriteText(d + "/loop.TAB", "!Table\r\nOpen Table \"loop\" As loop\r\n");
    WriteNativeTable(d, "notiles", {{"Tile", 10}}, {{"a.TAB"}}, kSeamlessMetadata);
    std::filesystem::create_symlink("/dev/zero", d + "/zero.TAB");
    WriteText(d + "/device.TAB", "!Table\r\nOpen Table \"zero\" As z\r\n");
    WriteText(d + "/pipe.TAB", mapinfo_test::NativeHeader({{"Table", 10}}));
    ASSERT_EQ(::mkfifo((d + "/pipe.DAT").c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {"does not exist", "missing.TAB"},
        {"is not a MapInfo table", "garbage"},
        {"Microsoft Access", "access"},
        {"linked", "linked"},
        {"Unable to run the workspace", "runs"},
        {"Nowhere", "view"},
        {"image file", "photo"},
        {"data file", "nodat"},
        {"declares 2 fields", "mismatch"},
        {"too deeply", "loop"},
        {"no character column Table", "notiles"},
        {"no regular file", "device"},
        {"data file", "pipe"},
    };
    for (const auto& [expected, table] : cases) {
        SCOPED_TRACE(table);
        std::string msg = ErrorOf("Open Table \"" + d + "/" + table + "\" As LAYER");
        EXPECT_NE(msg.find(expected), std::string::npos) << msg;
        EXPECT_EQ(m_engine.OpenTableCount(), 0u);
    }
    m_engine.Do("Open Table \"" + m_sample + "/Data/Streets\" As LAYER");
    EXPECT_NE(ErrorOf("Open Table \"" + m_sample + "/Data/Districts\" As layer").find("already open"),
              std::string::npos);
    EXPECT_NE(EvalErrorOf("LAYER.Name").find("no row has been fetched"), std::string::npos);
}

TEST_F(EngineTest, AStubThatOpensAnotherTableOpensThatTable) {
    WriteText(m_dir / "TABLES/Parcels.tab",
              "!Table\r\n!Version 300\r\n!Charset WindowsLatin1\r\n\r\nOpen Table \"..\\sample\\Parcels\\Parcels.TAB\" "
              "As Parcels\r\n");
    m_engine.Do("Open Table \"" + (m_dir / "TABLES/Parcels") + "\" As LAYER");
    EXPECT_EQ(m_engine.Eval("TableInfo(LAYER,24)"), "T");
    m_engine.Do("Close Table LAYER");

    // The stub of a relocated seamless table runs a workspace beside the table.
    std::filesystem::create_directories(m_dir / "TABLES/DATA");
    std::filesystem::copy(m_sample + "/Parcels", m_dir / "TABLES/DATA/Lots");
    WriteText(m_dir / "TABLES/Lots.Tab",
              "!Table\r\n!Version 300\r\n!Charset WindowsLatin1\r\n\r\n"
              "Run Application \".\\DATA\\Lots\\Seamless.Wor\"\r\n");
    WriteText(m_dir / "TABLES/DATA/Lots/Seamless.wor",
              "!Workspace\r\n!Version 400\r\n!Charset WindowsLatin1\r\n\r\nOpen Table \"Parcels\" As Lots\r\n");
    m_engine.Do("Open Table \"" + (m_dir / "TABLES/Lots") + "\" As LAYER");
    EXPECT_EQ(m_engine.Eval("TableInfo(LAYER,24)"), "T");
}

TEST_F(EngineTest, CursorSkipsDeletedRowsAndNumbersRowsByRecord) {
    WriteNativeTable(m_dir.path(), "T", {{"Table", 20}}, {{"a.TAB"}, {"gone.TAB"}, {"c.TAB"}, {"gone2.TAB"}}, "",
                     {false, true, false, true});
    WriteNativeTable(m_dir.path(), "Empty", {{"Table", 20}}, {});
    m_engine.Do("Open Table \"" + (m_dir / "T") + "\" As LAYER");
    EXPECT_EQ(m_engine.Eval("EOT(LAYER)"), "F");
    EXPECT_NE(EvalErrorOf("LAYER.Table").find("no row has been fetched"), std::string::npos);
    m_engine.Do("Fetch Next From LAYER");  // before the first row: the first row
    EXPECT_EQ(m_engine.Eval("LAYER.RowId"), "1");
    m_engine.Do("Fetch Next From LAYER");
    EXPECT_EQ(m_engine.Eval("LAYER.RowId"), "3");
    EXPECT_EQ(m_engine.Eval("LAYER.Table"), "c.TAB");
    m_engine.Do("Fetch Next From LAYER");
    EXPECT_EQ(m_engine.Eval("EOT(LAYER)"), "T");
    EXPECT_NE(EvalErrorOf("LAYER.RowId").find("end of the table"), std::string::npos);
    m_engine.Do("Fetch First From LAYER");
    EXPECT_EQ(m_engine.Eval("LAYER.RowId"), "1");

    m_engine.Do("Open Table \"" + (m_dir / "Empty") + "\" As E");
    m_engine.Do("Fetch First From E");
    EXPECT_EQ(m_engine.Eval("EOT(E)"), "T");

    m_engine.Do("Open Table \"" + m_sample + "/Imagery/Aerial\" As A");
    EXPECT_THROW(m_engine.Do("Fetch First From A"), MapInfoError);
    EXPECT_THROW(m_engine.Eval("EOT(A)"), MapInfoError);
}

TEST_F(EngineTest, UpdatesCommitIntoTheDataFileOnly) {
    WriteNativeTable(m_dir.path(), "S", {{"Table", 40}, {"Descr", 8}},
                     {{"/old/place/t1.TAB", "one"}, {"C:\\Maps\\Tiles\\t2.TAB", "two"}}, kSeamlessMetadata);
    WriteText(m_dir / "S.MAP", "map bytes");
    WriteText(m_dir / "S.ID", "id bytes");
    auto before = TreeSnapshot(m_dir.path());
    m_engine.Do("Open Table \"" + (m_dir / "S") + "\" As LAYER");
    // Seamless rows change only with seamless behaviour off.
    EXPECT_NE(ErrorOf("Update LAYER Set Table=\"t2.TAB\" where RowId=2").find("Seamless Off"), std::string::npos);
    m_engine.Do("Set Table LAYER Seamless Off");
    m_engine.Do("Update LAYER Set Table=\"t2.TAB\" where RowId=2");
    m_engine.Do("Fetch First From LAYER");
    m_engine.Do("Fetch Next From LAYER");
    EXPECT_EQ(m_engine.Eval("LAYER.Table"), "t2.TAB");  // seen before the commit
    EXPECT_EQ(TreeSnapshot(m_dir.path()), before);      // nothing written yet
    m_engine.Do("Commit Table LAYER");
    m_engine.Do("Close Table LAYER");

    auto after = TreeSnapshot(m_dir.path());
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        SCOPED_TRACE(after[i].first);
        if (after[i].first == "S.DAT") EXPECT_NE(after[i].second, before[i].second);
        else EXPECT_EQ(after[i], before[i]);
    }
    m_engine.Do("Open Table \"" + (m_dir / "S") + "\" As LAYER");
    m_engine.Do("Fetch First From LAYER");
    EXPECT_EQ(m_engine.Eval("LAYER.Table"), "/old/place/t1.TAB");
    m_engine.Do("Fetch Next From LAYER");
    EXPECT_EQ(m_engine.Eval("LAYER.Table"), "t2.TAB");
    EXPECT_EQ(m_engine.Eval("LAYER.Descr"), "two");
}

TEST_F(EngineTest, FailedUpdatesAndUncommittedCloseLeaveTheFilesAsTheyWere) {
    WriteNativeTable(m_dir.path(), "S", {{"Table", 10}, {"N", 4}}, {{"a.TAB", "1"}, {"b.TAB", "2"}}, "", {false, true});
    // A header that types N as Integer: not a text column.
    WriteText(m_dir / "S.TAB",
              "!table\r\nDefinition Table\r\n Type NATIVE\r\n Fields 2\r\n  Table Char (10) ;\r\n  N Integer ;\r\n");
    auto before = TreeSnapshot(m_dir.path());
    m_engine.Do("Open Table \"" + (m_dir / "S") + "\" As LAYER");
    const std::pair<std::string, std::string> cases[] = {
        {"Update LAYER Set Table=\"abcdefghijk\" where RowId=1", "longer than"},
        {"Update LAYER Set Table=\"x\" where RowId=0", "no row 0"},
        {"Update LAYER Set Table=\"x\" where RowId=3", "no row 3"},
        {"Update LAYER Set Table=\"x\" where RowId=2", "deleted"},
        {"Update LAYER Set Nothing=\"x\" where RowId=1", "Nothing"},
        {"Update LAYER Set N=\"7\" where RowId=1", "not a character column"},
        {"Update OTHER Set Table=\"x\" where RowId=1", "not open"},
        {"Set Table LAYER Seamless Off", "not a seamless table"},
        {"Frobnicate LAYER", "\"Frobnicate LAYER\""},
    };
    for (const auto& [statement, expected] : cases) {
        SCOPED_TRACE(statement);
        std::string msg = ErrorOf(statement);
        EXPECT_NE(msg.find(expected), std::string::npos) << msg;
    }
    m_engine.Do("Commit Table LAYER");  // nothing changed: nothing written
    m_engine.Do("Fetch First From LAYER");
    EXPECT_EQ(m_engine.Eval("LAYER.Table"), "a.TAB");
    m_engine.Do("Update LAYER Set Table=\"z.TAB\" where RowId=1");
    EXPECT_EQ(m_engine.Eval("LAYER.Table"), "z.TAB");
    m_engine.Do("Close Table LAYER");  // discards the update
    EXPECT_EQ(TreeSnapshot(m_dir.path()), before);
    EXPECT_NE(ErrorOf("Close Table LAYER").find("not open"), std::string::npos);
}

TEST_F(EngineTest, ReadOnlyTablesRefuseChanges) {
    WriteNativeTable(m_dir.path(), "R", {{"Table", 10}}, {{"a.TAB"}});
    m_engine.Do("Open Table \"" + (m_dir / "R") + "\" As LAYER ReadOnly");
    EXPECT_NE(ErrorOf("Update LAYER Set Table=\"b\" where RowId=1").find("read-only"), std::string::npos);
    m_engine.Do("Close Table LAYER");

    auto before = TreeSnapshot(m_dir.path());
    ::chmod((m_dir / "R.DAT").c_str(), 0444);
    m_engine.Do("Open Table \"" + (m_dir / "R") + "\" As LAYER");
    m_engine.Do("Update LAYER Set Table=\"b\" where RowId=1");
    EXPECT_NE(ErrorOf("Commit Table LAYER").find("read-only"), std::string::npos);
    EXPECT_EQ(TreeSnapshot(m_dir.path()), before);
}

}  // namespace
