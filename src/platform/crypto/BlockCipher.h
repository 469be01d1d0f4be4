#pragma once
// AES (FIPS-197) on whole 16-byte blocks, in ECB or CBC mode, without
// padding: callers that need a padding scheme apply it themselves, so that
// they can check it the way their file format demands. The cipher comes from
// libcrypto, which picks the processor's AES instructions where present.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace platform {

class BlockCipher {
  public:
    static constexpr std::size_t kBlockSize = 16;

    enum class Direction { Encrypt, Decrypt };
    enum class Mode { Ecb, Cbc };

    BlockCipher();
    ~BlockCipher();
    BlockCipher(BlockCipher&&) noexcept;
    BlockCipher& operator=(BlockCipher&&) noexcept;
    BlockCipher(const BlockCipher&) = delete;
    BlockCipher& operator=(const BlockCipher&) = delete;

    // key: 16, 24 or 32 bytes (10, 12 or 14 rounds). iv: 16 bytes in CBC
    // mode, ignored in ECB mode. False for a bad size or a library failure;
    // the object is then unusable until the next successful Init.
    bool Init(Direction direction, Mode mode, std::span<const std::uint8_t> key,
              std::span<const std::uint8_t> iv = {});

    // Processes in.size() bytes, a multiple of kBlockSize, into out (at least
    // as large; in and out may be the same buffer). The chain carries on from
    // the previous call, so a long input can be fed in pieces.
    bool Update(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

    bool Ready() const { return ready_; }

  private:
    struct Context;
    std::unique_ptr<Context> ctx_;
    bool ready_ = false;
};

}  // namespace platform
