#include "karaoke/LyricLoader.h"

#include "karaoke/context/LyricFile.h"

std::wstring StripNoteAnnotations(std::wstring text) {
    for (;;) {
        const std::size_t open = text.find(L'(');
        if (open == std::wstring::npos || open + 1 >= text.size())
            break;
        const wchar_t next = text[open + 1];
        if (next < L'A' || next > L'Z')
            break;
        const std::size_t close = text.find(L')');
        if (close == std::wstring::npos || close <= open || close - open >= 8)
            break;
        text.erase(open, close - open + 1);
    }
    return text;
}

std::wstring MusicTitleFromLine(const std::wstring& line) {
    const std::size_t colon = line.find_first_of(L":\xFF1A");
    return colon == std::wstring::npos ? std::wstring() : line.substr(colon + 1);
}

LyricLoadResult LoadLyricFile(ILyric& lyric, const std::wstring& path) {
    LyricLoadResult result;
    std::wstring text;
    result.read = ReadLyricText(path, text);
    text = StripNoteAnnotations(std::move(text));
    result.valid = lyric.LoadLyric(text.data(), static_cast<int>(text.size())) &&
                   result.read == hlf::Status::Ok;
    if (result.valid) {
        wchar_t line[260];
        if (lyric.GetFirstLineText(line, 260))
            result.musicTitle = MusicTitleFromLine(line);
    }
    return result;
}
