#pragma once
// The steps of the start-up whose subsystems are not part of the program
// yet. Each reports that it is missing; none pretends to succeed, so the
// start-up ends at the first step that needs one (the language
// dictionary). Message boxes go to stderr until the window toolkit exists.
#include "app/AppSeams.h"

class PendingSubsystems : public IAppSeams {
  public:
    bool StartDrawing() override;
    void StopDrawing() override;
    bool LoadDictionary(const std::wstring& culture) override;
    std::wstring LookUpText(const std::wstring& key) override;
    void FreeDictionary() override;
    void ShowPlainMessageBox(const std::wstring& text) override;
    int ShowMessageBox(int style, const std::wstring& text1, const std::wstring& text2,
                       int type) override;
    bool CreateMarkupController() override;
    void ReleaseMarkupController() override;
    void ShutdownSkinToolkit() override;
    bool CreateVersionManager() override;
    bool FinishPendingUpdate() override;
    void DestroyVersionManager() override;
    void ClearCatalogueCache(const std::wstring& dataFolder) override;
    void ReleaseDownloaderManager() override;
    int KaraokeSystemStartup(const std::wstring& historyRoot) override;
    int KaraokeSystemShutdown() override;
    void RunMainWindow(CMainApp& app) override;
    void PostActivation(unsigned flags) override;
    std::int64_t Now() override;
};
