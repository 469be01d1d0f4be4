#pragma once
// The lyric document as the karaoke window uses it: load the text, ask
// which display line is sung at a playing position and how far, and get a
// line's text. Display lines are numbered from 1; each part of a duet line
// is a display line of its own. Line -1 is the whole lyric.
class ILyric {
  public:
    // text need not be terminated; length in characters.
    virtual bool LoadLyric(const wchar_t* text, int length) = 0;
    // Progresses in percent (0-100); part codes 0 = male or no mark,
    // 1 = female, 2 = chorus; a line number 0 means no such line.
    virtual void QueryProgress(int timeMs, int& line, int& progress, int& part, int& nextLine,
                               int& nextProgress, int& nextPart) = 0;
    // Copies the text, cut to size - 1 characters and terminated. False
    // for a null buffer or a size below 1.
    virtual bool GetLineText(int line, wchar_t* buffer, int size) = 0;
    virtual bool GetFirstLineText(wchar_t* buffer, int size) = 0;
    virtual bool GetSecondLineText(wchar_t* buffer, int size) = 0;
    virtual ~ILyric() = default;
};
