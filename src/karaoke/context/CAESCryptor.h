#pragma once
// The block cipher object of the performance containers and enciphered
// lyric files: AES with 16-byte blocks and a 16-, 24- or 32-byte key, in CBC
// mode when an initialisation vector is set, else block by block. The data
// must be a whole number of blocks; padding is the caller's affair.
#include <cstddef>
#include <cstdint>

#include "platform/crypto/BlockCipher.h"

class CAESCryptor {
  public:
    static constexpr std::size_t kBlockSize = 16;

    CAESCryptor();
    ~CAESCryptor();
    CAESCryptor(const CAESCryptor&) = delete;
    CAESCryptor& operator=(const CAESCryptor&) = delete;

    // key: keyLength bytes (16, 24 or 32). iv: 16 bytes or null. Chaining
    // is used only when iv is given and its first byte is not zero (the
    // container keys are hexadecimal text, so theirs never is). Both
    // directions start their chain at iv again.
    bool SetKey(const std::uint8_t* key, std::size_t keyLength, const std::uint8_t* iv);

    // length must be a multiple of kBlockSize; in and out may be the same
    // buffer. Successive calls continue the chain.
    bool Encipher(const std::uint8_t* in, std::uint8_t* out, std::size_t length);
    bool Decipher(const std::uint8_t* in, std::uint8_t* out, std::size_t length);

    bool IsInitialized() const { return initialized_; }
    bool IsChaining() const { return chaining_; }

  private:
    bool Run(platform::BlockCipher& cipher, bool& ready, platform::BlockCipher::Direction direction,
             const std::uint8_t* in, std::uint8_t* out, std::size_t length);

    std::uint8_t key_[32] = {};
    std::size_t keyLength_ = 0;
    std::uint8_t chain_[kBlockSize] = {};
    bool chaining_ = false;
    bool initialized_ = false;
    platform::BlockCipher encipher_;
    platform::BlockCipher decipher_;
    bool encipherReady_ = false;
    bool decipherReady_ = false;
};
