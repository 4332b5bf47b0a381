#include <random>

#include "TempFile.h"

namespace zipengine {

namespace {

constexpr char kPrefix[] = ".~zipengine-";
constexpr char kSuffix[] = ".tmp";
constexpr size_t kRandomLength = 6;  // as mkostemps fills in

std::string RandomPart() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    std::string s;
    for (size_t i = 0; i < kRandomLength; ++i) s += kLetters[pick(device)];
    return s;
}

}  // namespace

bool TempFile::IsOwnName(const std::string& name) {
    const size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
    return name.size() == prefix + kRandomLength + suffix && name.compare(0, prefix, kPrefix) == 0 &&
           name.compare(prefix + kRandomLength, suffix, kSuffix) == 0;
}

std::string TempFile::OwnName(bool random) const {
    static_assert(sizeof kSuffix - 1 == kSuffixLength);
    return m_folder + kPrefix + (random ? RandomPart() : std::string(kRandomLength, 'X')) + kSuffix;
}

}  // namespace zipengine
