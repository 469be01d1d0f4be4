#include "ui/markup/CXmlDocument.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/text/Utf.h"

namespace {

constexpr std::size_t kMaxErrorMessage = 99;
constexpr std::size_t kMaxErrorContext = 49;

bool IsWhitespace(wchar_t c) {
    return static_cast<std::uint32_t>(c) <= 32;
}

bool IsNameChar(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'_' || c == L':' || c == L'.';
}

struct Entity {
    std::wstring_view name;
    wchar_t character;
};
constexpr Entity kEntities[] = {
    {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&apos;", L'\''},
};

template <typename T>
void GrowIfFull(std::vector<T>& table) {
    if (table.size() == table.capacity()) {
        table.reserve(table.capacity() + table.capacity() / 2 + 500);
    }
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

// ---- CXmlNode ----

std::wstring_view CXmlNode::Name() const {
    if (!document_) {
        return {};
    }
    const auto& e = document_->elements_[index_];
    return document_->View(e.name, e.nameLength);
}

std::wstring_view CXmlNode::Text() const {
    if (!document_) {
        return {};
    }
    const auto& e = document_->elements_[index_];
    return document_->View(e.text, e.textLength);
}

CXmlNode CXmlNode::FirstChild() const {
    if (!document_ || document_->elements_[index_].firstChild == 0) {
        return {};
    }
    return CXmlNode(document_, document_->elements_[index_].firstChild);
}

CXmlNode CXmlNode::NextSibling() const {
    if (!document_ || document_->elements_[index_].nextSibling == 0) {
        return {};
    }
    return CXmlNode(document_, document_->elements_[index_].nextSibling);
}

bool CXmlNode::HasChildren() const {
    return document_ && document_->elements_[index_].firstChild != 0;
}

int CXmlNode::AttributeCount() const {
    return document_ ? static_cast<int>(document_->elements_[index_].attributeCount) : 0;
}

std::wstring_view CXmlNode::AttributeName(int index) const {
    if (index < 0 || index >= AttributeCount()) {
        return {};
    }
    const auto& e = document_->elements_[index_];
    const auto& a = document_->attributes_[e.firstAttribute + static_cast<std::uint32_t>(index)];
    return document_->View(a.name, a.nameLength);
}

std::wstring_view CXmlNode::AttributeValue(int index) const {
    if (index < 0 || index >= AttributeCount()) {
        return {};
    }
    const auto& e = document_->elements_[index_];
    const auto& a = document_->attributes_[e.firstAttribute + static_cast<std::uint32_t>(index)];
    return document_->View(a.value, a.valueLength);
}

// ---- CXmlDocument ----

void CXmlDocument::Clear() {
    std::wstring().swap(text_);
    std::vector<Element>().swap(elements_);
    std::vector<Attribute>().swap(attributes_);
}

CXmlNode CXmlDocument::Root() const {
    if (elements_.size() < 2) {
        return {};
    }
    return CXmlNode(this, 1);
}

void CXmlDocument::SetError(const wchar_t* message) {
    errorMessage_.assign(std::wstring_view(message).substr(0, kMaxErrorMessage));
    errorContext_.clear();
}

bool CXmlDocument::Fail(const wchar_t* message, std::size_t p) {
    errorMessage_.assign(std::wstring_view(message).substr(0, kMaxErrorMessage));
    if (p < text_.size()) {
        errorContext_.assign(std::wstring_view(text_).substr(p, kMaxErrorContext));
    } else {
        errorContext_.clear();
    }
    return false;
}

bool CXmlDocument::LoadFromFile(const std::wstring& path) {
    Clear();
    errorMessage_.clear();
    errorContext_.clear();
    path_ = path;

    const std::filesystem::path native(platform::ToUtf8(path));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(native, ec)) {
        SetError(L"Error opening file");
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(native.c_str(), "rb"));
    if (!file) {
        SetError(L"Error opening file");
        return false;
    }
    const auto size = std::filesystem::file_size(native, ec);
    if (ec) {
        SetError(L"Could not read file");
        return false;
    }
    if (size == 0) {
        SetError(L"File is empty");
        return false;
    }
    if (size > kMaxFileBytes) {
        SetError(L"File too large");
        return false;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        SetError(L"Could not read file");
        return false;
    }
    file.reset();
    return LoadFromUtf8(bytes.data(), bytes.size());
}

bool CXmlDocument::LoadFromUtf8(const char* bytes, std::size_t byteCount) {
    Clear();
    errorMessage_.clear();
    errorContext_.clear();
    std::string_view utf8(bytes ? bytes : "", bytes ? byteCount : 0);
    if (utf8.size() >= 3 && utf8.substr(0, 3) == "\xEF\xBB\xBF") {
        utf8.remove_prefix(3);
    }
    text_ = platform::FromUtf8(utf8);
    if (text_.size() >= UINT32_MAX) {
        Clear();
        SetError(L"File too large");
        return false;
    }
    if (!Parse()) {
        Clear();
        return false;
    }
    return true;
}

bool CXmlDocument::Parse() {
    GrowIfFull(elements_);
    elements_.emplace_back();  // entry 0 never describes an element
    std::size_t p = 0;
    return ParseLevel(p, 0, 1);
}

void CXmlDocument::SkipWhitespace(std::size_t& p) const {
    while (p < text_.size() && IsWhitespace(text_[p])) {
        ++p;
    }
}

std::size_t CXmlDocument::SkipName(std::size_t p) const {
    while (p < text_.size() && IsNameChar(text_[p])) {
        ++p;
    }
    return p;
}

std::size_t CXmlDocument::ReadCharData(std::size_t& p, wchar_t stop) {
    const std::size_t start = p;
    std::size_t out = p;
    const std::size_t end = text_.size();
    while (p < end && text_[p] != stop) {
        if (text_[p] == L'&') {
            const std::wstring_view rest = std::wstring_view(text_).substr(p);
            bool decoded = false;
            for (const auto& entity : kEntities) {
                if (rest.starts_with(entity.name)) {
                    text_[out++] = entity.character;
                    p += entity.name.size();
                    decoded = true;
                    break;
                }
            }
            if (decoded) {
                continue;
            }
        }
        text_[out++] = text_[p++];
    }
    return out - start;
}

std::uint32_t CXmlDocument::NewElement(std::size_t nameOffset, std::uint32_t parent) {
    GrowIfFull(elements_);
    Element e;
    e.name = static_cast<std::uint32_t>(nameOffset);
    e.parent = parent;
    e.firstAttribute = static_cast<std::uint32_t>(attributes_.size());
    elements_.push_back(e);
    return static_cast<std::uint32_t>(elements_.size() - 1);
}

bool CXmlDocument::ParseAttributes(std::size_t& p, std::uint32_t element) {
    if (p >= text_.size() || text_[p] == L'>' || text_[p] == L'/') {
        return true;
    }
    ++p;  // the character after the name, normally whitespace
    SkipWhitespace(p);
    while (p < text_.size() && text_[p] != L'>' && text_[p] != L'/') {
        const std::size_t name = p;
        p = SkipName(p);
        const std::size_t nameLength = p - name;
        SkipWhitespace(p);
        if (!At(p, L'=')) {
            return Fail(L"Error while parsing attributes", p);
        }
        ++p;
        SkipWhitespace(p);
        if (!At(p, L'"')) {
            return Fail(L"Expected attribute value", p);
        }
        ++p;
        const std::size_t value = p;
        const std::size_t valueLength = ReadCharData(p, L'"');
        if (p >= text_.size()) {
            return Fail(L"Error while parsing attribute string", value);
        }
        ++p;  // closing quote
        Element& e = elements_[element];
        if (e.attributeCount < static_cast<std::uint32_t>(kMaxAttributes)) {
            GrowIfFull(attributes_);
            attributes_.push_back(
                {static_cast<std::uint32_t>(name), static_cast<std::uint32_t>(nameLength),
                 static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(valueLength)});
            ++e.attributeCount;
        }
        SkipWhitespace(p);
    }
    return true;
}

// One level of sibling elements under parent. The end of the text is a
// position, never a character: the buffer may hold NULs of its own.
bool CXmlDocument::ParseLevel(std::size_t& p, std::uint32_t parent, int depth) {
    if (depth > kMaxDepth) {
        return Fail(L"Elements nested too deeply", p);
    }
    const std::size_t end = text_.size();
    std::uint32_t previous = 0;
    for (;;) {
        SkipWhitespace(p);
        if (p >= end && parent <= 1) {
            return true;
        }
        if (!At(p, L'<')) {
            return Fail(L"Expected start tag", p);
        }
        if (At(p + 1, L'/')) {
            return true;  // the caller reads the closing tag
        }
        ++p;
        SkipWhitespace(p);
        if (At(p, L'!')) {
            const std::size_t close = std::wstring_view(text_).find(L"->", p + 1);
            if (close == std::wstring_view::npos) {
                return Fail(L"Unterminated comment", p);
            }
            p = close + 2;
            continue;
        }
        if (At(p, L'?')) {
            const std::size_t close = std::wstring_view(text_).find(L"?>", p + 1);
            p = close == std::wstring_view::npos ? end : close + 2;
            continue;
        }

        const std::uint32_t e = NewElement(p, parent);
        if (previous != 0) {
            elements_[previous].nextSibling = e;
        } else if (parent != 0) {
            elements_[parent].firstChild = e;
        }
        p = SkipName(p);
        elements_[e].nameLength = static_cast<std::uint32_t>(p - elements_[e].name);
        // An element without a name could not be written back as the same
        // element, so it is refused along with a name cut off by the end.
        if (p >= end || elements_[e].nameLength == 0) {
            return Fail(L"Error parsing element name", p);
        }
        if (!ParseAttributes(p, e)) {
            return false;
        }
        SkipWhitespace(p);
        if (At(p, L'/') && At(p + 1, L'>')) {
            elements_[e].text = static_cast<std::uint32_t>(p);
            elements_[e].textLength = 0;
            p += 2;
        } else {
            if (!At(p, L'>')) {
                return Fail(L"Expected start-tag closing", p);
            }
            ++p;
            elements_[e].text = static_cast<std::uint32_t>(p);
            elements_[e].textLength = static_cast<std::uint32_t>(ReadCharData(p, L'<'));
            if (p >= end && parent <= 1) {
                return true;
            }
            if (!At(p, L'<')) {
                return Fail(L"Expected end-tag start", p);
            }
            if (!At(p + 1, L'/')) {
                if (!ParseLevel(p, e, depth + 1)) {
                    return false;
                }
            }
            if (At(p, L'<') && At(p + 1, L'/')) {
                p += 2;
                SkipWhitespace(p);
                const std::wstring_view name = View(elements_[e].name, elements_[e].nameLength);
                if (std::wstring_view(text_).substr(p, name.size()) != name) {
                    return Fail(L"Unmatched closing tag", p);
                }
                p += name.size();
                SkipWhitespace(p);
                if (!At(p, L'>')) {
                    return Fail(L"Unmatched closing tag", p);
                }
                ++p;
            }
        }
        previous = e;
    }
}
