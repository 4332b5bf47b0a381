#include "ZipFormat.h"

#include <algorithm>

namespace zipengine {

namespace {

bool ValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 99;
        if (n == 99 || i + n >= s.size() + (n ? 0 : 1)) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

}  // namespace

bool NeedsUtf8Flag(std::string_view name) {
    bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return !ascii && ValidUtf8(name);
}

std::string LocalHeader(const NewEntryFields& e) {
    std::string h;
    common::DosDateTime d = common::ToDosDateTime(e.modified);
    Append32(h, ziprec::local::kSignature);
    Append16(h, e.method == kMethodDeflated || e.isFolder ? kVersionNeededDeflated : kVersionNeededStored);
    Append16(h, NeedsUtf8Flag(e.name) ? kFlagUtf8 : 0);
    Append16(h, e.method);
    Append16(h, d.time);
    Append16(h, d.date);
    Append32(h, e.crc);
    Append32(h, uint32_t(e.compressed));
    Append32(h, uint32_t(e.size));
    Append16(h, uint16_t(e.name.size()));
    Append16(h, uint16_t(kExtTimeFieldSize));
    h += e.name;
    Append16(h, kExtTimeTag);
    Append16(h, 5);
    h.push_back(1);
    Append32(h, uint32_t(e.modified));
    return h;
}

std::string CentralHeader(const NewEntryFields& e, uint32_t localOffset) {
    std::string local = LocalHeader(e);
    std::string h;
    Append32(h, ziprec::central::kSignature);
    Append16(h, kVersionMadeBy);
    // version needed to extract ... extra field length
    h.append(local, ziprec::local::kVersionNeededAt, ziprec::local::kFixedSize - ziprec::local::kVersionNeededAt);
    Append16(h, 0);  // comment length
    Append16(h, 0);  // disk number start
    Append16(h, 0);  // internal attributes
    uint32_t attributes = e.isFolder ? kDosDirectory : kDosArchive;
    if (e.readOnly) attributes |= kDosReadOnly;
    Append32(h, attributes);
    Append32(h, localOffset);
    h.append(local, ziprec::local::kFixedSize, std::string::npos);  // name and extra field
    return h;
}

std::string EndRecord(size_t entries, uint32_t directorySize, uint32_t directoryOffset, const std::string& comment) {
    std::string end;
    Append32(end, ziprec::end::kSignature);
    Append16(end, 0);
    Append16(end, 0);
    Append16(end, uint16_t(entries));
    Append16(end, uint16_t(entries));
    Append32(end, directorySize);
    Append32(end, directoryOffset);
    Append16(end, uint16_t(comment.size()));
    end += comment;
    return end;
}

}  // namespace zipengine
