#include "karaoke/KaraokeSystem.h"

#include <string_view>

#include "karaoke/KaraokeController.h"
#include "karaoke/context/CxSkinControlsException.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/debug/DebugLog.h"
#include "platform/profile/ProfileFile.h"
#include "platform/text/Format.h"

namespace {

KaraokeSystemSeams g_seams;

constexpr unsigned kMessageChars = 512;

void Run(const std::function<void()>& step) {
    if (step) {
        step();
    }
}

void ShowError(const CxSkinControlsException& e) {
    wchar_t text[kMessageChars];
    e.GetErrorMessage(text, kMessageChars);
    if (g_seams.showMessage) {
        g_seams.showMessage(text);
    } else {
        platform::DebugOutput(std::wstring(text) + L"\n");
    }
}

// The lyric path with its existence test, then the melody of the song.
void SetLyric(CKaraokeContext& context, const std::wstring& path) {
    context.SetLyricPath(path);
    if (g_seams.loadMelody) {
        g_seams.loadMelody(path);
    }
}

int OpenKaraokeWindow() {
    const int result = g_seams.runKaraokeWindow ? g_seams.runKaraokeWindow() : 0;
    // However the dialog ended, the manager must not keep pointing at it.
    if (CKaraokeMainWndManager* manager = CKaraokeMainWndManager::PeekInstance()) {
        manager->SetDialog(nullptr);
    }
    return result;
}

std::wstring ReadRecordLyricPath(const std::wstring& recordFolder) {
    platform::ProfileFile info;
    if (!info.Load(recordFolder + L"ResultInfo.ini")) {
        return L"";
    }
    return info.Get(L"information", L"LyricPath").value_or(L"");
}

}  // namespace

void SetKaraokeSystemSeams(KaraokeSystemSeams seams) {
    g_seams = std::move(seams);
}
const KaraokeSystemSeams& GetKaraokeSystemSeams() {
    return g_seams;
}

int CKaraokeInstance::Initialize() {
    if (g_seams.loadHistory) {
        if (CKaraokeContext* context = GetKaraokeContext()) {
            g_seams.loadHistory(context->GetHistoryRoot());
        }
    }
    return 0;
}

int CKaraokeInstance::Uninitialize() {
    DeleteKaraokeController();
    Run(g_seams.deleteScoreEngine);
    DeleteKaraokeContext();
    Run(g_seams.deleteWindowTexts);
    return 0;
}

int KaraokeSystemStartup(const std::wstring& historyFolder) {
    SetKaraokeContextClosed(false);
    SetKaraokeControllerClosed(false);
    CKaraokeContext* context = GetKaraokeContext();
    if (context != nullptr) {
        context->SetHistoryRoot(historyFolder.empty() ? context->GetProgramFolder() + L"History/"
                                                      : historyFolder);
    }
    if (CKaraokeInstance* instance = CKaraokeInstance::GetInstance()) {
        instance->Initialize();
    }
    return 0;
}

int KaraokeSystemShutdown() {
    // Sealing threads read the context and the sealer: let them finish
    // before either goes.
    Run(g_seams.finishHistoryWork);
    // From here on no accessor creates a fresh object that nobody deletes.
    SetKaraokeContextClosed(true);
    SetKaraokeControllerClosed(true);
    if (CKaraokeInstance* instance = CKaraokeInstance::PeekInstance()) {
        instance->Uninitialize();
    }
    CKaraokeInstance::ReleaseInstance();
    Run(g_seams.deleteHistorySealer);
    Run(g_seams.deleteMelody);
    CKaraokeMainWndManager::ReleaseInstance();
    Run(g_seams.deleteVolumeAndPlayerSettings);
    DeleteKaraokeContext();  // in case uninitialise never ran
    return 0;
}

void StartKaraoke(const KaraokeSongInfo& song) {
    CKaraokeContext* context = GetKaraokeContext();
    if (context == nullptr) {
        return;
    }
    try {
        context->SetMusicTitle(L"");  // set again from this song's lyric file
        context->SetMusicPath(song.musicPath);
        SetLyric(*context, song.lyricPath);
        context->SetSongId(song.songId);
        platform::DebugOutput(
            platform::Format(L"StartKaraoke : Music: {}, Lyric: {}, SongID : {}.\n", song.musicPath,
                             song.lyricPath, song.songId));
    } catch (const CxSkinControlsException& e) {
        ShowError(e);
        return;
    }
    context->SetReplay(false);
    OpenKaraokeWindow();
}

void StartPlayback(int recordId) {
    CKaraokeContext* context = GetKaraokeContext();
    if (context == nullptr) {
        return;
    }
    try {
        context->SetReplay(true);
        context->SetMusicTitle(L"");
        std::wstring folder = context->GetHistoryRoot() + platform::Format(L"{:010d}/", recordId);
        context->SetRecordFolder(folder);
        if (g_seams.unsealRecord) {
            const std::wstring unpacked = g_seams.unsealRecord(recordId, folder);
            if (!unpacked.empty()) {
                context->SetRecordFolder(unpacked);
                folder = context->GetRecordFolder();
            }
        }
        context->SetMusicPath(folder + L"Mixed.wav");
        context->SetVocalPath(folder + L"Vocal.wav");
        SetLyric(*context, ReadRecordLyricPath(folder));
        platform::DebugOutput(platform::Format("StartPlayback : RecordID : {}.\n", recordId));
    } catch (const CxSkinControlsException& e) {
        ShowError(e);
        return;
    }
    OpenKaraokeWindow();
}

int CloseKaraokeWindow() {
    CKaraokeMainWndManager* manager = CKaraokeMainWndManager::PeekInstance();
    if (manager == nullptr || manager->GetDialog() == nullptr) {
        return 0;
    }
    platform::DebugOutput("CloseKaraokeWindow().\n");
    IKaraokeDialog* dialog = manager->GetDialog();
    manager->SetDialog(nullptr);
    dialog->EndDialog(0);
    return 0;
}
