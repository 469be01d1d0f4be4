#pragma once
// One logical download of one or more files, run by a worker pool; it
// turns the transfer events of its files into the manager's calls.
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/DownloadMTR.h"
#include "catalogue/SongItem.h"
#include "catalogue/WorkerPool.h"

class CDownloadTask;

enum DownloadTaskType : int {
    kTaskList = 0,
    kTaskIcon = 1,
    kTaskSong = 2,
    kTaskUpdate = 3,
};

// Implemented by the manager.
class IDownloadTaskFinishListener {
  public:
    virtual ~IDownloadTaskFinishListener() = default;
    virtual void OnTaskListFinished(int result, const std::wstring& name) = 0;
    virtual void OnTaskIconFinished(int result, const std::wstring& key,
                                    const std::wstring& path) = 0;
    virtual void OnTaskSongProgress(const std::wstring& name, const std::wstring& key,
                                    std::int64_t done, std::int64_t total) = 0;
    virtual void OnTaskSongFinished(int result, const std::wstring& name,
                                    const std::wstring& key) = 0;
    virtual void OnTaskUpdateProgress(std::int64_t done, std::int64_t total) = 0;
    virtual void OnTaskUpdateFinished(int result, const std::wstring& url,
                                      const std::wstring& folder, const std::wstring& file) = 0;
    virtual void OnTaskDone(CDownloadTask* task) = 0;
};

class CDownloadTask final : public IDownloadTaskListener, public Task {
  public:
    CDownloadTask(std::wstring name, std::wstring key, int type,
                  IDownloadTaskFinishListener* finish, const DownloadOptions& options);
    ~CDownloadTask() override;

    // Adds a file; `music` marks the backing track of a song task. A file
    // added as optional (a song's icon) does not fail the task.
    bool AddFile(const std::wstring& url, const std::wstring& folder, const std::wstring& name,
                 std::int64_t declaredSize, bool music, bool optional = false);
    void SetSong(const CSongItem& song) { song_ = song; }

    void Run() override;
    // Ends a running transfer with 4; a task not yet started never starts.
    // True when the task was running.
    bool Stop();

    void OnDownloadEvent(const DownloadEvent& event) override;

    int Type() const noexcept { return type_; }
    const std::wstring& Name() const noexcept { return name_; }
    const std::wstring& Key() const noexcept { return key_; }
    bool IsRunning() const;
    bool IsStopRequested() const;
    std::int64_t Progress() const noexcept { return progress_.load(); }
    std::int64_t DeclaredTotal() const noexcept { return total_.load(); }
    // The song record with the final paths of its files (song tasks).
    std::optional<CSongItem> Song() const;

  private:
    struct File {
        std::unique_ptr<CDownloadMTR> transfer;
        std::wstring url, folder, name;
        std::int64_t declared = 0;
        bool music = false;
        bool optional = false;
        bool done = false;
    };

    int type_;
    std::wstring name_;
    std::wstring key_;
    std::vector<File> files_;
    std::int64_t finishedBytes_ = 0;
    std::atomic<std::int64_t> progress_{0};
    std::atomic<std::int64_t> total_{0};
    IDownloadTaskFinishListener* finish_;
    std::optional<CSongItem> song_;
    mutable std::mutex mutex_;  // running, stop requested, the song record
    bool running_ = false;
    bool stopRequested_ = false;
    DownloadOptions options_;
    std::size_t current_ = 0;
};
