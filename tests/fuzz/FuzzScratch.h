#pragma once
// A private temporary folder for a fuzz target, made on first use and removed with
// everything in it when the target ends.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>

namespace fuzz_support {

inline const std::string& ScratchFolder(const char* name) {
    static const std::string folder = [name] {
        std::string pattern = std::string("/tmp/") + name + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return true;
    }();
    (void)cleanup;
    return folder;
}

}  // namespace fuzz_support
