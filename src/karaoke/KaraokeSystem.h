#pragma once
// The door into a performance: subsystem start-up and shut-down, the two
// modal entry points and the singletons through which the karaoke Parts find
// each other. Everything here runs on the user-interface thread.
#include <functional>
#include <string>

#include "karaoke/context/SingleTon.h"

// What a catalogue page hands to StartKaraoke.
struct KaraokeSongInfo {
    std::wstring songId;
    std::wstring musicPath;
    std::wstring lyricPath;
};

// The open karaoke dialog as the manager knows it.
class IKaraokeDialog {
  public:
    virtual ~IKaraokeDialog() = default;
    virtual void EndDialog(int result) = 0;
};

class CKaraokeInstance : public SingleTon<CKaraokeInstance> {
  public:
    // Loads the kept performances of the history root.
    virtual int Initialize();
    // Deletes the controller, the evaluation engine, the context and the
    // window's language texts.
    virtual int Uninitialize();
};

class CKaraokeMainWndManager : public SingleTon<CKaraokeMainWndManager> {
  public:
    ~CKaraokeMainWndManager() override = default;
    void SetDialog(IKaraokeDialog* dialog) { dialog_ = dialog; }
    IKaraokeDialog* GetDialog() const { return dialog_; }

  private:
    IKaraokeDialog* dialog_ = nullptr;
};

// The steps that belong to Parts built elsewhere; each is wired in by the
// Part that builds it. A missing step is skipped, except where a file is
// needed: then the entry point reports the missing file.
struct KaraokeSystemSeams {
    // Loads the list of kept performances (CKaraokeInstance initialise).
    std::function<void(const std::wstring& historyRoot)> loadHistory;
    // Loads the reference melody from the lyric file (may throw
    // CxSkinControlsException).
    std::function<void(const std::wstring& lyricPath)> loadMelody;
    // Unpacks the kept performance and waits until all of its files are
    // there; returns the folder of the unpacked copy, empty on failure.
    std::function<std::wstring(int recordId, const std::wstring& recordFolder)> unsealRecord;
    // Shows a message to the user (the application message box).
    std::function<void(const std::wstring& message)> showMessage;
    // Builds the karaoke window, registers it with CKaraokeMainWndManager,
    // runs it modally and destroys it; returns the dialog result.
    std::function<int()> runKaraokeWindow;
    // Waits for the history sealer's work (start of shut-down, before
    // anything it reads is deleted).
    std::function<void()> finishHistoryWork;
    // The deletions of shut-down, in their order.
    std::function<void()> deleteScoreEngine;
    std::function<void()> deleteWindowTexts;
    std::function<void()> deleteHistorySealer;
    std::function<void()> deleteMelody;
    std::function<void()> deleteVolumeAndPlayerSettings;
};

void SetKaraokeSystemSeams(KaraokeSystemSeams seams);
const KaraokeSystemSeams& GetKaraokeSystemSeams();

// historyFolder empty: the program folder's "History/".
int KaraokeSystemStartup(const std::wstring& historyFolder);
int KaraokeSystemShutdown();

// Both return when the karaoke window has closed, or at once after showing
// "<path> not exist." when a file is missing (no window then).
void StartKaraoke(const KaraokeSongInfo& song);
void StartPlayback(int recordId);

// Ends the open karaoke dialog with result 0; nothing without one.
int CloseKaraokeWindow();
