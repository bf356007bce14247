#include "enums/enums.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "driver/context.hpp"
#include "xml/xml.hpp"

namespace qm {
namespace {

constexpr i128 kMax = static_cast<i128>(~u128{0} >> 1);
constexpr i128 kMin = -kMax - 1;

std::string show(const std::optional<i128>& v) { return v ? to_decimal(*v) : std::string("none"); }

TEST(ParseIntLiteral, Forms) {
  struct Case {
    std::string_view text;
    std::optional<i128> want;
  };
  const Case cases[] = {
      {"0", 0},
      {"31", 31},
      {"0x1F", 31},
      {"0X1f", 31},
      {"  31\t\n", 31},
      {"\u00a031\u2003", 31},  // non-ASCII White_Space is trimmed too
      {"+31", 31},
      {"--31", 31},
      {"-+31", -31},
      {"-31", -31},
      {"-0x10", -16},
      {"0x-10", -16},
      {"-0x-10", 16},
      {"0x+ff", 255},
      {"0x0000000000000000000000000000000000000001", 1},
      {"0x", std::nullopt},
      {"-", std::nullopt},
      {"+", std::nullopt},
      {"0x-", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"1_000", std::nullopt},
      {"12u", std::nullopt},
      {"1 2", std::nullopt},
      {"++1", std::nullopt},
      {"0x0x1", std::nullopt},
      {"- 1", std::nullopt},
      {"\xef\xbc\x91", std::nullopt},  // a full-width digit is not a digit
  };
  for (const Case& c : cases) {
    EXPECT_EQ(show(parse_int_literal(c.text)), show(c.want)) << '"' << c.text << '"';
  }
}

TEST(ParseIntLiteral, SignedRangeLimits) {
  struct Case {
    std::string_view text;
    std::optional<i128> want;
  };
  const Case cases[] = {
      {"170141183460469231731687303715884105727", kMax},
      {"170141183460469231731687303715884105728", std::nullopt},
      {"-170141183460469231731687303715884105727", -kMax},
      // The magnitude alone does not fit before the sign is applied.
      {"-170141183460469231731687303715884105728", std::nullopt},
      // The inner parse reaches the minimum, but its negation does not fit.
      {"--170141183460469231731687303715884105728", std::nullopt},
      {"+-170141183460469231731687303715884105728", std::nullopt},
      {"0x7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", kMax},
      {"0x80000000000000000000000000000000", std::nullopt},
      {"0x-80000000000000000000000000000000", kMin},
      {"-0x-80000000000000000000000000000000", std::nullopt},
      {"999999999999999999999999999999999999999", std::nullopt},
      {"0xFFFFFFFFFFFFFFFF", static_cast<i128>(~std::uint64_t{0})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(show(parse_int_literal(c.text)), show(c.want)) << c.text;
  }
}

TEST(ParseIntLiteral, LongInputsStayFast) {
  const auto start = std::chrono::steady_clock::now();
  const std::string nines(200000, '9');
  const std::string zeros = std::string(200000, '0') + "42";
  const std::string hex_zeros = "0x" + std::string(200000, '0') + "2a";
  const std::string bad_tail = std::string(200000, '1') + "z";
  for (int i = 0; i < 20; ++i) {
    EXPECT_FALSE(parse_int_literal(nines));
    EXPECT_EQ(show(parse_int_literal(zeros)), "42");
    EXPECT_EQ(show(parse_int_literal(hex_zeros)), "42");
    EXPECT_FALSE(parse_int_literal(bad_tail));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

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

TEST(EmitEnum, LaterEnumOfTheSameNameReplacesEarlier) {
  EnumRun run(R"(<enums>
      <enum name="E" parent="byte"><value name="A" value="1"/><value name="B" value="2"/></enum>
      <enum name="E" parent="long" mask="true"><value name="C" value="-3"/></enum>
      <enum name="E"><value name="D" value="4"/></enum>
    </enums>)");
  EXPECT_EQ(run.ctx.stats.enums, 2u);
  const TypeKind& kind = run.ctx.registry.at("E");
  EXPECT_EQ(kind.repr, EnumRepr::I64);
  EXPECT_TRUE(kind.mask);
  EXPECT_EQ(run.ctx.enum_values.at("E"), (std::map<std::string, i128>{{"C", -3}}));
  // Both enums are written; the skipped third one only as its comment.
  EXPECT_NE(run.text.find("    A = 0x01,\n"), std::string::npos);
  EXPECT_NE(run.text.find("    C = -3,\n"), std::string::npos);
  EXPECT_NE(run.text.find("// SKIPPED enum E: unknown parent type None\n"), std::string::npos);
}

TEST(EmitEnum, BuiltinNameIsReplacedByAnEnum) {
  EnumRun run(R"(<enums><enum name="ObjectId" parent="byte"><value name="A" value="1"/></enum></enums>)");
  const auto got = resolve_field(run.ctx.registry, "ObjectId");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, FieldKind::enumeration("ObjectId", false, EnumRepr::U8));
}

TEST(EmitEnum, DuplicateDetectionUsesTheFullValue) {
  // 0x1FF and 0xFF print the same on a byte enum but are different values;
  // 0x10 and 16 are the same value written twice.
  EnumRun run(R"(<enums><enum name="E" parent="byte">
      <value name="A" value="0xFF"/><value name="B" value="0x1FF"/>
      <value name="C" value="0x10"/><value name="D" value="16"/><value name="A" value="7"/>
    </enum></enums>)");
  // A repeated name with a new value is a second variant of that name.
  EXPECT_NE(run.text.find("    A = 0xFF,\n    B = 0xFF,\n    C = 0x10,\n    A = 0x07,\n}\n"), std::string::npos)
      << run.text;
  EXPECT_NE(run.text.find("pub const E_D: E = E::C;\n"), std::string::npos);
  EXPECT_EQ(run.ctx.stats.aliases, 1u);
  // A repeated name keeps its last value in the value table.
  EXPECT_EQ(run.ctx.enum_values.at("E").at("A"), 7);
}

}  // namespace
}  // namespace qm
