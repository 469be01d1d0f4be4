#include "catalogue/DownloadManager.h"

#include <algorithm>
#include <filesystem>

#include "catalogue/CatalogueJson.h"
#include "catalogue/CatalogueNames.h"
#include "catalogue/DownloadUrl.h"
#include "platform/debug/DebugLog.h"
#include "platform/folders/Folders.h"
#include "platform/profile/ProfileFile.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"

namespace {

constexpr std::int64_t kCacheLifetimeSeconds = 14400;
constexpr const wchar_t* kDownloadListName = L"downloaditem.jsn";

// Which listeners are being notified on this thread (a listener may remove
// itself from inside its own notification).
thread_local std::vector<IDownloadManagerListener*> tCalling;

std::wstring WithSlash(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'/') {
        folder += L'/';
    }
    return folder;
}

std::wstring TrimBase(std::wstring base) {
    while (!base.empty() && base.back() == L'/') {
        base.pop_back();
    }
    return base;
}

// Pages the list: page counted from 1; 0 for page or size means all.
template <typename T>
std::vector<T> Page(const std::vector<T>& all, int page, int size, bool& lastPage) {
    if (page == 0 || size == 0) {
        return all;
    }
    const std::size_t first = static_cast<std::size_t>(size) * static_cast<std::size_t>(page - 1);
    if (page < 0 || size < 0 || first >= all.size()) {
        lastPage = true;
        return {};
    }
    if (static_cast<std::size_t>(size) < all.size() - first) {
        lastPage = false;
        return std::vector<T>(all.begin() + static_cast<std::ptrdiff_t>(first),
                              all.begin() + static_cast<std::ptrdiff_t>(first + size));
    }
    lastPage = true;
    return std::vector<T>(all.begin() + static_cast<std::ptrdiff_t>(first), all.end());
}

std::wstring WithDefaultExtension(const std::wstring& url, const wchar_t* fallback) {
    std::wstring ext = download::UrlExtension(url);
    return ext.empty() ? std::wstring(fallback) : ext;
}

std::mutex gInstanceLock;
CDownloaderManager* gInstance = nullptr;

}  // namespace

CatalogueServers LoadCatalogueServers(const std::wstring& dataFolder) {
    CatalogueServers servers;
    platform::ProfileFile file;
    if (!file.Load(WithSlash(dataFolder) + L"catalogue.ini")) {
        return servers;
    }
    if (auto v = file.Get(L"Servers", L"Catalogue"); v && !v->empty()) {
        servers.catalogue = TrimBase(*v);
    }
    if (auto v = file.Get(L"Servers", L"File"); v && !v->empty()) {
        servers.file = TrimBase(*v);
    }
    if (auto v = file.Get(L"Servers", L"Music"); v && !v->empty()) {
        servers.music = TrimBase(*v);
    }
    return servers;
}

CDownloaderManager::CDownloaderManager(const std::wstring& baseFolder, int cataloguePoolSize,
                                       int songPoolSize, const DownloadManagerSettings& settings)
    : settings_(settings), performances_(settings.performances) {
    baseFolder_ = baseFolder.empty() ? platform::ProgramFolder() : WithSlash(baseFolder);
    songFolder_ = baseFolder_ + L"Vokari/song/";
    listFolder_ = baseFolder_ + L"Vokari/list/";
    downloadFolder_ = baseFolder_ + L"Vokari/download/";
    settings_.servers.catalogue = TrimBase(settings_.servers.catalogue);
    settings_.servers.file = TrimBase(settings_.servers.file);
    settings_.servers.music = TrimBase(settings_.servers.music);
    platform::MakeWholePath(songFolder_);
    platform::MakeWholePath(listFolder_);
    platform::MakeWholePath(downloadFolder_);
    LoadDownloadList();
    cataloguePool_ = std::make_unique<CWorkerPool>(cataloguePoolSize,
                                                   platform::ThreadPriority::Normal, "catalogue");
    songPool_ =
        std::make_unique<CWorkerPool>(songPoolSize, platform::ThreadPriority::BelowNormal, "songs");
}

CDownloaderManager::~CDownloaderManager() {
    {
        std::lock_guard lock(tasksLock_);
        for (auto& t : tasks_) {
            t->Stop();
        }
    }
    // Running tasks end (stopped) and report; queued ones are dropped.
    cataloguePool_->Shutdown();
    songPool_->Shutdown();
    std::lock_guard lock(tasksLock_);
    tasks_.clear();
}

std::wstring CDownloaderManager::DownloadListPath() const {
    return downloadFolder_ + kDownloadListName;
}

int CDownloaderManager::ActiveTaskCount() const {
    std::lock_guard lock(tasksLock_);
    return static_cast<int>(tasks_.size());
}

// ---- listeners

void CDownloaderManager::AddListener(IDownloadManagerListener* listener) {
    std::lock_guard lock(listenersLock_);
    if (listener != nullptr &&
        std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
        listeners_.push_back(listener);
    }
}

void CDownloaderManager::RemoveListener(IDownloadManagerListener* listener) {
    std::unique_lock lock(listenersLock_);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
    const int own = static_cast<int>(std::count(tCalling.begin(), tCalling.end(), listener));
    listenerIdle_.wait(lock, [&] {
        const auto it = inFlight_.find(listener);
        return it == inFlight_.end() || it->second <= own;
    });
}

template <typename F>
void CDownloaderManager::Notify(F&& call) {
    std::vector<IDownloadManagerListener*> copy;
    {
        std::lock_guard lock(listenersLock_);
        copy = listeners_;
    }
    for (IDownloadManagerListener* l : copy) {
        {
            std::lock_guard lock(listenersLock_);
            if (std::find(listeners_.begin(), listeners_.end(), l) == listeners_.end()) {
                continue;  // removed meanwhile: never called again
            }
            ++inFlight_[l];
        }
        tCalling.push_back(l);
        call(*l);
        tCalling.pop_back();
        {
            std::lock_guard lock(listenersLock_);
            if (--inFlight_[l] == 0) {
                inFlight_.erase(l);
            }
        }
        listenerIdle_.notify_all();
    }
}

// ---- tasks

bool CDownloaderManager::QueueTask(std::shared_ptr<CDownloadTask> task, CWorkerPool& pool) {
    std::lock_guard lock(tasksLock_);
    tasks_.push_back(task);
    if (!pool.Push(task)) {
        tasks_.pop_back();
        return false;
    }
    return true;
}

std::shared_ptr<CDownloadTask> CDownloaderManager::FindTask(const std::wstring& name,
                                                            const std::wstring& key,
                                                            int type) const {
    std::lock_guard lock(tasksLock_);
    for (const auto& t : tasks_) {
        if (t->Type() == type && t->Name() == name && t->Key() == key) {
            return t;
        }
    }
    return nullptr;
}

void CDownloaderManager::OnTaskDone(CDownloadTask* task) {
    std::lock_guard lock(tasksLock_);
    tasks_.erase(std::remove_if(tasks_.begin(), tasks_.end(),
                                [&](const auto& t) { return t.get() == task; }),
                 tasks_.end());
}

// ---- cached requests

CDownloaderManager::ListKind CDownloaderManager::KindOf(const std::wstring& name) {
    if (name == catalogue::TypeGroupCacheName()) {
        return ListKind::TypeGroup;
    }
    if (name == catalogue::VersionCacheName()) {
        return ListKind::Version;
    }
    if (name.rfind(L"search_word_", 0) == 0) {
        return ListKind::Words;
    }
    return ListKind::Songs;
}

bool CDownloaderManager::CachedRequest(std::wstring& name, bool force,
                                       const std::wstring& freshName, const std::wstring& url,
                                       std::string& text) {
    if (!name.empty()) {
        // Only names this client makes: a name with a path in it is refused.
        const std::wstring path = listFolder_ + download::SanitizeFileName(name);
        if (force) {
            platform::DeleteFile(path);
        } else if (platform::ReadWholeFile(path, text)) {
            const std::size_t nul = text.find('\0');
            if (nul != std::string::npos) {
                text.resize(nul);
            }
            return true;
        } else {
            platform::DeleteFile(path);
        }
    }
    name = freshName;
    platform::DeleteFile(listFolder_ + name);
    auto task = std::make_shared<CDownloadTask>(name, L"", kTaskList, this, settings_.transfer);
    task->AddFile(url, listFolder_, name, 0, false);
    QueueTask(std::move(task), *cataloguePool_);
    return false;
}

void CDownloaderManager::OnTaskListFinished(int result, const std::wstring& name) {
    if (result == kDownloadOk) {
        // An answer that cannot be read is a refusal, and is not kept.
        std::string text;
        const std::wstring path = listFolder_ + name;
        bool ok = platform::ReadWholeFile(path, text);
        if (ok) {
            switch (KindOf(name)) {
                case ListKind::Songs: {
                    catalogue::RawSongList list;
                    ok = catalogue::ParseSongList(text, list);
                    break;
                }
                case ListKind::TypeGroup: {
                    std::vector<CSongTypeEntry> entries;
                    ok = catalogue::ParseTypeGroup(text, 4, entries);
                    break;
                }
                case ListKind::Words: {
                    std::vector<std::wstring> words;
                    ok = catalogue::ParseSearchWords(text, words);
                    break;
                }
                case ListKind::Version: {
                    CVersionRecord record;
                    ok = catalogue::ParseVersion(text, record);
                    break;
                }
            }
        }
        if (!ok) {
            platform::DebugOutput(platform::Format(L"Catalogue: malformed answer for {}\n", name));
            platform::DeleteFile(path);
            result = kDownloadRefused;
        }
    }
    Notify([&](IDownloadManagerListener& l) { l.OnListDownloaded(result, name); });
}

std::wstring CDownloaderManager::BucketFolder(const std::wstring& songId) const {
    return songFolder_ + catalogue::SongBucket(songId) + L"/";
}

void CDownloaderManager::ResolveIcon(CSongItem& song, const std::wstring& iconUrl) {
    song.iconOnDisk = false;
    const std::wstring ext = download::UrlExtension(iconUrl);
    if (iconUrl.empty() || ext.empty()) {
        return;  // no icon
    }
    const std::wstring bucket = BucketFolder(song.songId);
    const std::wstring file = download::SanitizeFileName(song.songId + ext);
    if (platform::FileExists(bucket + file)) {
        song.iconOnDisk = true;
        song.iconLocation = bucket + file;
        return;
    }
    song.iconLocation = iconUrl;
    platform::MakeWholePath(bucket);
    const std::wstring taskName = song.songId + L"_image";
    if (FindTask(taskName, song.songId, kTaskIcon) == nullptr) {
        auto task = std::make_shared<CDownloadTask>(taskName, song.songId, kTaskIcon, this,
                                                    settings_.transfer);
        task->AddFile(iconUrl, bucket, file, 0, false);
        QueueTask(std::move(task), *cataloguePool_);
    }
}

void CDownloaderManager::ResolveSongs(const std::string& text, int pageSize,
                                      std::vector<CSongItem>& songs, bool& lastPage,
                                      const std::wstring& cachePath) {
    catalogue::RawSongList list;
    if (!catalogue::ParseSongList(text, list)) {
        platform::DebugOutput("Catalogue: a cached answer cannot be read; it is dropped.\n");
        platform::DeleteFile(cachePath);
        return;
    }
    if (list.rejected > 0) {
        platform::DebugOutput(platform::Format(
            "Catalogue: {} songs with ids that cannot name a file were left out.\n",
            list.rejected));
    }
    const auto& s = settings_.servers;
    for (CSongItem& song : list.songs) {
        song.kind = 0;
        song.status = 0;
        const std::wstring iconValue = song.iconLocation;
        ResolveIcon(song, iconValue.empty() ? L"" : s.file + L"/pic/icon/" + iconValue);
        song.musicLocation = song.alternativeBases == 1 && !list.musicBase.empty()
                                 ? list.musicBase + song.musicLocation
                                 : s.music + L"/mp3/bgmusic_64k/" + song.musicLocation;
        song.lyricLocation = song.alternativeBases == 1 && !list.lyricBase.empty()
                                 ? list.lyricBase + song.lyricLocation
                                 : s.file + L"/lyric/lrc/" + song.lyricLocation;
        const std::wstring bucket = BucketFolder(song.songId);
        const std::wstring music =
            bucket + download::SanitizeFileName(song.songId +
                                                WithDefaultExtension(song.musicLocation, L".mp3"));
        const std::wstring lyric =
            bucket + download::SanitizeFileName(song.songId +
                                                WithDefaultExtension(song.lyricLocation, L".lrc"));
        if (platform::FileExists(music) && platform::FileExists(lyric)) {
            song.status = 2;
            song.musicLocation = music;
            song.lyricLocation = lyric;
        } else if (auto task = FindTask(song.songId + L"_mp3lrc", song.songId, kTaskSong)) {
            song.status = 1;
            song.bytesDone = task->Progress();
        }
        songs.push_back(song);
    }
    if (static_cast<int>(list.songs.size()) < pageSize) {
        lastPage = true;
    }
}

void CDownloaderManager::GetSongListCacheName(std::wstring& name, int page, int pageSize,
                                              int model) {
    name = catalogue::SongListCacheName(page, pageSize, model);
}

bool CDownloaderManager::RequestSongList(std::wstring& name, int page, int pageSize, int model,
                                         std::vector<CSongItem>& songs, bool& lastPage,
                                         bool force) {
    std::string text;
    if (!CachedRequest(
            name, force, catalogue::SongListCacheName(page, pageSize, model),
            settings_.servers.catalogue + catalogue::SongListQuery(page, pageSize, model), text)) {
        return false;
    }
    ResolveSongs(text, pageSize, songs, lastPage, listFolder_ + name);
    return true;
}

void CDownloaderManager::GetTypeGroupCacheName(std::wstring& name) {
    name = catalogue::TypeGroupCacheName();
}

bool CDownloaderManager::RequestTypeGroup(std::wstring& name, int selector,
                                          std::vector<CSongTypeEntry>& entries, bool force) {
    std::string text;
    if (!CachedRequest(name, force, catalogue::TypeGroupCacheName(),
                       settings_.servers.catalogue + catalogue::TypeGroupQuery(), text)) {
        return false;
    }
    if (!catalogue::ParseTypeGroup(text, selector, entries)) {
        platform::DeleteFile(listFolder_ + name);
    }
    return true;
}

void CDownloaderManager::GetSongsByTypeCacheName(std::wstring& name, int page, int pageSize,
                                                 int songType) {
    name = catalogue::SongsByTypeCacheName(page, pageSize, songType);
}

bool CDownloaderManager::RequestSongsByType(std::wstring& name, int page, int pageSize,
                                            int songType, std::vector<CSongItem>& songs,
                                            bool& lastPage, bool force) {
    std::string text;
    if (!CachedRequest(
            name, force, catalogue::SongsByTypeCacheName(page, pageSize, songType),
            settings_.servers.catalogue + catalogue::SongsByTypeQuery(page, pageSize, songType),
            text)) {
        return false;
    }
    ResolveSongs(text, pageSize, songs, lastPage, listFolder_ + name);
    return true;
}

void CDownloaderManager::GetSingerSongsCacheName(std::wstring& name, int page, int pageSize,
                                                 const std::wstring& escapedSinger) {
    name = catalogue::SingerSongsCacheName(page, pageSize, escapedSinger);
}

bool CDownloaderManager::RequestSingerSongs(std::wstring& name, int page, int pageSize,
                                            const std::wstring& singer,
                                            std::vector<CSongItem>& songs, bool& lastPage,
                                            bool force) {
    const std::wstring escaped = catalogue::EscapeText(singer);
    std::string text;
    if (!CachedRequest(
            name, force, catalogue::SingerSongsCacheName(page, pageSize, escaped),
            settings_.servers.catalogue + catalogue::SingerSongsQuery(page, pageSize, escaped),
            text)) {
        return false;
    }
    ResolveSongs(text, pageSize, songs, lastPage, listFolder_ + name);
    return true;
}

void CDownloaderManager::GetSearchResultCacheName(std::wstring& name, int page, int pageSize,
                                                  const std::wstring& escapedWord) {
    name = catalogue::SearchResultCacheName(page, pageSize, escapedWord);
}

bool CDownloaderManager::RequestSearchResult(std::wstring& name, int page, int pageSize,
                                             const std::wstring& word,
                                             std::vector<CSongItem>& songs, bool& lastPage,
                                             bool force) {
    const std::wstring escaped = catalogue::EscapeText(word);
    std::string text;
    if (!CachedRequest(
            name, force, catalogue::SearchResultCacheName(page, pageSize, escaped),
            settings_.servers.catalogue + catalogue::SearchResultQuery(page, pageSize, escaped),
            text)) {
        return false;
    }
    ResolveSongs(text, pageSize, songs, lastPage, listFolder_ + name);
    return true;
}

void CDownloaderManager::GetSearchWordsCacheName(std::wstring& name, int page, int pageSize,
                                                 const std::wstring& escapedWord) {
    name = catalogue::SearchWordsCacheName(page, pageSize, escapedWord);
}

bool CDownloaderManager::RequestSearchWords(std::wstring& name, int page, int pageSize,
                                            const std::wstring& word,
                                            std::vector<std::wstring>& words, bool& lastPage,
                                            bool force) {
    const std::wstring escaped = catalogue::EscapeText(word);
    std::string text;
    if (!CachedRequest(
            name, force, catalogue::SearchWordsCacheName(page, pageSize, escaped),
            settings_.servers.catalogue + catalogue::SearchWordsQuery(page, pageSize, escaped),
            text)) {
        return false;
    }
    const std::size_t before = words.size();
    if (!catalogue::ParseSearchWords(text, words)) {
        platform::DeleteFile(listFolder_ + name);
        return true;
    }
    if (static_cast<int>(words.size() - before) < pageSize) {
        lastPage = true;
    }
    return true;
}

void CDownloaderManager::GetVersionCacheName(std::wstring& name) {
    name = catalogue::VersionCacheName();
}

bool CDownloaderManager::RequestVersion(std::wstring& name, const std::wstring& currentVersion,
                                        CVersionRecord& record, bool force) {
    std::string text;
    if (!CachedRequest(name, force, catalogue::VersionCacheName(),
                       settings_.servers.catalogue + catalogue::VersionQuery(currentVersion),
                       text)) {
        return false;
    }
    if (!catalogue::ParseVersion(text, record)) {
        platform::DeleteFile(listFolder_ + name);
    }
    return true;
}

void CDownloaderManager::ClearListCache() {
    for (const auto& f : platform::FindFiles(listFolder_, L"*")) {
        if (!f.isFolder) {
            platform::DeleteFile(listFolder_ + f.name);
        }
    }
}

// ---- the downloaded songs

bool CDownloaderManager::InsideSongFolder(const std::wstring& path) const {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(platform::ToUtf8(songFolder_)).lexically_normal();
    const fs::path p = fs::path(platform::ToUtf8(path)).lexically_normal();
    const auto [end, rest] = std::mismatch(root.begin(), root.end(), p.begin(), p.end());
    return p.is_absolute() && (end == root.end() || end->empty()) && rest != p.end();
}

bool CDownloaderManager::SaveDownloadList() {
    const std::wstring path = DownloadListPath();
    if (downloaded_.empty()) {
        return platform::DeleteFile(path) || !platform::FileExists(path);
    }
    // Written beside and renamed into place: the old list survives a crash.
    return platform::WriteFileAtomically(path, catalogue::WriteDownloadList(downloaded_));
}

void CDownloaderManager::LoadDownloadList() {
    const std::wstring path = DownloadListPath();
    std::string text;
    if (!platform::ReadWholeFile(path, text)) {
        return;
    }
    std::vector<CSongItem> songs;
    if (!catalogue::ParseDownloadList(text, songs)) {
        const std::wstring aside = path + L".corrupt";
        platform::DeleteFile(aside);
        std::error_code ec;
        std::filesystem::rename(platform::ToUtf8(path), platform::ToUtf8(aside), ec);
        platform::DebugOutput(platform::Format(
            L"Downloads: the list of downloaded songs cannot be read; kept as {}\n", aside));
        return;
    }
    std::lock_guard lock(songsLock_);
    for (CSongItem& s : songs) {
        if (!InsideSongFolder(s.musicLocation) || !InsideSongFolder(s.lyricLocation)) {
            platform::DebugOutput(platform::Format(
                L"Downloads: song {} points outside the song folder; left out.\n", s.songId));
            continue;
        }
        // A stored icon path counts only inside the song folder; a URL is
        // fetched again when the list is shown.
        s.iconOnDisk = InsideSongFolder(s.iconLocation) && platform::FileExists(s.iconLocation);
        if (!s.iconOnDisk && s.iconLocation.find(L"://") == std::wstring::npos) {
            s.iconLocation.clear();
        }
        downloaded_.push_back(s);
    }
}

bool CDownloaderManager::GetDownloadedSongs(int page, int pageSize, std::vector<CSongItem>& songs,
                                            bool& lastPage) {
    std::lock_guard lock(songsLock_);
    for (CSongItem& stored : downloaded_) {
        if (!stored.iconOnDisk && stored.iconLocation.find(L"://") != std::wstring::npos) {
            ResolveIcon(stored, stored.iconLocation);
        }
    }
    songs = Page(downloaded_, page, pageSize, lastPage);
    return true;
}

bool CDownloaderManager::FindDownloadedSong(const std::wstring& songId, CSongItem& song) {
    std::lock_guard lock(songsLock_);
    for (CSongItem& stored : downloaded_) {
        if (stored.songId == songId) {
            if (!stored.iconOnDisk && stored.iconLocation.find(L"://") != std::wstring::npos) {
                ResolveIcon(stored, stored.iconLocation);
            }
            song = stored;
            return true;
        }
    }
    return false;
}

bool CDownloaderManager::SearchDownloadedSongs(int page, int pageSize, const std::wstring& text,
                                               std::vector<CSongItem>& songs, bool& lastPage) {
    std::lock_guard lock(songsLock_);
    std::vector<CSongItem> found;
    for (const CSongItem& s : downloaded_) {
        if (s.singer.find(text) != std::wstring::npos || s.name.find(text) != std::wstring::npos) {
            found.push_back(s);
        }
    }
    songs = Page(found, page, pageSize, lastPage);
    return true;
}

bool CDownloaderManager::DownloadSong(const CSongItem& song) {
    if (!catalogue::IsPlainSongId(song.songId)) {
        platform::DebugOutput("Downloads: a song id that cannot name a file is refused.\n");
        return false;
    }
    std::lock_guard songs(songsLock_);
    for (const CSongItem& s : downloaded_) {
        if (s.songId == song.songId) {
            return false;
        }
    }
    const std::wstring bucket = BucketFolder(song.songId);
    const std::wstring music =
        download::SanitizeFileName(song.songId + WithDefaultExtension(song.musicLocation, L".mp3"));
    const std::wstring lyric =
        download::SanitizeFileName(song.songId + WithDefaultExtension(song.lyricLocation, L".lrc"));
    const std::wstring taskName = song.songId + L"_mp3lrc";
    if (FindTask(taskName, song.songId, kTaskSong) != nullptr) {
        return false;
    }
    platform::MakeWholePath(bucket);
    auto task =
        std::make_shared<CDownloadTask>(taskName, song.songId, kTaskSong, this, settings_.transfer);
    task->SetSong(song);
    task->AddFile(song.musicLocation, bucket, music, song.musicSize, true);
    task->AddFile(song.lyricLocation, bucket, lyric, song.lyricSize, false);
    const std::wstring iconExt = download::UrlExtension(song.iconLocation);
    if (!song.iconOnDisk && song.iconLocation.find(L"://") != std::wstring::npos &&
        !iconExt.empty() && FindTask(song.songId + L"_image", song.songId, kTaskIcon) == nullptr) {
        task->AddFile(song.iconLocation, bucket, download::SanitizeFileName(song.songId + iconExt),
                      0, false, true);
    }
    return QueueTask(std::move(task), *songPool_);
}

bool CDownloaderManager::CancelSongDownload(const CSongItem& song) {
    std::lock_guard lock(tasksLock_);
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
        auto& t = *it;
        if (t->Type() == kTaskSong && t->Name() == song.songId + L"_mp3lrc" &&
            t->Key() == song.songId) {
            if (!t->Stop()) {
                // Not started: it will never start, so it leaves the list
                // now and the song can be asked for again at once.
                tasks_.erase(it);
            }
            return true;
        }
    }
    return false;
}

void CDownloaderManager::OnTaskSongProgress(const std::wstring& name, const std::wstring& key,
                                            std::int64_t done, std::int64_t total) {
    Notify([&](IDownloadManagerListener& l) { l.OnSongProgress(name, key, done, total); });
}

void CDownloaderManager::OnTaskSongFinished(int result, const std::wstring& name,
                                            const std::wstring& key) {
    if (result == kDownloadOk) {
        std::optional<CSongItem> song;
        if (auto task = FindTask(name, key, kTaskSong)) {
            song = task->Song();
        }
        if (song) {
            song->status = 2;
            song->kind = 0;
            // The icon may have come by its own task meanwhile.
            const std::wstring iconExt = download::UrlExtension(song->iconLocation);
            const std::wstring icon =
                BucketFolder(song->songId) + download::SanitizeFileName(song->songId + iconExt);
            if (!song->iconOnDisk && !iconExt.empty() && platform::FileExists(icon)) {
                song->iconOnDisk = true;
                song->iconLocation = icon;
            }
            std::lock_guard lock(songsLock_);
            const bool present =
                std::any_of(downloaded_.begin(), downloaded_.end(),
                            [&](const CSongItem& s) { return s.songId == song->songId; });
            if (!present) {
                downloaded_.push_back(*song);
                if (!SaveDownloadList()) {
                    platform::DebugOutput(
                        "Downloads: the list of downloaded songs cannot be "
                        "written.\n");
                }
            }
        }
    }
    Notify([&](IDownloadManagerListener& l) { l.OnSongDownloaded(result, name, key); });
}

bool CDownloaderManager::DeleteDownloadedSong(const CSongItem& song, bool deleteAll) {
    {
        std::lock_guard lock(songsLock_);
        auto it = std::find_if(downloaded_.begin(), downloaded_.end(),
                               [&](const CSongItem& s) { return s.songId == song.songId; });
        if (it == downloaded_.end()) {
            return false;
        }
        // Only files inside the song folder are ever deleted.
        if (InsideSongFolder(it->musicLocation)) {
            platform::DeleteFile(it->musicLocation);
        }
        if (deleteAll && InsideSongFolder(it->lyricLocation)) {
            platform::DeleteFile(it->lyricLocation);
        }
        downloaded_.erase(it);
        SaveDownloadList();
    }
    IPerformanceStore* store = performances_;
    if (deleteAll && store != nullptr) {
        for (const auto& p : store->ListPerformances()) {
            if (p.songId == song.songId) {
                store->DeletePerformance(p.recordId);
            }
        }
    }
    return true;
}

bool CDownloaderManager::GetPerformances(int page, int pageSize, std::vector<CSongItem>& records,
                                         bool& lastPage) {
    std::vector<CSongItem> all;
    if (IPerformanceStore* store = performances_) {
        for (const auto& p : store->ListPerformances()) {
            CSongItem item;
            item.kind = 1;
            item.songId = p.songId;
            item.recordNumber = p.recordId;
            item.title = p.title;
            item.score = p.score;
            item.date = p.time;
            all.push_back(std::move(item));
        }
    }
    records = Page(all, page, pageSize, lastPage);
    return true;
}

bool CDownloaderManager::DeletePerformance(const CSongItem& record) {
    IPerformanceStore* store = performances_;
    return store != nullptr && store->DeletePerformance(record.recordNumber);
}

// ---- icons and update packages

void CDownloaderManager::OnTaskIconFinished(int result, const std::wstring& key,
                                            const std::wstring& path) {
    Notify([&](IDownloadManagerListener& l) { l.OnIconDownloaded(result, key, path); });
}

bool CDownloaderManager::DownloadUpdatePackage(const std::wstring& url, const std::wstring& folder,
                                               std::wstring& fileName) {
    if (fileName.empty()) {
        const std::size_t slash = url.rfind(L'/');
        if (slash == std::wstring::npos) {
            return false;
        }
        fileName = download::UrlFileName(url.substr(slash));
    }
    if (fileName.empty()) {
        return false;
    }
    {
        std::lock_guard lock(tasksLock_);
        for (const auto& t : tasks_) {
            if (t->Name() == L"UpdateApp") {
                return false;
            }
        }
    }
    auto task =
        std::make_shared<CDownloadTask>(L"UpdateApp", L"", kTaskUpdate, this, settings_.transfer);
    task->AddFile(url, WithSlash(folder), fileName, 0, false);
    return QueueTask(std::move(task), *cataloguePool_);
}

void CDownloaderManager::OnTaskUpdateProgress(std::int64_t done, std::int64_t total) {
    Notify([&](IDownloadManagerListener& l) { l.OnUpdateProgress(done, total); });
}

void CDownloaderManager::OnTaskUpdateFinished(int result, const std::wstring& url,
                                              const std::wstring& folder,
                                              const std::wstring& file) {
    Notify([&](IDownloadManagerListener& l) { l.OnUpdateDownloaded(result, url, folder, file); });
}

bool CDownloaderManager::IsSongDownloadBusy() {
    return songPool_->Busy() > 0;
}

void CDownloaderManager::ReleaseInstance() {
    std::lock_guard lock(gInstanceLock);
    if (gInstance == this) {
        gInstance = nullptr;
    }
    delete this;
}

IDownloadManager* GetDownloadManager(const std::wstring& baseFolder, int cataloguePoolSize,
                                     int songPoolSize, const DownloadManagerSettings* settings) {
    std::lock_guard lock(gInstanceLock);
    if (gInstance == nullptr) {
        DownloadManagerSettings s;
        if (settings != nullptr) {
            s = *settings;
        } else {
            s.servers = LoadCatalogueServers(WithSlash(baseFolder) + L"Vokari/");
        }
        gInstance = new CDownloaderManager(baseFolder, cataloguePoolSize, songPoolSize, s);
    }
    return gInstance;
}

IDownloadManager* PeekDownloadManager() {
    std::lock_guard lock(gInstanceLock);
    return gInstance;
}

bool ExpireListCache(IDownloadManager& manager, std::int64_t lastClearing, std::int64_t now) {
    if (now - lastClearing <= kCacheLifetimeSeconds) {
        return false;
    }
    manager.ClearListCache();
    return true;
}
