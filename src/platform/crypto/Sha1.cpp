#include "platform/crypto/Sha1.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace platform {

struct Sha1::Context {
    EVP_MD_CTX* ctx = nullptr;
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha1::Sha1() : ctx_(std::make_unique<Context>()) {
    ctx_->ctx = EVP_MD_CTX_new();
    // Without a digest context nothing else can work; this only happens
    // when the process is out of memory.
    if (ctx_->ctx == nullptr || EVP_DigestInit_ex(ctx_->ctx, EVP_sha1(), nullptr) != 1) {
        std::abort();
    }
}

Sha1::~Sha1() = default;

void Sha1::Update(std::span<const std::uint8_t> data) {
    if (!data.empty())
        EVP_DigestUpdate(ctx_->ctx, data.data(), data.size());
}

void Sha1::Update(std::string_view data) {
    if (!data.empty())
        EVP_DigestUpdate(ctx_->ctx, data.data(), data.size());
}

Sha1::Digest Sha1::Final() {
    Digest digest{};
    unsigned int size = 0;
    EVP_DigestFinal_ex(ctx_->ctx, digest.data(), &size);
    EVP_DigestInit_ex(ctx_->ctx, EVP_sha1(), nullptr);
    return digest;
}

Sha1::Digest Sha1::Of(std::span<const std::uint8_t> data) {
    Sha1 sha;
    sha.Update(data);
    return sha.Final();
}

Sha1::Digest Sha1::Of(std::string_view data) {
    Sha1 sha;
    sha.Update(data);
    return sha.Final();
}

std::string Sha1::ToHex(const Digest& digest) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(kDigestSize * 2);
    for (std::uint8_t b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

}  // namespace platform
