#include "CompressionPipeline.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "System.h"

namespace zipengine {

namespace {

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Finds the bit at which the last block of a complete raw deflate stream begins and the bit
// at which the stream ends, by decoding it block by block.
bool FindLastBlock(const unsigned char* data, size_t size, uint64_t& lastBlockBit, uint64_t& endBit) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return false;
    std::vector<unsigned char> sink(size_t(1) << 16);
    zs.next_in = const_cast<unsigned char*>(data);
    zs.avail_in = uInt(size);
    uint64_t boundary = 0;  // bit position of the block header about to be read
    bool ok = false;
    for (;;) {
        zs.next_out = sink.data();
        zs.avail_out = uInt(sink.size());
        int rc = inflate(&zs, Z_BLOCK);
        if (rc == Z_STREAM_END) {
            ok = false;  // stops at the block boundary before the end are expected first
            break;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) break;
        if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;
        // Bit 7 of data_type: stopped at a block boundary; bit 6: the block just ended was the
        // last one; the low bits: unused bits in the last byte read.
        if (zs.data_type & 128) {
            uint64_t here = uint64_t(zs.total_in) * 8 - uint64_t(zs.data_type & 63);
            if (zs.data_type & 64) {
                lastBlockBit = boundary;
                endBit = here;
                ok = true;
                break;
            }
            boundary = here;
        }
    }
    inflateEnd(&zs);
    return ok;
}

}  // namespace

bool DeflateChunk(void* compressor, const unsigned char* input, size_t size, bool final,
                  std::vector<unsigned char>& output) {
    auto* c = static_cast<libdeflate_compressor*>(compressor);
    output.resize(libdeflate_deflate_compress_bound(c, size) + 8);
    size_t n = libdeflate_deflate_compress(c, input, size, output.data(), output.size());
    if (n == 0) return false;
    output.resize(n);
    if (final) return true;
    uint64_t lastBlockBit = 0, endBit = 0;
    if (!FindLastBlock(output.data(), output.size(), lastBlockBit, endBit) || endBit > uint64_t(n) * 8) return false;
    // Clear the last block's "final" bit, then close with an empty stored block (three header
    // bits, padding to the byte, LEN 0, NLEN 0xFFFF), which ends on a byte boundary.
    output[lastBlockBit / 8] &= uint8_t(~(1u << (lastBlockBit % 8)));
    size_t bytes = size_t((endBit + 3 + 7) / 8);
    output.resize(bytes);
    // The stored block header bits are zero; clear whatever the encoder left after the end.
    if (endBit % 8) output[endBit / 8] &= uint8_t((1u << (endBit % 8)) - 1);
    for (size_t i = size_t((endBit + 7) / 8); i < bytes; ++i) output[i] = 0;
    const unsigned char marker[4] = {0x00, 0x00, 0xFF, 0xFF};
    output.insert(output.end(), marker, marker + 4);
    return true;
}

namespace {
// A trial that leaves more than this of the sample marks data deflate cannot usefully shrink
// (already compressed, or noise): it is stored.
constexpr double kIncompressible = 0.985;
// The thorough level is taken when it saves at least this fraction over the fast one...
constexpr double kThoroughGain = 0.04;
// ...and costs at most this many times the fast one's time.
constexpr double kThoroughCost = 6.0;
}  // namespace

StrategyChooser::StrategyChooser() = default;

StrategyChooser::~StrategyChooser() {
    for (void* c : m_compressors)
        if (c) libdeflate_free_compressor(static_cast<libdeflate_compressor*>(c));
}

size_t StrategyChooser::Trial(int level, const unsigned char* data, size_t size, double& seconds) {
    if (!m_compressors[level]) m_compressors[level] = libdeflate_alloc_compressor(level);
    auto* c = static_cast<libdeflate_compressor*>(m_compressors[level]);
    if (!c) return size;
    std::vector<unsigned char> out(libdeflate_deflate_compress_bound(c, size));
    if (!m_warm[level]) {
        // The first run touches the compressor's tables; timing it would count page faults.
        libdeflate_deflate_compress(c, data, size, out.data(), out.size());
        m_warm[level] = true;
    }
    double start = sys::TrialSeconds();
    size_t n = libdeflate_deflate_compress(c, data, size, out.data(), out.size());
    seconds = sys::TrialSeconds() - start;
    return n == 0 ? size : n;
}

Strategy StrategyChooser::Choose(const unsigned char* sample, size_t size, int requested) {
    Strategy s;
    s.level = std::clamp(std::min(requested, kFastLevel), 0, 12);
    if (size == 0 || requested <= 0) return s;
    double fastTime = 0, thoroughTime = 0;
    size_t fast = Trial(s.level, sample, size, fastTime);
    if (double(fast) > kIncompressible * double(size)) {
        s.level = 0;
        return s;
    }
    if (requested >= 8) {
        size_t thorough = Trial(kThoroughLevel, sample, size, thoroughTime);
        if (double(thorough) <= (1.0 - kThoroughGain) * double(fast) &&
            thoroughTime <= kThoroughCost * std::max(fastTime, 1e-6))
            s.level = kThoroughLevel;
    }
    return s;
}

CompressionPipeline::CompressionPipeline(unsigned threads) {
    // Each chunk in flight holds its input and output (about twice kChunkSize): the caps keep
    // the whole pipeline well under 256 MB however many cores the machine has.
    threads = std::clamp(threads, 1u, kMaxThreads);
    m_maxInFlight = std::min(size_t(threads) * 2 + 2, kMaxInFlight);
    for (unsigned i = 0; i < threads; ++i) m_threads.emplace_back([this] { Work(); });
}

CompressionPipeline::~CompressionPipeline() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_work.clear();
    }
    m_workReady.notify_all();
    for (auto& t : m_threads) t.join();
}

size_t CompressionPipeline::InFlight() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_order.size();
}

void CompressionPipeline::Submit(std::unique_ptr<Chunk> chunk) {
    chunk->done = false;
    chunk->failed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_work.push_back(chunk.get());
        m_order.push_back(std::move(chunk));
    }
    m_workReady.notify_one();
}

std::unique_ptr<Chunk> CompressionPipeline::TakeOldest() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_order.empty()) return nullptr;
    m_chunkDone.wait(lock, [this] { return m_order.front()->done; });
    auto chunk = std::move(m_order.front());
    m_order.pop_front();
    return chunk;
}

std::unique_ptr<Chunk> CompressionPipeline::Recycled() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_spare.empty()) return std::make_unique<Chunk>();
    auto chunk = std::move(m_spare.back());
    m_spare.pop_back();
    chunk->moreCount = 0;
    chunk->source = nullptr;
    return chunk;
}

void CompressionPipeline::Recycle(std::unique_ptr<Chunk> chunk) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Keep only as many as can be in flight; drop the storage of unusually large outputs.
    if (m_spare.size() < m_maxInFlight) m_spare.push_back(std::move(chunk));
}

namespace {

// The CRC and, at a level above 0, the deflate data of one piece, read first when it is a
// small file's; a compressor per level in use, made when first needed.
void Compress(Piece& piece, std::unique_ptr<libdeflate_compressor, CompressorDeleter> (&compressors)[13]) {
    piece.failed = false;
    if (piece.source) {
        piece.readError.clear();
        sys::File file;
        const std::string error = file.Open(*piece.source, sys::File::Pattern::Sequential);
        if (!error.empty()) {
            piece.readError = "cannot be opened: " + error;
            return;
        }
        piece.input.resize(size_t(piece.readSize));
        if (!file.ReadFullyAt(0, piece.input.data(), piece.input.size())) {
            piece.readError = "cannot be read (it may have changed while it was packed)";
            return;
        }
    }
    piece.crc = uint32_t(libdeflate_crc32(0, piece.input.data(), piece.input.size()));
    if (piece.level <= 0) return;
    const int level = std::clamp(piece.level, 1, 12);
    auto& compressor = compressors[level];
    if (!compressor) compressor.reset(libdeflate_alloc_compressor(level));
    piece.failed = !compressor ||
                   !DeflateChunk(compressor.get(), piece.input.data(), piece.input.size(), piece.last, piece.output);
}

}  // namespace

void CompressionPipeline::Work() {
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressors[13];
    for (;;) {
        Chunk* chunk = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_workReady.wait(lock, [this] { return m_stopping || !m_work.empty(); });
            if (m_stopping) return;
            chunk = m_work.front();
            m_work.pop_front();
        }
        Compress(*chunk, compressors);
        for (size_t i = 0; i < chunk->moreCount; ++i) Compress(chunk->more[i], compressors);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            chunk->done = true;
        }
        m_chunkDone.notify_all();
    }
}

}  // namespace zipengine
