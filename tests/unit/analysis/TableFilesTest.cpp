#include <sys/stat.h>

#include <algorithm>

#include "AnalysisFixture.h"

using analysis::FileError;

namespace {

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

const char* kRasterHeader(const std::string& file) {
    static std::string text;
    text = "!table\r\n!version 300\r\n\r\nDefinition Table\r\n  File \"" + file +
           "\"\r\n  Type \"RASTER\"\r\n  (0,0) (0,0) Label \"Pt 1\"\r\n";
    return text.c_str();
}

TEST_F(AnalysisTest, NativeTableListsItsFilesWithTheirOnDiskCase) {
    Write("Data/Roads.TAB", "!table\r\n");
    Write("Data/roads.dat", std::string(1000, 'd'));
    Write("Data/Roads.Map", std::string(2000, 'm'));
    Write("Data/ROADS.ID", std::string(30, 'i'));
    Write("Data/Roads2.DAT", "not part of it");
    state.tables = {"Roads " + dir / "Data/Roads"};
    analysis.TableInfo(0);
    EXPECT_EQ(state.info.description, "Roads");
    EXPECT_EQ(state.info.mainFile, dir / "Data/Roads.TAB");
    EXPECT_EQ(Sorted(state.info.fileInfo),
              Sorted({dir / "Data/ROADS.ID", dir / "Data/Roads.Map", dir / "Data/Roads.TAB", dir / "Data/roads.dat"}));
    EXPECT_EQ(state.info.fileSize, std::to_string(1000 + 2000 + 30 + 8));
    // A plain table is opened once and closed again.
    auto log = MapInfoLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "Do Open Table \"" + dir / "Data/Roads\" As LAYER"), log.end());
    EXPECT_EQ(log.back(), "Do Close Table LAYER");
}

TEST_F(AnalysisTest, RasterTablesListHeaderAndImage) {
    Write("Img/Photo.tif", std::string(5000, 'p'));
    Write("Scans/Scan.TIF", std::string(7000, 's'));
    Write("Img/sub/Rel.tif", std::string(11, 'r'));
    struct Case {
        std::string header, file;
        std::vector<std::string> listed;
    } cases[] = {
        {"Img/Photo", "Photo.tif", {dir / "Img/Photo.tab", dir / "Img/Photo.tif"}},
        {"Img/Far", dir / "Scans/Scan.tif", {dir / "Img/Far.tab", dir / "Scans/Scan.TIF"}},
        {"Img/Relative", "sub\\Rel.tif", {dir / "Img/Relative.tab", dir / "Img/sub/Rel.tif"}},
        {"Img/Gone", "Gone.tif", {dir / "Img/Gone.tab"}},
    };
    for (const auto& c : cases) {
        std::string header = Write(c.header + ".tab", kRasterHeader(c.file));
        state.info.fileInfo.clear();
        std::uint64_t total = analysis.GetTableSize(dir / c.header);
        EXPECT_EQ(state.info.fileInfo, c.listed) << c.header;
        std::uint64_t expected = 0;
        for (const auto& f : c.listed) expected += testing_support::ReadText(f).size();
        EXPECT_EQ(total, expected) << c.header;
        EXPECT_TRUE(analysis::Analysis::IsRasterTable(header));
    }
    // A raster table is never asked whether it is seamless.
    state.tables = {"Photo " + dir / "Img/Photo"};
    analysis.TableInfo(0);
    for (const auto& call : MapInfoLog()) EXPECT_EQ(call.find("Open Table"), std::string::npos) << call;
}

TEST_F(AnalysisTest, AccessTableListsItsDatabaseFirst) {
    Write("Data/Sales.mdb", std::string(4000, 'a'));
    Write("Data/Orders.tab",
          "!table\r\nDefinition Table\r\n  Type ACCESS TABLE \"Orders\"\r\n  File \"Sales.mdb\"\r\n");
    Write("Data/Orders.AID", std::string(10, 'x'));
    state.info.fileInfo.clear();
    std::uint64_t total = analysis.GetTableSize(dir / "Data/Orders");
    ASSERT_EQ(state.info.fileInfo.size(), 3u);
    EXPECT_EQ(state.info.fileInfo[0], dir / "Data/Sales.mdb");
    EXPECT_EQ(Sorted({state.info.fileInfo[1], state.info.fileInfo[2]}),
              Sorted({dir / "Data/Orders.tab", dir / "Data/Orders.AID"}));
    EXPECT_EQ(total, 4000u + 10u + testing_support::ReadText(dir / "Data/Orders.tab").size());

    // Raster and Access lines together: a raster table.
    Write("Data/Both.tab", "Type ACCESS TABLE\r\nType \"RASTER\"\r\nFile \"Sales.mdb\"\r\n");
    state.info.fileInfo.clear();
    analysis.GetTableSize(dir / "Data/Both");
    EXPECT_EQ(state.info.fileInfo, (std::vector<std::string>{dir / "Data/Both.tab", dir / "Data/Sales.mdb"}));
}

TEST_F(AnalysisTest, HeaderThatOpensAnotherTableDescribesThatTable) {
    NativeTable("Data/Roads", 500);
    Write("W/Link.TAB", "!table\r\nOpen Table \"" + dir / "Data/Roads" + "\" As Roads\r\n");
    state.tables = {"Link " + dir / "W/Link"};
    analysis.TableInfo(0);
    EXPECT_EQ(state.info.description, "Link");
    EXPECT_EQ(state.info.mainFile, dir / "Data/Roads.TAB");
    EXPECT_EQ(state.info.fileInfo.size(), 4u);
    for (const auto& f : state.info.fileInfo) EXPECT_EQ(f.find("Link"), std::string::npos) << f;
    // The last such line wins.
    Write("W/Two.TAB", "Open Table \"A\" As A\r\nOpen Table \"B\" As B\r\nOpen Table \"C\"\r\n");
    EXPECT_EQ(analysis::Analysis::TableFile(dir / "W/Two.TAB"), "B");
    EXPECT_EQ(analysis::Analysis::TableFile(dir / "Data/Roads.TAB"), dir / "Data/Roads.TAB");
}

TEST_F(AnalysisTest, MissingMainHeaderClearsTheMainFile) {
    NativeTable("Data/Roads");
    Write("W/Link.TAB", "Open Table \"" + dir / "Data/Gone" + "\" As Gone\r\n");
    state.tables = {"Roads " + dir / "Data/Roads", "Link " + dir / "W/Link"};
    analysis.TableInfo(0);
    ASSERT_FALSE(state.info.mainFile.empty());
    analysis.TableInfo(1);
    EXPECT_EQ(state.info.description, "Link");
    EXPECT_EQ(state.info.mainFile, "");  // not the previous table's
    EXPECT_EQ(state.info.fileSize, "0");
    EXPECT_TRUE(state.info.fileInfo.empty());
}

TEST_F(AnalysisTest, SeamlessTableAddsItsTiles) {
    NativeTable("S/Seam", 100);
    NativeTable("S/Tile1", 200);
    NativeTable("T/Tile2", 300);
    Write("S/Seam.tiles", "Tile1.TAB\n" + dir / "T/Tile2.tab" + "\n");
    state.tables = {"Seam " + dir / "S/Seam"};
    analysis.TableInfo(0);
    ASSERT_EQ(state.info.fileInfo.size(), 13u);  // 4 own files + .tiles, 4 + 4 tile files
    EXPECT_EQ(state.info.fileSize,
              std::to_string(testing_support::ReadText(dir / "S/Seam.TAB").size() * 3 + 3 * (1024 + 16) + 600 +
                             testing_support::ReadText(dir / "S/Seam.tiles").size()));
    auto log = MapInfoLog();
    EXPECT_EQ(log.back(), "Do Close Table LAYER");
}

TEST_F(AnalysisTest, DamagedSeamlessTableIsClosedAndDoesNotSpoilTheNext) {
    NativeTable("S/Bad", 100);
    NativeTable("S/Tile1", 200);
    Write("S/Bad.tiles", "Tile1.TAB\n");
    Write("S/Bad.rowfail", "");
    Write("S/Bad.closefail", "");
    NativeTable("S/Good", 100);
    Write("S/Good.tiles", "Tile1.TAB\n");
    state.tables = {"Bad " + dir / "S/Bad", "Good " + dir / "S/Good"};
    analysis.TableInfo(0);  // the row error is swallowed, so is the close error
    EXPECT_EQ(state.info.description, "Bad");
    analysis.TableInfo(1);
    EXPECT_EQ(state.info.fileInfo.size(), 9u);  // the tile was added: LAYER was free again
    EXPECT_TRUE(ui.Notes().empty());
}

class RefreshTest : public AnalysisTest {
protected:
    void Table250000() {
        Write("D/Big.TAB", std::string(1000, 'h'));
        Write("D/Big.DAT", std::string(249000, 'd'));
    }
};

TEST_F(RefreshTest, DiskSpaceFigure) {
    struct Case {
        bool workspace, cd, autoRun;
        std::string text;
    } cases[] = {
        {true, false, false, "252 KiloBytes"}, {true, true, true, "659 KiloBytes"},
        {true, true, false, "252 KiloBytes"},  {false, false, false, "0 KiloBytes"},
        {false, true, true, "407 KiloBytes"},
    };
    Table250000();
    std::string ws = "Open Table \"" + dir / "D/Big" + "\" As Big\r\n";
    ws.resize(3000, ' ');
    Write("W/Map.wor", ws);
    for (const auto& c : cases) {
        int buttonUpdates = 0;
        state.updateButtons = [&] { ++buttonUpdates; };
        state.workspaces.clear();
        if (c.workspace) state.workspaces.push_back(dir / "W/Map.wor");
        state.options.cd = c.cd;
        state.options.autoRun = c.autoRun;
        analysis.Refresh();
        EXPECT_EQ(state.sizeText, c.text);
        EXPECT_EQ(buttonUpdates, 1);
        EXPECT_EQ(state.tables.size(), c.workspace ? 1u : 0u);
    }
}

TEST_F(RefreshTest, EachTableIsDividedOnItsOwnAndGraphsCount) {
    Write("D/A.TAB", std::string(1999, 'a'));  // 1 each when divided alone, 3 together
    Write("D/B.TAB", std::string(1999, 'b'));
    Write("W/G.3tf", std::string(4096, 'g'));
    std::string ws = "Open Table \"" + dir / "D/A" + "\" As A\r\nOpen Table \"" + dir / "D/B" +
                     "\" As B\r\nGraph Using \"G.3tf\"\r\n";
    AddWorkspace("W/Map.wor", ws);
    analysis.Refresh();
    EXPECT_EQ(state.sizeText, std::to_string(1 + 1 + 4) + " KiloBytes");
    EXPECT_EQ(state.graphs.size(), 1u);
    EXPECT_EQ(state.info.description, "B");  // the information holds the last table
}

TEST_F(RefreshTest, AnErrorStopsTheRefreshButTheButtonsAreStillUpdated) {
    Write("D/A.TAB", std::string(5000, 'a'));
    AddWorkspace("W/Map.wor", std::string(2048, ' ') + "\r\nOpen Table \"" + dir / "D/A" + "\" As A\r\n");
    state.workspaces.push_back(dir / "W/Missing.wor");
    int buttonUpdates = 0;
    state.updateButtons = [&] { ++buttonUpdates; };
    EXPECT_THROW(analysis.Refresh(), FileError);
    EXPECT_EQ(buttonUpdates, 1);
    EXPECT_EQ(state.sizeText, "2");  // the partial figure, without " KiloBytes"
    EXPECT_EQ(state.tables.size(), 1u);
    ASSERT_FALSE(ui.events.empty());
    EXPECT_EQ(ui.events.back().kind, "hourglass");
    EXPECT_EQ(ui.events.back().value, 0);
}

TEST_F(RefreshTest, AHeaderThatCannotBeReadStopsTheRefreshInItsTurn) {
    // The headers are read ahead of the refresh: what reading one ended with comes in its turn.
    Write("D/A.TAB", std::string(5000, 'a'));
    ASSERT_EQ(::mkfifo((dir / "D/P.TAB").c_str(), 0644), 0);
    Write("D/C.TAB", std::string(7000, 'c'));
    AddWorkspace("W/Map.wor", "Open Table \"" + dir / "D/A" + "\" As A\r\nOpen Table \"" + dir / "D/P" +
                                  "\" As P\r\nOpen Table \"" + dir / "D/C" + "\" As C\r\n");
    try {
        analysis.Refresh();
        ADD_FAILURE() << "the refresh went on";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find(dir / "D/P"), std::string::npos) << e.what();
    }
    EXPECT_EQ(state.sizeText, "5");  // A's 5 KB counted, not C's
    EXPECT_EQ(state.info.description, "P");
}

}  // namespace
