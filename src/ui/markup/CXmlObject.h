#pragma once
// The plain element object behind IXmlObject; CProfileObject is the same
// object under the name the language loader creates.
#include <string>
#include <utility>
#include <vector>

#include "ui/markup/IXmlObject.h"

class CXmlObject : public IXmlObject {
  public:
    CXmlObject() = default;
    CXmlObject(const CXmlObject&) = delete;
    CXmlObject& operator=(const CXmlObject&) = delete;

    int Init(const std::wstring& name, IXmlObject* parent) override;
    int Release() override;
    int AddChild(IXmlObject* child) override;
    int SetAttribute(const std::wstring& name, const std::wstring& value) override;
    int EndElement() override;
    std::wstring GetName() const override;
    std::wstring GetText() const override;
    using IXmlObject::SetText;
    int SetText(std::wstring_view text) override;
    int GetChildCount() const override;
    IXmlObject* GetParent() const override;
    int GetDepth() const override;
    IXmlObject* GetChild(int index) const override;
    int GetAttributeCount() const override;
    int GetAttribute(int index, std::wstring& name, std::wstring& value) const override;
    bool GetAttributeValue(const std::wstring& name, std::wstring& value) const override;

  protected:
    // Frees the children too, so an object deleted directly leaks nothing.
    ~CXmlObject() override;

  private:
    std::wstring name_;
    std::wstring text_;
    IXmlObject* parent_ = nullptr;
    std::vector<IXmlObject*> children_;
    std::vector<std::pair<std::wstring, std::wstring>> attributes_;
};

class CProfileObject : public CXmlObject {};
