#pragma once
// The language dictionary: every text the user sees, by key, loaded from
// the "*.xaml" string files of one culture under the program's "lang/"
// folder. The application object owns it; it is filled and read on the
// user-interface thread only.
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "ui/markup/IProfileParser.h"

class CLanguageDictionary : public IProfileParserListener {
  public:
    static constexpr const wchar_t* kFallbackCulture = L"en-US";
    static constexpr const wchar_t* kMissingLanguageMessage = L"Failed to find language resource!";

    // programFolder ends with '/'.
    explicit CLanguageDictionary(std::wstring programFolder);
    ~CLanguageDictionary() override = default;

    // Empties the dictionary and loads every "*.xaml" file of the culture's
    // folder, "common.xaml" first and then all of them in name order (so
    // the file sorted last wins on every machine). True when the dictionary
    // holds at least one entry afterwards.
    bool LoadCulture(const std::wstring& culture);
    // The start-up step: the culture, else "en-US"; when neither loads,
    // report(kMissingLanguageMessage) and false.
    bool LoadAtStartup(const std::wstring& culture,
                       const std::function<void(const std::wstring&)>& report);
    // As above, reporting on stderr.
    bool LoadAtStartup(const std::wstring& culture);

    // Empty when there is no such key.
    std::wstring Lookup(const std::wstring& key) const;
    // The first key in key order whose text equals text, or empty.
    std::wstring LookupByText(const std::wstring& text) const;
    // A value starting exactly with "ml_" becomes its text (the value itself
    // when the text is empty); other values are returned unchanged.
    std::wstring TranslateMarkupValue(const std::wstring& value) const;
    // Inserts or replaces. The message-box button keys take a one-shot
    // override instead, which hides the file's text until taken.
    void SetEntry(const std::wstring& key, const std::wstring& text);
    // The pending one-shot override of key (empty when none) and clears it;
    // the text the language files gave the key stays for later boxes.
    std::wstring TakeOneShot(const std::wstring& key);
    static bool IsOneShotKey(std::wstring_view key);

    bool IsLoaded() const { return loaded_; }
    std::size_t Size() const { return entries_.size(); }
    const std::map<std::wstring, std::wstring>& Entries() const { return entries_; }
    const std::wstring& LanguageName() const { return languageName_; }
    // The culture of the last successful load.
    const std::wstring& Culture() const { return culture_; }

    // The culture setting, or "en-US" when it is empty.
    static std::wstring CurrentCulture(const std::wstring& multiLanguageSetting);
    // The culture for the system language, from LC_ALL, LC_MESSAGES or LANG
    // (the first one set): Chinese locales map to "zh-CN" or "zh-TW", every
    // other language to "en-US".
    static std::wstring DefaultCulture();
    static std::wstring CultureForLocale(std::string_view locale);

    // IProfileParserListener: turns each parsed file into entries.
    IXmlObject* CreateObject(const std::wstring& elementName) override;
    void OnParsed(IXmlObject* root) override;
    void OnError(const std::wstring& message) override;

  private:
    std::wstring programFolder_;
    std::map<std::wstring, std::wstring> entries_;
    std::map<std::wstring, std::wstring> oneShot_;
    std::wstring languageName_;
    std::wstring culture_;
    bool loaded_ = false;
};
