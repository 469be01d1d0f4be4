#include "AudioTestSupport.h"

#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "platform/text/Utf.h"

namespace audiotest {

TempFolder::TempFolder() {
    static std::atomic<int> serial{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("vokari-audio-test-" + std::to_string(rd()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::wstring TempFolder::Folder() const {
    return platform::FromUtf8(path_.string()) + L"/";
}

std::vector<std::uint8_t> StampedBlock(std::int16_t value) {
    std::vector<std::uint8_t> block(kBlockBytes);
    for (int i = 0; i < kBlockSamples; ++i) {
        std::memcpy(&block[2 * i], &value, 2);
    }
    return block;
}

int StampOf(const std::uint8_t* block) {
    std::int16_t first;
    std::memcpy(&first, block, 2);
    for (int i = 1; i < kBlockSamples; ++i) {
        std::int16_t s;
        std::memcpy(&s, block + 2 * i, 2);
        if (s != first) {
            return -99999;
        }
    }
    return first;
}

std::filesystem::path WriteStampedMusic(const std::filesystem::path& folder, int count) {
    const auto file = folder / "music.pcm";
    std::ofstream out(file, std::ios::binary);
    for (int k = 0; k < count; ++k) {
        const auto block = StampedBlock(static_cast<std::int16_t>(k + 1));
        out.write(reinterpret_cast<const char*>(block.data()), block.size());
    }
    return file;
}

std::FILE* OpenForMixer(const std::filesystem::path& file) {
    return std::fopen(file.string().c_str(), "rb");
}

namespace {
std::uint32_t U32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
}  // namespace

WavFile ReadWav(const std::filesystem::path& file) {
    WavFile wav;
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (bytes.size() < 46) {
        return wav;
    }
    wav.header.assign(bytes.begin(), bytes.begin() + 46);
    wav.riffSize = U32(&bytes[4]);
    wav.dataSize = U32(&bytes[42]);
    wav.data.assign(bytes.begin() + 46, bytes.end());
    wav.ok = true;
    return wav;
}

std::vector<int> BlockStamps(const std::vector<std::uint8_t>& data) {
    std::vector<int> stamps;
    for (std::size_t off = 0; off + kBlockBytes <= data.size(); off += kBlockBytes) {
        stamps.push_back(StampOf(&data[off]));
    }
    return stamps;
}

std::string RunCommand(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return output;
    }
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) {
        output += buffer.data();
    }
    return output;
}

std::string SoxInfo(const std::filesystem::path& wav) {
    auto field = [&](const char* option) {
        std::string v =
            RunCommand(std::string("sox --i ") + option + " '" + wav.string() + "' 2>&1");
        while (!v.empty() && (v.back() == '\n' || v.back() == ' ')) {
            v.pop_back();
        }
        return v;
    };
    return field("-r") + " " + field("-c") + " " + field("-s") + " " + field("-b") + "-bit " +
           field("-e");
}

}  // namespace audiotest
