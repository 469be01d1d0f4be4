#pragma once
// The one formatting helper, narrow and wide, on {fmt}. Formats use {fmt}'s
// "{}" syntax; numbers are formatted in the "C" locale whatever the
// process locale is.
#include <fmt/format.h>
#include <fmt/xchar.h>

#include <string>
#include <utility>

namespace platform {

template <typename... Args>
std::string Format(fmt::format_string<Args...> format, Args&&... args) {
    return fmt::format(format, std::forward<Args>(args)...);
}

template <typename... Args>
std::wstring Format(fmt::wformat_string<Args...> format, Args&&... args) {
    return fmt::format(format, std::forward<Args>(args)...);
}

}  // namespace platform
