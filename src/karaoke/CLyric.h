#pragma once
// The lyric document behind ILyric.
#include "karaoke/ILyric.h"
#include "karaoke/LrcManager.h"

class CLyric final : public ILyric {
  public:
    CLyric() = default;
    ~CLyric() override = default;

    // A negative length means the text is terminated.
    bool LoadLyric(const wchar_t* text, int length) override;
    void QueryProgress(int timeMs, int& line, int& progress, int& part, int& nextLine,
                       int& nextProgress, int& nextPart) override;
    bool GetLineText(int line, wchar_t* buffer, int size) override;
    bool GetFirstLineText(wchar_t* buffer, int size) override;
    bool GetSecondLineText(wchar_t* buffer, int size) override;

    bool IsValid() const { return valid_; }
    const LrcManager& Document() const { return manager_; }

  private:
    LrcManager manager_;
    bool valid_ = true;
};
