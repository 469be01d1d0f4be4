#include "app/PendingSubsystems.h"

#include <ctime>
#include <iostream>

#include "platform/debug/DebugLog.h"
#include "platform/text/Utf.h"

namespace {
void Missing(const char* what) {
    platform::DebugOutput(std::string(what) + " is not part of this build yet.\n");
}
}  // namespace

bool PendingSubsystems::StartDrawing() {
    Missing("The drawing layer");
    return false;
}
void PendingSubsystems::StopDrawing() {}

bool PendingSubsystems::LoadDictionary(const std::wstring&) {
    Missing("The language dictionary");
    return false;
}
std::wstring PendingSubsystems::LookUpText(const std::wstring&) {
    return {};
}
void PendingSubsystems::FreeDictionary() {}

void PendingSubsystems::ShowPlainMessageBox(const std::wstring& text) {
    std::cerr << platform::ToUtf8(text) << std::endl;
}

int PendingSubsystems::ShowMessageBox(int, const std::wstring& text1, const std::wstring& text2,
                                      int) {
    std::cerr << platform::ToUtf8(text1);
    if (!text2.empty()) {
        std::cerr << " (" << platform::ToUtf8(text2) << ")";
    }
    std::cerr << std::endl;
    return 1;
}

bool PendingSubsystems::CreateMarkupController() {
    Missing("The markup controller");
    return false;
}
void PendingSubsystems::ReleaseMarkupController() {}
void PendingSubsystems::ShutdownSkinToolkit() {}

bool PendingSubsystems::CreateVersionManager() {
    Missing("The version manager");
    return false;
}
bool PendingSubsystems::FinishPendingUpdate() {
    return false;
}
void PendingSubsystems::DestroyVersionManager() {}

void PendingSubsystems::ClearCatalogueCache(const std::wstring&) {
    Missing("The catalogue manager");
}
void PendingSubsystems::ReleaseDownloaderManager() {}

int PendingSubsystems::KaraokeSystemStartup(const std::wstring&) {
    Missing("The karaoke subsystem");
    return -1;
}
int PendingSubsystems::KaraokeSystemShutdown() {
    return 0;
}

void PendingSubsystems::RunMainWindow(CMainApp&) {
    Missing("The main window");
}
void PendingSubsystems::PostActivation(unsigned) {}

std::int64_t PendingSubsystems::Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}
