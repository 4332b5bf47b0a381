#pragma once
// Decides whether an entry name may be extracted below the chosen folder, and into which
// path components. Names that would land outside the folder, or that Windows would read
// as something other than a plain file name, are refused with the reason.
#include <string>
#include <vector>

namespace sfx {

struct NameCheck {
    bool ok = false;
    std::vector<std::string> parts;  // path components below the folder ("." left out)
    std::string reason;              // why the name is refused, when !ok
};

// `name` is the entry name as stored; both "/" and "\" separate folders.
NameCheck CheckEntryName(const std::string& name);

}  // namespace sfx
