#pragma once
// The generic element tree that parsed markup is turned into: a name, a
// text, a parent, owned children and ordered attributes. Objects are created
// by their owner and freed with Release, which frees the whole subtree.
#include <string>
#include <string_view>

class IXmlObject {
  public:
    virtual int Init(const std::wstring& name, IXmlObject* parent) = 0;
    virtual int Release() = 0;
    virtual int AddChild(IXmlObject* child) = 0;
    virtual int SetAttribute(const std::wstring& name, const std::wstring& value) = 0;
    virtual int EndElement() = 0;
    virtual std::wstring GetName() const = 0;
    virtual std::wstring GetText() const = 0;
    virtual int SetText(std::wstring_view text) = 0;
    // A null text changes nothing and returns 0.
    int SetText(const wchar_t* text) { return text ? SetText(std::wstring_view(text)) : 0; }
    virtual int GetChildCount() const = 0;
    virtual IXmlObject* GetParent() const = 0;
    virtual int GetDepth() const = 0;
    // Null for an index outside 0..GetChildCount()-1.
    virtual IXmlObject* GetChild(int index) const = 0;
    virtual int GetAttributeCount() const = 0;
    // 1 with the pair; 0 (outputs untouched) for an index out of range.
    virtual int GetAttribute(int index, std::wstring& name, std::wstring& value) const = 0;
    virtual bool GetAttributeValue(const std::wstring& name, std::wstring& value) const = 0;

  protected:
    virtual ~IXmlObject() = default;
};
