#pragma once
// A thread beside the refresh that reads, ahead of it and in list order, what the table
// information reads first of each table: the lines of the header its entry names and the
// files named like the table beside it. The refresh takes each reading in its turn, so that
// its own thread mostly asks MapInfo.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"

namespace analysis {

// Where the files named like a table are looked for: its folder ("." for none) and a
// pattern of its name, for the table at `stem` (its folder and name, no extension).
struct TableListing {
    std::string folder, pattern;
    bool operator==(const TableListing&) const = default;
};
TableListing ListingOf(const std::string& stem);

// What the table information reads first of one table, read ahead.
struct TableReading {
    std::size_t index = 0;
    std::int64_t readAtNs = 0;  // the file clock before anything was read
    std::string header;         // the path the header was read at
    std::vector<std::string> lines;
    std::exception_ptr error;  // what reading the header ended with
    // The listing of the files named like the table, by where it was made.
    bool listed = false;
    TableListing where;
    std::vector<platform::DirEntry> files;
    std::optional<std::int64_t> folderChangedNs;
};

class HeaderReader {
public:
    // Starts reading the tables of `tables` (table-list entries), which stays as it is as
    // long as the reader lives.
    explicit HeaderReader(const std::vector<std::string>& tables);
    HeaderReader(const HeaderReader&) = delete;
    HeaderReader& operator=(const HeaderReader&) = delete;
    ~HeaderReader();

    // The reading of the table at `index`, waiting for it; nullopt once the readings are
    // taken past it, or where no thread could be started.
    std::optional<TableReading> Take(std::size_t index);

private:
    void Loop();

    const std::vector<std::string>& m_tables;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_room;
    std::deque<TableReading> m_readings;
    bool m_stop = false, m_finished = false;
    bool m_readerWaits = false, m_takerWaits = false;
    std::thread m_thread;
};

}  // namespace analysis
