#include "app/CLanguageDictionary.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/text/Utf.h"
#include "ui/markup/CProfileParser.h"
#include "ui/markup/CXmlObject.h"

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), Lower);
    return out;
}

bool HasXamlSuffix(const std::string& name) {
    return name.size() > 5 && Folded(name.substr(name.size() - 5)) == ".xaml";
}

// The culture names a folder: letters, digits, '-' and '_' only, so a
// setting cannot lead the path anywhere else.
bool IsCultureName(const std::wstring& culture) {
    if (culture.empty() || culture.size() > 32) {
        return false;
    }
    return std::all_of(culture.begin(), culture.end(), [](wchar_t c) {
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
               c == L'-' || c == L'_';
    });
}

}  // namespace

CLanguageDictionary::CLanguageDictionary(std::wstring programFolder)
    : programFolder_(std::move(programFolder)) {}

bool CLanguageDictionary::LoadCulture(const std::wstring& culture) {
    entries_.clear();
    languageName_.clear();
    loaded_ = true;
    if (!IsCultureName(culture)) {
        return false;
    }
    const std::wstring folder = programFolder_ + L"lang/" + culture + L"/";
    const std::filesystem::path native(platform::ToUtf8(folder));

    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(native, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (name.empty() || name[0] == '.' || !HasXamlSuffix(name) ||
            !it->is_regular_file(typeError)) {
            continue;
        }
        names.push_back(name);
    }
    if (names.empty()) {
        return false;
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string fa = Folded(a);
        const std::string fb = Folded(b);
        return fa != fb ? fa < fb : a < b;
    });

    CProfileParser parser(this);
    parser.Parse(folder + L"common.xaml");
    for (const std::string& name : names) {
        parser.Parse(folder + platform::FromUtf8(name));
    }
    if (entries_.empty()) {
        return false;
    }
    culture_ = culture;
    return true;
}

bool CLanguageDictionary::LoadAtStartup(const std::wstring& culture,
                                        const std::function<void(const std::wstring&)>& report) {
    if (LoadCulture(culture) || LoadCulture(kFallbackCulture)) {
        return true;
    }
    if (report) {
        report(kMissingLanguageMessage);
    }
    return false;
}

bool CLanguageDictionary::LoadAtStartup(const std::wstring& culture) {
    return LoadAtStartup(culture, [](const std::wstring& message) {
        std::fprintf(stderr, "%s\n", platform::ToUtf8(message).c_str());
    });
}

std::wstring CLanguageDictionary::Lookup(const std::wstring& key) const {
    if (const auto o = oneShot_.find(key); o != oneShot_.end()) {
        return o->second;
    }
    const auto it = entries_.find(key);
    return it == entries_.end() ? std::wstring() : it->second;
}

std::wstring CLanguageDictionary::LookupByText(const std::wstring& text) const {
    for (const auto& [key, value] : entries_) {
        if (value == text) {
            return key;
        }
    }
    return {};
}

std::wstring CLanguageDictionary::TranslateMarkupValue(const std::wstring& value) const {
    if (value.compare(0, 3, L"ml_") != 0) {
        return value;
    }
    std::wstring text = Lookup(value);
    return text.empty() ? value : text;
}

bool CLanguageDictionary::IsOneShotKey(std::wstring_view key) {
    return key == L"ml_Message_Btn_1" || key == L"ml_Message_Btn_2";
}

void CLanguageDictionary::SetEntry(const std::wstring& key, const std::wstring& text) {
    if (IsOneShotKey(key)) {
        if (text.empty()) {
            oneShot_.erase(key);
        } else {
            oneShot_[key] = text;
        }
        return;
    }
    entries_[key] = text;
}

std::wstring CLanguageDictionary::TakeOneShot(const std::wstring& key) {
    const auto it = oneShot_.find(key);
    if (it == oneShot_.end()) {
        return {};
    }
    std::wstring text = std::move(it->second);
    oneShot_.erase(it);
    return text;
}

std::wstring CLanguageDictionary::CurrentCulture(const std::wstring& multiLanguageSetting) {
    return multiLanguageSetting.empty() ? std::wstring(kFallbackCulture) : multiLanguageSetting;
}

std::wstring CLanguageDictionary::CultureForLocale(std::string_view locale) {
    // language[_territory][.codeset][@modifier], or a tag such as zh-Hans.
    const std::size_t cut = locale.find_first_of(".@");
    const std::string name = Folded(locale.substr(0, cut));
    if (name != "zh" && name.rfind("zh_", 0) != 0 && name.rfind("zh-", 0) != 0) {
        return kFallbackCulture;
    }
    const std::string region = name.size() > 3 ? name.substr(3) : std::string();
    // Only the mainland locale (and a simplified-script tag) is simplified;
    // every other Chinese region gets the traditional texts.
    if (region == "cn" || region.rfind("hans", 0) == 0) {
        return L"zh-CN";
    }
    return L"zh-TW";
}

std::wstring CLanguageDictionary::DefaultCulture() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            return CultureForLocale(value);
        }
    }
    return kFallbackCulture;
}

IXmlObject* CLanguageDictionary::CreateObject(const std::wstring&) {
    return new CProfileObject();
}

void CLanguageDictionary::OnParsed(IXmlObject* root) {
    if (!root) {
        return;
    }
    std::wstring attributeName;
    std::wstring key;
    for (int i = 0; i < root->GetChildCount(); ++i) {
        const IXmlObject* child = root->GetChild(i);
        if (!child || child->GetName() != L"sys:String" ||
            !child->GetAttribute(0, attributeName, key) || attributeName != L"x:Key") {
            continue;
        }
        const std::wstring text = child->GetText();
        if (key.empty() || text.empty()) {
            continue;
        }
        if (key == L"LanguageDescription") {
            entries_[languageName_] = text;
            continue;
        }
        if (key == L"LanguageName") {
            languageName_ = text;
        }
        entries_[key] = text;
    }
    root->Release();
}

void CLanguageDictionary::OnError(const std::wstring&) {}
