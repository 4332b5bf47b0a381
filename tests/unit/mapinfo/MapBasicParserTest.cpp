#include <gtest/gtest.h>

#include "engines/mapinfo/MapBasicParser.h"
#include "engines/mapinfo/MapInfoError.h"

using namespace mapinfo;

namespace {

// The statements exactly as the program sends them, then the same with other case and
// other blanks.
TEST(MapBasicParser, TheProgramsStatementsParse) {
    auto open = std::get<OpenTableStmt>(ParseStatement("Open Table \"C:\\Data\\Roads\" As LAYER"));
    EXPECT_EQ(open.path, "C:\\Data\\Roads");
    EXPECT_EQ(open.alias, "LAYER");
    auto open2 = std::get<OpenTableStmt>(ParseStatement("  open   TABLE\"/t/x y\"as   layer  interactive ReadOnly"));
    EXPECT_EQ(open2.path, "/t/x y");
    EXPECT_EQ(open2.alias, "layer");
    EXPECT_TRUE(open2.readOnly);
    EXPECT_TRUE(std::get<OpenTableStmt>(ParseStatement("Open Table \"Roads\"")).alias.empty());

    EXPECT_FALSE(std::get<SetSeamlessStmt>(ParseStatement("Set Table LAYER Seamless Off")).on);
    EXPECT_TRUE(std::get<SetSeamlessStmt>(ParseStatement("set table layer seamless ON")).on);
    EXPECT_EQ(std::get<FetchStmt>(ParseStatement("Fetch First From LAYER")).where, FetchWhere::First);
    EXPECT_EQ(std::get<FetchStmt>(ParseStatement("FETCH\tnext   from LAYER")).where, FetchWhere::Next);

    auto upd = std::get<UpdateStmt>(ParseStatement("Update LAYER Set Table=\"tile01.TAB\" where RowId=7"));
    EXPECT_EQ(upd.alias, "LAYER");
    EXPECT_EQ(upd.column, "Table");
    EXPECT_EQ(upd.value, "tile01.TAB");
    EXPECT_EQ(upd.rowId, 7u);
    auto upd2 = std::get<UpdateStmt>(ParseStatement("update layer set table = \"a \"\"b\"\"\"  WHERE rowid = 0012"));
    EXPECT_EQ(upd2.value, "a \"b\"");
    EXPECT_EQ(upd2.rowId, 12u);

    EXPECT_EQ(std::get<CommitStmt>(ParseStatement("Commit Table LAYER")).alias, "LAYER");
    EXPECT_EQ(std::get<CloseStmt>(ParseStatement("close table Layer")).alias, "Layer");
}

TEST(MapBasicParser, AnythingElseIsRefusedWithTheTextQuoted) {
    const char* statements[] = {
        "",
        "Open",
        "Open Table",
        "Open Table Roads",
        "Open Table \"Roads",
        "Open Table \"x\" As",
        "Open Table \"x\" As L Bogus",
        "Set Table LAYER Seamless",
        "Set Table LAYER Seamless Maybe",
        "Fetch Last From LAYER",
        "Fetch First LAYER",
        "Update LAYER Set Table=\"x\"",
        "Update LAYER Set Table=x where RowId=1",
        "Update LAYER Set Table=\"x\" where RowId=-1",
        "Update LAYER Set Table=\"x\" where RowId=99999999999",
        "Commit LAYER",
        "Close Table",
        "Close Table LAYER now",
        "Drop Table LAYER",
        "Close Table LAYER;",
        "Run Menu Command 1",
    };
    for (const char* s : statements) {
        SCOPED_TRACE(s);
        try {
            ParseStatement(s);
            ADD_FAILURE() << "accepted";
        } catch (const MapInfoError& e) {
            EXPECT_NE(std::string(e.what()).find("\"" + std::string(s) + "\""), std::string::npos) << e.what();
        }
    }
    const char* expressions[] = {"",
                                 "LAYER",
                                 "LAYER.",
                                 "TableInfo(LAYER)",
                                 "TableInfo(LAYER,24",
                                 "EOT()",
                                 "SystemInfo(\"5\")",
                                 "PathToTableName$(x)",
                                 "1+1",
                                 "LAYER.Table.x"};
    for (const char* s : expressions) {
        SCOPED_TRACE(s);
        EXPECT_THROW(ParseExpression(s), MapInfoError);
    }
}

TEST(MapBasicParser, HugeTextsAreRefusedQuicklyWithAShortMessage) {
    std::string huge = "Open Table \"" + std::string(8 * 1024 * 1024, 'a') + "\" As LAYER";
    try {
        ParseStatement(huge);
        FAIL() << "accepted";
    } catch (const MapInfoError& e) {
        EXPECT_LT(std::string(e.what()).size(), 400u);
    }
    EXPECT_THROW(ParseExpression(std::string(3 * 1024 * 1024, '(')), MapInfoError);
}

}  // namespace
