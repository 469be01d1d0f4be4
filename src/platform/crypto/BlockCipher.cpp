#include "platform/crypto/BlockCipher.h"

#include <openssl/evp.h>

#include <algorithm>

namespace platform {

struct BlockCipher::Context {
    EVP_CIPHER_CTX* ctx = nullptr;
    ~Context() { EVP_CIPHER_CTX_free(ctx); }
};

BlockCipher::BlockCipher() = default;
BlockCipher::~BlockCipher() = default;
BlockCipher::BlockCipher(BlockCipher&&) noexcept = default;
BlockCipher& BlockCipher::operator=(BlockCipher&&) noexcept = default;

namespace {

const EVP_CIPHER* PickCipher(BlockCipher::Mode mode, std::size_t keySize) {
    const bool cbc = mode == BlockCipher::Mode::Cbc;
    switch (keySize) {
        case 16:
            return cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
        case 24:
            return cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
        case 32:
            return cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
        default:
            return nullptr;
    }
}

}  // namespace

bool BlockCipher::Init(Direction direction, Mode mode, std::span<const std::uint8_t> key,
                       std::span<const std::uint8_t> iv) {
    ready_ = false;
    const EVP_CIPHER* cipher = PickCipher(mode, key.size());
    if (cipher == nullptr)
        return false;
    if (mode == Mode::Cbc && iv.size() != kBlockSize)
        return false;
    if (!ctx_) {
        ctx_ = std::make_unique<Context>();
        ctx_->ctx = EVP_CIPHER_CTX_new();
        if (ctx_->ctx == nullptr) {
            ctx_.reset();
            return false;
        }
    } else {
        EVP_CIPHER_CTX_reset(ctx_->ctx);
    }
    const int enc = direction == Direction::Encrypt ? 1 : 0;
    if (EVP_CipherInit_ex(ctx_->ctx, cipher, nullptr, key.data(),
                          mode == Mode::Cbc ? iv.data() : nullptr, enc) != 1) {
        return false;
    }
    EVP_CIPHER_CTX_set_padding(ctx_->ctx, 0);
    ready_ = true;
    return true;
}

bool BlockCipher::Update(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    if (!ready_ || in.size() % kBlockSize != 0 || out.size() < in.size())
        return false;
    // EVP takes int lengths; feed very large buffers in slices.
    constexpr std::size_t kSlice = std::size_t{1} << 30;
    std::size_t done = 0;
    while (done < in.size()) {
        const std::size_t n = std::min(kSlice, in.size() - done);
        int written = 0;
        if (EVP_CipherUpdate(ctx_->ctx, out.data() + done, &written, in.data() + done,
                             static_cast<int>(n)) != 1 ||
            static_cast<std::size_t>(written) != n) {
            ready_ = false;
            return false;
        }
        done += n;
    }
    return true;
}

}  // namespace platform
