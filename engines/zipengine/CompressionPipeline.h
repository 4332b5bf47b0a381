// Compresses pieces of files on worker threads while the calling thread reads, writes and
// reports in order. A file is cut into chunks of at most kChunkSize bytes; each chunk is
// compressed by libdeflate on its own, and all chunks but a file's last are turned into
// non-final deflate blocks ending on a byte boundary, so the chunks of a file join into one
// valid deflate stream. Memory stays bounded: at most MaxInFlight() chunks exist at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zipengine {

constexpr size_t kChunkSize = size_t(4) << 20;
// Most worker threads, and most chunks handed out and not yet taken back.
constexpr unsigned kMaxThreads = 16;
constexpr size_t kMaxInFlight = 20;

// A piece of a file to compress, or a small file whole.
struct Piece {
    size_t item = 0;     // which file of the job
    bool first = false;  // the file's first piece
    bool last = false;   // the file's last piece
    int level = 6;       // libdeflate level 1 to 12; 0: stored, only the CRC is computed
    std::vector<unsigned char> input;
    std::vector<unsigned char> output;  // the deflate data (deflate only)
    uint32_t crc = 0;                   // CRC-32 of `input`
    bool failed = false;                // the deflate data could not be made
    // A small file is read by the worker: `input` is then the first `readSize` bytes of the
    // file at `source`, or `readError` says why they could not be read.
    const std::string* source = nullptr;
    uint64_t readSize = 0;
    std::string readError;
};

// What a worker takes at a time: a piece, and after it, for small files, the whole files that
// follow it in the archive (one hand-over for many files). Results come back alike.
struct Chunk : Piece {
    std::vector<Piece> more;  // the first `moreCount` are in use; the rest keep their storage
    size_t moreCount = 0;
    bool done = false;

    Piece& AddMore() {
        if (moreCount == more.size()) more.emplace_back();
        return more[moreCount++];
    }
};

class CompressionPipeline {
public:
    // `threads` workers, at least one.
    explicit CompressionPipeline(unsigned threads);
    ~CompressionPipeline();
    CompressionPipeline(const CompressionPipeline&) = delete;
    CompressionPipeline& operator=(const CompressionPipeline&) = delete;

    size_t MaxInFlight() const { return m_maxInFlight; }
    size_t InFlight() const;
    // Queues a chunk; results come back in submission order.
    void Submit(std::unique_ptr<Chunk> chunk);
    // Waits for the oldest submitted chunk and hands it back; nullptr when none is queued.
    std::unique_ptr<Chunk> TakeOldest();
    // A chunk whose storage can be filled again (saves reallocating for every piece).
    std::unique_ptr<Chunk> Recycled();
    void Recycle(std::unique_ptr<Chunk> chunk);

private:
    void Work();

    size_t m_maxInFlight;
    mutable std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_chunkDone;
    std::deque<Chunk*> m_work;                   // waiting for a worker
    std::deque<std::unique_ptr<Chunk>> m_order;  // every chunk in flight, oldest first
    std::vector<std::unique_ptr<Chunk>> m_spare;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// Compresses `input` at `level` into a complete raw deflate stream; false when it cannot.
// With `final` off the stream ends in a non-final block on a byte boundary instead, so more
// deflate data can follow it.
bool DeflateChunk(void* compressor, const unsigned char* input, size_t size, bool final,
                  std::vector<unsigned char>& output);

// How a file is compressed: libdeflate levels of 6 and below are fast hash-chain parsers;
// 10 to 12 parse near-optimally, and pay off on some data (binary tables) at a few times the
// cost, while on other data (smooth rasters, text) they cost many times more for little.
// For the requested levels 8 and 9 (best compression) a trial on a sample of the data picks
// the thorough level only where it is clearly smaller for a bounded extra cost.
struct Strategy {
    int level = 6;  // 0: store, deflate would not make the data usefully smaller
};
constexpr int kFastLevel = 6;
constexpr int kThoroughLevel = 10;
// Tries samples with both strategies and keeps the compressors for the next trial. Times are
// taken on sys::TrialSeconds(): the thread's CPU time where it is fine enough.
class StrategyChooser {
public:
    StrategyChooser();
    ~StrategyChooser();
    StrategyChooser(const StrategyChooser&) = delete;
    StrategyChooser& operator=(const StrategyChooser&) = delete;
    // `requested` is the call's level (1 to 9).
    Strategy Choose(const unsigned char* sample, size_t size, int requested);

private:
    size_t Trial(int level, const unsigned char* data, size_t size, double& seconds);
    void* m_compressors[13] = {};
    bool m_warm[13] = {};
};

inline Strategy ChooseStrategy(const unsigned char* sample, size_t size, int requested) {
    StrategyChooser chooser;
    return chooser.Choose(sample, size, requested);
}

}  // namespace zipengine
