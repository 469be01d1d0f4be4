#pragma once
// The one karaoke context of the process: folders, the files of the current
// performance, the engine's fixed audio format and the screen-size class.
//
// Written only on the user-interface thread. The audio threads read the
// format, the block duration and the replay flag while a performance runs,
// when they no longer change; the engine copies the paths it needs before
// its threads start (the string accessors allocate).
#include <atomic>
#include <mutex>
#include <string>

#include "karaoke/context/WaveFormat.h"

class CKaraokeContext {
  public:
    CKaraokeContext();
    ~CKaraokeContext();
    CKaraokeContext(const CKaraokeContext&) = delete;
    CKaraokeContext& operator=(const CKaraokeContext&) = delete;

    std::wstring GetTempFolder() const;
    std::wstring GetHistoryRoot() const;
    std::wstring GetRecordFolder() const;
    std::wstring GetProgramFolder() const;
    std::wstring GetLyricPath() const;
    std::wstring GetMusicPath() const;
    std::wstring GetVocalPath() const;
    std::wstring GetMusicTitle() const;
    std::wstring GetSongId() const;

    // Folders are stored with exactly one trailing '/'.
    void SetTempFolder(const std::wstring& folder);
    void SetHistoryRoot(const std::wstring& folder);
    void SetRecordFolder(const std::wstring& folder);
    void SetProgramFolder(const std::wstring& folder);

    // The path setters with an existence test throw CxSkinControlsException
    // ("<path> not exist.") when the file cannot be opened for reading, and
    // then leave the member as it was.
    void SetLyricPath(const std::wstring& path);
    void SetMusicPath(const std::wstring& path);
    void SetVocalPath(const std::wstring& path);
    void SetMusicTitle(const std::wstring& title);
    void SetSongId(const std::wstring& id);

    bool IsReplay() const noexcept { return replay_.load(std::memory_order_acquire); }
    void SetReplay(bool replay) noexcept { replay_.store(replay, std::memory_order_release); }

    const WaveFormat* GetAudioFormat() const noexcept { return &format_; }
    int GetCaptureStartThreshold() const noexcept { return captureStartThreshold_; }
    int GetBlockDuration() const noexcept { return blockDuration_.load(std::memory_order_acquire); }
    // 16 or 32 ms; anything else is refused.
    bool SetBlockDuration(int ms) noexcept;

    int GetScreenWidth() const noexcept { return screenWidth_; }
    int GetScreenHeight() const noexcept { return screenHeight_; }
    bool IsLargeLayout() const noexcept { return largeLayout_; }

    static bool IsLargeScreen(int width, int height) noexcept {
        return width >= 1600 && height >= 900;
    }

  private:
    static void RequireReadableFile(const std::wstring& path);

    mutable std::mutex mutex_;
    std::wstring tempFolder_;
    std::wstring historyRoot_;
    std::wstring recordFolder_;
    std::wstring programFolder_;
    std::wstring lyricPath_;
    std::wstring musicPath_;
    std::wstring vocalPath_;
    std::wstring musicTitle_;
    std::wstring songId_;
    std::atomic<bool> replay_{false};
    WaveFormat format_;
    int captureStartThreshold_ = 0;
    std::atomic<int> blockDuration_{16};
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    bool largeLayout_ = false;
};

// Where the screen size comes from when a context is created; the drawing
// layer installs its query. Without one the size is unknown (0 x 0) and the
// small layout is used.
using ScreenSizeQuery = bool (*)(int& width, int& height);
void SetScreenSizeQuery(ScreenSizeQuery query);

// The context, created on first use. Answers null while the karaoke
// subsystem is shutting down, so that a late caller cannot create a new,
// leaked context after it was deleted.
CKaraokeContext* GetKaraokeContext();
void DeleteKaraokeContext();
void SetKaraokeContextClosed(bool closed);

// Folder form used throughout: '/' separators, exactly one trailing '/'.
std::wstring AsFolder(std::wstring folder);
