// Any bytes as a table header: parsed or refused with MapInfoError, nothing else.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engines/mapinfo/MapInfoError.h"
#include "engines/mapinfo/TableHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        mapinfo::TableHeader h = mapinfo::ParseTableHeader(text, "fuzz.TAB");
        if (h.fields.size() > mapinfo::kMaxHeaderFields) __builtin_trap();
    } catch (const mapinfo::MapInfoError&) {}
    return 0;
}
