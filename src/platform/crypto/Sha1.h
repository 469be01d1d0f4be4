#pragma once
// SHA-1 (FIPS 180-4) from libcrypto, for integrity checks of downloaded
// files. Feed the data in any number of pieces, then take the digest.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace platform {

class Sha1 {
  public:
    static constexpr std::size_t kDigestSize = 20;
    using Digest = std::array<std::uint8_t, kDigestSize>;

    Sha1();
    ~Sha1();
    Sha1(const Sha1&) = delete;
    Sha1& operator=(const Sha1&) = delete;

    void Update(std::span<const std::uint8_t> data);
    void Update(std::string_view data);
    // The digest of everything fed since construction or the last Final;
    // the object starts over afterwards.
    Digest Final();

    static Digest Of(std::span<const std::uint8_t> data);
    static Digest Of(std::string_view data);
    // Lower-case hexadecimal, 40 characters.
    static std::string ToHex(const Digest& digest);

  private:
    struct Context;
    std::unique_ptr<Context> ctx_;
};

}  // namespace platform
