#pragma once
// The program's own wiring of the start-up steps that belong to other
// subsystems: the real step where the subsystem is part of the program,
// otherwise a report that it is missing. No missing step pretends to
// succeed, so the start-up ends at the first one that is needed (the
// language dictionary). Message boxes go to stderr until the window
// toolkit exists.
#include "app/AppSeams.h"

class ProgramSubsystems : public IAppSeams {
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
