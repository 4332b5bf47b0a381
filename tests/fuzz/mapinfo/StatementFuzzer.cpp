// Any bytes as statements and expressions, one per line, run against a seamless table in
// a private temporary folder. Open Table statements are parsed but not run, so the fuzzer
// never opens (or commits into) files outside that folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <variant>

#include <stdlib.h>

#include "engines/mapinfo/MapBasicParser.h"
#include "tests/fuzz/FuzzScratch.h"
#include "engines/mapinfo/MapInfoEngine.h"
#include "engines/mapinfo/MapInfoError.h"

namespace {

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A seamless table of two rows: "Table" Char(16), "N" Char(4).
std::string MakeTable() {
    const std::string& folder = fuzz_support::ScratchFolder("mapinfo-fuzz");
    std::string base = folder + "/Seam";
    Write(base + ".TAB",
          "!table\r\n!version 300\r\n\r\nDefinition Table\r\n  Type NATIVE\r\n  Fields 2\r\n    Table Char (16) ;\r\n"
          "    N Char (4) ;\r\nbegin_metadata\r\n\"\\IsSeamless\" = \"TRUE\"\r\nend_metadata\r\n");
    std::string dat(32, '\0');
    dat[0] = 3, dat[4] = 2, dat[8] = 97, dat[10] = 21;
    auto field = [&](const char* name, char width) {
        std::string d(32, '\0');
        d.replace(0, std::string(name).size(), name);
        d[11] = 'C', d[16] = width;
        dat += d;
    };
    field("Table", 16);
    field("N", 4);
    dat += '\x0D';
    dat += std::string(
        " C:\\T\\tile1.TAB\0"
        "1\0\0\0",
        21);
    dat += std::string(
        "*tile2.TAB\0\0\0\0\0\0"
        "2\0\0\0",
        21);
    dat += '\x1A';
    Write(base + ".DAT", dat);
    return base;
}

const std::string& TablePath() {
    static const std::string path = MakeTable();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static mapinfo::Engine engine;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        if (engine.OpenTableCount() == 0) engine.Do("Open Table \"" + TablePath() + "\" As LAYER");
    } catch (const mapinfo::MapInfoError&) {
        std::abort();  // the fuzzer's own table must open
    }
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        std::string_view line = input.substr(start, end - start);
        start = end + 1;
        try {
            mapinfo::Statement s = mapinfo::ParseStatement(line);
            if (!std::holds_alternative<mapinfo::OpenTableStmt>(s)) engine.Do(line);
        } catch (const mapinfo::MapInfoError&) {}
        try {
            (void)engine.Eval(line);
        } catch (const mapinfo::MapInfoError&) {}
    }
    return 0;
}
