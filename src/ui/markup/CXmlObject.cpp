#include "ui/markup/CXmlObject.h"

CXmlObject::~CXmlObject() {
    for (IXmlObject* child : children_) {
        child->Release();
    }
}

int CXmlObject::Init(const std::wstring& name, IXmlObject* parent) {
    name_ = name;
    parent_ = parent;
    return 0;
}

int CXmlObject::Release() {
    delete this;
    return 1;
}

int CXmlObject::AddChild(IXmlObject* child) {
    if (child) {
        children_.push_back(child);
    }
    return 1;
}

int CXmlObject::SetAttribute(const std::wstring& name, const std::wstring& value) {
    for (auto& attribute : attributes_) {
        if (attribute.first == name) {
            attribute.second = value;
            return 1;
        }
    }
    attributes_.emplace_back(name, value);
    return 1;
}

int CXmlObject::EndElement() {
    return 0;
}

std::wstring CXmlObject::GetName() const {
    return name_;
}

std::wstring CXmlObject::GetText() const {
    return text_;
}

int CXmlObject::SetText(std::wstring_view text) {
    text_.assign(text);
    return 1;
}

int CXmlObject::GetChildCount() const {
    return static_cast<int>(children_.size());
}

IXmlObject* CXmlObject::GetParent() const {
    return parent_;
}

int CXmlObject::GetDepth() const {
    int depth = 0;
    for (const IXmlObject* p = parent_; p; p = p->GetParent()) {
        ++depth;
    }
    return depth;
}

IXmlObject* CXmlObject::GetChild(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= children_.size()) {
        return nullptr;
    }
    return children_[static_cast<std::size_t>(index)];
}

int CXmlObject::GetAttributeCount() const {
    return static_cast<int>(attributes_.size());
}

int CXmlObject::GetAttribute(int index, std::wstring& name, std::wstring& value) const {
    if (index < 0 || static_cast<std::size_t>(index) >= attributes_.size()) {
        return 0;
    }
    const auto& attribute = attributes_[static_cast<std::size_t>(index)];
    name = attribute.first;
    value = attribute.second;
    return 1;
}

bool CXmlObject::GetAttributeValue(const std::wstring& name, std::wstring& value) const {
    for (const auto& attribute : attributes_) {
        if (attribute.first == name) {
            value = attribute.second;
            return true;
        }
    }
    return false;
}
