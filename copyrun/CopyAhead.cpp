#include "copyrun/CopyAhead.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/Hash.h"

namespace copyrun {
namespace {

// Tables that wait before the thread is woken: each wake-up costs the other core a switch,
// so the thread takes several tables at a time unless the run waits for one.
constexpr std::size_t kWakeAt = 4;
// The largest table the waiting thread copies itself: one it copies in a moment, so that a
// window's thread is not held up by it.
constexpr std::uint64_t kCopiedByWaiter = 4 << 20;

}  // namespace

CopyAhead::~CopyAhead() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void CopyAhead::Queue(Table& table) {
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread([this] { Loop(); });
        } catch (const std::system_error&) {
            lock.unlock();
            Copy(table, false);
            return;
        }
    }
    m_queue.push_back(&table);
    if (m_idle && m_queue.size() >= kWakeAt) m_wake.notify_one();
}

std::size_t CopyAhead::Wait(Table& table, const std::function<bool()>& poll) {
    std::unique_lock lock(m_mutex);
    if (table.bytes <= kCopiedByWaiter) {
        if (auto queued = std::find(m_queue.begin(), m_queue.end(), &table); queued != m_queue.end()) {
            m_queue.erase(queued);
            lock.unlock();
            Copy(table, true);
            return table.copied;
        }
    }
    while (!table.done) {
        m_wake.notify_one();
        if (m_done.wait_for(lock, std::chrono::milliseconds(20), [&] { return table.done; })) break;
        lock.unlock();
        const bool stop = poll();
        lock.lock();
        if (stop) m_stop = true;
    }
    return table.copied;
}

void CopyAhead::Halt() {
    std::unique_lock lock(m_mutex);
    m_stop = true;
    for (Table* table : m_queue) table->done = true;  // never begun: no file handled
    m_queue.clear();
    m_wake.notify_all();
    m_done.wait(lock, [this] { return m_copying == nullptr; });
}

void CopyAhead::Loop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_queue.empty()) {
            if (m_stop) return;
            m_idle = true;
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            m_idle = false;
            continue;
        }
        Table* table = m_queue.front();
        m_queue.pop_front();
        m_copying = table;
        lock.unlock();
        Copy(*table, false);
        lock.lock();
        m_copying = nullptr;
        m_done.notify_all();
    }
}

bool CopyAhead::Settle() {
    std::unique_lock lock(m_mutex);
    Table* const now = m_copying;
    if (!now) return false;
    m_done.wait(lock, [&] { return m_copying != now; });
    return true;
}

void CopyAhead::Copy(Table& table, bool byWaiter) {
    std::size_t handled = 0;
    for (File& file : table.files) {
        if (m_stop) break;
        try {
            // Beside the thread's copy, the disk may only have been full for a moment: once
            // that copy is through, the file is tried once more.
            for (bool again = byWaiter;;) {
                std::optional<platform::Sha256> hash;
                if (m_hashing) hash.emplace();
                platform::CopyOptions options;
                options.hash = hash ? &*hash : nullptr;
                options.newDestination = true;
                options.writable = true;
                options.sourceStatus = &file.status;
                file.error = platform::CopyFile(file.source, file.dest, options);
                if (again && file.error.code == platform::kErrorDiskFull && Settle()) {
                    again = false;
                    continue;
                }
                if (hash && !file.error) file.digest = hash->HexDigest();
                break;
            }
        } catch (const std::exception& e) {
            file.thrown = e.what();
        }
        try {
            if (!file.status) file.status = platform::StatPath(file.source);  // not opened: whatever is there
        } catch (const std::exception&) {}
        ++handled;
    }
    std::lock_guard lock(m_mutex);
    table.copied = handled;
    table.done = true;
}

}  // namespace copyrun
