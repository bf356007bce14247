#include "structs/dispatch.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "text/text.hpp"

namespace qm {
namespace {

// Lines of `text` that start with `prefix`, in order.
std::vector<std::string> lines_starting(const std::string& text, std::string_view prefix) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

TEST(DispatchVariantName, BareNameUnlessItCannotNameAVariant) {
  struct Case {
    std::string name;
    std::vector<std::string> section;  // other Rust names of the section
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"Qualities_UpdateFloat", {}, "Qualities_UpdateFloat"},
      {"über", {}, "über"},
      {"type", {}, "C2S_type"},      // a keyword
      {"Self", {}, "C2S_Self"},      // a keyword that cannot be raw
      {"_", {}, "C2S__"},            // not an identifier alone
      {"1st", {}, "C2S_1st"},        // not an identifier
      {"decode", {}, "C2S_decode"},  // the enum's own items
      {"decode_exact", {}, "C2S_decode_exact"},
      {"name", {}, "C2S_name"},
      {"opcode", {}, "C2S_opcode"},
      {"KIND", {}, "C2S_KIND"},
      {"Kind", {}, "Kind"},  // names its own type only through the crate root
      // Another struct falls back to this bare name: this one falls back too.
      {"C2S_type", {"C2S_type"}, "C2S_C2S_type"},
      {"C2S_Other", {"C2S_type"}, "C2S_Other"},
  };
  for (const Case& c : cases) {
    const WrittenStruct item{"messageC2S", "C2S_" + c.name, c.name, 1};
    NameKeys keys{identifier_key(item.rust_name)};
    for (const std::string& other : c.section) keys.insert(identifier_key(other));
    EXPECT_EQ(dispatch_variant_name(item, keys), c.expected) << c.name;
  }
}

Generated generated(std::string_view xml) {
  auto result = generate_from_text(xml, "/p/protocol.xml");
  EXPECT_TRUE(result.ok());
  return result.ok() ? std::move(result).value() : Generated{};
}

TEST(DispatchFile, RecordsWhatWasWrittenInFileOrder) {
  // The data types come out B before A (A uses B); a repeated opcode gets
  // one decode arm, for the first struct; a message without an opcode gets
  // only `Decode`.
  const Generated g = generated(R"(<p>
  <types>
    <type name="A" type="7"><field name="X" type="B"/></type>
    <type name="B"><field name="Y" type="byte"/></type>
  </types>
  <messages><s2c>
    <type name="First" type="0x10"><field name="A" type="byte"/></type>
    <type name="Second" type="16"/>
    <type name="Plain"><field name="A" type="byte"/></type>
  </s2c></messages>
</p>)");
  EXPECT_EQ(lines_starting(g.dispatch, "impl crate::"), (std::vector<std::string>{
                                                            "impl crate::Decode for crate::messages::B {",
                                                            "impl crate::Decode for crate::messages::A {",
                                                            "impl crate::Decode for crate::messages::S2C_First {",
                                                            "impl crate::Message for crate::messages::S2C_First {",
                                                            "impl crate::Decode for crate::messages::S2C_Second {",
                                                            "impl crate::Message for crate::messages::S2C_Second {",
                                                            "impl crate::Decode for crate::messages::S2C_Plain {",
                                                        }));
  EXPECT_EQ(
      lines_starting(g.dispatch, "            0x"),
      (std::vector<std::string>{"            0x0010 => match crate::messages::S2C_First::read_from(message, &mut at) "
                                "{ Ok(m) => Ok(Self::First(m)), Err(e) => Err(e) },"}));
  EXPECT_EQ(lines_starting(g.dispatch, "            Self::"),
            (std::vector<std::string>{"            Self::First(_) => 0x0010,", "            Self::Second(_) => 0x0010,",
                                      "            Self::First(_) => \"First\",",
                                      "            Self::Second(_) => \"Second\","}));
}

TEST(DispatchFile, ExtendedFeatureNeverChangesWhatAnOpcodeDecodesTo) {
  // Recovered structs come first in the document for 0x10 (before the
  // default tier's struct) and for 0x11 (alone); 0x10 still decodes to the
  // struct the default tier wrote, as OPCODE_INDEX comes before
  // EXTENDED_OPCODE_INDEX in the opcode lookup; 0x11 to its first recovered one.
  Features features;
  features.extended = true;
  auto result = generate_from_text(R"(<p><messages><s2c>
    <type name="Ext" type="0x10"><field name="A" type="uint"/><if test="!A"><true><field name="B" type="byte"/></true></if></type>
    <type name="Plain" type="0x10"><field name="A" type="byte"/></type>
    <type name="Ext2" type="0x11"><field name="A" type="uint"/><if test="!A"><true><field name="B" type="byte"/></true></if></type>
    <type name="Ext3" type="0x11"><field name="A" type="uint"/><if test="A &amp;&amp; A"><true><field name="B" type="byte"/></true></if></type>
  </s2c></messages></p>)",
                                   "/p/protocol.xml", features);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(
      lines_starting(result->dispatch, "            0x"),
      (std::vector<std::string>{"            0x0010 => match crate::messages::S2C_Plain::read_from(message, &mut at) "
                                "{ Ok(m) => Ok(Self::Plain(m)), Err(e) => Err(e) },",
                                "            0x0011 => match crate::messages::S2C_Ext2::read_from(message, &mut at) "
                                "{ Ok(m) => Ok(Self::Ext2(m)), Err(e) => Err(e) },"}));
}

TEST(DispatchFile, SkippedItemsCarryTheReasonOfTheirLine) {
  const Generated g = generated(R"(<p>
  <enums><enum name="E" parent="sbyte"/></enums>
  <types><type name="T" templated="K"/></types>
  <messages><c2s>
    <type name="Bad&#10;Name" type="0x22"/>
    <type name="Masked" type="0x0023"><mask value="1"/></type>
  </c2s></messages>
  <gameactions><type name="NoCode"><field name="A" type="Nope"/></type></gameactions>
</p>)");
  const std::vector<std::string> items = lines_starting(g.dispatch, "    crate::SkippedItem");
  ASSERT_EQ(items.size(), 5U);
  EXPECT_EQ(
      items[0],
      R"x(    crate::SkippedItem { label: "enum", kind: None, name: "E", opcode: None, reason: "unknown parent type Some(\"sbyte\")" },)x");
  EXPECT_EQ(
      items[1].rfind(
          R"x(    crate::SkippedItem { label: "datatype", kind: None, name: "T", opcode: None, reason: "templated=\"K\" (J3.E)x",
          0),
      0U)
      << items[1];
  // A body written in the first pass comes before a leftover.
  EXPECT_EQ(
      items[2],
      R"x(    crate::SkippedItem { label: "messageC2S", kind: Some(crate::Kind::MessageC2S), name: "Masked", opcode: Some(0x0023), reason: "deferred-tier features [mask]" },)x");
  // The name is the real one; the reason is as the line shows it.
  EXPECT_EQ(
      items[3],
      R"x(    crate::SkippedItem { label: "messageC2S", kind: Some(crate::Kind::MessageC2S), name: "Bad\nName", opcode: Some(0x0022), reason: "type name \"C2S_Bad\\nName\" is not a Rust identifier" },)x");
  EXPECT_EQ(
      items[4],
      R"x(    crate::SkippedItem { label: "gameaction", kind: Some(crate::Kind::GameAction), name: "NoCode", opcode: None, reason: "field A: type \"Nope\" not in foundation tier" },)x");
  // Each reason is the text of its SKIPPED line.
  const std::vector<std::string> lines = lines_starting(g.text, "// SKIPPED ");
  ASSERT_EQ(lines.size(), 5U);
  EXPECT_NE(lines[3].find(R"x(: type name "C2S_Bad\nName" is not a Rust identifier — port)x"), std::string::npos)
      << lines[3];
}

}  // namespace
}  // namespace qm
