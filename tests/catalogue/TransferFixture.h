#pragma once
// Temporary folders and an event recorder for transfer tests.
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/DownloadMTR.h"
#include "platform/net/Connectivity.h"

namespace testnet {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& Path() const { return path_; }
    std::wstring Folder() const;  // with a trailing "/"
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
std::int64_t SizeOf(const std::string& path);  // -1 when missing

class EventLog final : public IDownloadTaskListener {
  public:
    void OnDownloadEvent(const DownloadEvent& event) override;
    std::vector<DownloadEvent> Events() const;
    std::vector<int> Codes() const;
    // Called for every progress event (on the transfer's thread).
    std::function<void(const DownloadEvent&)> onProgress;

  private:
    mutable std::mutex mutex_;
    std::vector<DownloadEvent> events_;
};

// Short time-outs and a fixed connectivity answer, so runs are quick and
// results do not depend on the machine.
DownloadOptions TestOptions(platform::IConnectivity& connectivity, int receiveTimeoutMs = 2000);

}  // namespace testnet
