// Makes the fuzz targets' larger seeds from the sample project, at build time, so that no
// large file has to live in git. Every seed is a real file of the sample project or is grown
// from one, and stays within the input limit of the targets that read it:
//   analysis/    a workspace, a NUL byte and a table header (the workspace fuzzer's input);
//                the workspace's tables are pointed at the fuzzer's own Fuzz and Tile tables
//   headers/     every table header, and one declaring the largest field count accepted
//   dat/         every .DAT file, and the seamless table's grown to about 250 KB of rows
//   statements/  the workspaces and the view header (statements, one a line), and a
//                workspace of about 128 KB
//   profile/     a settings file of about 60 KB
//   zip/         the sample project (with the large .DAT) archived by the zip engine,
//                deflated and stored
//   sfx/         the same archives made self-extracting by the zip component
// Usage: fuzz_seed_maker EXAMPLES-FOLDER OUTPUT-FOLDER
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ArchiveUpdate.h"
#include "zip/ZipArchiver.h"

namespace fs = std::filesystem;

namespace {

// The input limits of the targets (their CMakeLists name the same numbers).
constexpr std::size_t kWorkspaceLimit = 64 * 1024;
constexpr std::size_t kStatementLimit = 128 * 1024;
constexpr std::size_t kDatLimit = 256 * 1024;
constexpr std::size_t kArchiveLimit = 1024 * 1024;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, const std::string& bytes, std::size_t limit) {
    if (bytes.size() > limit)
        throw std::runtime_error(path.string() + " would be " + std::to_string(bytes.size()) +
                                 " bytes, over its target's limit of " + std::to_string(limit));
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The workspace with the path of its first Open Table replaced by "Fuzz" and of the others by
// "Tile", the two tables the workspace fuzzer provides; `suffix` is added to every alias
// named with As, so that copies of one workspace open tables of their own.
std::string PointAtFuzzTables(const std::string& workspace, const std::string& suffix = "") {
    std::string out;
    bool first = true;
    for (std::string line : Lines(workspace)) {
        if (StartsWith(line, "Open Table \"")) {
            const std::size_t close = line.find('"', 12);
            if (close != std::string::npos) line.replace(12, close - 12, first ? "Fuzz" : "Tile");
            first = false;
            const std::size_t as = line.find(" As ");
            if (as != std::string::npos && !suffix.empty()) {
                const std::size_t end = line.find(' ', as + 4);
                line.insert(end == std::string::npos ? line.size() : end, suffix);
            }
        }
        out += line;
    }
    return out;
}

// The lines of a workspace after its "!" lines.
std::string Body(const std::string& workspace) {
    std::string out;
    for (const std::string& line : Lines(workspace))
        if (!StartsWith(line, "!")) out += line;
    return out;
}

// A workspace of the sample's two workspaces copied over and over (their tables pointed at
// the fuzzer's, each copy with aliases of its own), as long as it stays within `budget`.
std::string LargeWorkspace(const std::string& city, const std::string& rural, std::size_t budget) {
    std::string out = "!Workspace\r\n!Version 600\r\n!Charset WindowsLatin1\r\n";
    for (int copy = 1;; ++copy) {
        const std::string suffix = copy == 1 ? "" : "_" + std::to_string(copy);
        const std::string more = Body(PointAtFuzzTables(city, suffix)) + Body(PointAtFuzzTables(rural, suffix));
        if (out.size() + more.size() > budget) return out;
        out += more;
    }
}

// A native table header declaring the largest field count the header reader accepts, its
// columns those of the sample's tables in turn, and the seamless table's metadata.
std::string LargeHeader() {
    constexpr int kFields = 2046;
    const char* kinds[] = {"Char (24)",  "Integer",   "Char (30)",    "Char (12)",
                           "Char (100)", "Char (40)", "Decimal (8,2)"};
    std::string out =
        "!table\r\n!version 300\r\n!charset Neutral\r\n\r\nDefinition Table\r\n"
        "  Type NATIVE Charset \"Neutral\"\r\n  Fields " +
        std::to_string(kFields) + "\r\n";
    for (int i = 0; i < kFields; ++i)
        out += "    Field" + std::to_string(i + 1) + " " + kinds[i % std::size(kinds)] + " ;\r\n";
    out += "begin_metadata\r\n\"\\IsSeamless\" = \"TRUE\"\r\n\"\\IsReadOnly\" = \"FALSE\"\r\nend_metadata\r\n";
    return out;
}

// The .DAT with its rows repeated until the file would pass `budget`, the record count in
// its header set to match.
std::string LargeDat(const std::string& dat, std::size_t budget) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(dat.at(i))); };
    const std::size_t headerLength = byte(8) | byte(9) << 8;
    const std::size_t recordLength = byte(10) | byte(11) << 8;
    const std::size_t rows = byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24;
    if (rows == 0 || recordLength == 0 || headerLength + rows * recordLength > dat.size())
        throw std::runtime_error("the sample .DAT is not as expected");
    const std::size_t count = (budget - headerLength - 1) / recordLength;
    std::string out = dat.substr(0, headerLength);
    for (std::size_t i = 0; i < count; ++i) out += dat.substr(headerLength + (i % rows) * recordLength, recordLength);
    out += '\x1A';
    for (int b = 0; b < 4; ++b) out[4 + b] = static_cast<char>((count >> (8 * b)) & 0xFF);
    return out;
}

// A settings file as the wizard keeps it, grown with drive and share mappings, and with one
// value longer than a value may be (it is read cut).
std::string LargeSettings(std::size_t budget) {
    std::string out =
        "[Copy Details]\r\nPath=C:\\Temp\\Tallomir\r\nZip=True\r\nZipFile=\"Out.zip\"\r\n"
        "Message=" +
        std::string(3000, 'm') + "\r\n\r\n[Drives]\r\nC=/mnt/c\r\n";
    for (int i = 1;; ++i) {
        const std::string line =
            "\\\\server" + std::to_string(i) + "\\share=/srv/server" + std::to_string(i) + "/share\r\n";
        if (out.size() + line.size() + 2 > budget) break;
        out += line;
    }
    return out + "\r\n";
}

class Quiet : public zipengine::Reporter {
public:
    bool Report(int32_t, int32_t code, int64_t, const std::string& text) override {
        if (code != zipengine::kCodeNone) std::fprintf(stderr, "zip engine: %s\n", text.c_str());
        return true;
    }
};

// Archives everything below `folder` into `archive` with the zip engine.
void ZipFolder(const fs::path& folder, const fs::path& archive, int level) {
    const fs::path here = fs::current_path();
    fs::current_path(folder);
    zipengine::JobOptions options;
    options.archive = archive.string();
    options.tempDir = archive.parent_path().string();
    options.specs = {"*"};
    options.level = level;
    options.recurse = true;
    options.folderEntries = true;
    options.threads = 1;
    Quiet reporter;
    const int32_t stored = zipengine::RunJob(options, reporter);
    fs::current_path(here);
    if (stored <= 0) throw std::runtime_error("the zip engine made no archive " + archive.string());
}

// Makes `archive` (a .zip) self-extracting through the zip component, behind a stand-in stub,
// and moves the result to `target`.
void MakeSelfExtracting(const fs::path& archive, const fs::path& stub, const fs::path& target) {
    zip::TZipArchiver zip;
    zip.Unattended = true;
    zip.HowToDelete = zip::htdFinal;
    zip.SFXPath = stub.string();
    zip.SFXCaption = "Sample project";
    zip.SFXDefaultDir = "C:\\Sample";
    zip.SetZipFilename(archive.string());
    if (zip.ConvertToSFX() != 0) throw std::runtime_error("the zip component could not convert " + archive.string());
    fs::path made = archive;
    made.replace_extension(".exe");
    fs::create_directories(target.parent_path());
    fs::rename(made, target);
    if (fs::file_size(target) > kArchiveLimit) throw std::runtime_error(target.string() + " is over the archive limit");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s EXAMPLES-FOLDER OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    try {
        const fs::path examples = fs::absolute(argv[1]);
        const fs::path out = fs::absolute(argv[2]);
        fs::remove_all(out);

        const std::string city = Read(examples / "City.WOR");
        const std::string rural = Read(examples / "Rural/Rural.WOR");
        const std::string largeHeader = LargeHeader();

        // Workspace and header: each workspace with a native, view, seamless and raster header.
        const std::vector<fs::path> headers = {"Data/Districts.TAB", "Data/DistrictStreets.TAB", "Parcels/Parcels.TAB",
                                               "Imagery/Aerial.TAB"};
        for (const auto& [name, workspace] : {std::pair{"City", city}, std::pair{"Rural", rural}})
            for (const fs::path& header : headers)
                Write(out / "analysis" / (std::string(name) + "-" + header.stem().string()),
                      PointAtFuzzTables(workspace) + '\0' + Read(examples / header), kWorkspaceLimit);
        const std::string seamless = Read(examples / "Parcels/Parcels.TAB");
        Write(out / "analysis/large-workspace",
              LargeWorkspace(city, rural, kWorkspaceLimit - 1 - seamless.size()) + '\0' + seamless, kWorkspaceLimit);
        Write(out / "analysis/large-header", PointAtFuzzTables(city) + '\0' + largeHeader, kWorkspaceLimit);

        // Headers, .DAT files and statements.
        for (const auto& entry : fs::recursive_directory_iterator(examples)) {
            const std::string ext = entry.path().extension().string();
            if (ext == ".TAB") Write(out / "headers" / entry.path().filename(), Read(entry.path()), kWorkspaceLimit);
            if (ext == ".DAT") Write(out / "dat" / entry.path().filename(), Read(entry.path()), kDatLimit);
        }
        Write(out / "headers/Large.TAB", largeHeader, kWorkspaceLimit);
        const std::string largeDat = LargeDat(Read(examples / "Parcels/Parcels.DAT"), kDatLimit);
        Write(out / "dat/Large.DAT", largeDat, kDatLimit);
        Write(out / "statements/City.WOR", city, kStatementLimit);
        Write(out / "statements/Rural.WOR", rural, kStatementLimit);
        Write(out / "statements/DistrictStreets.TAB", Read(examples / "Data/DistrictStreets.TAB"), kStatementLimit);
        Write(out / "statements/Large.WOR", LargeWorkspace(city, rural, kStatementLimit), kStatementLimit);

        Write(out / "profile/Tallomir.INI", LargeSettings(kWorkspaceLimit), kWorkspaceLimit);

        // Archives: the sample project with the large .DAT beside it, so that the stored
        // archive is longer than the 64 KiB (and a bit) in which the end record is sought.
        const fs::path work = out / "work";
        fs::create_directories(work);
        fs::copy(examples, work / "Sample", fs::copy_options::recursive);
        Write(work / "Sample/Parcels/Large.DAT", largeDat, kDatLimit);
        Write(work / "stub.bin", "MZ" + std::string(8190, '\x90'), kArchiveLimit);
        for (const auto& [name, level] : {std::pair{"sample", 9}, std::pair{"sample-stored", 0}}) {
            const fs::path archive = work / (std::string(name) + ".zip");
            ZipFolder(work / "Sample", archive, level);
            if (fs::file_size(archive) > kArchiveLimit)
                throw std::runtime_error(archive.string() + " is over the archive limit");
            fs::create_directories(out / "zip");
            fs::copy_file(archive, out / "zip" / archive.filename());
            MakeSelfExtracting(archive, work / "stub.bin", out / "sfx" / (std::string(name) + ".sfx"));
        }
        fs::remove_all(work);
        Write(out / "stamp", "", 1);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seed_maker: %s\n", e.what());
        return 1;
    }
    return 0;
}
