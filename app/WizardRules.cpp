#include "app/WizardRules.h"

#include <vector>

#include "app/pmUtils.h"

namespace app {
namespace {

std::vector<std::string> FolderNames(const std::string& text) {
    std::vector<std::string> names;
    std::string current;
    for (char c : text) {
        if (pm::IsSeparator(c)) {
            if (!current.empty()) names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) names.push_back(current);
    return names;
}

}  // namespace

std::string ZipNameExtension(const std::string& name) {
    std::size_t dot = name.rfind('.');
    std::size_t delimiter = name.find_last_of("\\/:");
    if (dot == std::string::npos || (delimiter != std::string::npos && dot < delimiter)) return {};
    return name.substr(dot);
}

std::string WithZipExtension(const std::string& name) {
    return name.substr(0, name.size() - ZipNameExtension(name).size()) + ".zip";
}

std::string ApplyZipNameRule(const std::string& name) {
    std::string out = name.empty() ? std::string(kDefaultZipName) : name;
    return ZipNameExtension(out) == ".zip" ? out : WithZipExtension(out);
}

std::string ApplyPathFieldRule(const std::string& text) {
    std::size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
    std::string out = text.substr(first, last - first);
    if (!out.empty() && pm::IsSeparator(out.back())) out.pop_back();
    return out;
}

std::string DriveOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
        return path.substr(0, 2);
    if (path.size() >= 2 && pm::IsSeparator(path[0]) && pm::IsSeparator(path[1])) {
        // \\server\share: up to the separator after the share name
        std::size_t server = path.find_first_of("\\/", 2);
        if (server == std::string::npos) return path;
        std::size_t share = path.find_first_of("\\/", server + 1);
        return share == std::string::npos ? path : path.substr(0, share);
    }
    if (!path.empty() && path[0] == '/') return "/";
    return {};
}

std::string RelativeToFolder(const std::string& folder, const std::string& file) {
    const char sep = folder.find('\\') != std::string::npos ? '\\' : '/';
    const std::string base = folder + sep;
    const std::string baseDrive = DriveOf(base);
    const std::string fileDrive = DriveOf(file);
    if (!pm::EqualNoCase(baseDrive, fileDrive)) return file;

    std::vector<std::string> baseNames = FolderNames(pm::FolderOf(base).substr(baseDrive.size()));
    std::vector<std::string> fileNames = FolderNames(pm::FolderOf(file).substr(fileDrive.size()));
    std::size_t common = 0;
    while (common < baseNames.size() && common < fileNames.size() &&
           pm::EqualNoCase(baseNames[common], fileNames[common]))
        ++common;

    std::string out;
    for (std::size_t i = common; i < baseNames.size(); ++i) out += std::string("..") + sep;
    for (std::size_t i = common; i < fileNames.size(); ++i) out += fileNames[i] + sep;
    return out + pm::FileNameOf(file);
}

std::string WithNewlines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string WithCrLf(const std::string& text) {
    std::string lines = WithNewlines(text);
    std::string out;
    out.reserve(lines.size() + lines.size() / 16);
    for (char c : lines) {
        if (c == '\n') out += "\r\n";
        else out += c;
    }
    return out;
}

}  // namespace app
