// Chunks compressed on their own must join into one valid deflate stream: the boundary
// handling is what makes the parallel compression correct.
#include <zlib.h>

#include <gtest/gtest.h>
#include <libdeflate.h>

#include "CompressionPipeline.h"
#include "EngineHarness.h"

using namespace zipengine;

namespace {

std::string InflateRaw(const std::vector<unsigned char>& data, size_t expected) {
    std::string out(expected + 1, '\0');
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
    zs.next_in = const_cast<unsigned char*>(data.data());
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<unsigned char*>(out.data());
    zs.avail_out = uInt(out.size());
    int rc = inflate(&zs, Z_FINISH);
    EXPECT_EQ(rc, Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u);  // nothing after the final block
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

TEST(ZipEngineDeflate, PiecesJoinIntoOneStreamForEveryKindOfData) {
    struct Case {
        const char* what;
        std::string data;
        size_t piece;
        int level;
    };
    const std::vector<Case> cases = {
        {"text, level 9", zipengine_test::TextBytes(600000, 1), 100000, 9},
        {"text, level 1", zipengine_test::TextBytes(300000, 2), 65536, 1},
        {"noise (stored blocks inside)", zipengine_test::RandomBytes(300000, 3), 70000, 9},
        {"zeros", std::string(500000, '\0'), 131072, 9},
        {"one-byte pieces", "abcabcabcabd", 1, 6},
        {"mixed",
         zipengine_test::TextBytes(100000, 4) + zipengine_test::RandomBytes(100000, 5) + std::string(100000, 'x'),
         77777, 9},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.what);
        libdeflate_compressor* c = libdeflate_alloc_compressor(tc.level);
        ASSERT_NE(c, nullptr);
        std::vector<unsigned char> joined, piece;
        const auto* p = reinterpret_cast<const unsigned char*>(tc.data.data());
        for (size_t at = 0; at < tc.data.size(); at += tc.piece) {
            size_t n = std::min(tc.piece, tc.data.size() - at);
            bool final = at + n == tc.data.size();
            ASSERT_TRUE(DeflateChunk(c, p + at, n, final, piece));
            joined.insert(joined.end(), piece.begin(), piece.end());
        }
        libdeflate_free_compressor(c);
        EXPECT_EQ(InflateRaw(joined, tc.data.size()), tc.data);
    }
}

TEST(ZipEngineStrategy, NoiseIsStoredAndOnlyLevelsEightAndNineTryTheThoroughParser) {
    auto noise = zipengine_test::RandomBytes(196608, 6);
    auto text = zipengine_test::TextBytes(196608, 7);
    auto p = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
    EXPECT_EQ(ChooseStrategy(p(noise), noise.size(), 9).level, 0);
    EXPECT_EQ(ChooseStrategy(p(noise), noise.size(), 1).level, 0);
    for (int requested : {1, 3, 6, 7})
        EXPECT_EQ(ChooseStrategy(p(text), text.size(), requested).level, std::min(requested, kFastLevel));
    int best = ChooseStrategy(p(text), text.size(), 9).level;
    EXPECT_TRUE(best == kFastLevel || best == kThoroughLevel) << best;
}

TEST(ZipEnginePipeline, ResultsComeBackInOrderWithTheirCrc) {
    CompressionPipeline pipeline(3);
    std::vector<std::string> inputs;
    for (int i = 0; i < 20; ++i) inputs.push_back(zipengine_test::TextBytes(size_t(1000 + i * 5000), uint32_t(i)));
    size_t next = 0, taken = 0;
    while (taken < inputs.size()) {
        while (next < inputs.size() && pipeline.InFlight() < pipeline.MaxInFlight()) {
            auto chunk = pipeline.Recycled();
            chunk->item = next;
            chunk->first = chunk->last = true;
            chunk->level = int(next % 3) * 5;  // stored, level 5 and level 10
            chunk->input.assign(inputs[next].begin(), inputs[next].end());
            pipeline.Submit(std::move(chunk));
            ++next;
        }
        auto chunk = pipeline.TakeOldest();
        ASSERT_NE(chunk, nullptr);
        EXPECT_EQ(chunk->item, taken);
        EXPECT_EQ(chunk->crc,
                  crc32(0, reinterpret_cast<const Bytef*>(inputs[taken].data()), uInt(inputs[taken].size())));
        if (chunk->level > 0) {
            EXPECT_EQ(InflateRaw(chunk->output, inputs[taken].size()), inputs[taken]);
        }
        pipeline.Recycle(std::move(chunk));
        ++taken;
    }
    EXPECT_EQ(pipeline.TakeOldest(), nullptr);
}

}  // namespace
