#include <gtest/gtest.h>
#include <csignal>
#include <unistd.h>
#include <sys/wait.h>

#include "app/ConsoleUserInterface.h"
#include "app/pmUtils.h"

TEST(PathHelpers, NamesFoldersAndExtensions) {
    struct Case {
        std::string path, name, folder, ext, noExt;
    } cases[] = {
        {"C:\\Data\\Roads.TAB", "Roads.TAB", "C:\\Data\\", ".TAB", "C:\\Data\\Roads"},
        {"Roads", "Roads", "", "", "Roads"},
        {"..\\maps/roads.v1.tab", "roads.v1.tab", "..\\maps/", ".tab", "..\\maps/roads.v1"},
        {"C:\\Data.d\\Roads", "Roads", "C:\\Data.d\\", "", "C:\\Data"},  // text before the last dot
        {"\\\\srv\\share\\", "", "\\\\srv\\share\\", "", "\\\\srv\\share\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pm::FileNameOf(c.path), c.name) << c.path;
        EXPECT_EQ(pm::FolderOf(c.path), c.folder) << c.path;
        EXPECT_EQ(pm::ExtensionOf(c.path), c.ext) << c.path;
        EXPECT_EQ(pm::WithoutExtension(c.path), c.noExt) << c.path;
    }
    EXPECT_EQ(pm::WithTrailingSeparator("C:\\T"), "C:\\T\\");
    EXPECT_EQ(pm::WithTrailingSeparator("/t/"), "/t/");
    EXPECT_EQ(pm::WithTrailingSeparator(""), "");
    EXPECT_EQ(pm::ToBackslashes("TABLES/DATA/x"), "TABLES\\DATA\\x");
}

TEST(TextHelpers, UpperCasingKeepsEveryPosition) {
    std::string text =
        "Open Table \"C:\\Daten\\Stra\xDF"
        "e\" As Stra\xDF"
        "e";
    std::string upper = pm::UpperAscii(text);
    ASSERT_EQ(upper.size(), text.size());
    EXPECT_EQ(upper.substr(0, 10), "OPEN TABLE");
    std::size_t as = pm::FindUpper(text, " AS ");
    EXPECT_EQ(text.substr(as, 4), " As ");
    EXPECT_EQ(static_cast<unsigned char>(upper[upper.size() - 2]), 0xDFu);  // bytes above 127 kept
    EXPECT_TRUE(pm::EqualNoCase("roads.TAB", "ROADS.tab"));
    EXPECT_FALSE(pm::EqualNoCase("roads", "roads "));
    EXPECT_TRUE(pm::EndsWithNoCase("x.Tab", ".TAB"));
    EXPECT_FALSE(pm::EndsWithNoCase("tab", ".TAB"));
}

TEST(TextHelpers, FindUpperMatchesAnyLetterCaseAtEveryPosition) {
    EXPECT_EQ(pm::FindUpper("type \"raster\"", "TYPE \"RASTER\""), 0u);
    EXPECT_EQ(pm::FindUpper("  File \"a.tif\"", "FILE \""), 2u);
    EXPECT_EQ(pm::FindUpper("x.3tf", ".3TF"), 1u) << "a match that ends the text";
    EXPECT_EQ(pm::FindUpper("aaab", "AAB"), 1u) << "a partial match does not hide the next start";
    EXPECT_EQ(pm::FindUpper("tab", "TABLE"), std::string::npos) << "longer than the text";
    EXPECT_EQ(pm::FindUpper("", "A"), std::string::npos);
    EXPECT_EQ(pm::FindUpper("abc", ""), 0u);
    EXPECT_EQ(pm::FindUpper("Stra\xDF"
                            "e",
                            "STRA\xDF"),
              0u)
        << "bytes above 127 compare as they are";
    EXPECT_EQ(pm::FindUpper("Stra\xFF"
                            "e",
                            "STRA\xDF"),
              std::string::npos);
}

TEST(ConsoleSignals, FirstSignalAsksToStopSecondEndsTheProgram) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        app::ConsoleUserInterface ui(stderr);
        ui.InstallSignalHandlers();
        ::raise(SIGINT);
        if (!ui.ProgressCancelled() || !app::ConsoleUserInterface::Interrupted()) ::_exit(3);
        ::raise(SIGINT);
        ::_exit(4);  // not reached: the second signal ends the program
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGINT);
}

TEST(ConsoleText, LineEndsBecomeLineBreaks) {
    EXPECT_EQ(app::ConsoleUserInterface::WithLineBreaks("a\rb\r\nc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(app::ConsoleUserInterface::WithLineBreaks("\r\r\n"), "\n\n");
}
