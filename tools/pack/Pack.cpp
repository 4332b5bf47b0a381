// tallomir-pack ARCHIVE: packs every file below the current folder into ARCHIVE with the zip
// engine beside the program, as the release scripts make the Windows package.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "zipengine/ZipEngine.h"

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
    std::memset(&entry, 0, sizeof entry);
    entry.spec = spec.data();
    EngineCallRecord record;
    std::memset(&record, 0, sizeof record);
    record.head.recordVersion = ZIPENGINE_RECORD_VERSION;
    record.head.alwaysOn56 = ZIPENGINE_FLAG_ON;
    record.head.alwaysOn80 = ZIPENGINE_FLAG_ON;
    record.head.compLevel = 9;
    record.head.recurse = ZIPENGINE_RECURSE_ON;
    record.head.specCount = 1;
    record.head.archiveName = archive.data();
    record.fileSpecs = &entry;
    record.tag = ZIPENGINE_RECORD_TAG;
    const int32_t added = exec(&record);
    if (added <= 0) {
        std::fprintf(stderr, "tallomir-pack: the engine added nothing to %s\n", archive.c_str());
        return 1;
    }
    std::printf("%s: %d entries\n", archive.c_str(), added);
    return 0;
}
