#include "xml/xml.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace qm::xml {
namespace {

const Node& only_child(const Node& n) {
  EXPECT_EQ(n.children().size(), 1u);
  return *n.children().at(0);
}

TEST(XmlParse, KeepsOnlyElementsInDocumentOrder) {
  auto doc = parse(
      "<?xml version=\"1.0\"?>\n"
      "<!-- head --><root>text<a/><?pi x?><!-- c --><b><c/></b>tail<a/><![CDATA[<d/>]]></root>\n");
  ASSERT_TRUE(doc.ok()) << doc.reason();
  const Node& root = doc->root();
  EXPECT_EQ(root.tag(), "root");
  std::vector<std::string_view> tags;
  for (const Node* c : root.children()) tags.push_back(c->tag());
  EXPECT_EQ(tags, (std::vector<std::string_view>{"a", "b", "a"}));
  EXPECT_EQ(only_child(*root.children()[1]).tag(), "c");
  EXPECT_TRUE(root.children()[0]->children().empty());
}

TEST(XmlParse, TagNamesAreLocalNames) {
  const struct {
    const char* text;
    const char* root_tag;
    const char* child_tag;
  } cases[] = {
      {"<p:root xmlns:p='urn:x'><p:enums/></p:root>", "root", "enums"},
      {"<root xmlns='urn:default'><types/></root>", "root", "types"},
      {"<root xmlns:a='urn:a'><a:messages xmlns:b='urn:b'/></root>", "root", "messages"},
      {"<Root><Enums/></Root>", "Root", "Enums"},
  };
  for (const auto& c : cases) {
    auto doc = parse(c.text);
    ASSERT_TRUE(doc.ok()) << c.text << ": " << doc.reason();
    EXPECT_EQ(doc->root().tag(), c.root_tag) << c.text;
    EXPECT_EQ(only_child(doc->root()).tag(), c.child_tag) << c.text;
  }
}

TEST(XmlParse, AttributesByPlainName) {
  auto doc = parse(
      "<r xmlns:x='urn:x' xmlns='urn:d'>"
      "<e name='plain' x:name='prefixed' x:only='p' empty='' ent='a&lt;b&amp;&#x41;&quot;' Type='T'/>"
      "</r>");
  ASSERT_TRUE(doc.ok()) << doc.reason();
  const Node& e = only_child(doc->root());
  const struct {
    const char* name;
    std::optional<std::string_view> value;
  } cases[] = {
      {"name", "plain"}, {"only", std::nullopt},  {"x:only", std::nullopt},
      {"empty", ""},     {"ent", "a<b&A\""},      {"type", std::nullopt},
      {"Type", "T"},     {"xmlns", std::nullopt}, {"missing", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(e.attr(c.name), c.value) << c.name;
    EXPECT_EQ(e.has_attr(c.name), c.value.has_value()) << c.name;
  }
}

TEST(XmlParse, PrefixedAttributeAloneIsNotPlain) {
  auto doc = parse("<r xmlns:x='urn:x'><e x:name='prefixed'/></r>");
  ASSERT_TRUE(doc.ok()) << doc.reason();
  EXPECT_FALSE(only_child(doc->root()).has_attr("name"));
}

TEST(XmlParse, OffsetsPointAtTheOpeningBracket) {
  const struct {
    std::string text;
    std::vector<std::size_t> offsets;  // root, then its children
  } cases[] = {
      {"<r><a/>\n  <b x='1'>\n</b></r>", {0, 3, 10}},
      {"<?xml version='1.0'?>\n<r>\r\n<a/></r>", {22, 27}},
      {"\xEF\xBB\xBF<r><a/></r>", {3, 6}},
      {"<r>\xC3\xA9\xE2\x80\x94<a/></r>", {0, 8}},
      {"<!-- \xF0\x9F\x98\x80 --><r/>", {13}},
  };
  for (const auto& c : cases) {
    auto doc = parse(c.text);
    ASSERT_TRUE(doc.ok()) << c.text << ": " << doc.reason();
    std::vector<std::size_t> got{doc->root().offset()};
    for (const Node* n : doc->root().children()) got.push_back(n->offset());
    EXPECT_EQ(got, c.offsets) << c.text;
    for (std::size_t off : got) EXPECT_EQ(c.text.at(off), '<') << c.text;
  }
}

TEST(XmlParse, DeclaredEncodingIsOverriddenByUtf8) {
  auto doc = parse("<?xml version='1.0' encoding='ISO-8859-1'?><r n='\xC3\xA9'/>");
  ASSERT_TRUE(doc.ok()) << doc.reason();
  EXPECT_EQ(doc->root().attr("n"), "\xC3\xA9");
}

TEST(XmlParse, FailuresCarryParserMessageAndPosition) {
  const struct {
    std::string text;
    std::string reason;
  } cases[] = {
      {"<!DOCTYPE r><r/>", "document type declaration is not allowed at line 1, column 1"},
      {"<?xml version='1.0'?>\n  <!DOCTYPE r [<!ENTITY e 'x'>]><r>&e;</r>",
       "document type declaration is not allowed at line 2, column 3"},
      {"<r><a></r>", "mismatched tag at line 1, column 9"},
      {"<r>\xC3\xA9<a></r>", "mismatched tag at line 1, column 10"},
      {"\xEF\xBB\xBF<!DOCTYPE r><r/>", "document type declaration is not allowed at line 1, column 1"},
      {"<!--\xE2\x80\x94\n--> <!DOCTYPE r><r/>", "document type declaration is not allowed at line 2, column 5"},
      {"", "no element found at line 1, column 1"},
      {"<r/>\n<r/>", "junk after document element at line 2, column 1"},
      {"<p:r/>", "unbound prefix at line 1, column 1"},
      {"<r x:a='1'/>", "unbound prefix at line 1, column 1"},
      {"<r a='1' a='2'/>", "duplicate attribute at line 1, column 10"},
      {"<r>&undefined;</r>", "undefined entity at line 1, column 4"},
      {std::string("<r>\0</r>", 8), "not well-formed (invalid token) at line 1, column 4"},
  };
  for (const auto& c : cases) {
    auto doc = parse(c.text);
    ASSERT_FALSE(doc.ok()) << c.text;
    EXPECT_EQ(doc.reason(), c.reason) << c.text;
  }
}

TEST(XmlParse, DeepNestingBuildsAndFreesWithoutRecursion) {
  constexpr std::size_t kDepth = 200000;
  std::string text;
  text.reserve(kDepth * 8);
  for (std::size_t i = 0; i < kDepth; ++i) text += "<e>";
  for (std::size_t i = 0; i < kDepth; ++i) text += "</e>";
  {
    auto doc = parse(text);
    ASSERT_TRUE(doc.ok()) << doc.reason();
    const Node* n = &doc->root();
    std::size_t depth = 1;
    while (!n->children().empty()) {
      n = n->children().front();
      ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(n->offset(), (kDepth - 1) * 3);
    Document moved = std::move(doc.value());
    EXPECT_EQ(moved.root().children().size(), 1u);
  }
}

TEST(XmlParse, KeepsEveryAttributeAndChildAcrossStorageSizes) {
  // Values from empty to far larger than any storage block, many elements
  // each, so that lists and texts land at every position of their storage.
  const std::size_t sizes[] = {0, 1, 7, 8, 9, 4095, 16384, 16385, 65535, 65536, 65537, 300000};
  for (const std::size_t size : sizes) {
    std::string text = "<root>";
    const int kElements = 40;
    for (int i = 0; i < kElements; ++i) {
      const std::string value(size + static_cast<std::size_t>(i % 3), static_cast<char>('a' + i % 26));
      text += "<e n='" + std::to_string(i) + "' v='" + value + "'><c/><c k='" + std::to_string(i) + "'/></e>";
    }
    text += "</root>";
    auto doc = parse(text);
    ASSERT_TRUE(doc.ok()) << size << ": " << doc.reason();
    const Node& root = doc->root();
    ASSERT_EQ(root.children().size(), static_cast<std::size_t>(kElements)) << size;
    for (int i = 0; i < kElements; ++i) {
      const Node& e = *root.children()[static_cast<std::size_t>(i)];
      const std::string value(size + static_cast<std::size_t>(i % 3), static_cast<char>('a' + i % 26));
      EXPECT_EQ(e.attr("n"), std::to_string(i)) << size;
      EXPECT_EQ(e.attr("v"), value) << size << " element " << i;
      ASSERT_EQ(e.children().size(), 2u) << size;
      EXPECT_FALSE(e.children()[0]->has_attr("k"));
      EXPECT_EQ(e.children()[1]->attr("k"), std::to_string(i)) << size;
      EXPECT_TRUE(e.children()[1]->children().empty());
    }
    EXPECT_THROW((void)root.children().at(kElements), std::out_of_range);
  }
}

// Many elements: nodes fill storage blocks of every size, and each keeps its
// place, its attributes and its children; the root is the document element.
TEST(XmlParse, ManyElementsKeepTheirPlaces) {
  constexpr int kElements = 120000;
  std::string text = "<root k='r'>";
  for (int i = 0; i < kElements; ++i) text += "<e i='" + std::to_string(i) + "'>" + (i % 5 == 0 ? "<c/>" : "") + "</e>";
  text += "</root>";
  auto doc = parse(text);
  ASSERT_TRUE(doc.ok()) << doc.reason();
  const Node& root = doc->root();
  EXPECT_EQ(root.tag(), "root");
  EXPECT_EQ(root.attr("k"), "r");
  ASSERT_EQ(root.children().size(), static_cast<std::size_t>(kElements));
  for (int i = 0; i < kElements; ++i) {
    const Node& e = *root.children()[static_cast<std::size_t>(i)];
    ASSERT_EQ(e.attr("i"), std::to_string(i));
    ASSERT_EQ(e.children().size(), i % 5 == 0 ? 1u : 0u) << i;
  }
}

}  // namespace
}  // namespace qm::xml
