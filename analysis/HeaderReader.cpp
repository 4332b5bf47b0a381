#include "analysis/HeaderReader.h"

#include <system_error>

#include "analysis/CopyFormState.h"
#include "analysis/TextFile.h"
#include "app/pmUtils.h"

namespace analysis {
namespace {

// Readings kept ready at most; the thread goes on once half of them are taken, so that the
// two threads seldom wake each other (each wake-up costs a switch of cores).
constexpr std::size_t kAhead = 32;

TableReading Read(std::size_t index, const std::string& entry) {
    TableReading r;
    r.index = index;
    r.readAtNs = platform::FileClockNowNs();
    const std::string path = SplitEntry(entry).second;
    const std::string stem = pm::FolderOf(path) + pm::FileNameOf(path);
    r.header = stem + ".tab";
    try {
        r.lines = ReadLines(r.header);
    } catch (...) {
        r.error = std::current_exception();
        return r;
    }
    r.where = ListingOf(stem);
    try {
        r.files = platform::FindFiles(r.where.folder, r.where.pattern, &r.folderChangedNs);
        r.listed = true;
    } catch (const std::exception&) {}  // listed again in the table's turn
    return r;
}

}  // namespace

TableListing ListingOf(const std::string& stem) {
    const std::string folder = pm::FolderOf(stem);
    return {folder.empty() ? "." : folder, pm::FileNameOf(stem) + ".*"};
}

HeaderReader::HeaderReader(const std::vector<std::string>& tables) : m_tables(tables) {
    try {
        m_thread = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
        m_finished = true;  // nothing is read ahead
    }
}

HeaderReader::~HeaderReader() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_room.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void HeaderReader::Loop() {
    for (std::size_t i = 0; i < m_tables.size(); ++i) {
        {
            std::unique_lock lock(m_mutex);
            if (!m_stop && m_readings.size() >= kAhead) {
                m_readerWaits = true;
                m_room.wait(lock, [this] { return m_stop || m_readings.size() <= kAhead / 2; });
                m_readerWaits = false;
            }
            if (m_stop) return;
        }
        TableReading reading = Read(i, m_tables[i]);
        std::lock_guard lock(m_mutex);
        m_readings.push_back(std::move(reading));
        if (m_takerWaits) m_ready.notify_one();
    }
    std::lock_guard lock(m_mutex);
    m_finished = true;
    if (m_takerWaits) m_ready.notify_one();
}

std::optional<TableReading> HeaderReader::Take(std::size_t index) {
    std::unique_lock lock(m_mutex);
    std::optional<TableReading> reading;
    for (;;) {
        while (!m_readings.empty() && m_readings.front().index < index) m_readings.pop_front();
        if (!m_readings.empty() && m_readings.front().index == index) {
            reading = std::move(m_readings.front());
            m_readings.pop_front();
        }
        if (m_readerWaits && m_readings.size() <= kAhead / 2) m_room.notify_one();
        if (reading || !m_readings.empty() || m_finished) return reading;
        m_takerWaits = true;
        m_ready.wait(lock);
        m_takerWaits = false;
    }
}

}  // namespace analysis
