// Feeds arbitrary bytes to the reader of existing archives: it must refuse or accept them
// without reading outside the buffer, and whatever it accepts must lie inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ArchiveReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zipengine::MemorySource source(data, size);
    zipengine::ExistingArchive archive;
    zipengine::ReadResult r = zipengine::ReadExistingArchive(source, archive);
    if (r.ok) {
        if (archive.prefixLength > size) std::abort();
        for (const auto& e : archive.entries)
            if (e.localPosition < archive.prefixLength || e.localPosition + e.entryLength > size) std::abort();
    }
    return 0;
}
