#include "app/ProgramSubsystems.h"

#include <ctime>
#include <iostream>

#include "catalogue/DownloadManager.h"
#include "evaluation/Melody.h"
#include "evaluation/ScoreEngine.h"
#include "karaoke/HistoryService.h"
#include "karaoke/KaraokeSystem.h"
#include "platform/debug/DebugLog.h"
#include "platform/folders/Folders.h"
#include "platform/text/Utf.h"

namespace {
void Missing(const char* what) {
    platform::DebugOutput(std::string(what) + " is not part of this build yet.\n");
}

// The data folder is the common application-data folder + "Vokari/"; the
// download manager is given the common folder and finds "Vokari/" in it.
std::wstring CommonFolderOf(const std::wstring& dataFolder) {
    std::wstring folder = dataFolder;
    while (!folder.empty() && folder.back() == L'/') {
        folder.pop_back();
    }
    const std::size_t slash = folder.rfind(L'/');
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}
}  // namespace

bool ProgramSubsystems::StartDrawing() {
    Missing("The drawing layer");
    return false;
}
void ProgramSubsystems::StopDrawing() {}

ProgramSubsystems::ProgramSubsystems(std::wstring programFolder)
    : programFolder_(std::move(programFolder)) {
    if (programFolder_.empty()) {
        programFolder_ = platform::ProgramFolder();
    }
    if (!programFolder_.empty() && programFolder_.back() != L'/') {
        programFolder_ += L'/';
    }
}

ProgramSubsystems::~ProgramSubsystems() = default;

// The application object asks for the configured culture and then for the
// fallback itself, and reports when neither loads; a failed load leaves no
// half-filled dictionary behind.
bool ProgramSubsystems::LoadDictionary(const std::wstring& culture) {
    auto dictionary = std::make_unique<CLanguageDictionary>(programFolder_);
    if (!dictionary->LoadCulture(culture)) {
        return false;
    }
    dictionary_ = std::move(dictionary);
    return true;
}
std::wstring ProgramSubsystems::LookUpText(const std::wstring& key) {
    return dictionary_ ? dictionary_->Lookup(key) : std::wstring();
}
void ProgramSubsystems::FreeDictionary() {
    dictionary_.reset();
}

void ProgramSubsystems::ShowPlainMessageBox(const std::wstring& text) {
    std::cerr << platform::ToUtf8(text) << std::endl;
}

int ProgramSubsystems::ShowMessageBox(int, const std::wstring& text1, const std::wstring& text2,
                                      int) {
    std::cerr << platform::ToUtf8(text1);
    if (!text2.empty()) {
        std::cerr << " (" << platform::ToUtf8(text2) << ")";
    }
    std::cerr << std::endl;
    return 1;
}

bool ProgramSubsystems::CreateMarkupController() {
    Missing("The markup controller");
    return false;
}
void ProgramSubsystems::ReleaseMarkupController() {}
void ProgramSubsystems::ShutdownSkinToolkit() {}

bool ProgramSubsystems::CreateVersionManager() {
    Missing("The version manager");
    return false;
}
bool ProgramSubsystems::FinishPendingUpdate() {
    return false;
}
void ProgramSubsystems::DestroyVersionManager() {}

void ProgramSubsystems::ClearCatalogueCache(const std::wstring& dataFolder) {
    GetDownloadManager(CommonFolderOf(dataFolder))->ClearListCache();
}
void ProgramSubsystems::ReleaseDownloaderManager() {
    if (IDownloadManager* manager = PeekDownloadManager()) {
        manager->ReleaseInstance();  // joins its workers
    }
}

namespace {
// The manager of the process is the catalogue's own class.
void PlugPerformances(IDownloadManager* manager, IPerformanceStore* store) {
    if (auto* downloader = dynamic_cast<CDownloaderManager*>(manager)) {
        downloader->SetPerformanceStore(store);
    }
}
}  // namespace

IDownloadManager* ProgramSubsystems::OpenDownloadManager(const std::wstring& dataFolder) {
    IDownloadManager* manager = GetDownloadManager(CommonFolderOf(dataFolder));
    PlugPerformances(manager, performances_.get());
    return manager;
}

KaraokeSystemSeams ProgramSubsystems::ComposeKaraokeSeams() {
    KaraokeSystemSeams seams;
    AddHistorySeams(seams);
    // A lyric file without a melody still plays; the performance is then
    // simply not scored against one.
    seams.loadMelody = [](const std::wstring& lyricPath) {
        if (!GetMelody().Load(lyricPath)) {
            platform::DebugOutput(L"No melody in " + lyricPath + L"\n");
        }
    };
    seams.deleteMelody = [] { GetMelody().Clear(); };
    seams.showMessage = [this](const std::wstring& message) { ShowPlainMessageBox(message); };
    return seams;
}

int ProgramSubsystems::KaraokeSystemStartup(const std::wstring& historyRoot) {
    SetKaraokeSystemSeams(ComposeKaraokeSeams());
    const int result = ::KaraokeSystemStartup(historyRoot);
    if (CHistorySealer* sealer = GetHistorySealer()) {
        performances_ = std::make_unique<CHistoryPerformanceStore>(*sealer);
        // The cache expiry of start-up may have created the manager already.
        PlugPerformances(PeekDownloadManager(), performances_.get());
    }
    return result;
}
int ProgramSubsystems::KaraokeSystemShutdown() {
    // The store pages through the sealer, which shut-down deletes; the
    // manager itself may live on until its own release.
    if (performances_) {
        PlugPerformances(PeekDownloadManager(), nullptr);
        performances_.reset();
    }
    const int result = ::KaraokeSystemShutdown();
    // The seams point into this object; none may outlive it.
    SetKaraokeSystemSeams({});
    return result;
}

void ProgramSubsystems::RunMainWindow(CMainApp&) {
    Missing("The main window");
}
void ProgramSubsystems::PostActivation(unsigned) {}

std::int64_t ProgramSubsystems::Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}
