#include "ui/markup/CProfileParser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/text/Utf.h"
#include "ui/markup/CXmlObject.h"
#include "ui/markup/MarkupTestSupport.h"

namespace {

class ProfileParser : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::path(VOKARI_BINARY_DIR) / "tmp" /
               ("ProfileParser_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::wstring PathOf(const std::string& name) const {
        return platform::FromUtf8((dir_ / name).string());
    }
    std::wstring Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return PathOf(name);
    }
    std::string Read(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::filesystem::path dir_;
};

// Records the calls the parser makes, in order.
class CallRecorder : public IProfileParserListener {
  public:
    class Object : public CXmlObject {
      public:
        explicit Object(CallRecorder& owner) : owner_(owner) {}
        int EndElement() override {
            owner_.calls.push_back("end " + platform::ToUtf8(GetName()));
            return 0;
        }
        int SetText(std::wstring_view text) override {
            owner_.calls.push_back("text " + platform::ToUtf8(GetName()));
            return CXmlObject::SetText(text);
        }
        using CXmlObject::SetText;

      private:
        CallRecorder& owner_;
    };
    ~CallRecorder() override {
        if (root) {
            root->Release();
        }
    }
    IXmlObject* CreateObject(const std::wstring& name) override {
        calls.push_back("create " + platform::ToUtf8(name));
        return new Object(*this);
    }
    void OnParsed(IXmlObject* parsed) override { root = parsed; }
    void OnError(const std::wstring&) override {}
    std::vector<std::string> calls;
    IXmlObject* root = nullptr;
};

TEST_F(ProfileParser, BuildsTheTreeDepthFirstWithEndElementBelowTheRoot) {
    CallRecorder listener;
    CProfileParser parser(&listener);
    ASSERT_TRUE(parser.Parse(Write("t.xaml", "<r>\n\t<a>\r\n</a><b> <c/></b></r>")));
    const std::vector<std::string> expected = {
        "create r", "create a", "end a", "create b", "text b", "create c", "end c", "end b",
    };
    EXPECT_EQ(listener.calls, expected)
        << "blank texts (tab, LF, CR) reach no SetText, a space does; the root gets no EndElement";
    ASSERT_NE(listener.root, nullptr);
    EXPECT_EQ(listener.root->GetChild(1)->GetText(), L" ");
    EXPECT_EQ(listener.root->GetChild(1)->GetChild(0)->GetParent(), listener.root->GetChild(1));
    EXPECT_EQ(listener.root->GetChild(1)->GetChild(0)->GetDepth(), 2);
}

TEST_F(ProfileParser, AttributesArriveInDocumentOrderAndRepeatedNamesReplace) {
    TreeCollector listener;
    CProfileParser parser(&listener);
    ASSERT_TRUE(parser.Parse(Write("t.cml", "<r b=\"1\" a=\"2\" b=\"3\" B=\"4\">t</r>")));
    EXPECT_EQ(DumpTree(*listener.root), "r(b=3,a=2,B=4)'t'");
}

TEST_F(ProfileParser, ErrorsReachTheListener) {
    struct Case {
        const char* file;
        const char* content;  // null: the file does not exist
        std::wstring message;
    };
    const Case cases[] = {
        {"broken.xaml", "<r><a></r>",
         L"Fail to load profile file( " + PathOf("broken.xaml") + L" )"},
        {"missing.xaml", nullptr, L"Fail to load profile file( " + PathOf("missing.xaml") + L" )"},
        {"comment.xaml", "<!-- nothing but a comment -->", L"Profile file root node is invalid"},
    };
    for (const Case& c : cases) {
        TreeCollector listener;
        CProfileParser parser(&listener);
        const std::wstring path = c.content ? Write(c.file, c.content) : PathOf(c.file);
        EXPECT_FALSE(parser.Parse(path)) << c.file;
        ASSERT_EQ(listener.errors.size(), 1u) << c.file;
        EXPECT_EQ(listener.errors[0], c.message) << c.file;
        EXPECT_EQ(listener.root, nullptr);
    }
}

TEST_F(ProfileParser, ListenerGivingNoObjectFailsWithoutLeaking) {
    class Refuser : public TreeCollector {
      public:
        IXmlObject* CreateObject(const std::wstring& name) override {
            return name == L"bad" ? nullptr : TreeCollector::CreateObject(name);
        }
    };
    Refuser listener;
    CProfileParser parser(&listener);
    EXPECT_FALSE(parser.Parse(Write("t.cml", "<r><a><b/></a><bad/></r>")));
    EXPECT_EQ(listener.root, nullptr);
    ASSERT_EQ(listener.errors.size(), 1u);
}

TEST_F(ProfileParser, SaveWritesTheDialectLineByLine) {
    struct Case {
        const char* what;
        std::string input;
        std::string written;
    };
    const Case cases[] = {
        {"escaped value and an empty child", "<r v=\"&lt;\"><c/></r>",
         "<r v=\"&lt;\">\n  <c />\n</r>\n"},
        {"root alone", "<r/>", "<r >\n</r>\n"},
        {"texts escaped, container text dropped",
         "<r>\n  <a x=\"&amp;&quot;\">1 &lt; 2 &apos;&gt;</a>\n  <b><c>t</c></b>\n</r>",
         "<r>\n  <a x=\"&amp;&quot;\">1 &lt; 2 &apos;&gt;</a>\n  <b>\n    <c>t</c>\n  "
         "</b>\n</r>\n"},
        {"wide text as UTF-8 without a mark", "<r>\xE4\xBD\xA0</r>", "<r>\xE4\xBD\xA0</r>\n"},
    };
    for (const Case& c : cases) {
        TreeCollector listener;
        CProfileParser parser(&listener);
        ASSERT_TRUE(parser.ParseUtf8(c.input, L"case")) << c.what;
        ASSERT_TRUE(parser.Save(PathOf("out.cml"), listener.root)) << c.what;
        EXPECT_EQ(Read("out.cml"), c.written) << c.what;
    }
}

TEST_F(ProfileParser, SaveIndentsBySubtreeDepth) {
    TreeCollector listener;
    CProfileParser parser(&listener);
    ASSERT_TRUE(parser.ParseUtf8("<r><a><b/></a></r>", L"case"));
    EXPECT_EQ(CProfileParser::Write(*listener.root->GetChild(0)), "  <a>\n    <b />\n  </a>\n");
}

TEST_F(ProfileParser, SaveReportsFailureAndKeepsTheOldFile) {
    TreeCollector listener;
    CProfileParser parser(&listener);
    ASSERT_TRUE(parser.ParseUtf8("<r/>", L"case"));
    EXPECT_FALSE(parser.Save(PathOf("no/such/folder/out.cml"), listener.root));
    EXPECT_FALSE(parser.Save(PathOf("out.cml"), nullptr));

    std::filesystem::create_directories(dir_ / "taken" / "inner");
    EXPECT_FALSE(parser.Save(PathOf("taken"), listener.root)) << "a folder stands in the way";
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "taken" / "inner"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "taken.saving")) << "temporary file removed";

    Write("kept.cml", "old");
    ASSERT_TRUE(parser.Save(PathOf("kept.cml"), listener.root));
    EXPECT_EQ(Read("kept.cml"), "<r >\n</r>\n");
}

// Read, write, read: the second tree equals the first (the text of elements
// with children is indentation, which writing regenerates).
TEST_F(ProfileParser, RoundTripsGiveTheSameTree) {
    const std::string cases[] = {
        "<r/>",
        "<r>only text</r>",
        "<r a=\"&lt;&amp;&gt;&quot;&apos;\" b=\" \t\n\"><c/><d>x &amp; y</d></r>",
        "\xEF\xBB\xBF<ResourceDictionary>\n  <sys:String x:Key=\"ml_A\">  spaced  </sys:String>\n"
        "  <sys:String x:Key=\"ml_B\">\xE4\xB8\xAD\xE6\x96\x87</sys:String>\n</ResourceDictionary>",
        "<r><a><b><c v=\"1\">&amp;#65;</c></b></a><e>\t</e><f>\r\n x</f></r>",
        "<r><a>text<b/></a><!-- c --></r>",
        "<r><d>&gt;</d><x y=\"&amp;amp;\">&amp;lt;</x></r>",
    };
    for (const std::string& input : cases) {
        TreeCollector first;
        CProfileParser parser(&first);
        ASSERT_TRUE(parser.ParseUtf8(input, L"first")) << input;
        const std::string written = CProfileParser::Write(*first.root);
        TreeCollector second;
        CProfileParser reparser(&second);
        ASSERT_TRUE(reparser.ParseUtf8(written, L"second")) << written;
        EXPECT_EQ(DumpTree(*second.root, true), DumpTree(*first.root, true)) << written;
        EXPECT_EQ(CProfileParser::Write(*second.root), written) << "writing again is stable";
    }
}

TEST(CXmlObject, BehavesAsTheInterfaceSays) {
    CXmlObject* root = new CProfileObject();
    EXPECT_EQ(root->Init(L"r", nullptr), 0);
    CXmlObject* child = new CXmlObject();
    child->Init(L"c", root);
    EXPECT_EQ(root->AddChild(child), 1);
    EXPECT_EQ(root->GetDepth(), 0);
    EXPECT_EQ(child->GetDepth(), 1);
    EXPECT_EQ(root->GetChild(0), child);
    EXPECT_EQ(root->GetChild(1), nullptr);
    EXPECT_EQ(root->GetChild(-1), nullptr);

    EXPECT_EQ(root->SetText(static_cast<const wchar_t*>(nullptr)), 0);
    EXPECT_EQ(root->SetText(L"t"), 1);
    EXPECT_EQ(root->SetText(static_cast<const wchar_t*>(nullptr)), 0);
    EXPECT_EQ(root->GetText(), L"t") << "a null text changes nothing";

    EXPECT_EQ(root->SetAttribute(L"Name", L"1"), 1);
    root->SetAttribute(L"name", L"2");
    root->SetAttribute(L"Name", L"3");
    EXPECT_EQ(root->GetAttributeCount(), 2);
    std::wstring name;
    std::wstring value;
    EXPECT_EQ(root->GetAttribute(0, name, value), 1);
    EXPECT_EQ(name + L"=" + value, L"Name=3");
    EXPECT_EQ(root->GetAttribute(2, name, value), 0);
    EXPECT_TRUE(root->GetAttributeValue(L"name", value));
    EXPECT_EQ(value, L"2");
    EXPECT_FALSE(root->GetAttributeValue(L"NAME", value));
    EXPECT_EQ(root->EndElement(), 0);
    EXPECT_EQ(root->Release(), 1) << "frees the child as well (checked by the leak sanitizer)";
}

}  // namespace
