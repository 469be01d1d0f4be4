#include "app/ProgramSubsystems.h"

#include <ctime>
#include <iostream>

#include "catalogue/DownloadManager.h"
#include "karaoke/KaraokeSystem.h"
#include "platform/debug/DebugLog.h"
#include "platform/text/Utf.h"

namespace {
void Missing(const char* what) {
    platform::DebugOutput(std::string(what) + " is not part of this build yet.\n");
}
}  // namespace

bool ProgramSubsystems::StartDrawing() {
    Missing("The drawing layer");
    return false;
}
void ProgramSubsystems::StopDrawing() {}

bool ProgramSubsystems::LoadDictionary(const std::wstring&) {
    Missing("The language dictionary");
    return false;
}
std::wstring ProgramSubsystems::LookUpText(const std::wstring&) {
    return {};
}
void ProgramSubsystems::FreeDictionary() {}

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
    GetDownloadManager(dataFolder)->ClearListCache();
}
void ProgramSubsystems::ReleaseDownloaderManager() {
    if (IDownloadManager* manager = PeekDownloadManager()) {
        manager->ReleaseInstance();
    }
}

int ProgramSubsystems::KaraokeSystemStartup(const std::wstring& historyRoot) {
    return ::KaraokeSystemStartup(historyRoot);
}
int ProgramSubsystems::KaraokeSystemShutdown() {
    return ::KaraokeSystemShutdown();
}

void ProgramSubsystems::RunMainWindow(CMainApp&) {
    Missing("The main window");
}
void ProgramSubsystems::PostActivation(unsigned) {}

std::int64_t ProgramSubsystems::Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}
