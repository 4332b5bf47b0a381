#pragma once
// Work on many independent items spread over several threads, the calling one among them.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace common {

// Runs `work(i)` for every i below `count` on up to `threads` threads, each taking `block`
// indices at a time (fewer threads where there are not that many blocks, or where no more can
// be started). The first exception a call raises ends the work and is raised again here, once
// every thread has stopped.
template <typename Work>
void ForEachIndex(std::size_t count, unsigned threads, std::size_t block, const Work& work) {
    std::atomic<std::size_t> next{0};
    std::mutex failedMutex;
    std::exception_ptr failed;
    auto run = [&] {
        try {
            for (std::size_t from; (from = next.fetch_add(block)) < count;)
                for (std::size_t i = from; i < std::min(count, from + block); ++i) work(i);
        } catch (...) {
            std::lock_guard lock(failedMutex);
            if (!failed) failed = std::current_exception();
            next = count;
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(std::max(1u, threads), count / block + 1);
    try {
        while (helpers.size() + 1 < wanted) helpers.emplace_back(run);
    } catch (const std::system_error&) {}  // the work is shared by those there are
    run();
    for (std::thread& t : helpers) t.join();
    if (failed) std::rethrow_exception(failed);
}

}  // namespace common
