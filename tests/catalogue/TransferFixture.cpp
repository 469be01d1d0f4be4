#include "TransferFixture.h"

#include <atomic>

#include "platform/net/ChildProcess.h"
#include "platform/text/Utf.h"

namespace testnet {

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("vokari-net-" + std::to_string(platform::CurrentProcessId()) + "-" +
             std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::wstring TempFolder::Folder() const {
    return platform::FromUtf8(path_.string() + "/");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::int64_t SizeOf(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

void EventLog::OnDownloadEvent(const DownloadEvent& event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    if (event.code == kEventProgress && onProgress) {
        onProgress(event);
    }
}

std::vector<DownloadEvent> EventLog::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<int> EventLog::Codes() const {
    std::vector<int> codes;
    for (const auto& e : Events()) {
        codes.push_back(e.code);
    }
    return codes;
}

DownloadOptions TestOptions(platform::IConnectivity& connectivity, int receiveTimeoutMs) {
    DownloadOptions o;
    o.connectTimeoutMs = 5000;
    o.receiveTimeoutMs = receiveTimeoutMs;
    o.sendTimeoutMs = 5000;
    o.connectivity = &connectivity;
    return o;
}

}  // namespace testnet
