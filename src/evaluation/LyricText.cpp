#include "evaluation/LyricText.h"

#include <atomic>

#include "platform/folders/Folders.h"
#include "platform/text/CodePage936.h"

namespace evaluation {

namespace {

std::atomic<LyricContainerDecipher> gDecipher{nullptr};

constexpr size_t kHeaderSize = 16;
constexpr int kKeyCount = 20;

}  // namespace

void SetLyricContainerDecipher(LyricContainerDecipher decipher) {
    gDecipher = decipher;
}

bool IsLyricContainer(std::string_view bytes) {
    if (bytes.size() < kHeaderSize) {
        return false;
    }
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (byte(0) != 0xFF || byte(1) != 0xFF || byte(2) != 1 || byte(3) >= kKeyCount) {
        return false;
    }
    for (size_t i = 4; i < kHeaderSize; ++i) {
        if (byte(i) != 0) {
            return false;
        }
    }
    return true;
}

LyricTextResult ReadLyricFileBytes(std::wstring_view path, std::string& bytes) {
    bytes.clear();
    std::string raw;
    if (!platform::ReadWholeFile(path, raw)) {
        return LyricTextResult::kUnreadable;
    }
    if (!IsLyricContainer(raw)) {
        bytes = std::move(raw);
        return LyricTextResult::kOk;
    }
    const LyricContainerDecipher decipher = gDecipher.load();
    if (decipher == nullptr) {
        return LyricTextResult::kContainerNoKey;
    }
    if (!decipher(raw, bytes)) {
        bytes.clear();
        return LyricTextResult::kContainerInvalid;
    }
    return LyricTextResult::kOk;
}

LyricTextResult ReadLyricFileText(std::wstring_view path, std::wstring& text) {
    text.clear();
    std::string bytes;
    const LyricTextResult result = ReadLyricFileBytes(path, bytes);
    if (result == LyricTextResult::kOk) {
        text = platform::FromCodePage936(bytes);
    }
    return result;
}

}  // namespace evaluation
