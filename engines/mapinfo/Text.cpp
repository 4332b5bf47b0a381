#include "engines/mapinfo/Text.h"

namespace mapinfo {

namespace {

// Position just after the folder part: after the last separator, or after "X:".
std::size_t NameStart(std::string_view path) {
    std::size_t sep = path.find_last_of("\\/");
    if (sep != std::string_view::npos) return sep + 1;
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
        return 2;
    return 0;
}
}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        // a plain scan: find_first_of with a set of two looks the set up once per character
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        lines.push_back(text.substr(start, end - start));
        if (end == text.size()) break;
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

std::string FolderOf(std::string_view path) { return std::string(path.substr(0, NameStart(path))); }

std::string FileNameOf(std::string_view path) { return std::string(path.substr(NameStart(path))); }

bool HasExtension(std::string_view path) { return FileNameOf(path).find('.') != std::string::npos; }

std::string QuoteForMessage(std::string_view text) {
    constexpr std::size_t kShown = 200;
    if (text.size() <= kShown) return std::string(text);
    return std::string(text.substr(0, kShown)) + "...";
}

}  // namespace mapinfo
