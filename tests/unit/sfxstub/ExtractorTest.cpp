// Extraction driven in-process: Cancel in the middle of a large file leaves nothing behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "Extractor.h"
#include "SfxTestKit.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

class CancelLater : public sfx::ExtractUI {
public:
    explicit CancelLater(int allowed) : m_allowed(allowed) {}
    sfx::Answer AskOverwrite(const std::string&) override { return sfx::Answer::Yes; }
    void Progress(size_t, size_t, const std::string&) override {}
    bool Cancelled() override { return ++calls > m_allowed; }
    int calls = 0;

private:
    int m_allowed;
};

}  // namespace

TEST(SfxExtractor, CancelInsideALargeFileRemovesThePartAndKeepsTheOldFile) {
    testing_support::TempDir tmp;
    testing_support::WriteText(tmp / "out/big.bin", "older");
    std::string big(5 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 31 >> 7);
    const std::string file =
        sfxtest::MakeSfx("", sfxtest::Header(sfx::SfxOverwriteAlways),
                         sfxtest::BuildZip({{"first.txt", "1"}, {"big.bin", big}, {"last.txt", "3"}}));
    sfx::MemorySource source(file.data(), file.size());
    sfx::SfxArchive archive;
    ASSERT_TRUE(sfx::OpenSfxArchive(source, archive, true).ok);

    sfx::ExtractOptions options;
    options.folder = tmp / "out/";
    options.overwrite = sfx::Overwrite::Always;
    CancelLater ui(3);  // before first.txt, before big.bin, after its first megabyte
    sfx::ExtractReport report = sfx::ExtractAll(source, archive, options, ui);
    EXPECT_TRUE(report.cancelled);
    EXPECT_EQ(report.extracted, 1u);
    EXPECT_EQ(testing_support::ReadText(tmp / "out/big.bin"), "older");
    EXPECT_FALSE(testing_support::Exists(tmp / "out/last.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp / "out"), fs::directory_iterator()), 2);
}
