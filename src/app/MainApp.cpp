#include "app/MainApp.h"

#include "app/CLanguageDictionary.h"
#include "app/DriverProbe.h"
#include "platform/clock/Clock.h"
#include "platform/debug/DebugLog.h"
#include "platform/folders/Folders.h"
#include "platform/instance/SingleInstance.h"
#include "platform/shell/ShellOpen.h"

namespace {

constexpr unsigned kInstallerDelayMs = 2000;
constexpr int kMessageBoxStyleError = 3;
constexpr int kMessageBoxStyleWarning = 4;

std::atomic<CMainApp*> theApp{nullptr};

}  // namespace

CMainApp* GetMainApp() {
    return theApp.load();
}

CMainApp::CMainApp(IAppSeams& seams) : CMainApp(seams, Options{}) {}

CMainApp::CMainApp(IAppSeams& seams, Options options)
    : seams_(seams), options_(std::move(options)) {
    theApp.store(this);
}

CMainApp::~CMainApp() {
    StopListening();
    CMainApp* self = this;
    theApp.compare_exchange_strong(self, nullptr);
}

std::wstring CMainApp::LookUpText(const std::wstring& key) {
    return seams_.LookUpText(key);
}

int CMainApp::ShowMessageBox(int style, const std::wstring& text1, const std::wstring& text2,
                             int type) {
    return seams_.ShowMessageBox(style, text1, text2, type);
}

void CMainApp::ResolveFolders() {
    programFolder_ =
        options_.programFolder.empty() ? platform::ProgramFolder() : options_.programFolder;
    if (!programFolder_.empty() && programFolder_.back() != L'/') {
        programFolder_ += L'/';
    }
    std::wstring common = platform::CommonDataFolder();
    if (common.empty()) {
        common = programFolder_;
    }
    dataFolder_ = common + productName_ + L"/";
    if (!platform::MakeWholePath(dataFolder_)) {
        platform::DebugOutput(L"Cannot create the data folder " + dataFolder_ + L"\n");
    }
    skinFolder_ = programFolder_ + L"Skin/" + productName_ + L"/";
}

void CMainApp::StopListening() {
    if (instance_) {
        instance_->StopListening();
    }
}

bool CMainApp::InitInstance(const std::vector<std::wstring>& args) {
    // 1. Folders and command line.
    ResolveFolders();
    const StartCommandLine commandLine = ParseCommandLine(args);
    startFlags_ = commandLine.flags | options_.extraStartFlags;
    installerPath_ = commandLine.installerPath;

    // 2. One instance per user: a later start hands its flags to the
    // running one and ends.
    instance_ = std::make_unique<platform::SingleInstance>(productName_, options_.instanceFolder);
    switch (instance_->Acquire()) {
        case platform::SingleInstance::State::AnotherRuns:
            instance_->Notify(startFlags_ & ~kStartHidden);
            return false;
        case platform::SingleInstance::State::Owner:
            ownsInstance_ = true;
            instance_->Listen([this](std::uint32_t flags) { seams_.PostActivation(flags); });
            break;
        case platform::SingleInstance::State::Unavailable:
            // Not knowing about other instances must not stop this one.
            platform::DebugOutput("Single-instance check unavailable\n");
            ownsInstance_ = true;
            break;
    }

    // 3. Installer mode.
    if ((startFlags_ & kRunInstaller) != 0 && !installerPath_.empty()) {
        platform::SleepMs(kInstallerDelayMs);
        platform::ShellOpen(installerPath_);
        return false;
    }

    // 4. The component model has no counterpart here.

    // 5. Quiet run: no window at all.
    if ((startFlags_ & kQuietRun) != 0) {
        if ((startFlags_ & kCleanDataFolder) != 0) {
            CleanDataFolder(dataFolder_);
        }
        return false;
    }

    // 6. Drawing layer.
    drawingStarted_ = seams_.StartDrawing();

    // 7. Settings.
    settings_ = std::make_unique<CAppSettings>(dataFolder_, programFolder_,
                                               CLanguageDictionary::DefaultCulture());
    settings_->Load();

    // 8. Language dictionary: the configured culture, else English.
    dictionaryCreated_ = true;
    const std::wstring culture = settings_->language.empty() ? L"en-US" : settings_->language;
    if (!seams_.LoadDictionary(culture) && !seams_.LoadDictionary(L"en-US")) {
        seams_.ShowPlainMessageBox(L"Failed to find language resource!");
        return false;
    }

    // 9. Markup controller.
    markupCreated_ = seams_.CreateMarkupController();

    // 10. The system-version check always passes here (IsVista).

    // 11. Sound-card driver.
    const int driver = ProbeDriver(programFolder_);
    if (driver == kDriverMissing || driver == kDriverTooOld) {
        const bool missing = driver == kDriverMissing;
        ShowMessageBox(
            missing ? kMessageBoxStyleError : kMessageBoxStyleWarning,
            LookUpText(missing ? L"ml_Error_Install_Driver" : L"ml_Error_Invalid_CPL_Driver"),
            LookUpText(L"ml_Message_Caption"), 0);
        return false;
    }

    // 12. A pending update.
    versionManagerCreated_ = seams_.CreateVersionManager();
    if (versionManagerCreated_ && seams_.FinishPendingUpdate()) {
        seams_.ReleaseDownloaderManager();
        return false;
    }

    // 13. Catalogue cache expiry.
    const std::int64_t now = seams_.Now();
    if (CatalogueCacheExpired(now, settings_->lastWebSyncTime)) {
        seams_.ClearCatalogueCache(dataFolder_);
        settings_->lastWebSyncTime = now;
    }

    // 14. History root and the karaoke subsystem.
    const std::wstring historyRoot = dataFolder_ + L"KTV/";
    platform::MakeWholePath(historyRoot);
    karaokeStarted_ = seams_.KaraokeSystemStartup(historyRoot) == 0;

    // 15. The main window, inside which the program lives.
    seams_.RunMainWindow(*this);
    return false;
}

int CMainApp::ExitInstance() {
    if (exited_) {
        return 0;
    }
    exited_ = true;
    // Nothing may reach the main window from another instance any more.
    StopListening();

    // 1. Settings: written whenever they were created.
    if (settings_) {
        if (!settings_->Save()) {
            platform::DebugOutput(L"Cannot write " + settings_->DataFilePath() + L"\n");
        }
        settings_.reset();
    }
    // 2. Version manager.
    if (versionManagerCreated_) {
        seams_.DestroyVersionManager();
        versionManagerCreated_ = false;
    }
    // 3. Markup controller.
    if (markupCreated_) {
        seams_.ReleaseMarkupController();
    }
    // 4. Dictionary.
    if (dictionaryCreated_) {
        seams_.FreeDictionary();
        dictionaryCreated_ = false;
    }
    // 5. Cleaning the data folder, only by the instance that owns it.
    if (ownsInstance_ && (startFlags_ & kCleanDataFolder) != 0) {
        CleanDataFolder(dataFolder_);
    }
    // 6. Skin toolkit, which only the markup controller's windows fill.
    if (markupCreated_) {
        seams_.ShutdownSkinToolkit();
        markupCreated_ = false;
    }
    // 7. Karaoke subsystem.
    if (karaokeStarted_) {
        seams_.KaraokeSystemShutdown();
        karaokeStarted_ = false;
    }
    // 8. (component model: nothing to undo)
    // 9. Drawing layer.
    if (drawingStarted_) {
        seams_.StopDrawing();
        drawingStarted_ = false;
    }
    // 10. The platform's own end: the single-instance lock goes with the
    // object.
    return 0;
}

int CMainApp::Run(const std::vector<std::wstring>& args) {
    InitInstance(args);
    return ExitInstance();
}
