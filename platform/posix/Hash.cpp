// SHA-256 through OpenSSL's libcrypto.
#include "platform/Hash.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace platform {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    ~State() { EVP_MD_CTX_free(context); }
};

namespace {

// The digest's implementation, looked up once for the process instead of at every start
// (as for a digest named by EVP_sha256()), which showed in runs of many small files.
const EVP_MD* Method() {
    static EVP_MD* const method = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return method;
}

void Start(EVP_MD_CTX* context) {
    if (!Method() || EVP_DigestInit_ex(context, Method(), nullptr) != 1)
        throw std::runtime_error("SHA-256 unavailable");
}

}  // namespace

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    m_state->context = EVP_MD_CTX_new();
    if (!m_state->context) throw std::bad_alloc();
    Start(m_state->context);
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
    if (size > 0) EVP_DigestUpdate(m_state->context, data, size);
}

void Sha256::Finish(unsigned char (&digest)[32]) {
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_state->context, digest, &length);
    Start(m_state->context);
}

}  // namespace platform
