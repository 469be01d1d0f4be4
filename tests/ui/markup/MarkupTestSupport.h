#pragma once
// Readable one-line dumps of parsed documents and object trees, and a
// listener that builds CXmlObject trees, shared by the markup tests.
#include <string>
#include <vector>

#include "ui/markup/CXmlDocument.h"
#include "ui/markup/IProfileParser.h"

// name(attr=value,...)'text'[child,child]; the text and brackets only when
// present. Top-level siblings are joined with " | ".
std::string DumpDocument(const CXmlDocument& document);
// The same form for a tree. With ignoreContainerText the text of elements
// that have children is left out: it is only the indentation before the
// first child, and writing a tree back regenerates it.
std::string DumpTree(const IXmlObject& root, bool ignoreContainerText = false);

class TreeCollector : public IProfileParserListener {
  public:
    ~TreeCollector() override;
    IXmlObject* CreateObject(const std::wstring& elementName) override;
    void OnParsed(IXmlObject* root) override;
    void OnError(const std::wstring& message) override;

    IXmlObject* root = nullptr;
    std::vector<std::wstring> errors;
    std::vector<std::wstring> created;
};
