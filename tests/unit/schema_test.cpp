#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schema/body.hpp"
#include "schema/context.hpp"
#include "schema/literals.hpp"
#include "schema/registry.hpp"
#include "xml/xml.hpp"

namespace qm {
namespace {

xml::Document parse_ok(std::string_view text) {
  auto doc = xml::parse(text);
  EXPECT_TRUE(doc.ok()) << (doc.ok() ? "" : doc.reason());
  return std::move(doc).value();
}

TypeRegistry builtin_registry() {
  TypeRegistry r;
  register_builtin_types(r);
  return r;
}

TEST(EnumRepr, FromParentMatchesExactNamesOnly) {
  struct Case {
    std::optional<std::string_view> parent;
    std::optional<EnumRepr> want;
  };
  const Case cases[] = {
      {"byte", EnumRepr::U8},  {"ushort", EnumRepr::U16}, {"uint", EnumRepr::U32},      {"ulong", EnumRepr::U64},
      {"int", EnumRepr::I32},  {"long", EnumRepr::I64},   {std::nullopt, std::nullopt}, {"", std::nullopt},
      {"sbyte", std::nullopt}, {"short", std::nullopt},   {"bool", std::nullopt},       {"Byte", std::nullopt},
      {"uint ", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(enum_repr_from_parent(c.parent), c.want) << (c.parent ? *c.parent : "<absent>");
  }
}

TEST(Registry, BuiltinNamesResolve) {
  struct Case {
    std::string_view name;
    std::string_view rust_ty;
    FieldKind::Tag kind;
  };
  const Case cases[] = {
      {"bool", "WireBool", FieldKind::Bool},
      {"byte", "u8", FieldKind::U8},
      {"short", "i16", FieldKind::I16},
      {"ushort", "u16", FieldKind::U16},
      {"int", "i32", FieldKind::I32},
      {"uint", "u32", FieldKind::U32},
      {"long", "i64", FieldKind::I64},
      {"ulong", "u64", FieldKind::U64},
      {"float", "f32", FieldKind::F32},
      {"double", "f64", FieldKind::F64},
      {"string", "String", FieldKind::String},
      {"String", "String", FieldKind::String},
      {"WString", "String", FieldKind::WString},
      {"ObjectId", "u32", FieldKind::U32},
      {"LandcellId", "u32", FieldKind::U32},
      {"PackedDWORD", "u32", FieldKind::PackedDword},
      {"DataId", "u32", FieldKind::PackedDword},
  };
  const TypeRegistry r = builtin_registry();
  EXPECT_EQ(r.size(), std::size(cases));
  for (const Case& c : cases) {
    const auto got = resolve_field(r, c.name);
    ASSERT_TRUE(got.has_value()) << c.name;
    EXPECT_EQ(got->rust_ty, c.rust_ty) << c.name;
    EXPECT_EQ(got->kind, FieldKind(c.kind)) << c.name;
  }
  for (std::string_view unknown : {"Bool", "sbyte", "char", "", "Vector"}) {
    EXPECT_FALSE(resolve_field(r, unknown).has_value()) << unknown;
  }
}

TEST(Registry, EnumsStructsAndUnmappedPrimitives) {
  TypeRegistry r = builtin_registry();
  r["Flags"] = TypeKind::enumeration(EnumRepr::U16, true);
  r["SignedFlags"] = TypeKind::enumeration(EnumRepr::I64, true);
  r["Color"] = TypeKind::enumeration(EnumRepr::I32, false);
  r["Position"] = TypeKind::structure();
  r["Weird"] = TypeKind::primitive("u128");

  auto flags = resolve_field(r, "Flags");
  ASSERT_TRUE(flags);
  EXPECT_EQ(flags->rust_ty, "u16");
  EXPECT_EQ(flags->kind, FieldKind(FieldKind::U16));

  auto signed_flags = resolve_field(r, "SignedFlags");
  ASSERT_TRUE(signed_flags);
  EXPECT_EQ(signed_flags->rust_ty, "i64");
  EXPECT_EQ(signed_flags->kind, FieldKind(FieldKind::I64));

  auto color = resolve_field(r, "Color");
  ASSERT_TRUE(color);
  EXPECT_EQ(color->rust_ty, "Color");
  EXPECT_EQ(color->kind, FieldKind::enumeration("Color", false, EnumRepr::I32));

  auto pos = resolve_field(r, "Position");
  ASSERT_TRUE(pos);
  EXPECT_EQ(pos->rust_ty, "Position");
  EXPECT_EQ(pos->kind, FieldKind::structure("Position"));

  EXPECT_FALSE(resolve_field(r, "Weird"));
  EXPECT_EQ(resolve_primitive_chain(r, "Weird"), std::optional<std::string_view>("u128"));
  EXPECT_EQ(resolve_primitive_chain(r, "DataId"), std::optional<std::string_view>("PackedDWORD"));
  EXPECT_FALSE(resolve_primitive_chain(r, "Color"));
  EXPECT_FALSE(resolve_primitive_chain(r, "Position"));
  EXPECT_FALSE(resolve_primitive_chain(r, "Missing"));
}

TEST(Registry, CollectTypedefs) {
  struct Case {
    std::string_view what;
    std::string_view doc;
    std::vector<std::pair<std::string_view, std::optional<std::string_view>>> want;  // name -> registry text
  };
  const Case cases[] = {
      {"plain typedef", R"(<types><type name="Foo" parent="uint"/></types>)", {{"Foo", "u32"}}},
      {"chain in document order",
       R"(<types><type name="B" parent="ushort"/><type name="A" parent="B"/></types>)",
       {{"A", "u16"}, {"B", "u16"}}},
      {"chain out of order",
       R"(<types><type name="A" parent="B"/><type name="B" parent="uint"/></types>)",
       {{"A", std::nullopt}, {"B", "u32"}}},
      {"built-in name kept", R"(<types><type name="ObjectId" parent="ushort"/></types>)", {{"ObjectId", "u32"}}},
      {"first definition wins",
       R"(<types><type name="T" parent="byte"/><type name="T" parent="long"/></types>)",
       {{"T", "u8"}}},
      {"typedef of an enum", R"(<types><type name="E2" parent="Color"/></types>)", {{"E2", std::nullopt}}},
      {"enum name never replaced", R"(<types><type name="Color" parent="uint"/></types>)", {{"Color", std::nullopt}}},
      {"primitive attribute",
       R"(<types><type name="P" primitive="false" parent="uint"/></types>)",
       {{"P", std::nullopt}}},
      {"element children",
       R"(<types><type name="S" parent="uint"><field type="uint" name="a"/></type></types>)",
       {{"S", std::nullopt}}},
      {"templated without children", R"(<types><type name="L" templated="T" parent="uint"/></types>)", {{"L", "u32"}}},
      {"no parent", R"(<types><type name="N"/></types>)", {{"N", std::nullopt}}},
      {"unknown parent", R"(<types><type name="U" parent="Nope"/></types>)", {{"U", std::nullopt}}},
      {"other tag", R"(<types><typedef name="V" parent="uint"/></types>)", {{"V", std::nullopt}}},
      {"typedef of a struct", R"(<types><type name="W" parent="Position"/></types>)", {{"W", std::nullopt}}},
  };
  for (const Case& c : cases) {
    TypeRegistry r = builtin_registry();
    r["Color"] = TypeKind::enumeration(EnumRepr::U8, false);
    r["Position"] = TypeKind::structure();
    const auto doc = parse_ok(c.doc);
    collect_typedefs(r, doc.root());
    for (const auto& [name, want] : c.want) {
      EXPECT_EQ(resolve_primitive_chain(r, name), want) << c.what << ": " << name;
    }
  }
}

TEST(Registry, TypedefChainsAcrossSections) {
  TypeRegistry r = builtin_registry();
  const auto first = parse_ok(R"(<types><type name="Id" parent="DataId"/></types>)");
  const auto second = parse_ok(R"(<types><type name="Ref" parent="Id"/></types>)");
  collect_typedefs(r, first.root());
  collect_typedefs(r, second.root());
  const auto got = resolve_field(r, "Ref");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->rust_ty, "u32");
  EXPECT_EQ(got->kind, FieldKind(FieldKind::PackedDword));
}

TEST(Registry, CsharpPrimitives) {
  EXPECT_EQ(*csharp_to_rust_primitive("ushort"), "u16");
  EXPECT_EQ(*csharp_to_rust_primitive("bool"), "bool");
  EXPECT_EQ(*csharp_to_rust_primitive("double"), "f64");
  for (std::string_view name : {"Int32", "sbyte", "char", "string", "ObjectId", ""}) {
    const auto got = csharp_to_rust_primitive(name);
    ASSERT_FALSE(got.ok()) << name;
    EXPECT_EQ(got.reason(), "unknown C# primitive " + debug_str(name));
  }
  EXPECT_EQ(csharp_to_rust_primitive("a\"b\\c").reason(), R"(unknown C# primitive "a\"b\\c")");
}

TEST(SiblingLookup, AddFieldRegistersByKind) {
  SiblingLookup lookup;
  const FieldKind flags(FieldKind::U16);
  lookup.add_field("Flags", "flags", flags);
  lookup.add_subfield("High", "Flags", "flags", flags, "Flags >> 8");
  lookup.add_subfield("Low", "Flags", "flags", flags, "Flags & 0xFF");
  lookup.add_field("Kind", "kind", FieldKind::enumeration("Kind", false, EnumRepr::I64));
  lookup.add_field("Ok", "ok", FieldKind(FieldKind::Bool));
  lookup.add_field("Dw", "dw", FieldKind(FieldKind::PackedDword));
  lookup.add_field("Name", "name", FieldKind(FieldKind::String));
  lookup.add_field("WName", "wname", FieldKind(FieldKind::WString));
  lookup.add_field("Pos", "pos", FieldKind::structure("Position"));

  ASSERT_EQ(lookup.numeric_fields.size(), 3u);
  EXPECT_EQ(lookup.numeric_fields.at("Flags").ident, "flags");
  EXPECT_EQ(lookup.numeric_fields.at("Flags").ty, "u16");
  EXPECT_EQ(lookup.numeric_fields.at("Ok").ty, "bool");
  EXPECT_EQ(lookup.numeric_fields.at("Dw").ty, "u32");

  ASSERT_EQ(lookup.subfields.size(), 2u);
  const SubfieldRef& high = lookup.subfields.at("High");
  EXPECT_EQ(high.parent_xml_name, "Flags");
  EXPECT_EQ(high.parent_ident, "flags");
  EXPECT_EQ(high.parent_ty, "u16");
  EXPECT_EQ(high.expr, "Flags >> 8");
  EXPECT_EQ(lookup.subfields.at("Low").expr, "Flags & 0xFF");

  ASSERT_EQ(lookup.enum_fields.size(), 1u);
  EXPECT_EQ(lookup.enum_fields.at("Kind").ident, "kind");
  EXPECT_EQ(lookup.enum_fields.at("Kind").repr_ty, "i64");

  EXPECT_EQ(lookup.bool_fields, std::set<std::string>{"Ok"});
  EXPECT_TRUE(lookup.gated_fields.empty());
}

TEST(SiblingLookup, LaterFieldReplacesEarlier) {
  SiblingLookup lookup;
  lookup.add_field("Count", "count", FieldKind(FieldKind::U8));
  lookup.add_field("Count", "count_2", FieldKind(FieldKind::U32));
  EXPECT_EQ(lookup.numeric_fields.at("Count").ident, "count_2");
  EXPECT_EQ(lookup.numeric_fields.at("Count").ty, "u32");

  // A later non-numeric field of the same name does not erase the numeric entry.
  lookup.add_field("Count", "count_3", FieldKind(FieldKind::String));
  EXPECT_EQ(lookup.numeric_fields.at("Count").ident, "count_2");
}

TEST(SiblingLookup, SubfieldsOfNonNumericFieldsAreIgnored) {
  SiblingLookup lookup;
  const FieldKind e = FieldKind::enumeration("E", false, EnumRepr::U8);
  lookup.add_field("E", "e", e);
  lookup.add_subfield("Bit", "E", "e", e, "E & 1");
  EXPECT_TRUE(lookup.subfields.empty());
  EXPECT_TRUE(lookup.numeric_fields.empty());
}

TEST(SiblingLookup, GatedFields) {
  SiblingLookup lookup;
  lookup.add_gated("A", "a", FieldKind(FieldKind::U32));
  lookup.add_gated("S", "s", FieldKind(FieldKind::String));
  lookup.add_gated("B", "b", FieldKind(FieldKind::F64));
  lookup.add_gated("A", "a_2", FieldKind(FieldKind::I16));
  lookup.add_gated("E", "e", FieldKind::enumeration("E", false, EnumRepr::U8));
  ASSERT_EQ(lookup.gated_fields.size(), 2u);
  EXPECT_EQ(lookup.gated_fields.at("A").ident, "a_2");
  EXPECT_EQ(lookup.gated_fields.at("A").ty, "i16");
  EXPECT_EQ(lookup.gated_fields.at("B").ty, "f64");
  EXPECT_TRUE(lookup.numeric_fields.empty());
  EXPECT_TRUE(lookup.enum_fields.empty());
}

// What a lookup holds, as one comparable text per map.
std::vector<std::string> lookup_contents(const SiblingLookup& lookup) {
  std::vector<std::string> out;
  for (const auto& [k, v] : lookup.numeric_fields) out.push_back("n " + k + "=" + v.ident + ":" + v.ty);
  for (const auto& [k, v] : lookup.subfields) out.push_back("s " + k + "=" + v.parent_ident + "/" + v.expr);
  for (const auto& [k, v] : lookup.enum_fields) out.push_back("e " + k + "=" + v.ident);
  for (const auto& k : lookup.bool_fields) out.push_back("b " + k);
  for (const auto& [k, v] : lookup.gated_fields) out.push_back("g " + k + "=" + v.ident);
  return out;
}

TEST(SiblingLookup, RollbackPutsEveryMapBackAsItWasAtItsCheckpoint) {
  const FieldKind u32(FieldKind::U32);
  const FieldKind boolean(FieldKind::Bool);
  const FieldKind enumeration = FieldKind::enumeration("E", false, EnumRepr::U8);
  SiblingLookup lookup;
  lookup.add_field("A", "a", u32);
  lookup.add_subfield("Low", "A", "a", u32, "A & 1");
  lookup.add_field("F", "f", boolean);
  lookup.add_gated("G", "g", u32);
  const std::vector<std::string> before = lookup_contents(lookup);

  const std::size_t outer = lookup.checkpoint();
  // Replacements of every map, new entries of every map, and a kind change
  // (the bool field becomes an enum field).
  lookup.add_field("A", "a_2", u32);
  lookup.add_subfield("Low", "A", "a_2", u32, "A & 2");
  lookup.add_field("F", "f_2", enumeration);
  lookup.add_gated("G", "g_2", u32);
  lookup.add_field("New", "new", boolean);
  lookup.add_gated("H", "h", u32);
  const std::vector<std::string> in_outer = lookup_contents(lookup);

  const std::size_t inner = lookup.checkpoint();
  lookup.add_field("A", "a_3", u32);
  lookup.add_field("Inner", "inner", enumeration);
  lookup.rollback(inner);
  EXPECT_EQ(lookup_contents(lookup), in_outer);

  lookup.rollback(outer);
  EXPECT_EQ(lookup_contents(lookup), before);
  // Without an open checkpoint nothing is recorded: a later rollback to an
  // earlier mark has nothing to undo.
  lookup.add_field("After", "after", u32);
  const std::size_t mark = lookup.checkpoint();
  lookup.rollback(mark);
  EXPECT_EQ(lookup.numeric_fields.count("After"), 1u);
}

TEST(Identifiers, RollbackRestoresTheNumbering) {
  Occurrences occ;
  EXPECT_EQ(number_identifier(occ, "X"), "x");
  const std::size_t mark = occ.checkpoint();
  EXPECT_EQ(number_identifier(occ, "X"), "x_2");
  EXPECT_EQ(number_identifier(occ, "Y"), "y");
  occ.rollback(mark);
  // The next case numbers from the state before the first.
  EXPECT_EQ(occ.count_of("x"), 1u);
  EXPECT_EQ(occ.count_of("y"), 0u);
  EXPECT_EQ(number_identifier(occ, "X"), "x_2");
}

TEST(Identifiers, NumberingPerSnakeName) {
  struct Case {
    std::string_view what;
    std::vector<std::string_view> names;
    std::vector<std::string_view> want;
  };
  const Case cases[] = {
      {"repeats", {"Count", "Count", "Count"}, {"count", "count_2", "count_3"}},
      {"same snake from different spellings",
       {"ObjectId", "objectId", "object_id"},
       {"object_id", "object_id_2", "object_id_3"}},
      {"independent names", {"A", "B", "A", "B"}, {"a", "b", "a_2", "b_2"}},
      {"keyword escaped after numbering", {"type", "Type", "self"}, {"r#type", "type_2", "self_v"}},
      {"numbered key can collide with a literal name", {"x", "x", "x_2"}, {"x", "x_2", "x_2"}},
  };
  for (const Case& c : cases) {
    Occurrences occ;
    std::vector<std::string> got;
    for (std::string_view n : c.names) got.push_back(number_identifier(occ, n));
    EXPECT_EQ(got, std::vector<std::string>(c.want.begin(), c.want.end())) << c.what;
  }
}

TEST(Identifiers, SnakeKeySharesTheMap) {
  Occurrences occ;
  EXPECT_EQ(number_identifier(occ, "SwitchData"), "switch_data");
  EXPECT_EQ(number_snake_identifier(occ, "switch_data"), "switch_data_2");
  // The key is used as given, not converted again.
  EXPECT_EQ(number_snake_identifier(occ, "Mixed"), "Mixed");
  EXPECT_EQ(number_identifier(occ, "Mixed"), "mixed");
  EXPECT_EQ(occ.count_of("switch_data"), 2u);
  EXPECT_EQ(occ.count_of("Mixed"), 1u);
}

TEST(Model, PushUnique) {
  std::vector<std::string> list;
  for (std::string_view t : {"a", "b", "a", "", "", "b", "c"}) push_unique(list, t);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b", "", "c"}));
}

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

// The parse stops at the first digit that cannot fit; a CTest timeout
// catches a parse that would not.
TEST(ParseIntLiteral, LongInputs) {
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
}

TEST(ScalarTypes, WrapAndFitAtTheEdgesOfEveryWidth) {
  const i128 i128_min = -(i128{1} << 126) * 2;
  struct Case {
    std::string_view ty;
    i128 value;
    i128 wrapped;
    bool fits;
  } cases[] = {
      {"u8", 255, 255, true},
      {"u8", 256, 0, false},
      {"u8", -1, 255, false},
      {"u16", 0x1FFFF, 0xFFFF, false},
      {"i16", 0x8000, -0x8000, false},
      {"i16", -0x8000, -0x8000, true},
      {"u32", -1, 0xFFFFFFFF, false},
      {"i32", 0x80000000, -0x80000000LL, false},
      {"u64", -1, static_cast<i128>(UINT64_MAX), false},
      {"i64", static_cast<i128>(UINT64_MAX), -1, false},
      {"i128", i128_min, i128_min, true},
      {"i128", -1, -1, true},
  };
  for (const Case& c : cases) {
    const ScalarType* ty = scalar_type(c.ty);
    ASSERT_NE(ty, nullptr) << c.ty;
    EXPECT_TRUE(wrap_to(c.value, *ty) == c.wrapped) << c.ty << " " << static_cast<long long>(c.value);
    EXPECT_EQ(fits(c.value, *ty), c.fits) << c.ty << " " << static_cast<long long>(c.value);
  }
  for (std::string_view not_scalar : {"bool", "WireBool", "String", "u128", "i8", ""}) {
    EXPECT_EQ(scalar_type(not_scalar), nullptr) << not_scalar;
  }
}

// Name sets and the registry are asked with views: a view of part of a
// longer text finds exactly the key it shows.
TEST(TextHash, ViewsFindTheKeysTheyShow) {
  const std::string text = "alphabet";
  const std::string_view alpha = std::string_view(text).substr(0, 5);
  NameKeys keys{"alpha"};
  EXPECT_EQ(keys.count(alpha), 1u);
  EXPECT_EQ(keys.count(std::string_view(text)), 0u);
  EXPECT_EQ(keys.count(alpha.substr(0, 4)), 0u);
  TypeRegistry registry;
  register_builtin_types(registry);
  registry.insert_or_assign("alpha", TypeKind::structure());
  ASSERT_NE(registry.find(alpha), nullptr);
  EXPECT_EQ(registry.find(alpha)->tag, TypeKind::Struct);
  EXPECT_EQ(registry.find(std::string_view(text)), nullptr);
  const std::string uint_text = "uint32";
  EXPECT_TRUE(resolve_field(registry, std::string_view(uint_text).substr(0, 4)));
  EXPECT_FALSE(resolve_field(registry, uint_text));
}

}  // namespace
}  // namespace qm
