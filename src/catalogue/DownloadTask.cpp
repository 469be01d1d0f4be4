#include "catalogue/DownloadTask.h"

#include "platform/debug/DebugLog.h"

CDownloadTask::CDownloadTask(std::wstring name, std::wstring key, int type,
                             IDownloadTaskFinishListener* finish, const DownloadOptions& options)
    : type_(type),
      name_(std::move(name)),
      key_(std::move(key)),
      finish_(finish),
      options_(options) {}

CDownloadTask::~CDownloadTask() = default;

bool CDownloadTask::AddFile(const std::wstring& url, const std::wstring& folder,
                            const std::wstring& name, std::int64_t declaredSize, bool music,
                            bool optional) {
    File f;
    f.transfer = std::make_unique<CDownloadMTR>(this, declaredSize);
    f.transfer->SetCount(1);
    f.transfer->SetOptions(options_);
    f.transfer->SetUrl(url);
    f.transfer->SetFolder(folder);
    f.transfer->SetFileName(name);
    f.url = url;
    f.folder = folder;
    f.name = name;
    f.declared = declaredSize;
    f.music = music;
    f.optional = optional;
    if (!optional) {
        total_ += declaredSize;
    }
    std::lock_guard lock(mutex_);
    if (song_ && type_ == kTaskSong && !optional) {
        (music ? song_->musicLocation : song_->lyricLocation) = folder + name;
    }
    files_.push_back(std::move(f));
    return true;
}

bool CDownloadTask::IsRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

bool CDownloadTask::IsStopRequested() const {
    std::lock_guard lock(mutex_);
    return stopRequested_;
}

std::optional<CSongItem> CDownloadTask::Song() const {
    std::lock_guard lock(mutex_);
    return song_;
}

bool CDownloadTask::Stop() {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
    if (running_) {
        for (auto& f : files_) {
            f.transfer->Stop();
        }
    }
    return running_;
}

void CDownloadTask::Run() {
    {
        std::unique_lock lock(mutex_);
        if (stopRequested_) {
            // Never started: nothing is downloaded, but the manager still
            // hears that the task is gone. Not under this task's lock: the
            // manager takes its task lock before this one when it cancels.
            lock.unlock();
            finish_->OnTaskDone(this);
            return;
        }
        running_ = true;
    }
    int songResult = kDownloadOk;
    for (current_ = 0; current_ < files_.size(); ++current_) {
        File& f = files_[current_];
        const int result = f.transfer->Run();
        if (result != kDownloadOk && !f.optional) {
            songResult = result;
            break;
        }
        if (!f.optional) {
            finishedBytes_ += f.declared;
        }
        std::lock_guard lock(mutex_);
        if (song_ && result == kDownloadOk) {
            std::wstring& location = f.optional ? song_->iconLocation
                                     : f.music  ? song_->musicLocation
                                                : song_->lyricLocation;
            location = f.transfer->FinalPath();
            if (f.optional) {
                song_->iconOnDisk = true;
            }
        }
        if (stopRequested_) {
            break;
        }
    }
    bool stopped;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        stopped = stopRequested_;
    }
    if (type_ == kTaskSong && !stopped && songResult != kDownloadStopped) {
        finish_->OnTaskSongFinished(songResult, name_, key_);
    }
    finish_->OnTaskDone(this);
}

void CDownloadTask::OnDownloadEvent(const DownloadEvent& event) {
    const File* file = nullptr;
    for (const auto& f : files_) {
        if (f.transfer.get() == event.sender) {
            file = &f;
        }
    }
    if (file == nullptr) {
        return;
    }
    switch (event.code) {
        case kEventSize:
            if (type_ == kTaskUpdate) {
                total_ = event.value;
            }
            break;
        case kEventProgress:
            if (type_ == kTaskSong && total_ != 0 && !file->optional) {
                progress_ = event.value + finishedBytes_;
                finish_->OnTaskSongProgress(name_, key_, progress_, total_);
            } else if (type_ == kTaskUpdate) {
                progress_ = event.value;
                finish_->OnTaskUpdateProgress(event.value, total_);
            }
            break;
        case kEventFinished: {
            const int result = static_cast<int>(event.value);
            if (result == kDownloadStopped) {
                break;
            }
            switch (type_) {
                case kTaskList:
                    finish_->OnTaskListFinished(result, name_);
                    break;
                case kTaskIcon:
                    finish_->OnTaskIconFinished(result, key_,
                                                event.sender->FinalPath().empty()
                                                    ? file->folder + file->name
                                                    : event.sender->FinalPath());
                    break;
                case kTaskSong:
                    break;  // reported by Run() once every file has had its turn
                case kTaskUpdate:
                    finish_->OnTaskUpdateFinished(result, file->url, file->folder, file->name);
                    break;
            }
            break;
        }
        default:
            break;
    }
}
