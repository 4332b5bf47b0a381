#include "AnalysisFixture.h"
#include "app/Globals.h"
#include "platform/FileSystem.h"

using analysis::FileError;

namespace {

TEST_F(AnalysisTest, TableRecogniserOnOddLines) {
    NativeTable("W/Roads");
    NativeTable("W/Base/Rivers");
    NativeTable("W/World");
    const std::string ws = Write("W/Sub/A.wor", "");
    const std::string wsTop = Write("W/Map.wor", "");
    struct Case {
        std::string workspace, line, alias, entry;
    } cases[] = {
        {wsTop, "Open Table \"Roads\" As Roads Interactive", "Roads", "Roads " + dir / "W/Roads"},
        {ws, "open table \"..\\Base\\Rivers.tab\" as R", "R", "R " + dir / "W/Base/Rivers"},
        {wsTop, "Open Table \"World\"", "World", "World " + dir / "W/World"},
        {wsTop, "Open Table \"Roads.TAB\" As Roads", "Roads", "Roads " + dir / "W/Roads"},
        {wsTop, "  OPEN TABLE\"roads\" AS Streets ReadOnly", "Streets", "Streets " + dir / "W/roads"},
        {wsTop, "Set Map Layer 1 Display Global", "", ""},
        {wsTop, "Open Table Roads As Roads", "", ""},    // no quotes: empty path, missing
        {wsTop, "Open Table \"Roads As Roads", "", ""},  // one quote: empty path, missing
    };
    for (const auto& c : cases) {
        state.tables.clear();
        EXPECT_EQ(analysis.GetTableName(c.workspace, c.line), c.alias) << c.line;
        if (c.entry.empty()) {
            EXPECT_TRUE(state.tables.empty()) << c.line;
        } else {
            ASSERT_EQ(state.tables.size(), 1u) << c.line;
            EXPECT_EQ(state.tables[0], c.entry);
        }
    }
    // Only the line without " AS " asked MapInfo, with the path as the workspace wrote it.
    auto log = MapInfoLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "Eval PathToTableName$(\"World\")");
    // Two of the lines are table references whose header does not exist.
    EXPECT_EQ(ui.Notes().size(), 2u);
}

TEST_F(AnalysisTest, MissingTablesAreNotedAndReadingGoesOn) {
    NativeTable("W/Roads");
    AddWorkspace("W/Map.wor",
                 "!Workspace\r\nOpen Table \"Gone\" As Gone Interactive\r\nOpen Table \"Roads\" As Roads\r\n");
    analysis.ReadWorkspace(0);
    ASSERT_EQ(ui.Notes().size(), 1u);
    EXPECT_EQ(ui.Notes()[0], "The workspace references a table that does not exist. " + dir / "W/Gone.tab");
    ASSERT_EQ(state.tables.size(), 1u);
    EXPECT_EQ(state.tables[0], "Roads " + dir / "W/Roads");
    // The current folder is left at the folder of the workspace read.
    EXPECT_EQ(platform::CurrentDir(), platform::ResolveCase(dir / "W").value());
}

TEST_F(AnalysisTest, DuplicatesIgnoreLetterCaseButNotAliases) {
    NativeTable("W/Roads");
    AddWorkspace("W/One.wor", "Open Table \"Roads\" As Roads\r\nOpen Table \"ROADS\" As roads\r\n");
    AddWorkspace("W/Two.wor", "Open Table \"roads.tab\" As Roads\r\nOpen Table \"Roads\" As Streets\r\n");
    analysis.ReadWorkspace(0);
    analysis.ReadWorkspace(1);
    ASSERT_EQ(state.tables.size(), 2u);
    EXPECT_EQ(state.tables[0], "Roads " + dir / "W/Roads");  // first spelling kept
    EXPECT_EQ(state.tables[1], "Streets " + dir / "W/Roads");
}

TEST_F(AnalysisTest, GraphRecogniser) {
    Write("W/Column.3tf", "graph");
    Write("G/Abs.3TF", "graph");
    AddWorkspace("W/First.wor", "");
    AddWorkspace("W/Map.wor", "");
    const std::string ws = state.workspaces[1];
    struct Case {
        std::string line, entry, note;
    } cases[] = {
        {"Create Graph Using \"Column.3tf\" Series In Columns", "1 " + dir / "W/Column.3tf", ""},
        {"  using \"column.3TF\"", "1 " + dir / "W/column.3TF", ""},  // found without case
        {"Using \"" + dir / "G/Abs.3TF" + "\"", "1 " + dir / "G/Abs.3TF", ""},
        {"Graph Using \"Missing.3tf\"", "",
         "The workspace references a graph file that does not exist. " + dir / "W/Missing.3tf"},
        {"Graph Using \"Column\"", "", ""},  // USING " but no .3TF
        {"Graph \"Column.3tf\"", "", ""},    // .3TF but no USING "
        {"Column.3tf Using \"x\"", "", ""},  // .3TF only before the USING
    };
    for (const auto& c : cases) {
        state.graphs.clear();
        ui.events.clear();
        analysis.GetGraphName(ws, c.line);
        if (c.entry.empty()) EXPECT_TRUE(state.graphs.empty()) << c.line;
        else EXPECT_EQ(state.graphs, std::vector<std::string>{c.entry}) << c.line;
        if (c.note.empty()) EXPECT_TRUE(ui.Notes().empty()) << c.line;
        else EXPECT_EQ(ui.Notes(), std::vector<std::string>{c.note}) << c.line;
    }
}

TEST_F(AnalysisTest, UnreadableWorkspaceReachesTheCallerAndKeepsWhatWasFound) {
    NativeTable("W/Roads");
    AddWorkspace("W/Good.wor", "Open Table \"Roads\" As Roads\r\n");
    state.workspaces.push_back(dir / "W/Missing.wor");
    state.workspaces.push_back(dir / "Gone/Folder.wor");
    analysis.ReadWorkspace(0);
    EXPECT_THROW(analysis.ReadWorkspace(1), FileError);
    EXPECT_THROW(analysis.ReadWorkspace(2), FileError);
    EXPECT_EQ(state.tables.size(), 1u);
}

TEST_F(AnalysisTest, MapInfoErrorOfTheAliasQuestionReachesTheCaller) {
    NativeTable("W/World");
    AddWorkspace("W/Map.wor", "Open Table \"World\"\r\n");
    app::MapInfoApp().Release();  // every call now fails
    EXPECT_THROW(analysis.ReadWorkspace(0), app::MapInfoError);
}

}  // namespace
