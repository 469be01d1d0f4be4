#pragma once
// Reading a lyric file for the lyric display and for the reference melody:
// a file in the ".hlf" container is deciphered, any other file is taken as
// it is. Both readers want the same bytes, before any annotation is
// stripped; the text is code page 936.
#include <cstdint>
#include <string>
#include <vector>

#include "karaoke/context/HlfContainer.h"

// The file's plain bytes. Ok with the bytes, else the reason (ReadFailure,
// or what the container check found) and no bytes.
hlf::Status ReadLyricBytes(const std::wstring& path, std::vector<std::uint8_t>& bytes);

// The file's text, decoded from code page 936 (invalid bytes become
// U+FFFD; decoding never stops). Empty text on failure.
hlf::Status ReadLyricText(const std::wstring& path, std::wstring& text);
