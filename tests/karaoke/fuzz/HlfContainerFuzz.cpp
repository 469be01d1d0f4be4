// The container reader on arbitrary bytes, and a round trip of the input.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "karaoke/context/HlfContainer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    std::vector<std::uint8_t> out;
    const hlf::Status s = hlf::DecipherContainer(input, out);
    if (s != hlf::Status::Ok && !out.empty())
        __builtin_trap();
    if (s == hlf::Status::Ok && out.size() + hlf::kHeaderSize + 16 < size)
        __builtin_trap();
    std::vector<std::uint8_t> sealed, back;
    if (hlf::EncipherContainer(input, sealed, static_cast<int>(size % hlf::kKeyCount)) !=
        hlf::Status::Ok) {
        __builtin_trap();
    }
    if (hlf::DecipherContainer(sealed, back) != hlf::Status::Ok ||
        back != std::vector<std::uint8_t>(data, data + size)) {
        __builtin_trap();
    }
    return 0;
}
