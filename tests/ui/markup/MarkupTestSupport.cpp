#include "ui/markup/MarkupTestSupport.h"

#include "platform/text/Utf.h"
#include "ui/markup/CXmlObject.h"

namespace {

void DumpNode(std::string& out, CXmlNode node) {
    out += platform::ToUtf8(node.Name());
    if (node.AttributeCount() > 0) {
        out += '(';
        for (int i = 0; i < node.AttributeCount(); ++i) {
            if (i > 0) {
                out += ',';
            }
            out += platform::ToUtf8(node.AttributeName(i)) + "=" +
                   platform::ToUtf8(node.AttributeValue(i));
        }
        out += ')';
    }
    if (!node.Text().empty()) {
        out += "'" + platform::ToUtf8(node.Text()) + "'";
    }
    if (node.HasChildren()) {
        out += '[';
        for (CXmlNode child = node.FirstChild(); child; child = child.NextSibling()) {
            if (child.Index() != node.FirstChild().Index()) {
                out += ',';
            }
            DumpNode(out, child);
        }
        out += ']';
    }
}

void DumpObject(std::string& out, const IXmlObject& object, bool ignoreContainerText) {
    out += platform::ToUtf8(object.GetName());
    if (object.GetAttributeCount() > 0) {
        out += '(';
        std::wstring name;
        std::wstring value;
        for (int i = 0; i < object.GetAttributeCount(); ++i) {
            object.GetAttribute(i, name, value);
            if (i > 0) {
                out += ',';
            }
            out += platform::ToUtf8(name) + "=" + platform::ToUtf8(value);
        }
        out += ')';
    }
    const bool container = object.GetChildCount() > 0;
    if (!object.GetText().empty() && !(container && ignoreContainerText)) {
        out += "'" + platform::ToUtf8(object.GetText()) + "'";
    }
    if (container) {
        out += '[';
        for (int i = 0; i < object.GetChildCount(); ++i) {
            if (i > 0) {
                out += ',';
            }
            DumpObject(out, *object.GetChild(i), ignoreContainerText);
        }
        out += ']';
    }
}

}  // namespace

std::string DumpDocument(const CXmlDocument& document) {
    std::string out;
    for (CXmlNode node = document.Root(); node; node = node.NextSibling()) {
        if (!out.empty()) {
            out += " | ";
        }
        DumpNode(out, node);
    }
    return out;
}

std::string DumpTree(const IXmlObject& root, bool ignoreContainerText) {
    std::string out;
    DumpObject(out, root, ignoreContainerText);
    return out;
}

TreeCollector::~TreeCollector() {
    if (root) {
        root->Release();
    }
}

IXmlObject* TreeCollector::CreateObject(const std::wstring& elementName) {
    created.push_back(elementName);
    return new CXmlObject();
}

void TreeCollector::OnParsed(IXmlObject* parsed) {
    if (root) {
        root->Release();
    }
    root = parsed;
}

void TreeCollector::OnError(const std::wstring& message) {
    errors.push_back(message);
}
