#pragma once
// The in-place reader of the markup dialect: the whole file is decoded into
// one wide buffer and parsed inside it into a flat element table. Names,
// values and texts stay in the buffer and are handed out as views, each
// with its own length, so no scan ever relies on a terminator. Entities are
// decoded by compacting the characters in place.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CXmlDocument;

// A cursor on one element of a loaded document; copied freely, valid while
// the document stays loaded. A node without a document is the null node.
class CXmlNode {
  public:
    CXmlNode() = default;
    CXmlNode(const CXmlDocument* document, std::uint32_t index)
        : document_(document), index_(index) {}

    bool IsNull() const { return document_ == nullptr; }
    explicit operator bool() const { return !IsNull(); }

    std::wstring_view Name() const;
    std::wstring_view Text() const;
    CXmlNode FirstChild() const;
    CXmlNode NextSibling() const;
    bool HasChildren() const;

    // At most CXmlDocument::kMaxAttributes, in document order.
    int AttributeCount() const;
    // Empty for an index outside 0..AttributeCount()-1 and for the null node.
    std::wstring_view AttributeName(int index) const;
    std::wstring_view AttributeValue(int index) const;

    std::uint32_t Index() const { return index_; }

  private:
    const CXmlDocument* document_ = nullptr;
    std::uint32_t index_ = 0;
};

class CXmlDocument {
  public:
    static constexpr std::size_t kMaxFileBytes = 4194304;
    // Attributes reported per element; later ones are parsed but not kept.
    static constexpr int kMaxAttributes = 64;
    // Elements nested deeper than this fail the load instead of exhausting
    // the stack.
    static constexpr int kMaxDepth = 1000;

    CXmlDocument() = default;
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    bool LoadFromFile(const std::wstring& path);
    bool LoadFromUtf8(const char* bytes, std::size_t byteCount);
    void Clear();

    // Element 1, or the null node when the document holds no element.
    CXmlNode Root() const;
    // Elements parsed, not counting the reserved entry 0.
    std::size_t ElementCount() const { return elements_.empty() ? 0 : elements_.size() - 1; }
    std::size_t ElementCapacity() const { return elements_.capacity(); }

    const std::wstring& GetLastErrorMessage() const { return errorMessage_; }
    const std::wstring& GetLastErrorContext() const { return errorContext_; }
    const std::wstring& GetPath() const { return path_; }

  private:
    friend class CXmlNode;

    struct Element {
        std::uint32_t name = 0;
        std::uint32_t firstChild = 0;
        std::uint32_t nextSibling = 0;
        std::uint32_t parent = 0;
        std::uint32_t text = 0;
        std::uint32_t nameLength = 0;
        std::uint32_t textLength = 0;
        std::uint32_t firstAttribute = 0;
        std::uint32_t attributeCount = 0;
    };
    struct Attribute {
        std::uint32_t name = 0;
        std::uint32_t nameLength = 0;
        std::uint32_t value = 0;
        std::uint32_t valueLength = 0;
    };

    bool Parse();
    bool ParseLevel(std::size_t& p, std::uint32_t parent, int depth);
    bool ParseAttributes(std::size_t& p, std::uint32_t element);
    std::uint32_t NewElement(std::size_t nameOffset, std::uint32_t parent);
    void SkipWhitespace(std::size_t& p) const;
    std::size_t SkipName(std::size_t p) const;
    // Decodes character data from p up to (not including) stop or the end of
    // the text; returns the decoded length, which starts where p started.
    std::size_t ReadCharData(std::size_t& p, wchar_t stop);
    bool At(std::size_t p, wchar_t c) const { return p < text_.size() && text_[p] == c; }
    bool Fail(const wchar_t* message, std::size_t p);
    void SetError(const wchar_t* message);
    std::wstring_view View(std::uint32_t offset, std::uint32_t length) const {
        return std::wstring_view(text_).substr(offset, length);
    }

    std::wstring text_;
    std::vector<Element> elements_;
    std::vector<Attribute> attributes_;
    std::wstring errorMessage_;
    std::wstring errorContext_;
    std::wstring path_;
};
