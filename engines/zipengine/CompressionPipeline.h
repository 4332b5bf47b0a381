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
#include <thread>
#include <vector>

namespace zipengine {

constexpr size_t kChunkSize = size_t(4) << 20;

struct Chunk {
    size_t item = 0;            // which file of the job
    bool first = false;         // the file's first chunk
    bool last = false;          // the file's last chunk
    bool deflate = true;        // false: stored, only the CRC is computed
    std::vector<unsigned char> input;
    std::vector<unsigned char> output;  // the deflate data (deflate only)
    uint32_t crc = 0;           // CRC-32 of `input`
    bool failed = false;        // the deflate data could not be made
    bool done = false;
};

class CompressionPipeline {
public:
    // `level` 1 to 12 (libdeflate levels); `threads` workers, at least one.
    CompressionPipeline(int level, unsigned threads);
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

    int m_level;
    size_t m_maxInFlight;
    mutable std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_chunkDone;
    std::deque<Chunk*> m_work;                     // waiting for a worker
    std::deque<std::unique_ptr<Chunk>> m_order;    // every chunk in flight, oldest first
    std::vector<std::unique_ptr<Chunk>> m_spare;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// Compresses `input` at `level` into a complete raw deflate stream; false when it cannot.
// With `final` off the stream ends in a non-final block on a byte boundary instead, so more
// deflate data can follow it.
bool DeflateChunk(void* compressor, const unsigned char* input, size_t size, bool final,
                  std::vector<unsigned char>& output);

// Fraction (0 to 1+) that a quick trial compression leaves of the given samples.
double SampleRatio(const unsigned char* data, size_t size);

}  // namespace zipengine
