#pragma once
// The karaoke window's lyric step: read the lyric file (deciphered when it
// is a container), decode it from code page 936, strip the note
// annotations at its front, load it, and take the music title from the
// first display line.
#include <string>

#include "karaoke/ILyric.h"
#include "karaoke/context/HlfContainer.h"

// Removes note annotations such as "(A4)" or "(D#4)" from the front of the
// text: repeatedly the first "(" when a capital letter follows it and the
// text's first ")" comes after it, less than 8 characters on; stops at the
// first "(" that is no annotation.
std::wstring StripNoteAnnotations(std::wstring text);

// Everything after the first ':' or full-width colon of the line; empty
// when it has none.
std::wstring MusicTitleFromLine(const std::wstring& line);

struct LyricLoadResult {
    bool valid = false;                  // the document loaded
    hlf::Status read = hlf::Status::Ok;  // why the file gave no text
    std::wstring musicTitle;             // empty unless the first line holds a colon
};

// Loads the lyric file into lyric. The title is always set afresh, so a
// failed load never leaves the previous song's title behind.
LyricLoadResult LoadLyricFile(ILyric& lyric, const std::wstring& path);
