#pragma once
// Code page 936 (the simplified-Chinese double-byte code page that lyric
// files are written in) to and from the program's wide strings. glibc's
// iconv stops at the first bad byte; these wrappers never stop: a byte that
// does not start a valid character becomes U+FFFD and decoding goes on with
// the next byte, and a character the code page cannot hold is written as
// '?'.
#include <string>
#include <string_view>

namespace platform {

std::wstring FromCodePage936(std::string_view bytes);
std::string ToCodePage936(std::wstring_view text);

}  // namespace platform
