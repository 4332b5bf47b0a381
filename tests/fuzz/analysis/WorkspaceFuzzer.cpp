// Any bytes as a workspace and a table header, through the whole analysis with the real
// MapInfo runtime: the refresh (workspace reading, each table's file set, the seamless check),
// the workspace rewriting, and the view and raster header rewriting of a copied header.
// The input is split at its first NUL byte: the workspace before it, the header after it.
// Everything is written in a private temporary folder; the header comes with a small .DAT
// beside it, so that its tables open for real.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

#include "analysis/Analysis.h"
#include "app/Globals.h"
#include "platform/Automation.h"
#include "platform/FileSystem.h"
#include "tests/fuzz/FuzzScratch.h"

namespace {

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A dBase III file of two rows in one 16-character column "Table".
std::string SmallDat() {
    std::string dat(32, '\0');
    dat[0] = 3, dat[4] = 2, dat[8] = 65, dat[10] = 17;
    std::string field(32, '\0');
    field.replace(0, 5, "Table");
    field[11] = 'C', field[16] = 16;
    dat += field;
    dat += '\x0D';
    for (std::string row : {"Fuzz.TAB", "Tile.TAB"}) {
        row.resize(16, '\0');
        dat += ' ' + row;
    }
    dat += '\x1A';
    return dat;
}

struct Scratch {
    std::string folder;
    Scratch() {
        folder = fuzz_support::ScratchFolder("analysis-fuzz");
        std::filesystem::create_directories(folder + "/out");
        Write(folder + "/Fuzz.DAT", SmallDat());
        Write(folder + "/Tile.TAB",
              "!table\r\n!version 300\r\n\r\nDefinition Table\r\n  Type NATIVE\r\n  Fields 1\r\n"
              "    Table Char (16) ;\r\n");
        Write(folder + "/Tile.DAT", SmallDat());
        try {
            app::MapInfoApp().Assign(platform::CreateOleObject("MapInfo.Runtime"));
        } catch (const std::exception&) {
            std::abort();  // the runtime plugin must be found (TALLOMIR_AUTOMATION_PATH)
        }
    }
    ~Scratch() { app::MapInfoApp().Release(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\0');
    const std::string workspace = input.substr(0, cut);
    const std::string header = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    const std::string& dir = scratch.folder;
    Write(dir + "/W.WOR", workspace);
    Write(dir + "/Fuzz.TAB", header);

    analysis::CopyFormState state;
    state.workspaces.push_back(dir + "/W.WOR");
    analysis::Analysis analysis(state);
    try {
        analysis.Refresh();
        for (std::size_t i = 0; i < state.tables.size() && i < 64; ++i) analysis.TableInfo(static_cast<int>(i));
    } catch (const std::exception&) {}
    try {
        analysis.CopyWorkSpace(dir + "/W.WOR", dir + "/out/W.WOR");
    } catch (const std::exception&) {}
    for (auto rewrite : {&analysis::Analysis::UpdateViewTAB, &analysis::Analysis::UpdateRasterTAB}) {
        Write(dir + "/out/Fuzz.tab", header);
        try {
            rewrite(dir + "/out/Fuzz");
        } catch (const std::exception&) {}
    }
    // Whatever the input, the analysis never leaves a table open in the runtime.
    try {
        app::MapInfoApp().Do("Close Table LAYER");
        std::abort();  // LAYER was still open
    } catch (const std::exception&) {}
    return 0;
}
