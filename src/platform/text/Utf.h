#pragma once
// Conversions between the program's wide strings (UTF-32 wchar_t here),
// UTF-8 and UTF-16LE. Invalid input never stops a conversion: an invalid
// sequence becomes U+FFFD.
#include <string>
#include <string_view>

namespace platform {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

std::u16string ToUtf16(std::wstring_view text);
std::wstring FromUtf16(std::u16string_view text);

}  // namespace platform
