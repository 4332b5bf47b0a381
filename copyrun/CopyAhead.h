#pragma once
// A thread beside the copy run's own that copies the files of the tables ahead, while the
// run reads and finishes the tables before them. Tables are copied in the order they were
// queued, each file as the copy one by one would copy it; what became of each is kept for the
// run to report in its turn, with the status of each source for the run to note it as one.
// The thread is started with the first table queued.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SysError.h"

namespace copyrun {

class CopyAhead {
public:
    struct File {
        std::string source, dest;
        std::optional<platform::PathStatus> status;  // the source's, as the copy opened it
        platform::SysError error;
        std::string digest;  // of the bytes copied, when asked for
        std::string thrown;  // the text of an exception the copy ended with
    };
    struct Table {
        std::vector<File> files;
        std::uint64_t bytes = 0;  // their size as far as known when queued
        std::size_t copied = 0;   // the files handled, in order, once `done`
        bool done = false;        // (both under the queue's lock)
    };

    explicit CopyAhead(bool hashing) : m_hashing(hashing) {}
    CopyAhead(const CopyAhead&) = delete;
    CopyAhead& operator=(const CopyAhead&) = delete;
    // Stops: the file being copied is finished, nothing queued is started.
    ~CopyAhead();

    // `table` stays where it is until it is done. Where no thread can be started, it is copied
    // at once.
    void Queue(Table& table);
    // Waits until `table` is done, running `poll` about every 20 ms meanwhile; once `poll`
    // says stop, no further file is started. A small table the thread has not begun yet is
    // copied by the caller instead, so that neither waits for the other. The number of files
    // handled.
    std::size_t Wait(Table& table, const std::function<bool()>& poll);
    // Stops for good: no table queued is begun any more (each is done with no file handled),
    // and the one being copied is finished before this returns.
    void Halt();
    // Waits until the table the thread is copying now, if any, is done; false when there was
    // none. A disk found full meanwhile may have room again then: a copy that fails for want
    // of space is taken away, and its space with it.
    bool Settle();

private:
    void Loop();
    // `byWaiter`: on the thread that waits for the table, beside this one's.
    void Copy(Table& table, bool byWaiter);

    const bool m_hashing;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    std::deque<Table*> m_queue;
    Table* m_copying = nullptr;  // the table the thread is copying
    bool m_idle = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace copyrun
