#pragma once
// SHA-256 of a stream of bytes, fed piece by piece: the system's cryptographic library does
// the work (libcrypto on POSIX systems, BCrypt on Windows).
#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest of everything fed so far, as 64 lower-case hexadecimal digits; the object
    // starts over afterwards.
    std::string HexDigest();

private:
    // The 32 bytes of the digest of everything fed so far; the object starts over.
    void Finish(unsigned char (&digest)[32]);

    struct State;
    std::unique_ptr<State> m_state;
};

// The digest of a whole byte string, as Sha256::HexDigest gives it.
std::string Sha256Hex(const std::string& bytes);

}  // namespace platform
