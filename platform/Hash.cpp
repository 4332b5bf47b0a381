// What the SHA-256 service does the same way on every platform: the digest as text.
#include "platform/Hash.h"

namespace platform {

std::string Sha256::HexDigest() {
    unsigned char digest[32];
    Finish(digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

std::string Sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.HexDigest();
}

}  // namespace platform
