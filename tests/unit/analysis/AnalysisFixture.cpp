#include "AnalysisFixture.h"

#include <sstream>

#include "app/Globals.h"
#include "platform/Automation.h"
#include "platform/FileSystem.h"

void AnalysisTest::SetUp() {
    savedCwd = platform::CurrentDir();
    setenv("TALLOMIR_AUTOMATION_PATH", (testing_support::TestBinDir() + "/automation").c_str(), 1);
    app::MapInfoApp().Assign(platform::CreateOleObject("Test.MapInfo"));
    platform::CreateOleObject("Test.MapInfo")->Invoke("Reset", "");
}

void AnalysisTest::TearDown() {
    app::MapInfoApp().Release();
    platform::SetCurrentDir(savedCwd);
}

std::string AnalysisTest::Write(const std::string& rel, const std::string& bytes) {
    testing_support::WriteText(dir / rel, bytes);
    return dir / rel;
}

std::string AnalysisTest::NativeTable(const std::string& rel, std::size_t datSize) {
    Write(rel + ".TAB",
          "!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\nDefinition Table\r\n  Type NATIVE Charset "
          "\"WindowsLatin1\"\r\n  Fields 1\r\n    Name Char (10) ;\r\n");
    Write(rel + ".DAT", std::string(datSize, 'd'));
    Write(rel + ".MAP", std::string(1024, 'm'));
    Write(rel + ".ID", std::string(16, 'i'));
    return dir / rel;
}

std::vector<std::string> AnalysisTest::MapInfoLog() {
    // Every object of the stand-in shares one state, so a second object reads the log.
    std::string log = platform::CreateOleObject("Test.MapInfo")->Invoke("Log", "");
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void AnalysisTest::AddWorkspace(const std::string& rel, const std::string& text) {
    state.workspaces.push_back(Write(rel, text));
}
