// The Windows side of zip_bench: loads ZipEngine.dll and packs every file below the current
// folder into ARCHIVE, with the same call record as the Linux engine's run. Runs under Wine.
//   zip_engine_run.exe ENGINE_DLL ARCHIVE        exit 0: files were stored
#include <windows.h>

#include <cstdio>
#include <string>

#include "zipengine/PackRecord.h"

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
    EngineCallRecord record;
    ZipEngineFillPackRecord(&record, &entry, spec, name, 0);
    const int32_t n = exec(&record);
    return n > 0 ? 0 : 1;
}
