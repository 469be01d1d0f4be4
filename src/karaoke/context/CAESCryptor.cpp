#include "karaoke/context/CAESCryptor.h"

#include <cstring>

using platform::BlockCipher;

CAESCryptor::CAESCryptor() = default;

CAESCryptor::~CAESCryptor() {
    // The key is the only secret the object holds.
    volatile std::uint8_t* p = key_;
    for (std::size_t i = 0; i < sizeof key_; ++i)
        p[i] = 0;
}

bool CAESCryptor::SetKey(const std::uint8_t* key, std::size_t keyLength, const std::uint8_t* iv) {
    initialized_ = false;
    encipherReady_ = decipherReady_ = false;
    if (key == nullptr || (keyLength != 16 && keyLength != 24 && keyLength != 32))
        return false;
    std::memcpy(key_, key, keyLength);
    keyLength_ = keyLength;
    chaining_ = iv != nullptr && iv[0] != 0;
    if (chaining_) {
        std::memcpy(chain_, iv, kBlockSize);
    } else {
        std::memset(chain_, 0, kBlockSize);
    }
    initialized_ = true;
    return true;
}

bool CAESCryptor::Run(BlockCipher& cipher, bool& ready, BlockCipher::Direction direction,
                      const std::uint8_t* in, std::uint8_t* out, std::size_t length) {
    if (!initialized_ || length % kBlockSize != 0 ||
        (length > 0 && (in == nullptr || out == nullptr))) {
        return false;
    }
    if (!ready) {
        ready = cipher.Init(direction, chaining_ ? BlockCipher::Mode::Cbc : BlockCipher::Mode::Ecb,
                            {key_, keyLength_}, {chain_, kBlockSize});
        if (!ready)
            return false;
    }
    if (length == 0)
        return true;
    return cipher.Update({in, length}, {out, length});
}

bool CAESCryptor::Encipher(const std::uint8_t* in, std::uint8_t* out, std::size_t length) {
    return Run(encipher_, encipherReady_, BlockCipher::Direction::Encrypt, in, out, length);
}

bool CAESCryptor::Decipher(const std::uint8_t* in, std::uint8_t* out, std::size_t length) {
    return Run(decipher_, decipherReady_, BlockCipher::Direction::Decrypt, in, out, length);
}
