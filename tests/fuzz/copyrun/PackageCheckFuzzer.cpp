// Any bytes through the package check's reading of what a package holds. The input is split
// at NUL bytes into a workspace, a table header, the table's data file and a manifest, written
// into a package folder in a private temporary folder and checked; the whole input is also
// checked as an archive (its directory read and every entry tested).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "copyrun/PackageCheck.h"
#include "tests/fuzz/FuzzScratch.h"

namespace {

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The first three parts end at a NUL; the manifest is the rest, NULs and all.
std::vector<std::string> Split(const std::string& input) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (parts.size() < 3) {
        const std::size_t nul = input.find('\0', at);
        if (nul == std::string::npos) break;
        parts.push_back(input.substr(at, nul - at));
        at = nul + 1;
    }
    parts.push_back(input.substr(std::min(at, input.size())));
    parts.resize(4);
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = fuzz_support::ScratchFolder("package-check-fuzz");
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> parts = Split(input);
    const std::string package = folder + "/package";
    std::filesystem::create_directories(package + "/TABLES");
    Write(package + "/Fuzz.WOR", parts[0]);
    Write(package + "/TABLES/Fuzz.TAB", parts[1]);
    Write(package + "/TABLES/Fuzz.DAT", parts[2]);
    (void)copyrun::CheckPackage(package, "C:\\", parts[3]);
    Write(folder + "/Fuzz.zip", input);
    (void)copyrun::CheckPackage(folder + "/Fuzz.zip", "D:\\Maps", parts[3]);
    return 0;
}
