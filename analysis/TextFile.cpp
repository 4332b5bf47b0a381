#include "analysis/TextFile.h"

#include "analysis/Analysis.h"
#include "platform/FileSystem.h"

namespace analysis {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    const std::size_t n = text.size();
    const char* data = text.data();
    while (start < n) {
        // a plain scan: find_first_of with a set of two looks the set up once per character
        std::size_t end = start;
        while (end < n && data[end] != '\r' && data[end] != '\n') ++end;
        lines.emplace_back(data + start, end - start);
        if (end == n) break;
        start = end + ((data[end] == '\r' && end + 1 < n && data[end + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

std::vector<std::string> ReadLines(const std::string& path) {
    auto data = platform::ReadFile(path);
    if (!data.bytes) throw FileError("Cannot read " + path + ": " + data.error.message);
    return SplitLines(*data.bytes);
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string out;
    std::size_t total = 0;
    for (const auto& l : lines) total += l.size() + 2;
    out.reserve(total);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

}  // namespace analysis
