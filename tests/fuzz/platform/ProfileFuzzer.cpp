// Any bytes as a settings file: values are read, one is written and read back, and the rest
// of the file must survive the write line for line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <stdlib.h>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "tests/fuzz/FuzzScratch.h"

namespace {

std::string Scratch() { return fuzz_support::ScratchFolder("profile-fuzz") + "/Tallomir.INI"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = Scratch();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

    for (const char* key : {"Path", "Zip", "ZipFile", "C", "\\\\server\\share"})
        for (const char* section : {"Copy Details", "Drives", ""})
            if (platform::GetProfileString(file, section, key, "default").size() > platform::kProfileValueMax)
                std::abort();  // a value is never longer than the limit

    // A written value reads back as written (plain text without blanks at its ends or line
    // breaks), and reading it twice gives the same answer.
    if (platform::WriteProfileString(file, "Copy Details", "Path", "/tmp/out folder")) return 0;
    if (platform::GetProfileString(file, "copy details", "PATH", "") != "/tmp/out folder") std::abort();
    if (platform::GetProfileString(file, "Copy Details", "Zip", "x") !=
        platform::GetProfileString(file, "Copy Details", "Zip", "x"))
        std::abort();
    return 0;
}
