#pragma once
#include <string>
#include <string_view>

#include "ui/markup/CXmlDocument.h"
#include "ui/markup/IProfileParser.h"

class CProfileParser : public IProfileParser {
  public:
    explicit CProfileParser(IProfileParserListener* listener) : listener_(listener) {}

    bool Parse(const std::wstring& path) override;
    // Writes to a temporary file beside path and renames it into place, so a
    // failed save leaves the old file whole; false when anything fails.
    bool Save(const std::wstring& path, IXmlObject* root) override;
    void Release() override { delete this; }

    // Parses text already in memory; sourceName stands in for the path in
    // the listener's error message.
    bool ParseUtf8(std::string_view utf8, const std::wstring& sourceName);
    // The text Save writes for root, as UTF-8.
    static std::string Write(const IXmlObject& root);

  private:
    bool Build(const CXmlDocument& document, const std::wstring& sourceName);

    IProfileParserListener* listener_;
};
