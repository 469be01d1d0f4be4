#pragma once
// The catalogue client: catalogue requests with their cache files, icon
// and song downloads on two worker pools, and the list of downloaded songs.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/DownloadTask.h"
#include "catalogue/SongItem.h"
#include "catalogue/WorkerPool.h"

// Every call comes from a worker thread.
class IDownloadManagerListener {
  public:
    virtual ~IDownloadManagerListener() = default;
    virtual void OnListDownloaded(int /*result*/, const std::wstring& /*name*/) {}
    virtual void OnIconDownloaded(int /*result*/, const std::wstring& /*songId*/,
                                  const std::wstring& /*path*/) {}
    virtual void OnSongProgress(const std::wstring& /*taskName*/, const std::wstring& /*songId*/,
                                std::int64_t /*done*/, std::int64_t /*total*/) {}
    virtual void OnSongDownloaded(int /*result*/, const std::wstring& /*taskName*/,
                                  const std::wstring& /*songId*/) {}
    virtual void OnUpdateProgress(std::int64_t /*done*/, std::int64_t /*total*/) {}
    virtual void OnUpdateDownloaded(int /*result*/, const std::wstring& /*url*/,
                                    const std::wstring& /*folder*/, const std::wstring& /*file*/) {}
};

class IDownloadManager {
  public:
    virtual void AddListener(IDownloadManagerListener* listener) = 0;
    // Returns once no notification is using the listener any more (at once
    // when called from inside one of its own notifications).
    virtual void RemoveListener(IDownloadManagerListener* listener) = 0;
    virtual void GetSongListCacheName(std::wstring& name, int page, int pageSize, int model) = 0;
    virtual bool RequestSongList(std::wstring& name, int page, int pageSize, int model,
                                 std::vector<CSongItem>& songs, bool& lastPage, bool force) = 0;
    virtual void GetTypeGroupCacheName(std::wstring& name) = 0;
    virtual bool RequestTypeGroup(std::wstring& name, int selector,
                                  std::vector<CSongTypeEntry>& entries, bool force) = 0;
    virtual void GetSongsByTypeCacheName(std::wstring& name, int page, int pageSize,
                                         int songType) = 0;
    virtual bool RequestSongsByType(std::wstring& name, int page, int pageSize, int songType,
                                    std::vector<CSongItem>& songs, bool& lastPage, bool force) = 0;
    virtual void GetSingerSongsCacheName(std::wstring& name, int page, int pageSize,
                                         const std::wstring& escapedSinger) = 0;
    virtual bool RequestSingerSongs(std::wstring& name, int page, int pageSize,
                                    const std::wstring& singer, std::vector<CSongItem>& songs,
                                    bool& lastPage, bool force) = 0;
    virtual void GetSearchResultCacheName(std::wstring& name, int page, int pageSize,
                                          const std::wstring& escapedWord) = 0;
    virtual bool RequestSearchResult(std::wstring& name, int page, int pageSize,
                                     const std::wstring& word, std::vector<CSongItem>& songs,
                                     bool& lastPage, bool force) = 0;
    virtual void GetSearchWordsCacheName(std::wstring& name, int page, int pageSize,
                                         const std::wstring& escapedWord) = 0;
    virtual bool RequestSearchWords(std::wstring& name, int page, int pageSize,
                                    const std::wstring& word, std::vector<std::wstring>& words,
                                    bool& lastPage, bool force) = 0;
    virtual bool GetDownloadedSongs(int page, int pageSize, std::vector<CSongItem>& songs,
                                    bool& lastPage) = 0;
    virtual bool FindDownloadedSong(const std::wstring& songId, CSongItem& song) = 0;
    virtual bool SearchDownloadedSongs(int page, int pageSize, const std::wstring& text,
                                       std::vector<CSongItem>& songs, bool& lastPage) = 0;
    virtual bool DownloadSong(const CSongItem& song) = 0;
    virtual bool CancelSongDownload(const CSongItem& song) = 0;
    virtual bool DeleteDownloadedSong(const CSongItem& song, bool deleteAll) = 0;
    virtual bool GetPerformances(int page, int pageSize, std::vector<CSongItem>& records,
                                 bool& lastPage) = 0;
    virtual bool DeletePerformance(const CSongItem& record) = 0;
    virtual void GetVersionCacheName(std::wstring& name) = 0;
    virtual bool RequestVersion(std::wstring& name, const std::wstring& currentVersion,
                                CVersionRecord& record, bool force) = 0;
    virtual bool DownloadUpdatePackage(const std::wstring& url, const std::wstring& folder,
                                       std::wstring& fileName) = 0;
    virtual void ClearListCache() = 0;
    virtual bool IsSongDownloadBusy() = 0;
    virtual void ReleaseInstance() = 0;

  protected:
    virtual ~IDownloadManager() = default;
};

// Base addresses of the three catalogue servers (without a trailing "/").
struct CatalogueServers {
    std::wstring catalogue = L"http://127.0.0.1:18080";
    std::wstring file = L"http://127.0.0.1:18081";
    std::wstring music = L"http://127.0.0.1:18082";
};

// Reads data folder + "catalogue.ini", section [Servers], keys
// "Catalogue", "File" and "Music"; missing keys keep the defaults above.
CatalogueServers LoadCatalogueServers(const std::wstring& dataFolder);

struct DownloadManagerSettings {
    CatalogueServers servers;
    DownloadOptions transfer;
    IPerformanceStore* performances = nullptr;  // no history: no performances
};

class CDownloaderManager final : public IDownloadManager, public IDownloadTaskFinishListener {
  public:
    CDownloaderManager(const std::wstring& baseFolder, int cataloguePoolSize, int songPoolSize,
                       const DownloadManagerSettings& settings);
    ~CDownloaderManager() override;

    void AddListener(IDownloadManagerListener* listener) override;
    void RemoveListener(IDownloadManagerListener* listener) override;
    void GetSongListCacheName(std::wstring& name, int page, int pageSize, int model) override;
    bool RequestSongList(std::wstring& name, int page, int pageSize, int model,
                         std::vector<CSongItem>& songs, bool& lastPage, bool force) override;
    void GetTypeGroupCacheName(std::wstring& name) override;
    bool RequestTypeGroup(std::wstring& name, int selector, std::vector<CSongTypeEntry>& entries,
                          bool force) override;
    void GetSongsByTypeCacheName(std::wstring& name, int page, int pageSize, int songType) override;
    bool RequestSongsByType(std::wstring& name, int page, int pageSize, int songType,
                            std::vector<CSongItem>& songs, bool& lastPage, bool force) override;
    void GetSingerSongsCacheName(std::wstring& name, int page, int pageSize,
                                 const std::wstring& escapedSinger) override;
    bool RequestSingerSongs(std::wstring& name, int page, int pageSize, const std::wstring& singer,
                            std::vector<CSongItem>& songs, bool& lastPage, bool force) override;
    void GetSearchResultCacheName(std::wstring& name, int page, int pageSize,
                                  const std::wstring& escapedWord) override;
    bool RequestSearchResult(std::wstring& name, int page, int pageSize, const std::wstring& word,
                             std::vector<CSongItem>& songs, bool& lastPage, bool force) override;
    void GetSearchWordsCacheName(std::wstring& name, int page, int pageSize,
                                 const std::wstring& escapedWord) override;
    bool RequestSearchWords(std::wstring& name, int page, int pageSize, const std::wstring& word,
                            std::vector<std::wstring>& words, bool& lastPage, bool force) override;
    bool GetDownloadedSongs(int page, int pageSize, std::vector<CSongItem>& songs,
                            bool& lastPage) override;
    bool FindDownloadedSong(const std::wstring& songId, CSongItem& song) override;
    bool SearchDownloadedSongs(int page, int pageSize, const std::wstring& text,
                               std::vector<CSongItem>& songs, bool& lastPage) override;
    bool DownloadSong(const CSongItem& song) override;
    bool CancelSongDownload(const CSongItem& song) override;
    bool DeleteDownloadedSong(const CSongItem& song, bool deleteAll) override;
    bool GetPerformances(int page, int pageSize, std::vector<CSongItem>& records,
                         bool& lastPage) override;
    bool DeletePerformance(const CSongItem& record) override;
    void GetVersionCacheName(std::wstring& name) override;
    bool RequestVersion(std::wstring& name, const std::wstring& currentVersion,
                        CVersionRecord& record, bool force) override;
    bool DownloadUpdatePackage(const std::wstring& url, const std::wstring& folder,
                               std::wstring& fileName) override;
    void ClearListCache() override;
    bool IsSongDownloadBusy() override;
    void ReleaseInstance() override;

    // IDownloadTaskFinishListener
    void OnTaskListFinished(int result, const std::wstring& name) override;
    void OnTaskIconFinished(int result, const std::wstring& key, const std::wstring& path) override;
    void OnTaskSongProgress(const std::wstring& name, const std::wstring& key, std::int64_t done,
                            std::int64_t total) override;
    void OnTaskSongFinished(int result, const std::wstring& name, const std::wstring& key) override;
    void OnTaskUpdateProgress(std::int64_t done, std::int64_t total) override;
    void OnTaskUpdateFinished(int result, const std::wstring& url, const std::wstring& folder,
                              const std::wstring& file) override;
    void OnTaskDone(CDownloadTask* task) override;

    // The history the performance pages read (null: none). Whoever owns
    // the history plugs it in; it must outlive the manager or be unplugged.
    void SetPerformanceStore(IPerformanceStore* store) noexcept { performances_ = store; }

    const std::wstring& SongFolder() const noexcept { return songFolder_; }
    const std::wstring& ListFolder() const noexcept { return listFolder_; }
    const std::wstring& DownloadFolder() const noexcept { return downloadFolder_; }
    // "downloaditem.jsn" in the download folder.
    std::wstring DownloadListPath() const;
    int ActiveTaskCount() const;

  private:
    enum class ListKind { Songs, TypeGroup, Words, Version };

    template <typename F>
    void Notify(F&& call);
    // Steps 2-6 of a cached request: true when the cache file was read
    // (`text` holds it), false when a download was queued.
    bool CachedRequest(std::wstring& name, bool force, const std::wstring& freshName,
                       const std::wstring& url, std::string& text);
    // Songs of an answer, with their locations worked out.
    void ResolveSongs(const std::string& text, int pageSize, std::vector<CSongItem>& songs,
                      bool& lastPage, const std::wstring& cachePath);
    void ResolveIcon(CSongItem& song, const std::wstring& iconUrl);
    std::wstring BucketFolder(const std::wstring& songId) const;
    bool QueueTask(std::shared_ptr<CDownloadTask> task, CWorkerPool& pool);
    std::shared_ptr<CDownloadTask> FindTask(const std::wstring& name, const std::wstring& key,
                                            int type) const;
    bool SaveDownloadList();  // songs lock held
    void LoadDownloadList();
    bool InsideSongFolder(const std::wstring& path) const;
    static ListKind KindOf(const std::wstring& cacheName);

    std::mutex listenersLock_;
    std::condition_variable listenerIdle_;
    std::vector<IDownloadManagerListener*> listeners_;
    std::map<IDownloadManagerListener*, int> inFlight_;

    mutable std::mutex tasksLock_;
    std::vector<std::shared_ptr<CDownloadTask>> tasks_;

    std::wstring baseFolder_;
    std::wstring songFolder_;
    std::wstring listFolder_;
    std::wstring downloadFolder_;

    mutable std::mutex songsLock_;  // taken before tasksLock_ when both are needed
    std::vector<CSongItem> downloaded_;

    DownloadManagerSettings settings_;
    std::atomic<IPerformanceStore*> performances_{nullptr};
    std::unique_ptr<CWorkerPool> cataloguePool_;
    std::unique_ptr<CWorkerPool> songPool_;
};

// The process-wide manager, created on first call; later calls ignore the
// arguments. `settings` (when given) replaces the configuration read from
// the data folder.
// baseFolder is the common application-data folder: the manager keeps its
// files in its "Vokari/song/", "Vokari/list/" and "Vokari/download/", and
// reads the server addresses from "Vokari/catalogue.ini" there.
IDownloadManager* GetDownloadManager(const std::wstring& baseFolder, int cataloguePoolSize = 20,
                                     int songPoolSize = 3,
                                     const DownloadManagerSettings* settings = nullptr);
// The manager if it exists, without creating one (for destructors that run
// after ReleaseInstance).
IDownloadManager* PeekDownloadManager();

// Start-up's cache expiry: clears the list cache when the last clearing
// (seconds since 1970) is more than four hours before `now`. True when it
// cleared; the caller then records `now` as the last clearing.
bool ExpireListCache(IDownloadManager& manager, std::int64_t lastClearing, std::int64_t now);
