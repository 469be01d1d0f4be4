#pragma once
// Reads a markup file into an IXmlObject tree whose objects a listener
// creates, and writes such a tree back.
#include <string>

#include "ui/markup/IXmlObject.h"

class IProfileParserListener {
  public:
    // A new object for every element.
    virtual IXmlObject* CreateObject(const std::wstring& elementName) = 0;
    // The finished tree; the listener owns it from here on.
    virtual void OnParsed(IXmlObject* root) = 0;
    virtual void OnError(const std::wstring& message) = 0;

  protected:
    virtual ~IProfileParserListener() = default;
};

class IProfileParser {
  public:
    virtual bool Parse(const std::wstring& path) = 0;
    virtual bool Save(const std::wstring& path, IXmlObject* root) = 0;
    virtual void Release() = 0;
    virtual ~IProfileParser() = default;
};
