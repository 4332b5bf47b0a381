// SHA-256 through the system's BCrypt provider.
#include "platform/Hash.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <stdexcept>
#include <vector>

namespace platform {

namespace {

// The provider, opened once for the process, as the system advises (opening one is slow);
// one handle serves the hashes of every thread.
BCRYPT_ALG_HANDLE Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        if (::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) opened = nullptr;
        return opened;
    }();
    return provider;
}

}  // namespace

struct Sha256::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash) ::BCryptDestroyHash(hash);
    }
    void Start() {
        if (hash) ::BCryptDestroyHash(hash);
        hash = nullptr;
        if (!Provider() || ::BCryptCreateHash(Provider(), &hash, nullptr, 0, nullptr, 0, 0) < 0)
            throw std::runtime_error("SHA-256 unavailable");
    }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) { m_state->Start(); }

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
    // BCrypt takes at most 4 GiB - 1 per call.
    auto* p = static_cast<unsigned char*>(const_cast<void*>(data));
    while (size > 0) {
        const ULONG piece = static_cast<ULONG>(size > 0x40000000u ? 0x40000000u : size);
        ::BCryptHashData(m_state->hash, p, piece, 0);
        p += piece;
        size -= piece;
    }
}

void Sha256::Finish(unsigned char (&digest)[32]) {
    ::BCryptFinishHash(m_state->hash, digest, sizeof digest, 0);
    m_state->Start();
}

}  // namespace platform
