#pragma once
// Helpers shared by the component's source files; not part of its interface.
#include <cstdint>
#include <string>

#include "app/UserInterface.h"
#include "common/ZipRecords.h"
#include "app/pmUtils.h"
#include "platform/FileSystem.h"

namespace zip::detail {

namespace ziprec = common::ziprec;

// The fixed record sizes as lengths of the platform's files, which count in signed 64 bits.
inline constexpr std::int64_t kEndRecordLength = static_cast<std::int64_t>(ziprec::end::kFixedSize);
inline constexpr std::int64_t kCentralHeaderLength = static_cast<std::int64_t>(ziprec::central::kFixedSize);

// The host path of a name the component was given (a Windows-style text or a host path):
// the existing spelling when one matches without regard to case.
inline std::string HostPath(const std::string& name) {
    return platform::ResolveCase(name).value_or(platform::ExpandFileName(name));
}

// The extension of a name from its last dot, upper-cased (".ZIP"); "" without a dot.
inline std::string UpperExtension(const std::string& name) { return pm::UpperAscii(pm::ExtensionOf(name)); }

// Shows the hourglass for the lifetime of the object.
class Hourglass {
public:
    Hourglass() { app::UI().SetHourglass(true); }
    ~Hourglass() { app::UI().SetHourglass(false); }
    Hourglass(const Hourglass&) = delete;
    Hourglass& operator=(const Hourglass&) = delete;
};

}  // namespace zip::detail
