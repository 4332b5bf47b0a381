#pragma once
// A project in a temporary folder, the scripted MapInfo stand-in connected, and a
// recording user interface: the ground every analysis test stands on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "analysis/Analysis.h"

class AnalysisTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a file below the project folder; returns its full path.
    std::string Write(const std::string& rel, const std::string& bytes);
    // A native table: header plus .DAT/.MAP/.ID of the given sizes.
    std::string NativeTable(const std::string& relWithoutExt, std::size_t datSize = 100);
    // What the MapInfo stand-in received, one "Do ..." / "Eval ..." per line.
    std::vector<std::string> MapInfoLog();
    void AddWorkspace(const std::string& rel, const std::string& text);

    testing_support::TempDir dir;
    testing_support::ScopedRecordingUI ui;
    analysis::CopyFormState state;
    analysis::Analysis analysis{state};
    std::string savedCwd;
};
