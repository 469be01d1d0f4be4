#pragma once
// Stand-ins for the subsystems CMainApp calls: every call is recorded (and
// echoed to a stream when one is given), the answers are set by the test.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "app/AppSeams.h"
#include "app/MainApp.h"
#include "platform/text/Utf.h"

class RecordingSeams : public IAppSeams {
  public:
    // Answers.
    bool drawing = true;
    std::set<std::wstring> culturesThatLoad = {L"en-US", L"zh-CN", L"zh-TW"};
    bool markup = true;
    bool versionManager = true;
    bool installerStarted = false;
    int karaokeResult = 0;
    std::int64_t now = 1700000000;
    // How long the stand-in main window waits for an exit command; 0 ends
    // it at once.
    int mainWindowTimeoutMs = 0;
    std::ostream* echo = nullptr;

    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    bool StartDrawing() override { return Record("StartDrawing"), drawing; }
    void StopDrawing() override { Record("StopDrawing"); }
    bool LoadDictionary(const std::wstring& culture) override {
        Record("LoadDictionary " + platform::ToUtf8(culture));
        return culturesThatLoad.count(culture) != 0;
    }
    std::wstring LookUpText(const std::wstring& key) override { return L"<" + key + L">"; }
    void FreeDictionary() override { Record("FreeDictionary"); }
    void ShowPlainMessageBox(const std::wstring& text) override {
        Record("ShowPlainMessageBox " + platform::ToUtf8(text));
    }
    int ShowMessageBox(int style, const std::wstring& text1, const std::wstring& text2,
                       int type) override {
        Record("ShowMessageBox " + std::to_string(style) + " " + platform::ToUtf8(text1) + " " +
               platform::ToUtf8(text2) + " " + std::to_string(type));
        return 1;
    }
    bool CreateMarkupController() override { return Record("CreateMarkupController"), markup; }
    void ReleaseMarkupController() override { Record("ReleaseMarkupController"); }
    void ShutdownSkinToolkit() override { Record("ShutdownSkinToolkit"); }
    bool CreateVersionManager() override { return Record("CreateVersionManager"), versionManager; }
    bool FinishPendingUpdate() override { return Record("FinishPendingUpdate"), installerStarted; }
    void DestroyVersionManager() override { Record("DestroyVersionManager"); }
    void ClearCatalogueCache(const std::wstring& dataFolder) override {
        Record("ClearCatalogueCache " + platform::ToUtf8(dataFolder));
    }
    void ReleaseDownloaderManager() override { Record("ReleaseDownloaderManager"); }
    int KaraokeSystemStartup(const std::wstring& historyRoot) override {
        Record("KaraokeSystemStartup " + platform::ToUtf8(historyRoot));
        return karaokeResult;
    }
    int KaraokeSystemShutdown() override { return Record("KaraokeSystemShutdown"), 0; }

    // Stands in for the main window: takes activations on this (the
    // user-interface) thread and ends on the exit flag.
    void RunMainWindow(CMainApp& app) override {
        std::unique_lock lock(mutex_);
        windowOpen_ = true;
        app.mainWindowReady = 1;
        RecordLocked("RunMainWindow");
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(mainWindowTimeoutMs);
        for (;;) {
            while (!inbox_.empty()) {
                const unsigned flags = inbox_.front();
                inbox_.pop_front();
                RecordLocked("activated " + std::to_string(flags));
                if ((flags & kQuietRun) != 0) {
                    windowOpen_ = false;
                    app.exiting = 1;
                    RecordLocked("exit command");
                    return;
                }
            }
            if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && inbox_.empty()) {
                windowOpen_ = false;
                RecordLocked("main window closed");
                return;
            }
        }
    }
    void PostActivation(unsigned flags) override {
        std::lock_guard lock(mutex_);
        if (!windowOpen_) {
            RecordLocked("activation dropped " + std::to_string(flags));
            return;
        }
        inbox_.push_back(flags);
        arrived_.notify_all();
    }
    std::int64_t Now() override { return now; }

  private:
    void Record(const std::string& call) {
        std::lock_guard lock(mutex_);
        RecordLocked(call);
    }
    void RecordLocked(const std::string& call) {
        calls_.push_back(call);
        if (echo != nullptr) {
            *echo << call << std::endl;
        }
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<unsigned> inbox_;
    bool windowOpen_ = false;
    std::vector<std::string> calls_;
};
