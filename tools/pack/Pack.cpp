// tallomir-pack ARCHIVE: packs every file below the current folder into ARCHIVE with the zip
// engine beside the program, as the release scripts make the Windows package.
#include <cstdio>
#include <string>

#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "zipengine/PackRecord.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: tallomir-pack ARCHIVE   (packs every file below the current folder)\n");
        return 2;
    }
    const std::string libraryPath = platform::ProgramDir() + platform::LibraryFileName("zipengine");
    platform::DynamicLibrary library(libraryPath);
    auto exec = reinterpret_cast<ZipEngineExecFunc>(library.Symbol(ZIPENGINE_EXEC_NAME));
    if (!exec) {
        std::fprintf(stderr, "tallomir-pack: cannot load %s: %s\n", libraryPath.c_str(), library.Error().c_str());
        return 2;
    }
    std::string spec = "*";
    std::string archive = platform::ExpandFileName(argv[1]);
    FileSpecEntry entry;
    EngineCallRecord record;
    ZipEngineFillPackRecord(&record, &entry, spec.data(), archive.data(), 1);
    const int32_t added = exec(&record);
    if (added <= 0) {
        std::fprintf(stderr, "tallomir-pack: the engine added nothing to %s\n", archive.c_str());
        return 1;
    }
    std::printf("%s: %d entries\n", archive.c_str(), added);
    return 0;
}
