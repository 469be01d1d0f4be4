#include "karaoke/TempDir.h"

#include <cstdlib>
#include <iterator>
#include <stdexcept>

#include "platform/text/Utf.h"

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vokari-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::wstring TempDir::WFolder() const {
    return platform::FromUtf8(Folder());
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        return {};
    std::vector<std::uint8_t> out(size);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return out;
}

std::vector<std::uint8_t> PatternBytes(std::size_t size, unsigned seed) {
    // A 64-bit xorshift, eight bytes a step: fast enough for fixtures of
    // many megabytes.
    std::uint64_t x = 0x9E3779B97F4A7C15ull * (seed + 1);
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        for (std::size_t k = 0; k < 8 && i + k < size; ++k)
            out[i + k] = static_cast<std::uint8_t>(x >> (8 * k));
    }
    return out;
}

}  // namespace testing_support
