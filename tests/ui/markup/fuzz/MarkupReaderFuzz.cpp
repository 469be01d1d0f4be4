// libFuzzer target for the markup reader: every input is parsed, every node
// and attribute walked, and a tree that parses must survive writing back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ui/markup/CProfileParser.h"
#include "ui/markup/CXmlDocument.h"
#include "ui/markup/CXmlObject.h"

namespace {

std::size_t Walk(CXmlNode node) {
    std::size_t sum = 0;
    for (; node; node = node.NextSibling()) {
        for (wchar_t c : node.Name()) {
            sum += static_cast<std::size_t>(c);
        }
        for (wchar_t c : node.Text()) {
            sum += static_cast<std::size_t>(c);
        }
        for (int i = 0; i <= node.AttributeCount(); ++i) {
            sum += node.AttributeName(i).size() + node.AttributeValue(i).size();
        }
        sum += Walk(node.FirstChild());
    }
    return sum;
}

class Collector : public IProfileParserListener {
  public:
    ~Collector() override {
        if (root) {
            root->Release();
        }
    }
    IXmlObject* CreateObject(const std::wstring&) override { return new CXmlObject(); }
    void OnParsed(IXmlObject* parsed) override { root = parsed; }
    void OnError(const std::wstring&) override {}
    IXmlObject* root = nullptr;
};

// Element texts of containers are indentation that writing regenerates.
bool SameTree(const IXmlObject& a, const IXmlObject& b) {
    if (a.GetName() != b.GetName() || a.GetChildCount() != b.GetChildCount() ||
        a.GetAttributeCount() != b.GetAttributeCount()) {
        return false;
    }
    if (a.GetChildCount() == 0 && a.GetText() != b.GetText()) {
        return false;
    }
    std::wstring an, av, bn, bv;
    for (int i = 0; i < a.GetAttributeCount(); ++i) {
        a.GetAttribute(i, an, av);
        b.GetAttribute(i, bn, bv);
        if (an != bn || av != bv) {
            return false;
        }
    }
    for (int i = 0; i < a.GetChildCount(); ++i) {
        if (!SameTree(*a.GetChild(i), *b.GetChild(i))) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    CXmlDocument document;
    if (document.LoadFromUtf8(bytes, size)) {
        volatile std::size_t sink = Walk(document.Root());
        (void)sink;
    }

    Collector first;
    CProfileParser parser(&first);
    if (!parser.ParseUtf8(std::string_view(bytes, size), L"fuzz")) {
        return 0;
    }
    const std::string written = CProfileParser::Write(*first.root);
    Collector second;
    CProfileParser reparser(&second);
    if (!reparser.ParseUtf8(written, L"written") || !SameTree(*first.root, *second.root)) {
        std::abort();
    }
    return 0;
}
