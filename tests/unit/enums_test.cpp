#include "enums/enums.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "schema/context.hpp"
#include "xml/xml.hpp"

namespace qm {
namespace {

constexpr i128 kMax = static_cast<i128>(~u128{0} >> 1);
constexpr i128 kMin = -kMax - 1;

TEST(FormatEnumLiteral, CutsToWidthThenFormats) {
  struct Case {
    i128 value;
    EnumRepr repr;
    std::string_view want;
  };
  const Case cases[] = {
      {0, EnumRepr::U8, "0x00"},
      {0x1FF, EnumRepr::U8, "0xFF"},
      {256, EnumRepr::U8, "0x00"},
      {-1, EnumRepr::U8, "0xFF"},
      {0xABCDE, EnumRepr::U16, "0xBCDE"},
      {-1, EnumRepr::U32, "0xFFFFFFFF"},
      {-2, EnumRepr::U64, "0xFFFFFFFFFFFFFFFE"},
      {static_cast<i128>(1) << 64 | 5, EnumRepr::U64, "0x0000000000000005"},
      {-1, EnumRepr::I32, "-1"},
      {0x80000000, EnumRepr::I32, "-2147483648"},
      {0xFFFFFFFF, EnumRepr::I32, "-1"},
      {static_cast<i128>(1) << 32 | 7, EnumRepr::I32, "7"},
      {-5000000000, EnumRepr::I64, "-5000000000"},
      {static_cast<i128>(~std::uint64_t{0}), EnumRepr::I64, "-1"},
      {kMin, EnumRepr::I64, "0"},
      {kMax, EnumRepr::U16, "0xFFFF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_enum_literal(c.value, c.repr), c.want) << to_decimal(c.value);
  }
}

// Runs process_enums over one `enums` element and keeps what it produced.
struct EnumRun {
  std::vector<std::size_t> offsets{0};
  CodegenCtx ctx{"/x/protocol.xml", offsets};
  std::size_t header_end = ctx.out.size();
  std::string text;

  explicit EnumRun(std::string_view enums_xml) {
    auto doc = xml::parse(enums_xml);
    EXPECT_TRUE(doc.ok()) << (doc.ok() ? "" : doc.reason());
    if (!doc.ok()) return;
    process_enums(ctx, doc->root());
    text = ctx.out.substr(header_end);
  }
};

TEST(EmitEnum, AliasesAndValueTable) {
  EnumRun run(R"(<enums><enum name="Color" parent="ushort">
      <value name="Red" value="0x1"/>
      <value name="Green" value="2"/>
      <value name="Crimson" value="1"/>
      <value name="type" value="2" text="x"/>
    </enum></enums>)");
  EXPECT_NE(run.text.find(
                "    Red = 0x0001,\n    Green = 0x0002,\n}\n\n"
                "/// Alias of Color::Red.\npub const Color_Crimson: Color = Color::Red;\n"
                "/// Alias of Color::Green. x\npub const Color_type_alias: Color = Color::Green;\n\nimpl Color {\n"),
            std::string::npos)
      << run.text;
  EXPECT_EQ(run.text.find("Crimson as"), std::string::npos) << "aliases are never match arms";
  EXPECT_EQ(run.ctx.stats.enums, 1u);
  EXPECT_EQ(run.ctx.stats.aliases, 2u);
  EXPECT_EQ(run.ctx.enum_values.at("Color"),
            (std::map<std::string, i128>{{"Crimson", 1}, {"Green", 2}, {"Red", 1}, {"type", 2}}));
}

TEST(EmitEnum, SkippedAndDroppedEnumsLeaveNoTrace) {
  struct Case {
    std::string_view what;
    std::string_view xml;
    std::string_view want;  // text after the banner
  };
  const Case cases[] = {
      {"no name", R"(<enums><enum parent="byte"><value name="A" value="1"/></enum></enums>)", ""},
      {"no parent", R"(<enums><enum name="Foo"><value name="A" value="1"/></enum></enums>)",
       "// SKIPPED enum Foo: unknown parent type None\n\n"},
      {"unknown parent", R"(<enums><enum name="Foo" parent="sbyte"><value name="A" value="1"/></enum></enums>)",
       "// SKIPPED enum Foo: unknown parent type Some(\"sbyte\")\n\n"},
      {"only bad values",
       R"(<enums><enum name="Bar" parent="uint"><value name="A" value="1u"/><value value="2"/>
          <value name="C"/><other name="D" value="4"/></enum></enums>)",
       "// SKIPPED enum Bar: no parseable variants\n\n"},
      {"no children", R"(<enums><enum name="Baz" parent="uint"/></enums>)",
       "// SKIPPED enum Baz: no parseable variants\n\n"},
  };
  for (const Case& c : cases) {
    EnumRun run(c.xml);
    EXPECT_EQ(run.text, "// === ENUMS ===\n\n" + std::string(c.want)) << c.what;
    EXPECT_EQ(run.ctx.stats.enums, 0u) << c.what;
    EXPECT_TRUE(run.ctx.enum_values.empty()) << c.what;
    for (std::string_view n : {"Foo", "Bar", "Baz"}) EXPECT_FALSE(run.ctx.registry.contains(std::string(n))) << c.what;
  }
}

TEST(EmitEnum, RegistryEntryPerRepresentationAndMask) {
  struct Case {
    std::string_view parent;
    std::string_view mask_attr;  // empty: absent
    EnumRepr repr;
    bool mask;
  };
  const Case cases[] = {
      {"byte", "", EnumRepr::U8, false},      {"ushort", "true", EnumRepr::U16, true},
      {"uint", "True", EnumRepr::U32, false}, {"ulong", "1", EnumRepr::U64, false},
      {"int", "true", EnumRepr::I32, true},   {"long", "false", EnumRepr::I64, false},
  };
  for (const Case& c : cases) {
    const std::string mask = c.mask_attr.empty() ? "" : " mask=\"" + std::string(c.mask_attr) + "\"";
    EnumRun run("<enums><enum name=\"E\" parent=\"" + std::string(c.parent) + "\"" + mask +
                "><value name=\"A\" value=\"1\"/></enum></enums>");
    const TypeKind& kind = run.ctx.registry.at("E");
    EXPECT_EQ(kind.tag, TypeKind::Enum) << c.parent;
    EXPECT_EQ(kind.repr, c.repr) << c.parent;
    EXPECT_EQ(kind.mask, c.mask) << c.parent << " mask=" << c.mask_attr;
  }
}

TEST(EmitEnum, MaskFlagDoesNotChangeTheText) {
  EnumRun plain(
      R"(<enums><enum name="F" parent="uint"><value name="A" value="1"/><value name="B" value="2"/></enum></enums>)");
  EnumRun mask(
      R"(<enums><enum name="F" parent="uint" mask="true"><value name="A" value="1"/><value name="B" value="2"/></enum></enums>)");
  EXPECT_EQ(plain.text, mask.text);
  EXPECT_FALSE(plain.ctx.registry.at("F").mask);
  EXPECT_TRUE(mask.ctx.registry.at("F").mask);
}

TEST(EmitEnum, LaterEnumOfTheSameNameIsSkipped) {
  EnumRun run(R"(<enums>
      <enum name="E" parent="byte"><value name="A" value="1"/><value name="B" value="2"/></enum>
      <enum name="E" parent="long" mask="true"><value name="C" value="-3"/></enum>
      <enum name="E"><value name="D" value="4"/></enum>
    </enums>)");
  // Two declarations of one type would not compile: the first one stays, with
  // its registry entry and its values.
  EXPECT_EQ(run.ctx.stats.enums, 1u);
  const TypeKind& kind = run.ctx.registry.at("E");
  EXPECT_EQ(kind.repr, EnumRepr::U8);
  EXPECT_FALSE(kind.mask);
  EXPECT_EQ(run.ctx.enum_values.at("E"), (std::map<std::string, i128>{{"A", 1}, {"B", 2}}));
  EXPECT_NE(run.text.find("    A = 0x01,\n"), std::string::npos);
  EXPECT_NE(run.text.find("}\n\n// SKIPPED enum E: type name \"E\" is already declared in this file\n\n"
                          "// SKIPPED enum E: unknown parent type None\n\n"),
            std::string::npos)
      << run.text;
  EXPECT_EQ(run.text.find("    C = -3,\n"), std::string::npos);
}

TEST(EmitEnum, BuiltinNameIsReplacedByAnEnum) {
  EnumRun run(R"(<enums><enum name="ObjectId" parent="byte"><value name="A" value="1"/></enum></enums>)");
  const auto got = resolve_field(run.ctx.registry, "ObjectId");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, FieldKind::enumeration("ObjectId", false, EnumRepr::U8));
}

TEST(EmitEnum, ValuesEqualAfterTheCutAreAliases) {
  // Each discriminant is the value cut to the width, so two values that cut
  // to one number would be one discriminant twice: the later one becomes an
  // alias. Values that differ after the cut stay variants.
  struct Case {
    std::string_view parent;
    std::string_view values;  // name=value pairs
    std::string_view variants;
    std::string_view aliases;
  };
  const Case cases[] = {
      {"byte", "A=0xFF B=0x1FF C=0x10 D=16 E=-1", "    A = 0xFF,\n    C = 0x10,\n",
       "pub const T_B: T = T::A;\npub const T_D: T = T::C;\npub const T_E: T = T::A;\n"},
      {"byte", "A=1 B=257 C=2", "    A = 0x01,\n    C = 0x02,\n", "pub const T_B: T = T::A;\n"},
      {"ushort", "A=1 B=0x10001 C=0x100", "    A = 0x0001,\n    C = 0x0100,\n", "pub const T_B: T = T::A;\n"},
      {"uint", "A=-1 B=0xFFFFFFFF", "    A = 0xFFFFFFFF,\n", "pub const T_B: T = T::A;\n"},
      {"ulong", "A=0 B=0x10000000000000000", "    A = 0x0000000000000000,\n", "pub const T_B: T = T::A;\n"},
      {"int", "A=-1 B=0xFFFFFFFF C=0x7FFFFFFF", "    A = -1,\n    C = 2147483647,\n", "pub const T_B: T = T::A;\n"},
      {"long", "A=-1 B=0xFFFFFFFFFFFFFFFF C=0xFFFFFFFF", "    A = -1,\n    C = 4294967295,\n",
       "pub const T_B: T = T::A;\n"},
  };
  for (const Case& c : cases) {
    std::string xml = "<enums><enum name=\"T\" parent=\"" + std::string(c.parent) + "\">";
    std::size_t aliases = 0;
    for (std::size_t at = 0; at < c.values.size();) {
      std::size_t end = c.values.find(' ', at);
      if (end == std::string_view::npos) end = c.values.size();
      const std::string_view pair = c.values.substr(at, end - at);
      const std::size_t eq = pair.find('=');
      xml += "<value name=\"" + std::string(pair.substr(0, eq)) + "\" value=\"" + std::string(pair.substr(eq + 1)) +
             "\"/>";
      at = end + 1;
    }
    for (std::size_t at = c.aliases.find("pub const"); at != std::string_view::npos;
         at = c.aliases.find("pub const", at + 1)) {
      ++aliases;
    }
    xml += "</enum></enums>";
    EnumRun run(xml);
    const std::string head = "pub enum T {\n" + std::string(c.variants) + "}\n\n";
    EXPECT_NE(run.text.find(head), std::string::npos) << c.values << "\n" << run.text;
    std::string consts;
    for (std::size_t at = run.text.find("pub const"); at != std::string::npos;
         at = run.text.find("pub const", at + 1)) {
      consts += run.text.substr(at, run.text.find('\n', at) + 1 - at);
    }
    EXPECT_EQ(consts, c.aliases) << c.values;
    EXPECT_EQ(run.ctx.stats.aliases, aliases) << c.values;
  }
}

TEST(EmitEnum, ValueTableKeepsTheFullValueAndTheLastOne) {
  EnumRun run(R"(<enums><enum name="E" parent="byte">
      <value name="A" value="0xFF"/><value name="B" value="0x1FF"/><value name="B" value="3"/>
    </enum></enums>)");
  EXPECT_EQ(run.ctx.enum_values.at("E"), (std::map<std::string, i128>{{"A", 0xFF}, {"B", 3}}));
}

TEST(EmitEnum, NamesThatCannotBeDeclaredSkipTheEnum) {
  struct Case {
    std::string_view what;
    std::string xml;        // the enums after a first enum `Taken` (byte, alias `Taken_X_Y` of `A`)
    std::string_view want;  // the SKIPPED line, or empty when the enum is written
  };
  const std::string ok_values = R"(<value name="A" value="1"/>)";
  const Case cases[] = {
      {"name with a dash", R"(<enum name="a-b" parent="byte">)" + ok_values + "</enum>",
       "// SKIPPED enum a-b: type name \"a-b\" is not a Rust identifier"},
      {"empty name", R"(<enum name="" parent="byte">)" + ok_values + "</enum>",
       "// SKIPPED enum : type name \"\" is not a Rust identifier"},
      {"leading digit", R"(<enum name="1E" parent="byte">)" + ok_values + "</enum>",
       "// SKIPPED enum 1E: type name \"1E\" is not a Rust identifier"},
      {"keyword name", R"(<enum name="type" parent="byte">)" + ok_values + "</enum>",
       "// SKIPPED enum type: type name \"type\" is not a Rust identifier"},
      {"underscore alone", R"(<enum name="_" parent="byte">)" + ok_values + "</enum>",
       "// SKIPPED enum _: type name \"_\" is not a Rust identifier"},
      {"primitive name", R"(<enum name="u8" parent="byte">)" + ok_values + "</enum>",
       "// SKIPPED enum u8: type name \"u8\" is reserved by the generated code"},
      {"raw primitive name", R"(<enum name="r#u32" parent="byte">)" + ok_values + "</enum>",
       "// SKIPPED enum r#u32: type name \"r#u32\" is reserved by the generated code"},
      {"header type", R"(<enum name="WireBool" parent="byte">)" + ok_values + "</enum>",
       "// SKIPPED enum WireBool: type name \"WireBool\" is reserved by the generated code"},
      {"same name", R"(<enum name="Taken" parent="uint">)" + ok_values + "</enum>",
       "// SKIPPED enum Taken: type name \"Taken\" is already declared in this file"},
      {"same name once normalized",
       "<enum name=\"Caf\u00e9\" parent=\"byte\">" + ok_values + "</enum><enum name=\"Cafe\u0301\" parent=\"byte\">" +
           ok_values + "</enum>",
       "// SKIPPED enum Cafe\u0301: type name \"Cafe\\u{301}\" is already declared in this file"},
      {"variant with a space", R"(<enum name="V" parent="byte"><value name="a b" value="1"/></enum>)",
       "// SKIPPED enum V: variant name \"a b\" is not a Rust identifier"},
      {"variant raw path keyword", R"(<enum name="V" parent="byte"><value name="r#self" value="1"/></enum>)",
       "// SKIPPED enum V: variant name \"r#self\" is not a Rust identifier"},
      {"variant name twice",
       R"(<enum name="V" parent="byte"><value name="A" value="1"/><value name="A" value="2"/>)"
       "</enum>",
       "// SKIPPED enum V: variant name \"A\" is declared twice"},
      {"variants meeting after escaping",
       R"(<enum name="V" parent="byte"><value name="data" value="1"/><value name="data_field" value="2"/></enum>)",
       "// SKIPPED enum V: variant name \"data_field\" is declared twice"},
      {"variants the same once normalized",
       "<enum name=\"V\" parent=\"byte\"><value name=\"\u00c9t\u00e9\" value=\"1\"/>"
       "<value name=\"B\" value=\"2\"/><value name=\"E\u0301te\u0301\" value=\"3\"/></enum>",
       "// SKIPPED enum V: variant name \"E\\u{301}te\\u{301}\" is declared twice"},
      {"raw and plain variant",
       R"(<enum name="V" parent="byte"><value name="type" value="1"/><value name="r#type" value="2"/></enum>)",
       "// SKIPPED enum V: variant name \"r#type\" is declared twice"},
      {"alias constant not an identifier",
       R"(<enum name="V" parent="byte"><value name="A" value="1"/><value name="b.c" value="1"/></enum>)",
       "// SKIPPED enum V: constant name \"V_b.c\" is not a Rust identifier"},
      {"alias constant twice",
       R"(<enum name="V" parent="byte"><value name="A" value="1"/><value name="B" value="1"/>)"
       R"(<value name="B" value="1"/></enum>)",
       "// SKIPPED enum V: constant name \"V_B\" is declared twice"},
      {"alias constant of an earlier enum",
       R"(<enum name="Taken_" parent="byte"><value name="A" value="1"/><value name="X" value="1"/></enum>)", ""},
      {"alias constant meeting an earlier one",
       R"(<enum name="Taken_X" parent="byte"><value name="A" value="1"/><value name="Y" value="1"/></enum>)",
       "// SKIPPED enum Taken_X: constant name \"Taken_X_Y\" is already declared in this file"},
      {"alias constant meeting the opcode index",
       R"(<enum name="OPCODE" parent="byte"><value name="A" value="1"/><value name="INDEX" value="1"/></enum>)",
       "// SKIPPED enum OPCODE: constant name \"OPCODE_INDEX\" is reserved by the generated code"},
      {"alias constant meeting a reader",
       R"(<enum name="read" parent="byte"><value name="A" value="1"/><value name="string16_le" value="1"/></enum>)",
       "// SKIPPED enum read: constant name \"read_string16_le\" is reserved by the generated code"},
      {"keywords that are raw identifiers",
       R"(<enum name="K" parent="byte"><value name="mut" value="1"/><value name="try" value="2"/>)"
       R"(<value name="macro" value="3"/><value name="unsized" value="4"/><value name="mut" value="4"/></enum>)",
       ""},
      {"names that compile",
       R"(<enum name="Ok" parent="byte"><value name="_x" value="1"/>)"
       R"(<value name="Ünï" value="2"/><value name="r#union" value="3"/></enum>)",
       ""},
  };
  for (const Case& c : cases) {
    EnumRun run(R"(<enums><enum name="Taken" parent="byte"><value name="A" value="1"/><value name="X_Y" value="1"/>)"
                "</enum>" +
                c.xml + "</enums>");
    const std::size_t skipped = run.text.find("// SKIPPED");
    if (c.want.empty()) {
      EXPECT_EQ(skipped, std::string::npos) << c.what << "\n" << run.text;
      EXPECT_EQ(run.ctx.stats.enums, 2u) << c.what;
    } else {
      ASSERT_NE(skipped, std::string::npos) << c.what << "\n" << run.text;
      EXPECT_EQ(run.text.substr(skipped), std::string(c.want) + "\n\n") << c.what;
    }
  }
}

TEST(EmitEnum, SkippedLineStaysOnOneLine) {
  EnumRun run(
      "<enums><enum name=\"A&#10;B&#13;\u2028\u202e\" parent=\"x&#10;y\"/>"
      "<enum name=\"C&#10;D\" parent=\"byte\"><value name=\"V\" value=\"1\"/></enum></enums>");
  EXPECT_EQ(run.text,
            "// === ENUMS ===\n\n"
            "// SKIPPED enum A\\nB\\r\\u{2028}\\u{202e}: unknown parent type Some(\"x\\ny\")\n\n"
            "// SKIPPED enum C\\nD: type name \"C\\nD\" is not a Rust identifier\n\n");
}

}  // namespace
}  // namespace qm
