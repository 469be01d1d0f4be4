#pragma once
// The application object: the first and last code of the Vokari program.
// It resolves the folders, reads the command line, keeps to one instance
// per user, loads the settings, runs the start-up steps in their fixed
// order and, once the main window has ended (or start-up has stopped
// early), undoes in mirror order exactly the steps that were reached.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/AppSeams.h"
#include "app/AppSettings.h"
#include "app/StartupSteps.h"

namespace platform {
class SingleInstance;
}

class CMainApp {
  public:
    struct Options {
        // Empty: the running program's folder.
        std::wstring programFolder;
        // Where the single-instance lock and socket live; empty: the
        // per-user temporary folder.
        std::wstring instanceFolder;
        // Flags the command line cannot set (start hidden, clean the data
        // folder), ORed in after parsing.
        unsigned extraStartFlags = 0;
    };

    explicit CMainApp(IAppSeams& seams);
    CMainApp(IAppSeams& seams, Options options);
    ~CMainApp();
    CMainApp(const CMainApp&) = delete;
    CMainApp& operator=(const CMainApp&) = delete;

    // The start-up sequence; args are the arguments after the program name.
    // Always false: the whole life of the program happens inside it.
    bool InitInstance(const std::vector<std::wstring>& args);
    // The shut-down sequence; returns the exit code.
    int ExitInstance();
    // InitInstance, then ExitInstance.
    int Run(const std::vector<std::wstring>& args);

    const std::wstring& ProgramFolder() const { return programFolder_; }
    const std::wstring& SkinFolder() const { return skinFolder_; }
    const std::wstring& DataFolder() const { return dataFolder_; }
    const std::wstring& ProductName() const { return productName_; }
    unsigned StartFlags() const { return startFlags_; }
    const std::wstring& InstallerPath() const { return installerPath_; }
    CAppSettings* Settings() { return settings_.get(); }
    bool IsVista() const { return true; }

    // Dictionary text of a key (empty without a dictionary).
    std::wstring LookUpText(const std::wstring& key);
    int ShowMessageBox(int style, const std::wstring& text1, const std::wstring& text2, int type);

    int screenDpi = 96;
    std::atomic<int> mainWindowReady{0};
    std::atomic<int> exiting{0};

  private:
    void ResolveFolders();
    void StopListening();

    IAppSeams& seams_;
    Options options_;
    std::wstring programFolder_;
    std::wstring skinFolder_;
    std::wstring dataFolder_;
    std::wstring productName_ = L"Vokari";
    unsigned startFlags_ = 0;
    std::wstring installerPath_;
    std::unique_ptr<CAppSettings> settings_;
    std::unique_ptr<platform::SingleInstance> instance_;

    // How far the start-up got; the shut-down undoes only these.
    bool ownsInstance_ = false;
    bool drawingStarted_ = false;
    bool dictionaryCreated_ = false;
    bool markupCreated_ = false;
    bool versionManagerCreated_ = false;
    bool karaokeStarted_ = false;
    bool exited_ = false;
};

// The running application object, or nullptr outside its lifetime.
CMainApp* GetMainApp();
