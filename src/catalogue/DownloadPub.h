#pragma once
// One connection of a transfer (the probe or a data connection): its
// current URL and request state, its range of the file and the code that
// writes received bytes into the temporary file. CDownloadHttp and
// CDownloadFtp speak the protocols.
#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/DownloadTypes.h"
#include "catalogue/SocketClient.h"
#include "platform/thread/Event.h"

// Body decoding for a connection; the HTTP chunked coding is one.
class IBodyDecoder {
  public:
    virtual ~IBodyDecoder() = default;
    // Appends the decoded bytes of `raw` to `out`; false on a framing error.
    virtual bool Feed(const char* raw, std::size_t n, std::string& out) = 0;
    // True once the body's end has been seen.
    virtual bool Done() const = 0;
};

class CDownloadPub {
  public:
    CDownloadPub(int index, CDownloadMTR* owner, const DownloadOptions& options);

    virtual int Connect();
    virtual ~CDownloadPub();
    // Downloads this connection's range into the temporary file: up to three
    // attempts, each resuming where the previous one ended.
    virtual int Download(std::int64_t rangeStart, std::int64_t rangeLength, std::int64_t received);
    // Learns the size, range support and date of the file.
    virtual int Probe();
    virtual int Attempt() = 0;
    virtual int ReceiveData(CSocketClient& socket, const char* data, std::size_t count);

    // Thread-safe: ends every wait and loop of this connection.
    void Stop();
    bool IsStopped() const noexcept { return stopped_.load(); }

    // Request state; the URL decides host, path, port and scheme.
    bool SetUrl(const std::wstring& url);
    // Takes over the URL, cookie, referer and credentials another connection
    // ended up with (the probe's, after its redirects).
    void CopyRequestState(const CDownloadPub& other);
    void SetLocalPath(const std::wstring& path) { localPath_ = path; }
    void SetCredentials(const std::wstring& user, const std::wstring& password);
    void SetReferer(const std::wstring& referer) { referer_ = referer; }
    void SetCookie(const std::wstring& cookie) { cookie_ = cookie; }
    void SetContentLength(std::int64_t length) { contentLength_ = length; }

    const std::wstring& Url() const noexcept { return url_; }
    const std::wstring& Cookie() const noexcept { return cookie_; }
    const std::wstring& Referer() const noexcept { return referer_; }
    std::int64_t ContentLength() const noexcept { return contentLength_; }
    bool SupportsRanges() const noexcept { return supportsRanges_; }
    std::int64_t LastModified() const noexcept { return lastModified_; }
    std::int64_t Received() const;
    std::int64_t RangeLength() const;
    int Result() const noexcept { return result_; }
    // True when the last failure cannot be helped by another attempt.
    bool FailureIsFinal() const noexcept { return finalFailure_; }

  protected:
    // 1 or 2, from the connectivity check at this moment.
    int NetFailure() const;
    // Maps a socket status to a result (stop: 4; time-out, failure: 1 or 2).
    int FailureOf(const CSocketClient& socket) const;
    // Opens the temporary file for this attempt (created if missing, never
    // truncated). False, with result 5, when it cannot be opened.
    bool OpenLocalFile();
    void CloseLocalFile();
    void Event(int code, std::int64_t value, const std::wstring& text = {});
    void Diagnostic(const std::string& line) const;
    // Waits `ms` on the stop event; true when stopped.
    bool WaitStop(int ms) const;

    int index_;
    CDownloadMTR* owner_;
    const DownloadOptions& options_;
    std::fstream file_;
    platform::Event stopEvent_{platform::Event::Mode::ManualReset};
    CSocketClient socket_;
    std::wstring url_;
    std::wstring localPath_;
    std::atomic<bool> stopped_{false};
    std::int64_t contentLength_ = -1;
    std::int64_t rangeStart_ = 0;
    mutable std::mutex rangeLock_;
    std::int64_t rangeLength_ = -1;
    mutable std::mutex receivedLock_;
    std::int64_t received_ = 0;
    std::int64_t lastModified_ = 0;
    std::wstring referer_;
    std::wstring cookie_;
    std::wstring userAgent_;
    std::wstring user_;
    std::wstring password_;
    std::wstring scheme_ = L"http";
    std::wstring host_;
    std::wstring path_;
    std::uint16_t port_ = 80;
    int result_ = 0;
    bool supportsRanges_ = false;
    bool destroying_ = false;
    bool finalFailure_ = false;
    // Set by a protocol for the body that follows (chunked coding); null:
    // bytes are taken as they come.
    IBodyDecoder* decoder_ = nullptr;
    // Body bytes the response announced; < 0 unknown.
    std::int64_t announced_ = -1;
};
