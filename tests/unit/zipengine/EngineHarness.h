// Drives the engine library through its C entry point the way the zip component does: fills
// a call record, records every callback, and judges archives with independent readers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zipengine_test {

struct EngineEvent {
    int32_t action = 0;
    int32_t code = 0;
    int32_t number = 0;
    uint32_t unitShift = 0;  // byte counts count units of 2^unitShift bytes
    std::string text;
};

struct EngineCall {
    std::string archive;
    std::string tempDir;
    std::vector<std::string> specs;
    int32_t level = 9;
    bool dirNames = true;  // AddDirNames
    bool recurse = false;
    bool hidden = false;
    bool separateDirs = false;
    bool forceDos = false;
    bool move = false;
    bool update = false;
    bool freshen = false;
    bool zipTime = false;
    bool encrypt = false;
    bool verbose = false;
    // Answer to each callback (0 go on, -1 stop); default: always go on.
    std::function<int32_t(const EngineEvent&)> answer;
};

struct EngineResult {
    int32_t count = 0;
    std::vector<EngineEvent> events;
    std::vector<int32_t> Actions() const;
    // Messages (ecbMessage) as "code: text".
    std::vector<std::string> Messages() const;
};

// Runs ZipEngineExec with the current folder as it is.
EngineResult RunEngine(const EngineCall& call);

// Runs a command line in `folder` (the current folder is set back afterwards).
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string& folder);
    ~ScopedChdir();

private:
    std::string m_previous;
};

struct ListedEntry {
    std::string name;
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    int method = 0;
    uint32_t attributes = 0;
    int flags = 0;
    int system = 0;
    uint64_t headerOffset = 0;
    std::string dateTime;
    std::string sha256;
};

struct ArchiveCheck {
    bool pythonOk = false;   // zipfile opened it and every CRC matched
    bool unzipOk = true;     // `unzip -t` (true when the tool is missing)
    bool sevenZipOk = true;  // `7z t` (true when the tool is missing)
    std::string report;      // what the checkers printed, for failure messages
    std::vector<ListedEntry> entries;
    std::map<std::string, ListedEntry> ByName() const;
};

// Judges `archive` with Python's zipfile (every CRC) and, with `allTools`, `unzip -t` and `7z t`.
ArchiveCheck CheckArchive(const std::string& archive, bool allTools = true);

std::string Sha256(const std::string& bytes);
std::string RandomBytes(size_t size, uint32_t seed);
// Text-like data that deflate shrinks well.
std::string TextBytes(size_t size, uint32_t seed);
void SetTime(const std::string& path, time_t when);

}  // namespace zipengine_test
