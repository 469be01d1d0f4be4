#pragma once
// One file from an http:// or ftp:// URL into a folder, resumable: the data
// goes into a temporary file beside the target (target + ".DownloadTemp")
// whose trailer records what has arrived, and replaces the target only
// when complete.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/DownloadPub.h"
#include "catalogue/DownloadTypes.h"

class CDownloadMTR {
  public:
    explicit CDownloadMTR(IDownloadTaskListener* owner = nullptr, std::int64_t declaredSize = 0);
    CDownloadMTR(const CDownloadMTR&) = delete;
    CDownloadMTR& operator=(const CDownloadMTR&) = delete;

    // Performs the whole download on the calling thread; returns the result.
    virtual int Run();
    virtual ~CDownloadMTR();

    void SetUrl(const std::wstring& url) { url_ = url; }
    // The folder ends with "/"; an empty name takes the URL's file name.
    void SetFolder(const std::wstring& folder) { folder_ = folder; }
    void SetFileName(const std::wstring& name) { fileName_ = name; }
    // 1 to 16 connections; false (and unchanged) otherwise.
    bool SetCount(int count);
    // Deletes the target and any temporary file before the next run.
    void SetRestart(bool restart) { restart_ = restart; }
    void SetOptions(const DownloadOptions& options) { options_ = options; }
    void SetCredentials(const std::wstring& user, const std::wstring& password);

    // Thread-safe: ends the run with 4, leaving a resumable temporary file.
    void Stop();

    const std::wstring& Url() const noexcept { return url_; }
    const std::wstring& Folder() const noexcept { return folder_; }
    const std::wstring& FileName() const noexcept { return fileName_; }
    // The target path of the last run (known once the probe succeeded).
    std::wstring FinalPath() const;
    std::int64_t DeclaredSize() const noexcept { return declaredSize_; }
    std::int64_t ContentLength() const noexcept { return contentLength_; }
    bool SupportsRanges() const noexcept { return supportsRanges_; }
    int Result() const noexcept { return result_; }
    bool IsFinished() const noexcept { return finished_; }
    bool IsStopped() const noexcept { return stopped_.load(); }
    int Count() const noexcept { return count_; }

    // From the connections, on the running thread.
    void OnConnectionEvent(int index, int code, std::int64_t value, const std::wstring& text);
    void OnProgress(int index, std::int64_t received, std::int64_t delta);

  private:
    std::unique_ptr<CDownloadPub> MakeConnection(int index);
    int ProbeFile();
    bool ReadTrailer(const std::string& tempPath, std::int64_t length);
    bool WriteTrailer(const std::string& tempPath, std::int64_t length);
    int Finish(int result);
    void Send(int connection, int code, std::int64_t value, const std::wstring& text = {});
    bool AllRangesComplete() const;

    mutable std::mutex lock_;  // guards the connections against Stop()
    std::wstring url_;
    std::wstring folder_;
    std::wstring fileName_;
    std::wstring redirectName_;
    std::wstring finalPath_;
    std::wstring scheme_;
    std::unique_ptr<CDownloadPub> probe_;
    std::vector<std::unique_ptr<CDownloadPub>> connections_;
    std::vector<RangeRecord> ranges_;
    std::vector<std::int64_t> progress_;  // received bytes per range
    int running_ = 0;
    IDownloadTaskListener* owner_;
    std::int64_t declaredSize_;
    bool finished_ = false;
    int result_ = 0;
    std::atomic<bool> stopped_{false};
    int count_ = 1;

    DownloadOptions options_;
    bool restart_ = false;
    bool useTrailer_ = false;
    std::int64_t contentLength_ = -1;
    bool supportsRanges_ = false;
    std::int64_t lastModified_ = 0;
    std::wstring user_;
    std::wstring password_;
};
