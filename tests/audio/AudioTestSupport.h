#pragma once
// Shared helpers of the audio tests: a private temp folder, blocks that
// carry their index, WAV files read back byte by byte.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace audiotest {

// A fresh folder under the system temp path, removed at destruction.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& Path() const { return path_; }
    std::wstring Folder() const;  // with a trailing '/'

  private:
    std::filesystem::path path_;
};

inline constexpr std::uint32_t kBlockBytes = 3072;
inline constexpr int kBlockSamples = 1536;

// One block whose every sample is value.
std::vector<std::uint8_t> StampedBlock(std::int16_t value);
// The value of a stamped block (its first sample), checking that every
// sample agrees; -99999 when they do not.
int StampOf(const std::uint8_t* block);

// A headless PCM file of count blocks; block k carries the value k + 1.
std::filesystem::path WriteStampedMusic(const std::filesystem::path& folder, int count);
std::FILE* OpenForMixer(const std::filesystem::path& file);

struct WavFile {
    bool ok = false;
    std::vector<std::uint8_t> header;  // the first 46 bytes
    std::uint32_t riffSize = 0;
    std::uint32_t dataSize = 0;
    std::vector<std::uint8_t> data;
};
WavFile ReadWav(const std::filesystem::path& file);
std::vector<int> BlockStamps(const std::vector<std::uint8_t>& data);

// Runs a shell command and returns its standard output.
std::string RunCommand(const std::string& command);
// "rate channels samples-per-channel bits encoding" as sox reads the file.
std::string SoxInfo(const std::filesystem::path& wav);

}  // namespace audiotest
