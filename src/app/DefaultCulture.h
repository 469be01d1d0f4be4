#pragma once
// The culture the program starts in when the settings name none, from the
// system's language (LC_ALL, LC_MESSAGES, LANG, the first one set): Chinese
// of Taiwan, Hong Kong or Macau gives "zh-TW", other Chinese "zh-CN", every
// other language "en-US".
#include <string>
#include <string_view>

std::wstring SystemDefaultCulture();
// The same rule for one locale name such as "zh_TW.UTF-8".
std::wstring CultureForLocale(std::string_view locale);
