#pragma once
// Tables for the runtime's tests: small native tables written byte by byte (header and
// dBase rows), a copy of the sample project, and a snapshot of a folder's bytes.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace mapinfo_test {

struct Column {
    std::string name;
    std::size_t width;
};

// dBase III bytes: character columns, one record per row ('*' first = deleted row, the
// flag is taken off before the values are written).
inline std::string MakeDat(const std::vector<Column>& columns, const std::vector<std::vector<std::string>>& rows,
                           const std::vector<bool>& deleted = {}) {
    std::string out(32, '\0');
    std::size_t recordLength = 1;
    for (const Column& c : columns) recordLength += c.width;
    std::size_t headerLength = 32 + 32 * columns.size() + 1;
    out[0] = 0x03;
    out[1] = 124, out[2] = 1, out[3] = 15;
    std::uint32_t count = static_cast<std::uint32_t>(rows.size());
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
    out[8] = static_cast<char>(headerLength & 0xFF), out[9] = static_cast<char>(headerLength >> 8);
    out[10] = static_cast<char>(recordLength & 0xFF), out[11] = static_cast<char>(recordLength >> 8);
    for (const Column& c : columns) {
        std::string d(32, '\0');
        d.replace(0, c.name.size(), c.name);
        d[11] = 'C';
        d[16] = static_cast<char>(c.width);
        out += d;
    }
    out += '\x0D';
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out += (r < deleted.size() && deleted[r]) ? '*' : ' ';
        for (std::size_t i = 0; i < columns.size(); ++i) {
            std::string v = i < rows[r].size() ? rows[r][i] : "";
            v.resize(columns[i].width, '\0');
            out += v;
        }
    }
    out += '\x1A';
    return out;
}

inline std::string NativeHeader(const std::vector<Column>& columns, const std::string& extra = "") {
    std::string h =
        "!table\r\n!version 300\r\n!charset WindowsLatin1\r\n\r\nDefinition Table\r\n"
        "  Type NATIVE Charset \"WindowsLatin1\"\r\n  Fields " +
        std::to_string(columns.size()) + "\r\n";
    for (const Column& c : columns) h += "    " + c.name + " Char (" + std::to_string(c.width) + ") ;\r\n";
    return h + extra;
}

inline const char* kSeamlessMetadata = "begin_metadata\r\n\"\\IsSeamless\" = \"TRUE\"\r\nend_metadata\r\n";

// Writes folder/name.TAB and folder/name.DAT.
inline void WriteNativeTable(const std::string& folder, const std::string& name, const std::vector<Column>& columns,
                             const std::vector<std::vector<std::string>>& rows, const std::string& extraHeader = "",
                             const std::vector<bool>& deleted = {}) {
    testing_support::WriteText(folder + "/" + name + ".TAB", NativeHeader(columns, extraHeader));
    testing_support::WriteText(folder + "/" + name + ".DAT", MakeDat(columns, rows, deleted));
}

// Copies the sample project into `dest`, so tests never change the repository's files.
inline void CopySample(const std::string& dest) {
    std::filesystem::copy(testing_support::SourceDir() + "/examples", dest, std::filesystem::copy_options::recursive);
}

}  // namespace mapinfo_test
