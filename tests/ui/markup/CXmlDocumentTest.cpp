#include "ui/markup/CXmlDocument.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/text/Utf.h"
#include "ui/markup/MarkupTestSupport.h"

namespace {

struct ReaderCase {
    const char* what;
    std::string input;
    // The dump of the parsed document, or the error message when failing.
    bool ok;
    std::string expected;
};

std::string Attributes(int count) {
    std::string s;
    for (int i = 0; i < count; ++i) {
        s += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    }
    return s;
}

std::string FirstAttributesDump(int count) {
    std::string s;
    for (int i = 0; i < count; ++i) {
        s += (i ? "," : "") + ("a" + std::to_string(i)) + "=" + std::to_string(i);
    }
    return s;
}

std::string Nested(int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i) {
        s += "<e>";
    }
    for (int i = 0; i < depth; ++i) {
        s += "</e>";
    }
    return s;
}

using namespace std::string_literals;

const ReaderCase kCases[] = {
    {"self-closing", "<a/>", true, "a"},
    {"self-closing after a space", "<a />", true, "a"},
    {"open and close", "<a></a>", true, "a"},
    {"byte-order mark is skipped", "\xEF\xBB\xBF<a x=\"1\"/>", true, "a(x=1)"},
    {"prefixes are part of names", "<r><sys:String x:Key=\"k.1_\">v</sys:String></r>", true,
     "r[sys:String(x:Key=k.1_)'v']"},
    {"whitespace in texts and values kept", "<a v=\" 1\t\">  x\n </a>", true, "a(v= 1\t)'  x\n '"},
    {"five entities, several in a row", "<a v=\"&lt;&gt;&amp;&quot;&apos;\">&amp;&amp;x&lt;</a>",
     true, "a(v=<>&\"')'&&x<'"},
    {"numeric reference and upper-case entity copied", "<a v=\"&#65;&AMP;\">&#65;&Amp;</a>", true,
     "a(v=&#65;&AMP;)'&#65;&Amp;'"},
    {"unknown and cut entities copied", "<a v=\"&x;&\">&am</a>", true, "a(v=&x;&)'&am'"},
    {"decoded quote does not end a value", "<a v=\"x&quot;y\" w=\"z\"/>", true, "a(v=x\"y,w=z)"},
    {"entity leftovers are no attributes", "<a v=\"&amp;&amp;&amp;\" w=\"2\">t</a>", true,
     "a(v=&&&,w=2)'t'"},
    {"closing bracket is no attribute", "<a v=\"1\">t</a>", true, "a(v=1)'t'"},
    {"greater-than allowed in text", "<a>1 > 0</a>", true, "a'1 > 0'"},
    {"whitespace inside tags", "< a x = \"1\" ></ a >", true, "a(x=1)"},
    {"comments and declaration skipped",
     "<?xml version=\"1.0\"?><!-- c --><r><!-- in --><x/><!--y--></r>", true, "r[x]"},
    {"text is only what precedes the first child", "<r>t<!--c--><x/></r>", true, "r't'[x]"},
    {"processing instruction runs to the end", "<r/><?pi", true, "r"},
    {"unclosed root whose last child is empty", "<r><c/><d x=\"1\"/>", true, "r[c,d(x=1)]"},
    {"unclosed root keeps its exact name", "<root>text", true, "root'text'"},
    {"unclosed childless child of the root", "<r><c>text", true, "r[c'text']"},
    {"stray closing tag at the top ends parsing", "<a/></b>junk", true, "a"},
    {"further top-level elements are parsed", "<a/><b>t", true, "a | b't'"},
    {"literal NUL inside text is text", "<a>x\0y</a>"s, true, "a'x\0y'"s},
    {"literal NUL after a name is whitespace", "<a\0b=\"1\"\0/>"s, true, "a(b=1)"},
    {"70 attributes report the first 64", "<a" + Attributes(70) + "/>", true,
     "a(" + FirstAttributesDump(64) + ")"},
    {"nesting at the limit", Nested(CXmlDocument::kMaxDepth), true, ""},
    {"empty text", "", true, ""},

    {"text at the top", "hello", false, "Expected start tag"},
    {"text after a child", "<a><b/>text</a>", false, "Expected start tag"},
    {"text after a comment inside an element", "<a><!--c-->text</a>", false, "Expected start tag"},
    {"comment cut at its first ->", "<r><!-- a -> b --></r>", false, "Expected start tag"},
    {"unclosed child of the root holding a child", "<r><c><g/>", false, "Expected start tag"},
    {"unterminated comment", "<r><!-- never", false, "Unterminated comment"},
    {"end inside an element name", "<a", false, "Error parsing element name"},
    {"lone less-than", "<", false, "Error parsing element name"},
    {"element without a name", "<>t</>", false, "Error parsing element name"},
    {"end after the name", "<a ", false, "Expected start-tag closing"},
    {"slash not followed by >", "<a/ >", false, "Expected start-tag closing"},
    {"deeper element without an end tag", "<r><c><g>text", false, "Expected end-tag start"},
    {"closing tag names another element", "<a></b>", false, "Unmatched closing tag"},
    {"closing tag merely begins with the name", "<ab></abc>", false, "Unmatched closing tag"},
    {"closing tag shorter than the name", "<abc></ab>", false, "Unmatched closing tag"},
    {"closing tag of a grandchild mismatched", "<r><c><g>t</c></r>", false,
     "Unmatched closing tag"},
    {"single-quoted value", "<a v='1'/>", false, "Expected attribute value"},
    {"value without closing quote", "<a v=\"1/>", false, "Error while parsing attribute string"},
    {"attribute without =", "<a v/>", false, "Error while parsing attributes"},
    {"hyphen ends a name", "<a-b/>", false, "Error while parsing attributes"},
    {"nesting beyond the limit", Nested(CXmlDocument::kMaxDepth + 1), false,
     "Elements nested too deeply"},
};

class ReaderTable : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderTable, ParsesOrFailsWithTheMessage) {
    const ReaderCase& c = GetParam();
    CXmlDocument document;
    const bool ok = document.LoadFromUtf8(c.input.data(), c.input.size());
    ASSERT_EQ(ok, c.ok) << c.what << ": " << platform::ToUtf8(document.GetLastErrorMessage());
    if (!c.ok) {
        EXPECT_EQ(platform::ToUtf8(document.GetLastErrorMessage()), c.expected) << c.what;
        EXPECT_TRUE(document.Root().IsNull()) << "a failed parse leaves the document empty";
        return;
    }
    if (c.expected.empty() && !c.input.empty()) {
        EXPECT_EQ(document.ElementCount(), static_cast<std::size_t>(CXmlDocument::kMaxDepth));
        return;
    }
    EXPECT_EQ(DumpDocument(document), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderTable, ::testing::ValuesIn(kCases));

TEST(CXmlDocument, NodesWalkTheElementTable) {
    const std::string text = "<r a=\"1\"><x/><y><z/></y></r>";
    CXmlDocument document;
    ASSERT_TRUE(document.LoadFromUtf8(text.data(), text.size()));
    const CXmlNode root = document.Root();
    EXPECT_EQ(root.Index(), 1u) << "entry 0 is reserved; the root is element 1";
    EXPECT_EQ(document.ElementCount(), 4u);
    EXPECT_TRUE(root.HasChildren());
    EXPECT_EQ(root.FirstChild().Name(), L"x");
    EXPECT_FALSE(root.FirstChild().HasChildren());
    EXPECT_EQ(root.FirstChild().NextSibling().FirstChild().Name(), L"z");
    EXPECT_TRUE(root.FirstChild().NextSibling().NextSibling().IsNull());
    EXPECT_EQ(root.AttributeName(1), L"") << "index past the count";
    EXPECT_EQ(root.AttributeValue(-1), L"");
    const CXmlNode null;
    EXPECT_EQ(null.Name(), L"");
    EXPECT_EQ(null.AttributeCount(), 0);
    EXPECT_TRUE(null.FirstChild().IsNull());
}

TEST(CXmlDocument, TableGrowsByHalfPlus500) {
    std::string text = "<r>";
    for (int i = 0; i < 498; ++i) {
        text += "<c/>";
    }
    CXmlDocument document;
    ASSERT_TRUE(document.LoadFromUtf8(text.data(), text.size()));
    EXPECT_EQ(document.ElementCapacity(), 500u)
        << "the reserved entry, the root and 498 children fill 500";
    text += "<c/>";
    ASSERT_TRUE(document.LoadFromUtf8(text.data(), text.size()));
    EXPECT_EQ(document.ElementCapacity(), 1250u);
}

TEST(CXmlDocument, ErrorTextsShowWhereParsingStoppedAndAreClearedOnTheNextParse) {
    const std::string bad = "<r><a v='" + std::string(80, 'q') + "'/></r>";
    CXmlDocument document;
    ASSERT_FALSE(document.LoadFromUtf8(bad.data(), bad.size()));
    EXPECT_EQ(document.GetLastErrorContext(), L"'" + std::wstring(48, L'q'));
    const std::string good = "<r/>";
    ASSERT_TRUE(document.LoadFromUtf8(good.data(), good.size()));
    EXPECT_EQ(document.GetLastErrorMessage(), L"");
    EXPECT_EQ(document.GetLastErrorContext(), L"");
}

TEST(CXmlDocument, InvalidUtf8DoesNotStopTheLoad) {
    const std::string text = "<a v=\"\xFF\">\xC3(</a>";
    CXmlDocument document;
    ASSERT_TRUE(document.LoadFromUtf8(text.data(), text.size()));
    EXPECT_EQ(document.Root().AttributeValue(0), L"\uFFFD");
    EXPECT_EQ(document.Root().Text(), L"\uFFFD(");
}

class FileLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::path(VOKARI_BINARY_DIR) / "tmp" /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::wstring Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return platform::FromUtf8((dir_ / name).string());
    }
    std::filesystem::path dir_;
};

TEST_F(FileLoad, SizeLimitIsExactlyFourMebibytes) {
    const std::size_t limit = CXmlDocument::kMaxFileBytes;
    ASSERT_EQ(limit, 4194304u);
    const std::string open = "<r>";
    const std::string close = "</r>";
    const std::string atLimit = open + std::string(limit - open.size() - close.size(), 'x') + close;
    CXmlDocument document;
    ASSERT_TRUE(document.LoadFromFile(Write("limit.cml", atLimit)));
    EXPECT_EQ(document.Root().Text().size(), limit - 7);
    EXPECT_FALSE(document.LoadFromFile(Write("over.cml", atLimit + " ")));
    EXPECT_EQ(document.GetLastErrorMessage(), L"File too large");
    EXPECT_TRUE(document.Root().IsNull());
}

TEST_F(FileLoad, LoadFailuresAreReported) {
    CXmlDocument document;
    EXPECT_FALSE(document.LoadFromFile(Write("empty.cml", "")));
    EXPECT_EQ(document.GetLastErrorMessage(), L"File is empty");
    EXPECT_FALSE(document.LoadFromFile(platform::FromUtf8((dir_ / "missing.cml").string())));
    EXPECT_EQ(document.GetLastErrorMessage(), L"Error opening file");
    EXPECT_FALSE(document.LoadFromFile(platform::FromUtf8(dir_.string())));
    EXPECT_EQ(document.GetLastErrorMessage(), L"Error opening file") << "a folder is no file";
    EXPECT_FALSE(document.LoadFromFile(Write("bad.cml", "<a></b>")));
    EXPECT_EQ(document.GetLastErrorMessage(), L"Unmatched closing tag");
}

TEST_F(FileLoad, FileWithByteOrderMarkParsesLikeOneWithout) {
    const std::string body = "<r><sys:String x:Key=\"k\">\xE4\xBD\xA0\xE5\xA5\xBD</sys:String></r>";
    CXmlDocument with;
    CXmlDocument without;
    ASSERT_TRUE(with.LoadFromFile(Write("bom.xaml", "\xEF\xBB\xBF" + body)));
    ASSERT_TRUE(without.LoadFromFile(Write("plain.xaml", body)));
    EXPECT_EQ(DumpDocument(with), DumpDocument(without));
    EXPECT_EQ(with.Root().FirstChild().Text(), L"\u4F60\u597D");
}

}  // namespace
