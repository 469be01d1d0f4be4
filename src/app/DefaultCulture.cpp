#include "app/DefaultCulture.h"

#include <cstdlib>

std::wstring CultureForLocale(std::string_view locale) {
    const auto end = locale.find_first_of(".@");
    locale = locale.substr(0, end);
    const auto underscore = locale.find_first_of("_-");
    const std::string_view language = locale.substr(0, underscore);
    const std::string_view region =
        underscore == std::string_view::npos ? std::string_view{} : locale.substr(underscore + 1);
    if (language != "zh") {
        return L"en-US";
    }
    if (region == "TW" || region == "HK" || region == "MO" || region == "Hant") {
        return L"zh-TW";
    }
    return L"zh-CN";
}

std::wstring SystemDefaultCulture() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return CultureForLocale(value);
        }
    }
    return L"en-US";
}
