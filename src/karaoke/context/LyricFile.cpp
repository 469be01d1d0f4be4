#include "karaoke/context/LyricFile.h"

#include <cstdio>
#include <memory>

#include "platform/text/CodePage936.h"
#include "platform/text/Utf.h"

hlf::Status ReadLyricBytes(const std::wstring& path, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen(platform::ToUtf8(path).c_str(), "rb"), &std::fclose);
    if (!file)
        return hlf::Status::ReadFailure;
    std::vector<std::uint8_t> raw;
    std::uint8_t chunk[65536];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        raw.insert(raw.end(), chunk, chunk + n);
        if (n < sizeof chunk)
            break;
    }
    if (std::ferror(file.get()))
        return hlf::Status::ReadFailure;
    if (!hlf::IsContainer(raw)) {
        bytes = std::move(raw);
        return hlf::Status::Ok;
    }
    return hlf::DecipherContainer(raw, bytes);
}

hlf::Status ReadLyricText(const std::wstring& path, std::wstring& text) {
    text.clear();
    std::vector<std::uint8_t> bytes;
    const hlf::Status status = ReadLyricBytes(path, bytes);
    if (status == hlf::Status::Ok) {
        text = platform::FromCodePage936(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    return status;
}
