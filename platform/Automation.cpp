// What the automation services share on every platform: where plugin servers are looked for.
#include <cstdlib>

#include "platform/Automation.h"
#include "platform/FileSystem.h"

namespace platform {

std::vector<std::string> AutomationSearchPath() {
    // Beside the program, then each folder of TALLOMIR_AUTOMATION_PATH, separated as the
    // system separates the folders of its own search paths (Windows paths hold ':').
#ifdef _WIN32
    constexpr char kSeparator = ';';
#else
    constexpr char kSeparator = ':';
#endif
    std::vector<std::string> dirs{ProgramDir() + "automation"};
    if (const char* extra = std::getenv("TALLOMIR_AUTOMATION_PATH")) {
        const std::string list = extra;
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(kSeparator, start);
            if (end == std::string::npos) end = list.size();
            if (end > start) dirs.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    return dirs;
}

}  // namespace platform
