#include <sys/stat.h>

#include "AnalysisFixture.h"
#include "analysis/TextFile.h"

using analysis::Analysis;
using analysis::FileError;
using testing_support::ReadText;

namespace {

TEST_F(AnalysisTest, WorkspaceRewritingLineForLine) {
    NativeTable("Data/Roads");
    NativeTable("Data/World");
    const std::string source = Write("W/Map.wor",
                                     "!Workspace\r\n"
                                     "Open Table \"" +
                                         dir / "Data/Roads.TAB" +
                                         "\" As Roads Interactive ReadOnly\r\n"
                                         "Open Table \"" +
                                         dir / "Data/World" +
                                         "\"\r\n"
                                         "Open Table \"Gone\" As Gone\r\n"
                                         "Set Window FrontWindow() Printer Name \"X\"\r\n"
                                         "  Orientation Portrait\r\n"
                                         "Set Window FrontWindow() Max\r\n"
                                         "  Indented but after no printer line\r\n"
                                         "Set Map Layer 1 Editable On\r\n"
                                         "Set Map Layer 0 Editable On\r\n"
                                         "Graph Using \"Col.3tf\"\r\n"
                                         "last line without an end");
    struct Case {
        bool printer, cd;
        std::vector<std::string> lines;
    } cases[] = {
        {true,
         true,
         {"!Workspace", "Open Table \"TABLES\\Roads\" Interactive", "Open Table \"TABLES\\World\" Interactive",
          "Open Table \"Gone\" As Gone", "", "", "Set Window FrontWindow() Max", "  Indented but after no printer line",
          "", "Set Map Layer 0 Editable On", "Graph Using \"Col.3tf\"", "last line without an end"}},
        {false,
         false,
         {"!Workspace", "Open Table \"TABLES\\Roads\" Interactive", "Open Table \"TABLES\\World\" Interactive",
          "Open Table \"Gone\" As Gone", "Set Window FrontWindow() Printer Name \"X\"", "  Orientation Portrait",
          "Set Window FrontWindow() Max", "  Indented but after no printer line", "Set Map Layer 1 Editable On",
          "Set Map Layer 0 Editable On", "Graph Using \"Col.3tf\"", "last line without an end"}},
    };
    for (const auto& c : cases) {
        state.options.version5 = c.printer;
        state.options.cd = c.cd;
        state.tables.clear();
        ui.events.clear();
        const std::string target = dir / "T/Map.wor";
        testing_support::WriteText(target, "old content that must go");
        analysis.CopyWorkSpace(source, target);
        const std::string text = ReadText(target);
        EXPECT_EQ(analysis::SplitLines(text), c.lines);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
        // The recogniser's side effects: tables appended, the missing table noted again.
        EXPECT_EQ(state.tables.size(), 2u);
        EXPECT_EQ(ui.Notes().size(), 1u);
    }
}

TEST_F(AnalysisTest, PrinterBlockEndsAtTheFirstUnindentedLine) {
    const std::string source =
        Write("W/P.wor", "Set Window 1 Printer\r\n  a\r\n\r\n  b\r\nSet Window 2 PRINTER Name\r\n x\r\n");
    state.options.version5 = true;
    analysis.CopyWorkSpace(source, dir / "W/Out.wor");
    // An empty line does not begin with a blank, so it ends the block.
    EXPECT_EQ(ReadText(dir / "W/Out.wor"), "\r\n\r\n\r\n  b\r\n\r\n\r\n");
}

TEST_F(AnalysisTest, WorkspaceRewritingErrors) {
    const std::string source = Write("W/Map.wor", "!Workspace\r\n");
    EXPECT_THROW(analysis.CopyWorkSpace(dir / "W/Missing.wor", dir / "W/Out.wor"), FileError);
    EXPECT_FALSE(testing_support::Exists(dir / "W/Out.wor"));
    EXPECT_THROW(analysis.CopyWorkSpace(source, dir / "NoFolder/Out.wor"), FileError);
}

TEST_F(AnalysisTest, ViewHeaderRewriting) {
    const std::string path = dir / "T/TABLES/DATA/Big/Big";
    Write("T/TABLES/DATA/Big/Big.tab",
          "!table\r\n!version 300\r\nCreate View Big As\r\nSelect * From Roads, Rivers\nOpen Table \"Roads\" Hide\r"
          "open table \"C:\\Data\\Rivers\" Hide\r\n");
    Analysis::UpdateViewTAB(path);
    const std::string once = ReadText(path + ".tab");
    EXPECT_EQ(once,
              "!table\r\n!version 300\r\nCreate View Big As\r\nSelect * From Roads, Rivers\r\n"
              "OPEN TABLE \"..\\Roads\\Roads\" Hide\r\nOPEN TABLE \"..\\Rivers\\Rivers\" Hide\r\n");
    Analysis::UpdateViewTAB(path);
    EXPECT_EQ(ReadText(path + ".tab"), once);  // a second run changes nothing
    EXPECT_THROW(Analysis::UpdateViewTAB(dir / "T/Missing"), FileError);
}

TEST_F(AnalysisTest, RasterHeaderRewriting) {
    struct Case {
        std::string fileLine, expected;
    } cases[] = {
        {"  File \"D:\\Scans\\Photo.tif\" extra", "File \"Photo.tif\""},
        {"File \"Photo.tif\"", "File \"Photo.tif\""},
        {"file \"C:Photo.jpg\"", "File \"Photo.jpg\""},
        {"  File \"/host/path/Photo.png\"", "File \"Photo.png\""},
    };
    for (const auto& c : cases) {
        const std::string path =
            Write("T/P/Photo.tab", "!table\r\nDefinition Table\r\n" + c.fileLine + "\r\n  Type \"RASTER\"\r\n");
        Analysis::UpdateRasterTAB(dir / "T/P/Photo");
        EXPECT_EQ(ReadText(path), "!table\r\nDefinition Table\r\n" + c.expected + "\r\n  Type \"RASTER\"\r\n")
            << c.fileLine;
    }
}

TEST_F(AnalysisTest, NativeHeaderIsReadButNeverWritten) {
    const std::string text = "!table\nDefinition Table\n  Open Table \"Roads\" As R\n  File \"x\"\n";
    const std::string path = Write("T/N/Native.tab", text);
    struct stat before;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    Analysis::UpdateViewTAB(dir / "T/N/Native");
    Analysis::UpdateRasterTAB(dir / "T/N/Native");
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(ReadText(path), text);
    EXPECT_EQ(before.st_ino, after.st_ino);  // not even replaced by an identical copy
}

}  // namespace
