// libFuzzer target for the INI reader and writer: an unchanged document
// must serialise to its own bytes, and a written key must read back while
// every other section keeps its lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile/ProfileFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    platform::ProfileFile file;
    file.Parse(bytes);
    const bool utf16 = file.Encoding() == platform::ProfileEncoding::Utf16Le;
    if (!(utf16 && size % 2 == 1) && file.Serialize() != bytes) {
        std::abort();
    }
    for (const std::wstring& section : file.SectionNames()) {
        file.SectionLines(section);
    }
    const std::wstring section = L"Setting";
    const std::wstring key = L"FuzzKey";
    if (!file.Set(section, key, L"value")) {
        std::abort();
    }
    platform::ProfileFile again;
    again.Parse(file.Serialize());
    const auto value = again.Get(section, key);
    if (!value || *value != L"value") {
        std::abort();
    }
    return 0;
}
