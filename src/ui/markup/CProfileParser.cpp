#include "ui/markup/CProfileParser.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/text/Format.h"
#include "platform/text/Utf.h"

namespace {

// Tab, line feed and carriage return only: a space makes a text count.
bool IsBlank(std::wstring_view text) {
    for (wchar_t c : text) {
        if (c != L'\t' && c != L'\n' && c != L'\r') {
            return false;
        }
    }
    return true;
}

void AppendEscaped(std::wstring& out, std::wstring_view text) {
    for (wchar_t c : text) {
        switch (c) {
            case L'&':
                out += L"&amp;";
                break;
            case L'<':
                out += L"&lt;";
                break;
            case L'>':
                out += L"&gt;";
                break;
            case L'"':
                out += L"&quot;";
                break;
            case L'\'':
                out += L"&apos;";
                break;
            default:
                out += c;
        }
    }
}

void WriteElement(std::wstring& out, const IXmlObject& element, bool isRoot) {
    const std::wstring indent(2 * static_cast<std::size_t>(element.GetDepth()), L' ');
    const std::wstring name = element.GetName();
    out += indent;
    out += L'<';
    out += name;
    std::wstring attributeName;
    std::wstring attributeValue;
    for (int i = 0; i < element.GetAttributeCount(); ++i) {
        element.GetAttribute(i, attributeName, attributeValue);
        out += L' ';
        out += attributeName;
        out += L"=\"";
        AppendEscaped(out, attributeValue);
        out += L'"';
    }
    const int children = element.GetChildCount();
    const std::wstring text = element.GetText();
    if (children == 0 && text.empty()) {
        if (isRoot) {
            out += L" >\n";
            out += indent;
            out += L"</" + name + L">\n";
        } else {
            out += L" />\n";
        }
        return;
    }
    if (children == 0) {
        out += L'>';
        AppendEscaped(out, text);
        out += L"</" + name + L">\n";
        return;
    }
    out += L">\n";
    for (int i = 0; i < children; ++i) {
        if (const IXmlObject* child = element.GetChild(i)) {
            WriteElement(out, *child, false);
        }
    }
    out += indent;
    out += L"</" + name + L">\n";
}

}  // namespace

bool CProfileParser::Parse(const std::wstring& path) {
    CXmlDocument document;
    if (!document.LoadFromFile(path)) {
        if (listener_) {
            listener_->OnError(platform::Format(L"Fail to load profile file( {} )", path));
        }
        return false;
    }
    return Build(document, path);
}

bool CProfileParser::ParseUtf8(std::string_view utf8, const std::wstring& sourceName) {
    CXmlDocument document;
    if (!document.LoadFromUtf8(utf8.data(), utf8.size())) {
        if (listener_) {
            listener_->OnError(platform::Format(L"Fail to load profile file( {} )", sourceName));
        }
        return false;
    }
    return Build(document, sourceName);
}

namespace {

// Creates and fills the object for node; null when the listener gave none.
IXmlObject* MakeObject(IProfileParserListener& listener, CXmlNode node, IXmlObject* parent) {
    const std::wstring name(node.Name());
    IXmlObject* object = listener.CreateObject(name);
    if (!object) {
        return nullptr;
    }
    object->Init(name, parent);
    if (!IsBlank(node.Text())) {
        object->SetText(node.Text());
    }
    for (int i = 0; i < node.AttributeCount(); ++i) {
        object->SetAttribute(std::wstring(node.AttributeName(i)),
                             std::wstring(node.AttributeValue(i)));
    }
    return object;
}

// Depth is bounded by the document's own nesting limit.
bool BuildChildren(IProfileParserListener& listener, CXmlNode node, IXmlObject* object) {
    for (CXmlNode child = node.FirstChild(); child; child = child.NextSibling()) {
        IXmlObject* childObject = MakeObject(listener, child, object);
        if (!childObject) {
            return false;
        }
        object->AddChild(childObject);
        if (!BuildChildren(listener, child, childObject)) {
            return false;
        }
        childObject->EndElement();
    }
    return true;
}

}  // namespace

bool CProfileParser::Build(const CXmlDocument& document, const std::wstring& sourceName) {
    if (!listener_) {
        return false;
    }
    const CXmlNode rootNode = document.Root();
    if (!rootNode) {
        listener_->OnError(L"Profile file root node is invalid");
        return false;
    }
    IXmlObject* root = MakeObject(*listener_, rootNode, nullptr);
    if (!root || !BuildChildren(*listener_, rootNode, root)) {
        // A listener that refuses an element gets no half-built tree.
        if (root) {
            root->Release();
        }
        listener_->OnError(platform::Format(L"Fail to load profile file( {} )", sourceName));
        return false;
    }
    listener_->OnParsed(root);
    return true;
}

std::string CProfileParser::Write(const IXmlObject& root) {
    std::wstring out;
    WriteElement(out, root, true);
    return platform::ToUtf8(out);
}

bool CProfileParser::Save(const std::wstring& path, IXmlObject* root) {
    if (!root) {
        return false;
    }
    const std::string bytes = Write(*root);
    const std::filesystem::path target(platform::ToUtf8(path));
    std::filesystem::path temporary = target;
    temporary += ".saving";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(temporary, target, ec);
        ok = !ec;
    }
    if (!ok) {
        std::filesystem::remove(temporary, ec);
    }
    return ok;
}
