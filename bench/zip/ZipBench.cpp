// Packs a generated project of about 1 GB with the zip engine (through its C entry point),
// with Info-ZIP `zip -9 -r` and with `7z a -tzip -mx=9`, one after the other on the same
// files, and prints times, archive sizes, ratios and peak memory. Where the Windows build
// tree has ZipEngine.dll (TALLOMIR_WINDOWS_BIN_DIR, default build-windows/bin of the sources),
// the Windows engine packs the same files under Wine (zip_engine_run.exe, scripts/wine-run).
//
//   zip_bench [--keep] [WORK_DIR]       default WORK_DIR: /tmp/tallomir-zipbench
//
// The project is generated under WORK_DIR/project on the first run and reused afterwards.
// Each packer runs in a child process, so its peak memory and CPU time are its own. On a
// shared machine the wall times depend on what else runs; the CPU times do not.
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "bench/BenchCommandLine.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <cstdlib>
#include <vector>

#include "zipengine/PackRecord.h"

namespace fs = std::filesystem;

namespace {

struct Rng {
    uint64_t s;
    uint64_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

void WriteFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string TableText(Rng& r, size_t size) {
    static const char* words[] = {"Roads", "Rivers",      "Parcel",     "Owner",      "Street", "North", "South",
                                  "Zone",  "Residential", "Commercial", "Industrial", "Forest", "Water", "Meadow"};
    std::string s;
    s.reserve(size + 64);
    while (s.size() < size) {
        s += words[r.Next() % 14];
        s.append(size_t(r.Next() % 12), ' ');
        s += std::to_string(r.Next() % 100000);
        if (r.Next() % 4 == 0) s += "\r\n";
    }
    s.resize(size);
    return s;
}

// Coordinates that wander: the shape of a vector map file, moderately compressible.
std::string MapBinary(Rng& r, size_t size) {
    std::string s(size, '\0');
    int32_t x = 1000000, y = 2000000;
    for (size_t i = 0; i + 8 <= size; i += 8) {
        x += int32_t(r.Next() % 201) - 100;
        y += int32_t(r.Next() % 201) - 100;
        std::memcpy(&s[i], &x, 4);
        std::memcpy(&s[i + 4], &y, 4);
    }
    return s;
}

void Generate(const fs::path& root) {
    std::printf("Generating the project in %s ...\n", root.c_str());
    Rng r{0x9E3779B97F4A7C15ull};
    uint64_t total = 0;
    // Many small tables: header, data, map and index files.
    for (int t = 0; t < 320; ++t) {
        fs::path dir = root / "TABLES" / "DATA" / ("T" + std::to_string(t));
        std::string name = "Table" + std::to_string(t);
        std::string tab =
            "!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\nDefinition Table\r\n  Type NATIVE Charset "
            "\"WindowsLatin1\"\r\n  Fields 3\r\n    Name Char (40) ;\r\n    Kind Char (20) ;\r\n    Area Float ;\r\n";
        size_t dat = 20000 + size_t(r.Next() % 900000), map = 10000 + size_t(r.Next() % 500000);
        WriteFile(dir / (name + ".TAB"), tab);
        WriteFile(dir / (name + ".DAT"), TableText(r, dat));
        WriteFile(dir / (name + ".MAP"), MapBinary(r, map));
        WriteFile(dir / (name + ".ID"), MapBinary(r, map / 8));
        total += tab.size() + dat + map + map / 8;
    }
    // A compressible raster: smooth terrain with a little texture.
    {
        const size_t w = 16384, h = 18000;
        fs::create_directories(root / "RASTERS");
        std::ofstream out(root / "RASTERS" / "terrain.tif", std::ios::binary);
        std::string row(w, '\0');
        for (size_t y = 0; y < h; ++y) {
            for (size_t x = 0; x < w; ++x)
                row[x] = char(((x / 64 + y / 48) & 0x3F) + ((r.Next() & 7) == 0 ? 1 : 0) + ((x * y / 4096) & 0x70));
            out.write(row.data(), std::streamsize(w));
        }
        total += w * h;
    }
    // A noisy raster: a gradient under strong sensor noise (only entropy coding helps).
    {
        const size_t size = size_t(200) << 20;
        std::ofstream out(root / "RASTERS" / "scan_noisy.tif", std::ios::binary);
        std::string block(1 << 20, '\0');
        for (size_t done = 0; done < size; done += block.size()) {
            for (size_t i = 0; i < block.size(); ++i) {
                uint64_t n = r.Next();
                int noise = int(n & 31) + int((n >> 5) & 31) + int((n >> 10) & 31) - 46;
                block[i] = char(((done + i) / 4096 & 0x7F) + noise);
            }
            out.write(block.data(), std::streamsize(block.size()));
        }
        total += size;
    }
    // An already compressed raster: deflate output of varied data.
    {
        const size_t size = size_t(150) << 20;
        std::ofstream out(root / "RASTERS" / "ortho.ecw", std::ios::binary);
        std::string raw;
        std::vector<unsigned char> packed;
        size_t written = 0;
        while (written < size) {
            raw = TableText(r, 1 << 20);
            for (auto& c : raw) c = char(c ^ char(r.Next() & 0x0F));
            uLongf n = compressBound(uLong(raw.size()));
            packed.resize(n);
            compress2(packed.data(), &n, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 1);
            size_t take = std::min<size_t>(n, size - written);
            out.write(reinterpret_cast<const char*>(packed.data()), std::streamsize(take));
            written += take;
        }
        total += size;
    }
    WriteFile(root / "Project.WOR",
              "!Workspace\r\n!Version 600\r\n!Charset WindowsLatin1\r\nOpen Table \"TABLES\\Table1\" As Table1\r\n");
    std::printf("Generated %.1f MB.\n", double(total) / 1e6);
}

// The project of one big raster (6 GiB, past every 32-bit size): stretches of smooth terrain
// rows and stretches of sensor noise, 256 MiB each, as an aerial photo with cloud and water.
void GenerateBig(const fs::path& root) {
    std::printf("Generating the big project in %s ...\n", root.c_str());
    fs::create_directories(root / "RASTERS");
    std::ofstream out(root / "RASTERS" / "aerial.tif", std::ios::binary);
    Rng r{0xD1B54A32D192ED03ull};
    const size_t block = size_t(1) << 20, total = size_t(6) << 30, stretch = size_t(256) << 20;
    std::string bytes(block, '\0');
    for (size_t done = 0; done < total; done += block) {
        const bool noisy = (done / stretch) % 2 == 1;
        for (size_t i = 0; i < block; ++i) {
            const size_t at = done + i, x = at % 16384, y = at / 16384;
            if (noisy) {
                const uint64_t n = r.Next();
                bytes[i] = char((y / 64 & 0x7F) + int(n & 31) + int((n >> 5) & 31) - 31);
            } else {
                bytes[i] = char(((x / 64 + y / 48) & 0x3F) + ((x * y / 4096) & 0x70) + ((i & 0xFFF) == 0 ? 1 : 0));
            }
        }
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    WriteFile(root / "Project.WOR",
              "!Workspace\r\n!Version 600\r\n!Charset WindowsLatin1\r\nRegister Table \"RASTERS\\aerial.tif\"\r\n");
    std::printf("Generated %.1f GB.\n", double(total) / 1e9);
}

uint64_t DirectoryBytes(const fs::path& root) {
    uint64_t total = 0;
    for (auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) total += e.file_size();
    return total;
}

// Runs the engine on every file below the current folder (the child process's work).
int EngineChild(const std::string& library, const std::string& archive) {
    void* lib = dlopen(library.c_str(), RTLD_NOW);
    if (!lib) {
        std::fprintf(stderr, "cannot load %s: %s\n", library.c_str(), dlerror());
        return 2;
    }
    auto exec = reinterpret_cast<ZipEngineExecFunc>(dlsym(lib, ZIPENGINE_EXEC_NAME));
    if (!exec) return 2;
    std::string spec = "*";
    std::string name = archive;
    FileSpecEntry entry;
    EngineCallRecord record;
    ZipEngineFillPackRecord(&record, &entry, spec.data(), name.data(), 0);
    int32_t n = exec(&record);
    return n > 0 ? 0 : 1;
}

struct Run {
    std::string name;
    double seconds = 0;
    double cpuSeconds = 0;  // user + system time of the packer, all its threads
    long peakKb = 0;
    uint64_t size = 0;
    int status = -1;
};

Run RunChild(const std::string& name, const fs::path& folder, const std::vector<std::string>& argv,
             const fs::path& archive) {
    Run run;
    run.name = name;
    fs::remove(archive);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKb = usage.ru_maxrss;
    run.cpuSeconds = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) * 1e-6 +
                     double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) * 1e-6;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::error_code ec;
    run.size = fs::file_size(archive, ec);
    if (ec || run.status != 0) run.size = 0;  // a failed run made no archive to measure
    std::printf("  %-28s %8.1f s (CPU %7.1f s)  %10.1f MB  peak %7.1f MB  exit %d\n", name.c_str(), run.seconds,
                run.cpuSeconds, double(run.size) / 1e6, double(run.peakKb) / 1024.0, run.status);
    std::fflush(stdout);
    return run;
}

// The Windows engine and what runs it, when all are there.
struct WindowsEngine {
    bool found = false;
    std::string library, runner, wineRun;
    std::string why;  // when not found
};

WindowsEngine FindWindowsEngine(const fs::path& self) {
    WindowsEngine w;
    const char* bin = std::getenv("TALLOMIR_WINDOWS_BIN_DIR");
    w.library = (bin ? fs::path(bin) : fs::path(TALLOMIR_SOURCE_DIR) / "build-windows" / "bin") / "ZipEngine.dll";
    w.runner = (self.parent_path() / "zip_engine_run.exe").string();
    w.wineRun = (fs::path(TALLOMIR_SOURCE_DIR) / "scripts" / "wine-run").string();
    if (!fs::exists(w.library)) w.why = w.library + " not built (cmake --preset windows)";
    else if (!fs::exists(w.runner)) w.why = w.runner + " not built (needs MinGW-w64)";
    else if (std::system("command -v wine64 >/dev/null 2>&1 || test -x /usr/lib/wine/wine64") != 0) w.why = "no Wine";
    w.found = w.why.empty();
    if (w.found) w.library = fs::canonical(w.library).string();
    return w;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--engine-child") return EngineChild(argv[2], argv[3]);
    const bench::CommandLine line = bench::ParseCommandLine(
        argc, argv,
        "Usage: zip_bench [--keep] [--big] [WORK_DIR]\n"
        "Packs a generated project of about 1 GB (made in WORK_DIR/project on the first run,\n"
        "default WORK_DIR /tmp/tallomir-zipbench) with the zip engine, zip -9 -r and 7z -mx=9.\n"
        "  --keep   keep the three archives\n"
        "  --big    a project of one 6 GiB raster instead (WORK_DIR/big-project), against zip -9 -r\n",
        {"--keep", "--big"}, 1);
    if (line.exitStatus >= 0) return line.exitStatus;
    const bool keep = line.flags.count("--keep") > 0;
    const bool big = line.flags.count("--big") > 0;
    const fs::path work = line.words.empty() ? fs::path("/tmp/tallomir-zipbench") : fs::path(line.words[0]);
    fs::path self = fs::canonical("/proc/self/exe");
    std::string library;
    if (const char* bin = std::getenv("TALLOMIR_BIN_DIR")) library = std::string(bin) + "/libzipengine.so";
    if (library.empty() || !fs::exists(library))
        library = (self.parent_path().parent_path().parent_path() / "bin" / "libzipengine.so").string();
    if (!fs::exists(library)) {
        std::fprintf(stderr, "libzipengine.so not found (set TALLOMIR_BIN_DIR)\n");
        return 2;
    }
    fs::path project = work / (big ? "big-project" : "project");
    if (!fs::exists(project / "Project.WOR")) {
        if (big) GenerateBig(project);
        else Generate(project);
    }
    const uint64_t input = DirectoryBytes(project);
    std::printf("Project: %.1f MB in %s; %u cores\nRuns:\n", double(input) / 1e6, project.c_str(),
                std::thread::hardware_concurrency());

    std::vector<Run> runs;
    runs.push_back(RunChild("zip engine (level 9)", project,
                            {self.string(), "--engine-child", library, (work / "engine.zip").string()},
                            work / "engine.zip"));
    const WindowsEngine windows =
        big ? WindowsEngine{false, {}, {}, {}, "not run on the big project"} : FindWindowsEngine(self);
    if (windows.found) {
        // Wine's start (its server and services) is paid before the clock runs, with its output
        // away from ours: the services it starts keep what they were given open for minutes.
        std::system(("'" + windows.wineRun + "' cmd /c exit 0 </dev/null >/dev/null 2>&1").c_str());
        // Wine's drive Z: is the root of the host's files.
        runs.push_back(RunChild(
            "Windows zip engine under Wine", project,
            {windows.wineRun, windows.runner, "Z:" + windows.library, "Z:" + (work / "engine-windows.zip").string()},
            work / "engine-windows.zip"));
    } else {
        std::printf("  (no Windows engine: %s)\n", windows.why.c_str());
    }
    runs.push_back(RunChild("Info-ZIP zip -9 -r", project,
                            {"zip", "-9", "-r", "-q", (work / "infozip.zip").string(), "."}, work / "infozip.zip"));
    if (!big)
        runs.push_back(RunChild("7z a -tzip -mx=9", project,
                                {"7z", "a", "-tzip", "-mx=9", "-bd", "-bso0", "-bsp0", (work / "7z.zip").string(), "."},
                                work / "7z.zip"));
    int check = std::system(("unzip -tqq '" + (work / "engine.zip").string() + "' >/dev/null").c_str());
    std::printf("\nEngine archive checked by unzip -t: %s\n", check == 0 ? "OK" : "FAILED");
    if (windows.found) {
        const std::string windowsArchive = (work / "engine-windows.zip").string();
        check = std::system(("unzip -tqq '" + windowsArchive + "' >/dev/null").c_str());
        const int same =
            std::system(("cmp -s '" + (work / "engine.zip").string() + "' '" + windowsArchive + "'").c_str());
        std::printf("Windows engine archive checked by unzip -t: %s; byte for byte the Linux engine's: %s\n",
                    check == 0 ? "OK" : "FAILED", same == 0 ? "yes" : "no");
    }
    std::printf("\n");
    std::printf("%-28s %9s %9s %12s %10s %16s %16s\n", "packer", "time s", "CPU s", "size MB", "ratio",
                "its time/engine", "engine size/its");
    for (const Run& r : runs) {
        if (r.size == 0 || runs[0].size == 0) {
            std::printf("%-28s failed (exit %d)\n", r.name.c_str(), r.status);
            continue;
        }
        std::printf("%-28s %9.1f %9.1f %12.1f %10.4f %15.2fx %15.4fx\n", r.name.c_str(), r.seconds, r.cpuSeconds,
                    double(r.size) / 1e6, double(r.size) / double(input), r.seconds / runs[0].seconds,
                    r.size ? double(runs[0].size) / double(r.size) : 0.0);
    }
    std::printf("\nEngine peak memory: %.1f MB\n", double(runs[0].peakKb) / 1024.0);
    if (!keep)
        for (const char* a : {"engine.zip", "engine-windows.zip", "infozip.zip", "7z.zip"}) fs::remove(work / a);
    return 0;
}
