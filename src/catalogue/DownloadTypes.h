#pragma once
// Shared vocabulary of the transfer engine and the download tasks: result
// codes, the event records a transfer sends to its owner, and the tuning a
// transfer runs with.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
class IConnectivity;
}

class CDownloadMTR;

// Result codes of requests and transfers.
enum DownloadResult : int {
    kDownloadOk = 0,
    kDownloadNotConnected = 1,  // the machine has no network connection
    kDownloadFailed = 2,        // connected, but the transfer failed
    kDownloadRefused = 3,       // the server refused the request
    kDownloadStopped = 4,
    kDownloadFileError = 5,
};

// Codes of DownloadEvent.
enum DownloadEventCode : int {
    kEventFileName = 0,     // text: the file name taken from a redirect target
    kEventSize = 1,         // value: content length
    kEventStarted = 2,      // value: -1
    kEventFinished = 3,     // value: result code
    kEventRangeLength = 4,  // value: a connection's range length
    kEventProgress = 5,     // value: bytes of the file received so far
};

struct DownloadEvent {
    int connection = -1;  // -1 for events of the whole file
    int code = 0;
    std::int64_t value = 0;
    std::wstring text;
    CDownloadMTR* sender = nullptr;
};

// Receives the events of the transfers it owns, on the transfer's thread.
class IDownloadTaskListener {
  public:
    virtual ~IDownloadTaskListener() = default;
    virtual void OnDownloadEvent(const DownloadEvent& event) = 0;
};

struct DownloadOptions {
    int connectTimeoutMs = 15000;
    int receiveTimeoutMs = 30000;  // longest silence of a server before giving up
    int sendTimeoutMs = 10000;
    int maxRedirects = 10;
    std::size_t maxHeaderBytes = 64 * 1024;
    // Decides 1 against 2 after a failure; nullptr means the system's.
    platform::IConnectivity* connectivity = nullptr;
};

// One connection's share of a file; also the record stored in the trailer
// of a temporary file (three little-endian int32).
struct RangeRecord {
    std::int64_t start = 0;
    std::int64_t length = 0;  // < 0: open-ended
    std::int64_t received = 0;
};

inline constexpr const wchar_t* kDownloadTempSuffix = L".DownloadTemp";
inline constexpr const char* kDownloadUserAgent = "Downloader/2.0";
inline constexpr const char* kDownloadMarkerCookie = "Flag=ZZWEBPoweredByPelkor";
