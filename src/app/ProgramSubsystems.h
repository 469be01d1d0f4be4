#pragma once
// The program's own wiring of the start-up steps that belong to other
// subsystems: the real step where the subsystem is part of the program,
// otherwise a report that it is missing. No missing step pretends to
// succeed, so the start-up ends at the first one that is needed. Message
// boxes go to stderr until the window toolkit exists.
#include <memory>

#include "app/AppSeams.h"
#include "app/CLanguageDictionary.h"
#include "catalogue/DownloadManager.h"
#include "catalogue/HistoryPerformanceStore.h"
#include "karaoke/KaraokeSystem.h"

class ProgramSubsystems : public IAppSeams {
  public:
    // programFolder (ending with '/') holds "lang/"; empty means the folder
    // of the running program.
    explicit ProgramSubsystems(std::wstring programFolder = {});
    ~ProgramSubsystems() override;

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

    // The karaoke subsystem's steps as the program has them: the history
    // (load, replay, sealing at shut-down), the reference melody and the
    // message box.
    KaraokeSystemSeams ComposeKaraokeSeams();

    // The process's catalogue client (GetDownloadManager of the data
    // folder), which pages and deletes the kept performances of the history
    // while the karaoke subsystem runs; it is unplugged from them before
    // the history sealer goes at shut-down.
    IDownloadManager* OpenDownloadManager(const std::wstring& dataFolder);

    // The loaded dictionary, or null.
    const CLanguageDictionary* Dictionary() const { return dictionary_.get(); }

  private:
    std::wstring programFolder_;
    std::unique_ptr<CLanguageDictionary> dictionary_;
    std::unique_ptr<CHistoryPerformanceStore> performances_;
};
