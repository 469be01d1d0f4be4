#include "karaoke/CLyric.h"

#include <algorithm>
#include <cwchar>

bool CLyric::LoadLyric(const wchar_t* text, int length) {
    if (text == nullptr)
        return manager_.Load({});
    const std::size_t n = length < 0 ? std::wcslen(text) : static_cast<std::size_t>(length);
    return manager_.Load(std::wstring_view(text, n));
}

void CLyric::QueryProgress(int timeMs, int& line, int& progress, int& part, int& nextLine,
                           int& nextProgress, int& nextPart) {
    manager_.QueryProgress(timeMs, line, progress, part, nextLine, nextProgress, nextPart);
}

bool CLyric::GetLineText(int line, wchar_t* buffer, int size) {
    if (buffer == nullptr || size < 1)
        return false;
    const std::wstring text = manager_.LineText(line);
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
    return true;
}

bool CLyric::GetFirstLineText(wchar_t* buffer, int size) {
    return GetLineText(1, buffer, size);
}

bool CLyric::GetSecondLineText(wchar_t* buffer, int size) {
    return GetLineText(2, buffer, size);
}
