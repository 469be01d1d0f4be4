#include "karaoke/context/KaraokeContext.h"

#include <fstream>

#include "karaoke/context/CxSkinControlsException.h"
#include "platform/folders/Folders.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"

namespace {

std::atomic<ScreenSizeQuery> g_screenSizeQuery{nullptr};
std::atomic<CKaraokeContext*> g_context{nullptr};
std::atomic<bool> g_closed{false};
std::mutex g_contextMutex;

}  // namespace

std::wstring AsFolder(std::wstring folder) {
    for (wchar_t& c : folder) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    while (folder.size() > 1 && folder.back() == L'/') {
        folder.pop_back();
    }
    if (folder != L"/") {
        folder += L'/';
    }
    return folder;
}

CKaraokeContext::CKaraokeContext() {
    const std::wstring temp = platform::UserTempFolder();
    if (!temp.empty()) {
        tempFolder_ = AsFolder(temp) + L"KTV_Temp/";
    }
    programFolder_ = platform::ProgramFolder();
    if (ScreenSizeQuery query = g_screenSizeQuery.load(); query != nullptr) {
        int w = 0;
        int h = 0;
        if (query(w, h)) {
            screenWidth_ = w;
            screenHeight_ = h;
        }
    }
    largeLayout_ = IsLargeScreen(screenWidth_, screenHeight_);
}

CKaraokeContext::~CKaraokeContext() = default;

#define VK_CONTEXT_GETTER(Name, member)               \
    std::wstring CKaraokeContext::Get##Name() const { \
        std::lock_guard<std::mutex> guard(mutex_);    \
        return member;                                \
    }
VK_CONTEXT_GETTER(TempFolder, tempFolder_)
VK_CONTEXT_GETTER(HistoryRoot, historyRoot_)
VK_CONTEXT_GETTER(RecordFolder, recordFolder_)
VK_CONTEXT_GETTER(ProgramFolder, programFolder_)
VK_CONTEXT_GETTER(LyricPath, lyricPath_)
VK_CONTEXT_GETTER(MusicPath, musicPath_)
VK_CONTEXT_GETTER(VocalPath, vocalPath_)
VK_CONTEXT_GETTER(MusicTitle, musicTitle_)
VK_CONTEXT_GETTER(SongId, songId_)
#undef VK_CONTEXT_GETTER

void CKaraokeContext::SetTempFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> guard(mutex_);
    tempFolder_ = AsFolder(folder);
}

void CKaraokeContext::SetHistoryRoot(const std::wstring& folder) {
    std::lock_guard<std::mutex> guard(mutex_);
    historyRoot_ = AsFolder(folder);
}

void CKaraokeContext::SetRecordFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> guard(mutex_);
    recordFolder_ = AsFolder(folder);
}

void CKaraokeContext::SetProgramFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> guard(mutex_);
    programFolder_ = AsFolder(folder);
}

void CKaraokeContext::RequireReadableFile(const std::wstring& path) {
    // Any reason the file cannot be read (missing, a folder, no permission,
    // a name too long) counts: the window must not open on such a file.
    bool readable = !path.empty() && platform::FileExists(path);
    if (readable) {
        std::ifstream probe(platform::ToUtf8(path), std::ios::binary);
        readable = probe.is_open();
    }
    if (!readable) {
        throw CxSkinControlsException(platform::Format(L"{} not exist.", path));
    }
}

void CKaraokeContext::SetLyricPath(const std::wstring& path) {
    RequireReadableFile(path);
    std::lock_guard<std::mutex> guard(mutex_);
    lyricPath_ = path;
}

void CKaraokeContext::SetMusicPath(const std::wstring& path) {
    RequireReadableFile(path);
    std::lock_guard<std::mutex> guard(mutex_);
    musicPath_ = path;
}

void CKaraokeContext::SetVocalPath(const std::wstring& path) {
    RequireReadableFile(path);
    std::lock_guard<std::mutex> guard(mutex_);
    vocalPath_ = path;
}

void CKaraokeContext::SetMusicTitle(const std::wstring& title) {
    std::lock_guard<std::mutex> guard(mutex_);
    musicTitle_ = title;
}

void CKaraokeContext::SetSongId(const std::wstring& id) {
    std::lock_guard<std::mutex> guard(mutex_);
    songId_ = id;
}

bool CKaraokeContext::SetBlockDuration(int ms) noexcept {
    if (ms != 16 && ms != 32) {
        return false;
    }
    blockDuration_.store(ms, std::memory_order_release);
    return true;
}

void SetScreenSizeQuery(ScreenSizeQuery query) {
    g_screenSizeQuery.store(query);
}

CKaraokeContext* GetKaraokeContext() {
    CKaraokeContext* context = g_context.load(std::memory_order_acquire);
    if (context != nullptr || g_closed.load(std::memory_order_acquire)) {
        return context;
    }
    std::lock_guard<std::mutex> guard(g_contextMutex);
    context = g_context.load(std::memory_order_relaxed);
    if (context == nullptr && !g_closed.load(std::memory_order_relaxed)) {
        context = new (std::nothrow) CKaraokeContext();
        g_context.store(context, std::memory_order_release);
    }
    return context;
}

void DeleteKaraokeContext() {
    std::lock_guard<std::mutex> guard(g_contextMutex);
    delete g_context.exchange(nullptr, std::memory_order_acq_rel);
}

void SetKaraokeContextClosed(bool closed) {
    g_closed.store(closed, std::memory_order_release);
}
