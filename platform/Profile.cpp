#include "platform/Profile.h"

#include <string_view>
#include <vector>

#include "common/Ascii.h"
#include "platform/FileSystem.h"

namespace platform {
namespace {

using common::EqualNoCase;

// Blanks around a line; a CR left by a CR LF file goes with the trailing ones.
std::string_view Trim(std::string_view s) { return common::TrimEnd(common::TrimStart(s, " \t"), " \t\r"); }

// Lines of the file without their line ends (LF, CR LF).
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// Splits "key=value" (blanks around the key trimmed); nullopt for lines without '='.
std::optional<std::pair<std::string_view, std::string_view>> KeyValueOf(std::string_view line) {
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return std::make_pair(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
}

}  // namespace

std::string GetProfileString(const std::string& file, const std::string& section, const std::string& key,
                             const std::string& defaultValue) {
    auto data = ReadFile(file);
    std::string value = defaultValue;
    if (data.bytes) {
        bool inSection = false;
        for (const std::string& line : SplitLines(*data.bytes)) {
            if (auto name = SectionOf(line)) {
                inSection = EqualNoCase(*name, section);
                continue;
            }
            if (!inSection) continue;
            auto kv = KeyValueOf(line);
            if (kv && EqualNoCase(kv->first, key)) {
                std::string_view v = kv->second;
                if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
                value = std::string(v);
                break;
            }
        }
    }
    if (value.size() > kProfileValueMax) value.resize(kProfileValueMax);
    return value;
}

SysError WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                            const std::string& value) {
    auto data = ReadFile(file);
    if (!data.bytes && data.error.code != kErrorFileNotFound) return data.error;
    std::vector<std::string> lines = data.bytes ? SplitLines(*data.bytes) : std::vector<std::string>{};
    const std::string newLine = key + "=" + value;
    bool inSection = false, done = false;
    std::size_t sectionEnd = std::string::npos;  // index after the last line of the section
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
        if (auto name = SectionOf(lines[i])) {
            if (inSection) break;
            inSection = EqualNoCase(*name, section);
            if (inSection) sectionEnd = i + 1;
            continue;
        }
        if (!inSection) continue;
        if (!Trim(lines[i]).empty()) sectionEnd = i + 1;
        auto kv = KeyValueOf(lines[i]);
        if (kv && EqualNoCase(kv->first, key)) {
            lines[i] = newLine;
            done = true;
        }
    }
    if (!done) {
        if (sectionEnd == std::string::npos) {
            if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
            lines.push_back("[" + section + "]");
            lines.push_back(newLine);
        } else {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), newLine);
        }
    }
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return WriteFile(file, out);
}

SysError FlushProfile(const std::string& file) {
    if (!PathExists(file)) return {};
    auto data = ReadFile(file);
    return data.error;
}

}  // namespace platform
