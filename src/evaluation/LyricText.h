#pragma once
// The one place that reads a lyric file's text. A lyric file is code page 936
// text, either as it is or inside the enciphered container; the container is
// deciphered by the performance history, which installs its decipher here
// (this layer sits below it and reaches it only through this hook).
#include <string>
#include <string_view>

namespace evaluation {

enum class LyricTextResult {
    kOk,
    kUnreadable,        // missing or cannot be read
    kContainerNoKey,    // an enciphered container, and no decipher is installed
    kContainerInvalid,  // an enciphered container the decipher refused
};

// Deciphers a whole container file into its plain bytes; false when the
// container is damaged or uses an unknown key.
using LyricContainerDecipher = bool (*)(std::string_view container, std::string& plain);

// Installs the decipher (nullptr removes it). Call before lyric files are
// read, from the thread that reads them.
void SetLyricContainerDecipher(LyricContainerDecipher decipher);

// True when bytes start with the container's 16-byte header: 0xFF, 0xFF,
// version 1, a key index 0-19 and twelve zero bytes.
bool IsLyricContainer(std::string_view bytes);

// The file's bytes in code page 936: deciphered when the file is a container,
// else exactly as stored.
LyricTextResult ReadLyricFileBytes(std::wstring_view path, std::string& bytes);

// The same, converted to the program's wide text.
LyricTextResult ReadLyricFileText(std::wstring_view path, std::wstring& text);

}  // namespace evaluation
