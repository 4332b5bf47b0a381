#include "app/pmUtils.h"

#include "common/Ascii.h"

namespace pm {

std::size_t LastSeparator(std::string_view path) { return path.find_last_of("\\/"); }

std::string FileNameOf(std::string_view path) {
    std::size_t sep = LastSeparator(path);
    return std::string(sep == npos ? path : path.substr(sep + 1));
}

std::string FolderOf(std::string_view path) {
    std::size_t sep = LastSeparator(path);
    return sep == npos ? std::string() : std::string(path.substr(0, sep + 1));
}

std::string WithoutExtension(std::string_view name) {
    std::size_t dot = name.rfind('.');
    return std::string(dot == npos ? name : name.substr(0, dot));
}

std::string ExtensionOf(std::string_view path) {
    std::string name = FileNameOf(path);
    std::size_t dot = name.rfind('.');
    return dot == npos ? std::string() : name.substr(dot);
}

std::string WithTrailingSeparator(std::string_view folder) {
    std::string out(folder);
    if (!out.empty() && !IsSeparator(out.back())) out += '\\';
    return out;
}

std::string UpperAscii(std::string_view text) { return common::UpperAscii(text); }

bool EqualNoCase(std::string_view a, std::string_view b) { return common::EqualNoCase(a, b); }

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::size_t FindUpper(std::string_view text, std::string_view upperWhat) {
    // Compared in place: header and workspace lines are searched many times on each refresh.
    if (upperWhat.empty()) return 0;
    if (upperWhat.size() > text.size()) return std::string_view::npos;
    const std::size_t last = text.size() - upperWhat.size();
    for (std::size_t i = 0; i <= last; ++i) {
        std::size_t k = 0;
        while (k < upperWhat.size()) {
            char c = text[i + k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (c != upperWhat[k]) break;
            ++k;
        }
        if (k == upperWhat.size()) return i;
    }
    return std::string_view::npos;
}

std::string ToBackslashes(std::string_view path) {
    std::string out(path);
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

}  // namespace pm
