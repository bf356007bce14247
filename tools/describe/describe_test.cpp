#include "describe.hpp"

#include <expat.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "rng.hpp"

namespace qm::describe {
namespace {

// What expat saw in a document: element counts by tag, the root's tag, the
// attribute values in document order, and the error text if it failed.
struct Parsed {
  std::map<std::string, int> tags;
  std::string root;
  std::vector<std::string> values;
  std::string error;
  int depth = 0;
};

void on_start(void* user, const XML_Char* name, const XML_Char** attrs) {
  auto* p = static_cast<Parsed*>(user);
  if (p->depth++ == 0) p->root = name;
  ++p->tags[name];
  for (int i = 0; attrs[i] != nullptr; i += 2) p->values.emplace_back(attrs[i + 1]);
}

void on_end(void* user, const XML_Char*) { --static_cast<Parsed*>(user)->depth; }

Parsed parse(const std::string& text) {
  Parsed p;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &p);
  XML_SetElementHandler(parser, on_start, on_end);
  if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_ERROR) {
    p.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
              std::to_string(XML_GetCurrentLineNumber(parser));
  }
  XML_ParserFree(parser);
  return p;
}

const std::string kSep = "\x1F";

std::string generate(std::uint64_t start, Profile profile, std::size_t size = 0) {
  return random_description(Options{start, profile, size});
}

TEST(RandomDescription, SameOptionsGiveTheSameDocument) {
  for (Profile profile : {Profile::Edge, Profile::Realistic}) {
    for (std::uint64_t start : {0ULL, 1ULL, 77ULL, 0xFFFFFFFFFFFFFFFFULL}) {
      std::size_t size = profile == Profile::Realistic ? 40000 : 0;
      EXPECT_EQ(generate(start, profile, size), generate(start, profile, size)) << start;
    }
  }
  EXPECT_NE(generate(1, Profile::Edge), generate(2, Profile::Edge));
  EXPECT_NE(generate(1, Profile::Realistic, 40000), generate(2, Profile::Realistic, 40000));
}

TEST(RandomDescription, SequenceIsFixedAcrossPlatforms) {
  // The first draws for start 0 and start 1, pinned so that a change of the
  // random source (which would change every document) is noticed.
  Rng a(0);
  Rng b(1);
  EXPECT_EQ(a.next(), 0x99EC5F36CB75F2B4ULL);
  EXPECT_EQ(a.next(), 0xBF6E1F784956452AULL);
  EXPECT_EQ(b.next(), 0xB3F2AF6D0FC710C5ULL);
  Rng r(42);
  for (int i = 0; i < 1000; ++i) {
    std::int64_t v = r.between(-3, 5);
    ASSERT_GE(v, -3);
    ASSERT_LE(v, 5);
    ASSERT_LT(r.below(7), 7u);
  }
}

// FNV-1a, 64 bits: a digest that is the same everywhere.
std::uint64_t digest(const std::string& text) {
  std::uint64_t h = 0xCBF29CE484222325ULL;
  for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
  return h;
}

TEST(RandomDescription, DocumentsArePinned) {
  // The fuzzer's corpus, the benchmark's inputs and the property runs
  // recorded in the README are these documents: a change to the generator
  // that changes them must be deliberate (update the digests here then).
  // The suite runs this under GCC and under Clang, which therefore must
  // write the same documents (the order in which operands are evaluated,
  // which compilers choose, must never decide a draw).
  struct Case {
    std::uint64_t start;
    Profile profile;
    std::size_t size;
    std::size_t length;
    std::uint64_t digest;
  };
  const std::vector<Case> cases = {
      {1, Profile::Edge, 0, 17227, 0xDF6965A41481C980ULL},
      {77, Profile::Edge, 0, 40772, 0x5CC49045DAFD7D10ULL},
      {0xFFFFFFFFFFFFFFFFULL, Profile::Edge, 0, 15939, 0xECF8E8E2028BDFA0ULL},
      {3, Profile::Realistic, 50000, 47471, 0x8D723894EDD38B4AULL},
      {12, Profile::Realistic, 200000, 185848, 0xE937D8F700759533ULL},
  };
  for (const Case& c : cases) {
    const std::string text = generate(c.start, c.profile, c.size);
    EXPECT_EQ(text.size(), c.length) << c.start;
    EXPECT_EQ(digest(text), c.digest) << c.start;
  }
}

TEST(RandomDescription, EdgeDocumentsAreWellFormed) {
  for (std::uint64_t start = 0; start < 200; ++start) {
    Parsed p = parse(generate(start, Profile::Edge));
    ASSERT_EQ(p.error, "") << "start " << start;
    EXPECT_EQ(p.root, "protocol") << start;
    EXPECT_GE(p.tags["enums"], 1) << start;
    EXPECT_GE(p.tags["types"], 1) << start;
    EXPECT_GE(p.tags["messages"], 1) << start;
  }
}

TEST(RandomDescription, EdgeProfileCoversTheConstructsAndOddities) {
  // Over a few dozen documents every construct and every family of awkward
  // input must turn up at least once.
  std::map<std::string, int> tags;
  std::string all = kSep;
  for (std::uint64_t start = 0; start < 60; ++start) {
    std::string text = generate(start, Profile::Edge);
    Parsed p = parse(text);
    ASSERT_EQ(p.error, "");
    for (const auto& [tag, n] : p.tags) tags[tag] += n;
    for (const auto& v : p.values) all += v + kSep;
  }
  for (const char* tag : {"enum", "value", "type", "field", "subfield", "align", "vector", "table", "if", "true",
                          "false", "maskmap", "mask", "switch", "case", "c2s", "s2c", "gameactions", "gameevents"}) {
    EXPECT_GT(tags[tag], 0) << tag;
  }
  // Whole attribute values, then pieces of values.
  const std::vector<std::string> values = {"type", "__mm_bits", "Result", "WireBool", "_",   "0X1F",     "0x",
                                           "5.",   "-1",        "",       "macro",    "try", "read_from"};
  for (const auto& v : values) EXPECT_NE(all.find(kSep + v + kSep), std::string::npos) << v;
  const std::vector<std::string> pieces = {
      "line\nfeed", "\xE2\x80\xAE", "PHashTable", "PackableHashTable", "18446744073709551617", " / 0", "(ushort)-",
      "(bool)",     " > 5.",        "|",          "_count" + kSep};
  for (const auto& piece : pieces) EXPECT_NE(all.find(piece), std::string::npos) << piece;
}

TEST(RandomDescription, RealisticDocumentsAreWellFormedAndSized) {
  struct Case {
    std::uint64_t start;
    std::size_t size;
  };
  for (const Case& c : {Case{3, 50000}, Case{4, 300000}, Case{5, 1000000}}) {
    std::string text = generate(c.start, Profile::Realistic, c.size);
    EXPECT_GT(text.size(), c.size * 7 / 10) << c.size;
    EXPECT_LT(text.size(), c.size * 13 / 10) << c.size;
    Parsed p = parse(text);
    ASSERT_EQ(p.error, "") << c.size;
    if (c.size >= 1000000) {
      EXPECT_GE(p.tags["enum"], 100);
      EXPECT_GE(p.tags["c2s"] + p.tags["s2c"], 2);
      // Over a thousand messages and data types.
      EXPECT_GE(p.tags["type"], 1200);
      for (const char* tag : {"vector", "table", "if", "maskmap", "switch", "subfield", "align"}) {
        EXPECT_GE(p.tags[tag], 20) << tag;
      }
    }
  }
  EXPECT_GT(generate(9, Profile::Realistic).size(), 700000u);
}

TEST(RandomDescription, AttributeValuesSurviveTheParser) {
  struct Case {
    std::string value;
    std::string escaped;
  };
  const std::vector<Case> cases = {
      {"plain", "plain"},
      {"a<b>&\"c\"", "a&lt;b&gt;&amp;&quot;c&quot;"},
      {"line\nfeed\rcr\ttab", "line&#10;feed&#13;cr&#9;tab"},
      {"it's", "it's"},
      {"\xE2\x80\xAE", "\xE2\x80\xAE"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(escape_xml_attr(c.value), c.escaped);
    Parsed p = parse("<r a=\"" + escape_xml_attr(c.value) + "\"/>");
    ASSERT_EQ(p.error, "") << c.escaped;
    ASSERT_EQ(p.values.size(), 1u);
    EXPECT_EQ(p.values[0], c.value) << c.escaped;
  }
}

}  // namespace
}  // namespace qm::describe
