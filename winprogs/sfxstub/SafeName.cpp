#include "SafeName.h"

#include <cstring>

#include "common/Ascii.h"

namespace sfx {

namespace {

// Device names that Windows opens as devices in any folder, with any extension.
bool IsDeviceName(const std::string& part) {
    std::string base = common::UpperAscii(part.substr(0, part.find('.')));
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* d : kDevices)
        if (base == d) return true;
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '0' &&
        base[3] <= '9')
        return true;
    return false;
}

NameCheck Refuse(const char* reason) {
    NameCheck r;
    r.reason = reason;
    return r;
}

}  // namespace

NameCheck CheckEntryName(const std::string& name) {
    if (name.empty()) return Refuse("it has no name");
    if (name[0] == '/' || name[0] == '\\') return Refuse("it names a path from the root of a drive or server");
    if (name.size() >= 2 && name[1] == ':' && common::UpperAscii(name[0]) >= 'A' && common::UpperAscii(name[0]) <= 'Z')
        return Refuse("it names a drive");
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("<>:\"|?*", c))
            return Refuse("its name holds a character that is not allowed in file names");
    }
    NameCheck r;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return Refuse("it leads out of the folder with \"..\"");
        // Windows drops trailing dots and blanks, so ". ." or "a." would name another file.
        if (part.back() == '.' || part.back() == ' ')
            return Refuse("a part of its name ends with a dot or a blank, which Windows would change");
        if (IsDeviceName(part)) return Refuse("a part of its name is a device name (such as CON or NUL)");
        r.parts.push_back(std::move(part));
    }
    r.ok = true;
    return r;
}

}  // namespace sfx
