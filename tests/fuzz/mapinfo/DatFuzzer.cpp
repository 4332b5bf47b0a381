// Any bytes as a .DAT file: every live record's fields are read and rewritten; a damaged
// file is refused with MapInfoError, nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engines/mapinfo/DbfFile.h"
#include "engines/mapinfo/MapInfoError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        auto file = mapinfo::DbfFile::FromBytes(std::string(reinterpret_cast<const char*>(data), size));
        int visited = 0;
        for (std::uint32_t n = file->NextLiveRecord(0); n != 0 && visited < 4096; n = file->NextLiveRecord(n)) {
            std::string record = file->ReadRecord(n);
            for (mapinfo::DbfField field : file->Layout().fields) {
                for (char type : {'C', 'I', 'S', 'J', 'B', 'N'}) {
                    field.type = type;
                    (void)mapinfo::DbfFile::FieldText(record, field);
                }
                field.type = 'C';
                try {
                    std::string changed = mapinfo::DbfFile::WithFieldText(record, field, "tile.TAB");
                    if (changed.size() != record.size()) __builtin_trap();
                } catch (const mapinfo::MapInfoError&) {}
            }
            ++visited;
        }
    } catch (const mapinfo::MapInfoError&) {}
    return 0;
}
