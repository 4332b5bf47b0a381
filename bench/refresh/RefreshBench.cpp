// The refresh on a generated project of 50 workspaces and 2,000 tables (70 % native,
// 15 % raster, 15 % seamless over three tiles each), timed against a baseline measured in
// the same run: reading each workspace and each header once and a stat of every component
// file the refresh lists. Goal: the refresh within 3x of the baseline and under 1 s.
//
//   bench_refresh [FOLDER]   (default: a fresh folder under /tmp, removed afterwards; a
//                            given folder is generated once and kept)
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench/BenchCommandLine.h"
#include <string>
#include <vector>

#include "analysis/Analysis.h"
#include "app/Globals.h"
#include "platform/Automation.h"
#include "platform/FileSystem.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWorkspaces = 50;
constexpr int kTables = 2000;

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// A dBase III file with one character column "Table" holding `rows`.
std::string Dbf(const std::vector<std::string>& rows) {
    const int width = 100;
    std::string out(32, '\0');
    out[0] = 0x03;
    out[1] = 126;
    out[2] = 12;
    out[3] = 8;
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
    };
    auto put16 = [&](std::size_t at, std::uint16_t v) {
        out[at] = static_cast<char>(v);
        out[at + 1] = static_cast<char>(v >> 8);
    };
    put32(4, static_cast<std::uint32_t>(rows.size()));
    put16(8, 32 + 32 + 1);
    put16(10, 1 + width);
    std::string field(32, '\0');
    field.replace(0, 5, "Table");
    field[11] = 'C';
    field[16] = static_cast<char>(width);
    out += field;
    out += '\x0d';
    for (const auto& r : rows) {
        std::string rec = " " + r;
        rec.resize(1 + width, ' ');
        out += rec;
    }
    out += '\x1a';
    return out;
}

const std::string kNative =
    "!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\nDefinition Table\r\n  Type NATIVE Charset "
    "\"WindowsLatin1\"\r\n  Fields 1\r\n    Name Char (20) ;\r\n";

void NativeTable(const fs::path& base) {
    Write(base.string() + ".TAB", kNative);
    Write(base.string() + ".DAT", Dbf({"a", "b"}));
    Write(base.string() + ".MAP", std::string(2048, 'm'));
    Write(base.string() + ".ID", std::string(64, 'i'));
}

void Generate(const fs::path& root) {
    std::vector<std::string> openLines;
    for (int t = 0; t < kTables; ++t) {
        fs::path folder = root / ("data" + std::to_string(t % 20));
        std::string name = "T" + std::to_string(t);
        if (t % 20 < 14) {
            NativeTable(folder / name);
        } else if (t % 20 < 17) {
            Write(folder / (name + ".TAB"), "!table\r\n!version 300\r\n\r\nDefinition Table\r\n  File \"" + name +
                                                ".tif\"\r\n  Type \"RASTER\"\r\n  (0,0) (0,0) Label \"Pt 1\"\r\n");
            Write(folder / (name + ".tif"), std::string(4096, 'r'));
        } else {
            std::vector<std::string> tiles;
            for (int k = 0; k < 3; ++k) {
                std::string tile = name + "_tile" + std::to_string(k);
                NativeTable(folder / "tiles" / tile);
                tiles.push_back((folder / "tiles" / (tile + ".TAB")).string());
            }
            Write(folder / (name + ".TAB"),
                  "!table\r\n!version 300\r\n!charset Neutral\r\n\r\nDefinition Table\r\n  Type NATIVE Charset "
                  "\"Neutral\"\r\n  Fields 1\r\n    Table Char (100) ;\r\nbegin_metadata\r\n\"\\IsSeamless\" = "
                  "\"TRUE\"\r\nend_metadata\r\n");
            Write(folder / (name + ".DAT"), Dbf(tiles));
            Write(folder / (name + ".MAP"), std::string(1024, 'm'));
        }
        openLines.push_back("Open Table \"" + (folder / name).string() + "\" As " + name + " Interactive");
    }
    for (int w = 0; w < kWorkspaces; ++w) {
        std::string text = "!Workspace\r\n!Version 600\r\n!Charset WindowsLatin1\r\n";
        for (int t = w; t < kTables; t += kWorkspaces) text += openLines[static_cast<std::size_t>(t)] + "\r\n";
        text += "Set Window FrontWindow() Max\r\n";
        Write(root / ("W" + std::to_string(w) + ".WOR"), text);
    }
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char* argv[]) {
    const bench::CommandLine line =
        bench::ParseCommandLine(argc, argv,
                                "Usage: bench_refresh [FOLDER]\n"
                                "Times the refresh on a generated project of 50 workspaces and 2,000 tables against\n"
                                "reading each workspace and header once. FOLDER keeps the project between runs\n"
                                "(default: a fresh folder under /tmp, removed afterwards).\n",
                                {}, 1);
    if (line.exitStatus >= 0) return line.exitStatus;
    setenv("TALLOMIR_AUTOMATION_PATH", TALLOMIR_DEFAULT_AUTOMATION_DIR, 0);
    bool temporary = line.words.empty();
    fs::path root = temporary ? fs::temp_directory_path() / ("tallomir-bench-refresh-" + std::to_string(::getpid()))
                              : fs::path(line.words[0]);
    if (temporary || !fs::exists(root / "W0.WOR")) {  // a given folder that holds a project is kept
        fs::remove_all(root);
        Generate(root);
    }

    try {
        app::MapInfoApp().Assign(platform::CreateOleObject("MapInfo.Runtime"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_refresh: %s\n", e.what());
        return 2;
    }
    analysis::CopyFormState state;
    for (int w = 0; w < kWorkspaces; ++w)
        state.workspaces.push_back((root / ("W" + std::to_string(w) + ".WOR")).string());
    analysis::Analysis analysis(state);

    // Every file the refresh lists, gathered once for the baseline.
    analysis.Refresh();
    std::vector<std::string> headers, files;
    for (std::size_t i = 0; i < state.tables.size(); ++i) {
        analysis.TableInfo(static_cast<int>(i));
        for (const auto& f : state.info.fileInfo) {
            files.push_back(f);
            if (f.size() > 4 && (f.substr(f.size() - 4) == ".TAB" || f.substr(f.size() - 4) == ".tab"))
                headers.push_back(f);
        }
    }

    double best = 1e9, baseline = 1e9;
    for (int round = 0; round < 5; ++round) {
        auto start = Clock::now();
        analysis.Refresh();
        best = std::min(best, Seconds(Clock::now() - start));

        start = Clock::now();
        std::size_t bytes = 0;
        char buf[65536];
        for (const auto& list : {state.workspaces, headers}) {
            for (const auto& h : list) {
                std::FILE* f = std::fopen(h.c_str(), "rb");
                if (!f) continue;
                std::size_t n;
                while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes += n;
                std::fclose(f);
            }
        }
        struct stat st;
        for (const auto& f : files) bytes += ::stat(f.c_str(), &st) == 0 ? 1 : 0;
        baseline = std::min(baseline, Seconds(Clock::now() - start));
        if (bytes == 0) std::fputs("", stderr);
    }
    std::printf("refresh: %zu workspaces, %zu tables, %zu files, %s\n", state.workspaces.size(), state.tables.size(),
                files.size(), state.sizeText.c_str());
    std::printf("refresh  %.3f s\nbaseline %.3f s (each workspace and header read once, a stat of every file)\n", best,
                baseline);
    std::printf("ratio    %.2fx (goal: within 3x, and under 1 s)\n", best / baseline);
    app::MapInfoApp().Release();
    if (temporary) fs::remove_all(root);
    return 0;
}
