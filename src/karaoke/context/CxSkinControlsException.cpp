#include "karaoke/context/CxSkinControlsException.h"

#include <algorithm>

#include "platform/text/Utf.h"

CxSkinControlsException::CxSkinControlsException(std::wstring message)
    : message_(std::move(message)), utf8_(platform::ToUtf8(message_)) {}

bool CxSkinControlsException::GetErrorMessage(wchar_t* buffer, unsigned maxChars) const noexcept {
    if (buffer == nullptr || maxChars == 0) {
        return false;
    }
    const std::size_t n = std::min<std::size_t>(message_.size(), maxChars - 1);
    std::copy_n(message_.data(), n, buffer);
    buffer[n] = L'\0';
    return true;
}
