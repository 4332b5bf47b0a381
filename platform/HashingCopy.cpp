// The copy that digests what it copies. Hashing costs about as much as reading and writing
// together, so for a file larger than one buffer a helper thread hashes each piece while
// the copying thread writes it and reads the next one; small files stay on the copying
// thread, where handing them over would cost more than it saves.
#include "platform/HashingCopy.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {
namespace {

// A file is copied in pieces of kPieceSize bytes read into kPieces buffers in turn; a buffer
// is read into again only once its last piece is hashed, so each copying thread holds
// kPieces * kPieceSize bytes however large the file. Writes of a megabyte or more were
// measured to cost Linux up to several times more than smaller ones (the page cache fills
// large folios of fresh memory), so pieces stay small.
constexpr std::size_t kPieceSize = std::size_t(256) << 10;
constexpr std::size_t kPieces = 4;

// One thread for the process that feeds pieces to their digest in the order handed over,
// serving one copy at a time. It is made on first use and never ended: idle, it waits, and
// joining it while the program exits could hold the exit up on some systems. (A child forked
// after that first use would have no helper; the program forks none that copy.)
class Hasher {
public:
    // The helper for one copy, to be released; nullptr while another copy has it, or when
    // no thread can be started.
    static Hasher* Take() {
        static Hasher* const shared = Start();
        if (!shared || !shared->m_use.try_lock()) return nullptr;
        return shared;
    }
    void Release() { m_use.unlock(); }

    // Queues `size` bytes at `data` for `hash`; they stay unchanged until hashed.
    void Feed(Sha256& hash, const char* data, std::size_t size) {
        {
            std::lock_guard lock(m_mutex);
            m_queue[m_fed % kPieces] = {&hash, data, size};
            ++m_fed;
        }
        m_work.notify_one();
    }

    // Waits until at most `pending` pieces handed over are not hashed yet.
    void WaitUntilPending(std::size_t pending) {
        std::unique_lock lock(m_mutex);
        m_hashedOne.wait(lock, [&] { return m_fed - m_hashed <= pending; });
    }

private:
    struct Piece {
        Sha256* hash = nullptr;
        const char* data = nullptr;
        std::size_t size = 0;
    };

    static Hasher* Start() {
        auto helper = std::make_unique<Hasher>();
        try {
            std::thread([h = helper.get()] { h->Run(); }).detach();
        } catch (const std::system_error&) {
            return nullptr;  // the copies hash on their own threads
        }
        return helper.release();
    }

    void Run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_work.wait(lock, [&] { return m_hashed < m_fed; });
            const Piece piece = m_queue[m_hashed % kPieces];
            lock.unlock();
            piece.hash->Update(piece.data, piece.size);
            lock.lock();
            ++m_hashed;
            m_hashedOne.notify_one();
        }
    }

    std::mutex m_use;  // held by the copy the helper serves
    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_hashedOne;
    // Pieces handed over and pieces hashed since the start; at most kPieces are pending.
    std::array<Piece, kPieces> m_queue;
    std::size_t m_fed = 0;
    std::size_t m_hashed = 0;
};

// Where one copy's pieces are hashed: on this thread, or, once taken, on the helper, which
// is let go only when every piece handed to it is hashed.
class HashingPlace {
public:
    explicit HashingPlace(Sha256& hash) : m_hash(hash) {}
    ~HashingPlace() {
        if (!m_helper) return;
        m_helper->WaitUntilPending(0);
        m_helper->Release();
    }
    HashingPlace(const HashingPlace&) = delete;
    HashingPlace& operator=(const HashingPlace&) = delete;

    void TakeHelper() { m_helper = Hasher::Take(); }
    void Hash(const char* data, std::size_t size) {
        if (m_helper) m_helper->Feed(m_hash, data, size);
        else m_hash.Update(data, size);
    }
    // Waits until the oldest buffer may be read into again.
    void WaitForBuffer() {
        if (m_helper) m_helper->WaitUntilPending(kPieces - 1);
    }

private:
    Sha256& m_hash;
    Hasher* m_helper = nullptr;
};

}  // namespace

SysError HashingCopy(File& in, File& out, Sha256& hash) {
    thread_local std::vector<char> buffers;
    if (buffers.empty()) buffers.resize(kPieces * kPieceSize);
    HashingPlace place(hash);
    for (std::size_t n = 0;; ++n) {
        char* piece = buffers.data() + (n % kPieces) * kPieceSize;
        place.WaitForBuffer();
        const std::int64_t got = in.Read(piece, static_cast<std::int64_t>(kPieceSize));
        if (got < 0) return SysError::Last();
        if (got == 0) return {};
        // A first piece that fills its buffer tells a file worth handing over.
        if (n == 0 && static_cast<std::size_t>(got) == kPieceSize) place.TakeHelper();
        place.Hash(piece, static_cast<std::size_t>(got));
        if (SysError err = out.Write(piece, got)) return err;
    }
}

}  // namespace platform
