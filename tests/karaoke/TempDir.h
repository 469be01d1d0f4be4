#pragma once
// A fresh folder under the system temp path for one test, removed with
// everything in it afterwards.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testing_support {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The folder as the program spells folders: ends with '/'.
    std::string Folder() const { return path_.string() + "/"; }
    std::wstring WFolder() const;

  private:
    std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
std::vector<std::uint8_t> PatternBytes(std::size_t size, unsigned seed = 1);

}  // namespace testing_support
