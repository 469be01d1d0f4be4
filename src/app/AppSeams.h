#pragma once
// The start-up and shut-down steps of CMainApp that belong to other
// subsystems. CMainApp calls them in its fixed order; each subsystem plugs
// its real step in here as it is built (ProgramSubsystems holds the ones
// still missing), and tests put recorders in their place.
#include <cstdint>
#include <string>

class CMainApp;

class IAppSeams {
  public:
    virtual ~IAppSeams() = default;

    // Drawing layer (start-up step 6 / shut-down step 9). False: not started.
    virtual bool StartDrawing() = 0;
    virtual void StopDrawing() = 0;

    // Language dictionary of a culture; true when it holds entries.
    virtual bool LoadDictionary(const std::wstring& culture) = 0;
    virtual std::wstring LookUpText(const std::wstring& key) = 0;
    virtual void FreeDictionary() = 0;
    // The platform's plain message box, for the time before the dictionary.
    virtual void ShowPlainMessageBox(const std::wstring& text) = 0;
    // The program's own message box; returns 1 close, 2 window closed, 6
    // yes, 7 no.
    virtual int ShowMessageBox(int style, const std::wstring& text1, const std::wstring& text2,
                               int type) = 0;

    // Markup controller. False: none was created.
    virtual bool CreateMarkupController() = 0;
    virtual void ReleaseMarkupController() = 0;
    // Skin toolkit's shared resources (image cache, handler registry).
    virtual void ShutdownSkinToolkit() = 0;

    // Version manager and its start-up check. FinishPendingUpdate returns
    // true when an installer was started and the program must end.
    virtual bool CreateVersionManager() = 0;
    virtual bool FinishPendingUpdate() = 0;
    virtual void DestroyVersionManager() = 0;

    // Catalogue/download manager.
    virtual void ClearCatalogueCache(const std::wstring& dataFolder) = 0;
    virtual void ReleaseDownloaderManager() = 0;

    // Karaoke subsystem; 0 when started.
    virtual int KaraokeSystemStartup(const std::wstring& historyRoot) = 0;
    virtual int KaraokeSystemShutdown() = 0;

    // Runs the modal main window; returns when it has ended.
    virtual void RunMainWindow(CMainApp& app) = 0;
    // Flags from another instance. Called on the single-instance listener
    // thread: the main window posts them to its own thread; without a main
    // window they are dropped.
    virtual void PostActivation(unsigned flags) = 0;

    // Wall-clock time in seconds since 1970.
    virtual std::int64_t Now() = 0;
};
