// The Windows side of zip_bench: loads ZipEngine.dll and packs every file below the current
// folder into ARCHIVE, with the same call record as the Linux engine's run. Runs under Wine.
//   zip_engine_run.exe ENGINE_DLL ARCHIVE        exit 0: files were stored
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "zipengine/ZipEngine.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zip_engine_run.exe ENGINE_DLL ARCHIVE\n");
        return 2;
    }
    HMODULE engine = LoadLibraryW(argv[1]);
    if (!engine) {
        std::fprintf(stderr, "cannot load the engine (error %lu)\n", GetLastError());
        return 2;
    }
    auto exec =
        reinterpret_cast<ZipEngineExecFunc>(reinterpret_cast<void*>(GetProcAddress(engine, ZIPENGINE_EXEC_NAME)));
    if (!exec) return 2;
    // The archive's name as the engine takes it: text in the ANSI code page.
    char name[MAX_PATH * 2] = {};
    if (!WideCharToMultiByte(CP_ACP, 0, argv[2], -1, name, sizeof name, nullptr, nullptr)) return 2;
    char spec[] = "*";
    FileSpecEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.spec = spec;
    EngineCallRecord record;
    std::memset(&record, 0, sizeof record);
    record.head.recordVersion = ZIPENGINE_RECORD_VERSION;
    record.head.noDirEntries = ZIPENGINE_FLAG_ON;
    record.head.alwaysOn56 = ZIPENGINE_FLAG_ON;
    record.head.alwaysOn80 = ZIPENGINE_FLAG_ON;
    record.head.compLevel = 9;
    record.head.recurse = ZIPENGINE_RECURSE_ON;
    record.head.specCount = 1;
    record.head.archiveName = name;
    record.fileSpecs = &entry;
    record.tag = ZIPENGINE_RECORD_TAG;
    const int32_t n = exec(&record);
    return n > 0 ? 0 : 1;
}
