#include "karaoke/context/HlfContainer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>

#include "karaoke/context/CAESCryptor.h"

namespace hlf {

namespace {

using Key = std::array<std::uint8_t, 17>;  // 16 hexadecimal characters and a zero

struct Fragment {
    std::uint8_t key;
    std::uint8_t offset;
    const char* text;
};

// The keys are never spelled out whole in the binary: they are put together
// from these pieces on first use.
constexpr Fragment kFragments[] = {
    {4, 2, "2898"},   {7, 0, "0A80"},   {2, 4, "C"},     {5, 1, "A0"},    {0, 10, "6F6A"},
    {17, 4, "12B9"},  {13, 2, "ED97"},  {13, 6, "AE97"}, {6, 15, "1"},    {16, 13, "0"},
    {12, 13, "94"},   {14, 12, "85C8"}, {19, 2, "E"},    {15, 5, "5F"},   {11, 9, "23"},
    {8, 9, "78B5"},   {16, 10, "C"},    {14, 0, "E1"},   {3, 8, "9"},     {4, 0, "2"},
    {0, 2, "39"},     {6, 6, "CBF3"},   {10, 15, "B"},   {10, 13, "46"},  {4, 1, "5"},
    {18, 0, "98"},    {1, 5, "B91B"},   {13, 14, "5"},   {1, 11, "54"},   {15, 8, "1"},
    {19, 11, "8A"},   {1, 10, "9"},     {3, 0, "829B"},  {14, 4, "251B"}, {18, 3, "A"},
    {5, 4, "87"},     {17, 13, "5E"},   {10, 6, "B"},    {17, 12, "7"},   {2, 15, "A"},
    {7, 9, "770B"},   {15, 0, "9D36"},  {16, 5, "D2FB"}, {9, 14, "C7"},   {16, 9, "4"},
    {10, 7, "28"},    {6, 1, "C"},      {12, 5, "4D"},   {5, 3, "7"},     {6, 10, "6"},
    {11, 8, "A"},     {3, 11, "D6"},    {15, 15, "E"},   {12, 3, "73"},   {12, 15, "B"},
    {12, 9, "3476"},  {13, 0, "F3"},    {0, 1, "4"},     {16, 0, "1"},    {9, 0, "DFF3"},
    {13, 10, "6937"}, {15, 7, "0"},     {17, 8, "404C"}, {5, 0, "6"},     {14, 8, "CD8B"},
    {0, 8, "6"},      {4, 12, "7DC6"},  {11, 2, "20"},   {2, 13, "7F"},   {0, 9, "D"},
    {19, 3, "35"},    {1, 1, "4298"},   {18, 4, "AE21"}, {19, 9, "86"},   {1, 9, "8"},
    {8, 15, "4"},     {18, 13, "3B"},   {7, 13, "4A"},   {11, 13, "1E"},  {15, 11, "0AC5"},
    {3, 9, "CA"},     {18, 8, "14F2"},  {0, 0, "F"},     {1, 13, "65"},   {14, 2, "5"},
    {8, 0, "4DF9"},   {9, 4, "A443"},   {3, 13, "E4"},   {12, 7, "5A"},   {10, 9, "BC10"},
    {16, 11, "9B"},   {4, 8, "8710"},   {8, 4, "0079"},  {18, 12, "C"},   {18, 2, "7"},
    {5, 14, "92"},    {10, 0, "A962"},  {19, 5, "5128"}, {11, 4, "05"},   {10, 4, "7F"},
    {11, 6, "F4"},    {5, 6, "2BE8"},   {3, 4, "607E"},  {7, 8, "E"},     {6, 11, "7163"},
    {6, 2, "9C24"},   {2, 2, "BD"},     {19, 13, "5"},   {8, 8, "F"},     {12, 2, "E"},
    {2, 0, "FF"},     {15, 4, "4"},     {11, 15, "8"},   {9, 10, "41EC"}, {16, 14, "AD"},
    {1, 0, "B"},      {0, 14, "4"},     {2, 9, "29F7"},  {1, 15, "9"},    {11, 0, "8A"},
    {18, 15, "4"},    {19, 0, "A5"},    {13, 15, "8"},   {2, 5, "F6CA"},  {17, 15, "A"},
    {7, 15, "3"},     {5, 10, "BDB9"},  {12, 0, "C0"},   {16, 1, "4150"}, {8, 13, "94"},
    {7, 4, "157F"},   {4, 6, "E7"},     {19, 14, "F6"},  {15, 9, "62"},   {0, 4, "9CD4"},
    {17, 0, "440C"},  {11, 11, "4C"},   {14, 3, "0"},    {9, 8, "92"},    {0, 15, "F"},
    {3, 15, "D"},     {6, 0, "1"},
};

std::array<Key, kKeyCount> g_keys{};
std::once_flag g_keysFilled;

// Every container operation calls this first. call_once makes the nine
// sealing threads of a first performance wait for one complete fill rather
// than see a half-written key.
const std::array<Key, kKeyCount>& KeyTable() {
    std::call_once(g_keysFilled, [] {
        for (const Fragment& f : kFragments) {
            const std::size_t n = std::strlen(f.text);
            std::memcpy(g_keys[f.key].data() + f.offset, f.text, n);
        }
        for (Key& k : g_keys)
            k[16] = 0;
    });
    return g_keys;
}

bool InitCryptor(CAESCryptor& cryptor, int keyIndex) {
    const Key& key = KeyTable()[static_cast<std::size_t>(keyIndex)];
    return cryptor.SetKey(key.data(), 16, key.data());
}

void WriteHeader(std::uint8_t* out, int keyIndex) {
    std::memset(out, 0, kHeaderSize);
    out[0] = 0xFF;
    out[1] = 0xFF;
    out[2] = kVersion;
    out[3] = static_cast<std::uint8_t>(keyIndex);
}

Status CheckHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() <= kHeaderSize)
        return Status::TooShort;
    if (bytes[0] != 0xFF || bytes[1] != 0xFF)
        return Status::NotContainer;
    if (bytes[2] != kVersion)
        return Status::BadVersion;
    if (bytes[3] >= kKeyCount)
        return Status::BadKeyIndex;
    return Status::Ok;
}

// Pad length of the last plain block, or 0 when the padding is not sound.
std::size_t PadLength(const std::uint8_t* lastBlock) {
    const std::uint8_t pad = lastBlock[CAESCryptor::kBlockSize - 1];
    if (pad < 1 || pad > CAESCryptor::kBlockSize)
        return 0;
    for (std::size_t i = CAESCryptor::kBlockSize - pad; i < CAESCryptor::kBlockSize; ++i) {
        if (lastBlock[i] != pad)
            return 0;
    }
    return pad;
}

// Fills the tail of a buffer of `used` bytes up to the next block edge
// (a whole block when already on one); returns the padded length.
std::size_t Pad(std::uint8_t* data, std::size_t used) {
    const std::size_t pad = CAESCryptor::kBlockSize - used % CAESCryptor::kBlockSize;
    std::memset(data + used, static_cast<int>(pad), pad);
    return used + pad;
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr)
            std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenFile(const std::string& path, const char* mode) {
    return File(std::fopen(path.c_str(), mode));
}

// Reads up to size bytes, fewer only at the end of the file; -1 on error.
long long ReadFull(std::FILE* f, std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::fread(data, 1, size, f);
    if (n < size && std::ferror(f))
        return -1;
    return static_cast<long long>(n);
}

// A file written under a temporary name beside its final one. Commit
// closes it and renames it into place; otherwise the destructor removes it.
class TempOutput {
  public:
    explicit TempOutput(const std::string& finalPath) : finalPath_(finalPath) {
        static std::atomic<unsigned> counter{0};
        tempPath_ = finalPath + ".part" + std::to_string(counter++);
        file_ = OpenFile(tempPath_, "wbx");
        if (!file_) {
            // A leftover of a crashed run under the same name.
            std::remove(tempPath_.c_str());
            file_ = OpenFile(tempPath_, "wbx");
        }
    }
    ~TempOutput() {
        if (!committed_) {
            file_.reset();
            std::remove(tempPath_.c_str());
        }
    }
    bool Ok() const { return file_ != nullptr; }
    bool Write(const std::uint8_t* data, std::size_t size) {
        return size == 0 || std::fwrite(data, 1, size, file_.get()) == size;
    }
    bool Commit() {
        std::FILE* f = file_.release();
        if (std::fclose(f) != 0)
            return false;
        if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0)
            return false;
        committed_ = true;
        return true;
    }

  private:
    std::string finalPath_;
    std::string tempPath_;
    File file_;
    bool committed_ = false;
};

constexpr std::size_t kSlice = std::size_t{1} << 20;  // a multiple of the block size

}  // namespace

const char* StatusText(Status status) {
    switch (status) {
        case Status::Ok:
            return "ok";
        case Status::TooShort:
            return "file too short for a container";
        case Status::NotContainer:
            return "not a container (no FF FF header)";
        case Status::BadVersion:
            return "unsupported container version";
        case Status::BadKeyIndex:
            return "container key index out of range";
        case Status::NotWholeBlocks:
            return "container data is not a whole number of blocks";
        case Status::BadPadding:
            return "container padding is damaged";
        case Status::BadArgument:
            return "key index out of range";
        case Status::CipherFailure:
            return "cipher failure";
        case Status::ReadFailure:
            return "cannot read the input file";
        case Status::WriteFailure:
            return "cannot write the output file";
    }
    return "unknown container status";
}

bool IsContainer(std::span<const std::uint8_t> bytes) {
    return bytes.size() > kHeaderSize && bytes[0] == 0xFF && bytes[1] == 0xFF &&
           bytes[2] == kVersion;
}

int RandomKeyIndex() {
    thread_local std::minstd_rand generator{std::random_device{}()};
    return static_cast<int>(generator() % kKeyCount);
}

Status EncipherContainer(std::span<const std::uint8_t> plain, std::vector<std::uint8_t>& out,
                         int keyIndex) {
    out.clear();
    if (keyIndex == -1)
        keyIndex = RandomKeyIndex();
    if (keyIndex < 0 || keyIndex >= kKeyCount)
        return Status::BadArgument;
    CAESCryptor cryptor;
    if (!InitCryptor(cryptor, keyIndex))
        return Status::CipherFailure;
    out.resize(kHeaderSize + plain.size() + CAESCryptor::kBlockSize);
    WriteHeader(out.data(), keyIndex);
    std::uint8_t* body = out.data() + kHeaderSize;
    if (!plain.empty())
        std::memcpy(body, plain.data(), plain.size());
    const std::size_t padded = Pad(body, plain.size());
    out.resize(kHeaderSize + padded);
    if (!cryptor.Encipher(body, body, padded)) {
        out.clear();
        return Status::CipherFailure;
    }
    return Status::Ok;
}

Status DecipherContainer(std::span<const std::uint8_t> container, std::vector<std::uint8_t>& out) {
    out.clear();
    if (Status s = CheckHeader(container); s != Status::Ok)
        return s;
    const std::size_t cipherLength = container.size() - kHeaderSize;
    if (cipherLength % CAESCryptor::kBlockSize != 0)
        return Status::NotWholeBlocks;
    CAESCryptor cryptor;
    if (!InitCryptor(cryptor, container[3]))
        return Status::CipherFailure;
    out.resize(cipherLength);
    if (!cryptor.Decipher(container.data() + kHeaderSize, out.data(), cipherLength)) {
        out.clear();
        return Status::CipherFailure;
    }
    const std::size_t pad = PadLength(out.data() + cipherLength - CAESCryptor::kBlockSize);
    if (pad == 0) {
        out.clear();
        return Status::BadPadding;
    }
    out.resize(cipherLength - pad);
    return Status::Ok;
}

Status EncipherFile(const std::string& plainPath, const std::string& containerPath, int keyIndex) {
    if (keyIndex == -1)
        keyIndex = RandomKeyIndex();
    if (keyIndex < 0 || keyIndex >= kKeyCount)
        return Status::BadArgument;
    File in = OpenFile(plainPath, "rb");
    if (!in)
        return Status::ReadFailure;
    CAESCryptor cryptor;
    if (!InitCryptor(cryptor, keyIndex))
        return Status::CipherFailure;
    TempOutput out(containerPath);
    if (!out.Ok())
        return Status::WriteFailure;
    std::uint8_t header[kHeaderSize];
    WriteHeader(header, keyIndex);
    if (!out.Write(header, kHeaderSize))
        return Status::WriteFailure;

    std::vector<std::uint8_t> buffer(kSlice + CAESCryptor::kBlockSize);
    for (;;) {
        const long long n = ReadFull(in.get(), buffer.data(), kSlice);
        if (n < 0)
            return Status::ReadFailure;
        std::size_t length = static_cast<std::size_t>(n);
        const bool last = length < kSlice;
        if (last)
            length = Pad(buffer.data(), length);
        if (!cryptor.Encipher(buffer.data(), buffer.data(), length))
            return Status::CipherFailure;
        if (!out.Write(buffer.data(), length))
            return Status::WriteFailure;
        if (last)
            break;
    }
    return out.Commit() ? Status::Ok : Status::WriteFailure;
}

Status DecipherFile(const std::string& containerPath, const std::string& plainPath) {
    File in = OpenFile(containerPath, "rb");
    if (!in)
        return Status::ReadFailure;
    std::uint8_t header[kHeaderSize + 1] = {};
    const long long got = ReadFull(in.get(), header, kHeaderSize + 1);
    if (got < 0)
        return Status::ReadFailure;
    if (Status s = CheckHeader({header, static_cast<std::size_t>(got)}); s != Status::Ok)
        return s;
    if (std::fseek(in.get(), 0, SEEK_END) != 0)
        return Status::ReadFailure;
    const long size = std::ftell(in.get());
    if (size < 0 || std::fseek(in.get(), kHeaderSize, SEEK_SET) != 0)
        return Status::ReadFailure;
    std::size_t remaining = static_cast<std::size_t>(size) - kHeaderSize;
    if (remaining % CAESCryptor::kBlockSize != 0)
        return Status::NotWholeBlocks;

    CAESCryptor cryptor;
    if (!InitCryptor(cryptor, header[3]))
        return Status::CipherFailure;
    TempOutput out(plainPath);
    if (!out.Ok())
        return Status::WriteFailure;
    std::vector<std::uint8_t> buffer(kSlice);
    while (remaining > 0) {
        const std::size_t want = std::min(kSlice, remaining);
        const long long n = ReadFull(in.get(), buffer.data(), want);
        if (n < 0)
            return Status::ReadFailure;
        if (static_cast<std::size_t>(n) != want)
            return Status::TooShort;  // shrank while read
        if (!cryptor.Decipher(buffer.data(), buffer.data(), want))
            return Status::CipherFailure;
        remaining -= want;
        std::size_t keep = want;
        if (remaining == 0) {
            const std::size_t pad = PadLength(buffer.data() + want - CAESCryptor::kBlockSize);
            if (pad == 0)
                return Status::BadPadding;
            keep -= pad;
        }
        if (!out.Write(buffer.data(), keep))
            return Status::WriteFailure;
    }
    return out.Commit() ? Status::Ok : Status::WriteFailure;
}

}  // namespace hlf
