// Feeds arbitrary bytes to the self-extractor's reader: locating the header and the
// archive, then inflating and checking every entry into memory, and checking every name.
// Nothing may crash, hang or read outside the input.
#include <cstddef>
#include <cstdint>

#include "CommandLine.h"
#include "SafeName.h"
#include "SfxArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sfx::MemorySource source(data, size);
    for (bool checkSize : {true, false}) {
        sfx::SfxArchive archive;
        if (!sfx::OpenSfxArchive(source, archive, checkSize).ok) continue;
        sfx::ExpandCommandLine(archive.header.commandLine, "C:\\Out\\");
        for (const sfx::ZipEntry& entry : archive.entries) {
            sfx::CheckEntryName(entry.name);
            // Declared sizes can claim gigabytes; stop writing after a bound.
            uint64_t produced = 0;
            sfx::ExtractEntryData(source, archive, entry, [&](const uint8_t*, size_t n) {
                produced += n;
                return produced < (uint64_t(16) << 20);
            });
        }
    }
    return 0;
}
