// Arbitrary bytes as an archive: finding the end record, reading the directory and, when
// that succeeds, converting to a self-extractor must never crash or read out of bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/FileSystem.h"
#include "zip/ZipArchiver.h"

namespace {

struct Paths {
    std::string folder;
    std::string archive;
    std::string stub;
    Paths() {
        char templ[] = "/tmp/zipfuzz-XXXXXX";
        folder = ::mkdtemp(templ) ? templ : "/tmp";
        archive = folder + "/input.zip";
        stub = folder + "/stub.bin";
        platform::WriteFile(stub, std::string(100, 'S'));
    }
    ~Paths() {
        ::unlink(archive.c_str());
        ::unlink(stub.c_str());
        ::rmdir(folder.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Paths paths;
    platform::WriteFile(paths.archive, std::string(reinterpret_cast<const char*>(data), size));
    zip::TZipArchiver zip;
    zip.Unattended = true;
    zip.HowToDelete = zip::htdFinal;
    zip.SFXPath = paths.stub;
    zip.SetZipFilename(paths.archive);
    for (const zip::ZipDirEntry& e : zip.Entries()) {
        if (e.FileName.size() != e.FileNameLength) __builtin_trap();
    }
    if (!zip.ZipFilename().empty()) {
        zip.ConvertToSFX();
        ::unlink((paths.folder + "/input.exe").c_str());
    }
    return 0;
}
