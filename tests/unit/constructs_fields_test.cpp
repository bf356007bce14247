// Simple fields, vectors, tables, packables and the per-step dispatch:
// builder reasons and their order, identifier numbering, the decoder text of
// the readers, and how each construct's lines nest wherever it is written.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "constructs/constructs.hpp"
#include "schema/context.hpp"
#include "text/text.hpp"
#include "text_lines.hpp"
#include "xml/xml.hpp"

namespace qm {
namespace {

// One parsed element, kept alive for the test.
class Xml {
 public:
  explicit Xml(std::string_view text) : doc_(parse_or_abort(text)) {}
  const xml::Node& node() const { return doc_.root(); }

 private:
  static xml::Document parse_or_abort(std::string_view text) {
    Result<xml::Document> r = xml::parse(text);
    if (!r) {
      ADD_FAILURE() << "bad test XML: " << r.reason() << "\n" << text;
      std::abort();
    }
    return std::move(r).value();
  }
  xml::Document doc_;
};

const std::string kIndent12(12, ' ');
const std::string kIndent16(16, ' ');

class ConstructsTest : public ::testing::Test {
 protected:
  ConstructsTest() : ctx_("/root/protocol.xml", offsets_) {
    ctx_.registry.insert_or_assign("Foo", TypeKind::enumeration(EnumRepr::U32, false));
    ctx_.registry.insert_or_assign("Bits", TypeKind::enumeration(EnumRepr::U16, true));
    ctx_.registry.insert_or_assign("Pos", TypeKind::structure());
    body_.owner = "S2C_Test";
    // An earlier `uint Count` read into the local `count`.
    lookup_.add_field("Count", "count", FieldKind(FieldKind::U32));
  }

  Result<SimpleField> field(std::string_view text) { return build_simple_field(ctx_, Xml(text).node(), body_); }
  Result<VectorField> vector(std::string_view text) {
    return build_vector_field(ctx_, Xml(text).node(), body_, lookup_);
  }
  Result<TableField> table(std::string_view text) { return build_table_field(ctx_, Xml(text).node(), body_, lookup_); }
  Result<PackableField> packable(std::string_view text) {
    Xml x(text);
    const auto kind = packable_kind_for_field(x.node());
    if (!kind) {
      ADD_FAILURE() << "not a packable: " << text;
      return fail("not a packable");
    }
    return build_packable_field(ctx_, x.node(), *kind, body_);
  }

  std::vector<std::size_t> offsets_{0};
  CodegenCtx ctx_;
  BodyContext body_;
  SiblingLookup lookup_;
};

template <class T>
std::string reason_of(const Result<T>& r) {
  return r.ok() ? std::string("<ok>") : r.reason();
}

// Every non-empty line of `text` starts with exactly `indent` spaces.
void expect_all_lines_at(std::string_view text, std::size_t indent) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string_view::npos) << "unterminated last line";
    const std::string_view line = text.substr(start, end - start);
    if (!line.empty()) {
      EXPECT_EQ(line.find_first_not_of(' '), indent) << "line: " << line;
    }
    start = end + 1;
  }
}

// ---- Classification of body children -------------------------------------------------

TEST(ConstructsClassifyTest, PackableKindComesFromTheExactTypeName) {
  struct Case {
    const char* xml;
    std::optional<PackableKind> kind;
  };
  const Case cases[] = {
      {R"(<field type="PackableList"/>)", PackableKind::PackableList},
      {R"(<field type="PackableHashTable"/>)", PackableKind::PackableHashTable},
      {R"(<field type="PHashTable"/>)", PackableKind::PHashTable},
      {R"(<field type="packablelist"/>)", std::nullopt},
      {R"(<field name="X"/>)", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(packable_kind_for_field(Xml(c.xml).node()), c.kind) << c.xml;
  }
}

TEST(ConstructsClassifyTest, AlignWidthByTypeName) {
  struct Case {
    const char* xml;
    std::optional<std::size_t> width;
  };
  const Case cases[] = {
      {R"(<align type="byte"/>)", 1},     {R"(<align type="bool"/>)", 1},
      {R"(<align type="short"/>)", 2},    {R"(<align type="ushort"/>)", 2},
      {R"(<align type="int"/>)", 4},      {R"(<align type="uint"/>)", 4},
      {R"(<align type="float"/>)", 4},    {R"(<align type="long"/>)", 8},
      {R"(<align type="ulong"/>)", 8},    {R"(<align type="double"/>)", 8},
      {R"(<align type="WString"/>)", {}}, {R"(<align type="DWORD"/>)", {}},
      {R"(<align type="Int"/>)", {}},     {R"(<align/>)", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(align_byte_width_from_node(Xml(c.xml).node()), c.width) << c.xml;
  }
}

// ---- Simple fields ----------------------------------------------------------------------

TEST_F(ConstructsTest, SimpleFieldReasonsInOrder) {
  struct Case {
    const char* xml;
    const char* reason;
  };
  const Case cases[] = {
      {R"(<field/>)", "<field> missing name"},
      {R"(<field type="uint"/>)", "<field> missing name"},
      {R"(<field name="A"/>)", "<field A> missing type"},
      {R"(<field name="A"><note/></field>)", "<field A> missing type"},
      {R"(<field name="A" type="Nope"/>)", R"(field A: type "Nope" not in foundation tier)"},
      {R"(<field name="A" type="a&quot;b\"/>)", R"(field A: type "a\"b\\" not in foundation tier)"},
      {R"(<field name="A" type="float"><note/></field>)",
       "field A: nested element <note> (only <subfield> supported); deferred"},
      {R"(<field name="A" type="uint"><subfield name="B" type="byte" value="A"/><note/></field>)",
       "field A: nested element <note> (only <subfield> supported); deferred"},
      {R"(<field name="A" type="float"><subfield name="B" type="byte" value="A"/></field>)",
       R"(field A: <subfield> requires numeric parent, parent "float" is non-numeric; deferred)"},
      {R"(<field name="A" type="bool"><subfield name="B" type="byte" value="A"/></field>)",
       R"(field A: <subfield> requires numeric parent, parent "bool" is non-numeric; deferred)"},
      {R"(<field name="A" type="Foo"><subfield name="B" type="byte" value="A"/></field>)",
       R"(field A: <subfield> requires numeric parent, parent "Foo" is non-numeric; deferred)"},
      {R"(<field name="A" type="uint"><subfield type="Nope"/></field>)", "<subfield> in S2C_Test.A missing name"},
      {R"(<field name="A" type="uint"><subfield name="B" value="A"/></field>)", "<subfield B> missing type"},
      {R"(<field name="A" type="uint"><subfield name="B" type="Nope"/></field>)",
       "<subfield B> missing value expression"},
      {R"(<field name="A" type="uint"><subfield name="B" type="Nope" value="A"/></field>)",
       R"(subfield B: type "Nope" not in foundation tier)"},
      {R"(<field name="A" type="uint"><subfield name="B" type="bool" value="A"/></field>)",
       R"(subfield B: result type "WireBool" is non-numeric; deferred)"},
      {R"(<field name="A" type="uint"><subfield name="B" type="float" value="A"/></field>)",
       R"(subfield B: result type "f32" is non-numeric; deferred)"},
      {R"(<field name="A" type="uint"><subfield name="B" type="Foo" value="A"/></field>)",
       R"(subfield B: result type "Foo" is non-numeric; deferred)"},
      {R"(<field name="A" type="uint"><subfield name="B" type="byte" value="A"/><subfield name="C"/></field>)",
       "<subfield C> missing type"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reason_of(field(c.xml)), c.reason) << c.xml;
  }
}

TEST_F(ConstructsTest, UntranslatableSubfieldCarriesTheTranslatorReason) {
  const Result<SimpleField> r =
      field(R"(<field name="A" type="uint"><subfield name="B" type="byte" value="Other &amp; 1"/></field>)");
  ASSERT_FALSE(r.ok());
  const std::string head = R"(subfield B: cannot translate expression "Other & 1": )";
  EXPECT_EQ(r.reason().substr(0, head.size()), head) << r.reason();
  EXPECT_GT(r.reason().size(), head.size() + std::string_view("; deferred").size()) << "translator reason is empty";
  EXPECT_TRUE(r.reason().ends_with("; deferred")) << r.reason();
}

TEST_F(ConstructsTest, SimpleFieldTypeResolution) {
  struct Case {
    const char* owner;
    const char* xml;
    const char* ident;
    const char* rust_ty;
    FieldKind kind;
  };
  const Case cases[] = {
      {"S2C_Test", R"(<field name="ObjectId" type="ObjectId"/>)", "object_id", "u32", FieldKind::U32},
      {"S2C_Test", R"(<field name="Flag" type="bool"/>)", "flag", "WireBool", FieldKind::Bool},
      {"S2C_Test", R"(<field name="Did" type="DataId"/>)", "did", "u32", FieldKind::PackedDword},
      {"S2C_Test", R"(<field name="Name" type="WString"/>)", "name", "String", FieldKind::WString},
      {"S2C_Test", R"(<field name="Kind" type="Foo"/>)", "kind", "Foo",
       FieldKind::enumeration("Foo", false, EnumRepr::U32)},
      {"S2C_Test", R"(<field name="Mask" type="Bits"/>)", "mask", "u16", FieldKind::U16},
      {"S2C_Test", R"(<field name="Spot" type="Pos"/>)", "spot", "Pos", FieldKind::structure("Pos")},
      {"S2C_Test", R"(<field name="Type" type="uint"/>)", "r#type", "u32", FieldKind::U32},
      // The float quality updates carry their value as a double.
      {"S2C_Qualities_UpdateFloat", R"(<field name="Value" type="float"/>)", "value", "f64", FieldKind::F64},
      {"S2C_Qualities_PrivateUpdateFloat", R"(<field name="Value" type="float"/>)", "value", "f64", FieldKind::F64},
      {"S2C_Qualities_UpdateInt", R"(<field name="Value" type="float"/>)", "value", "f32", FieldKind::F32},
      {"Qualities_UpdateFloat", R"(<field name="Value" type="float"/>)", "value", "f32", FieldKind::F32},
      {"S2C_Qualities_UpdateFloat", R"(<field name="value" type="float"/>)", "value", "f32", FieldKind::F32},
      {"S2C_Qualities_UpdateFloat", R"(<field name="Value" type="uint"/>)", "value", "u32", FieldKind::U32},
  };
  for (const Case& c : cases) {
    BodyContext body;
    body.owner = c.owner;
    const Result<SimpleField> r = build_simple_field(ctx_, Xml(c.xml).node(), body);
    ASSERT_TRUE(r.ok()) << c.xml << ": " << r.reason();
    EXPECT_EQ(r->ident, c.ident) << c.xml;
    EXPECT_EQ(r->rust_ty, c.rust_ty) << c.xml;
    EXPECT_EQ(r->kind, c.kind) << c.owner << " " << c.xml;
    EXPECT_FALSE(r->text.has_value());
  }
}

TEST_F(ConstructsTest, DoubledValueIsRegisteredAsADouble) {
  body_.owner = "S2C_Qualities_UpdateFloat";
  const Result<SimpleField> r = field(R"(<field name="Value" type="float"/>)");
  ASSERT_TRUE(r.ok()) << r.reason();
  SiblingLookup lookup;
  register_field(lookup, *r);
  ASSERT_EQ(lookup.numeric_fields.count("Value"), 1u);
  EXPECT_EQ(lookup.numeric_fields.at("Value").ty, "f64");
}

TEST_F(ConstructsTest, SubfieldAccessorsAreBuiltInOrder) {
  const Result<SimpleField> r = field(
      R"(<field name="Flags" type="uint" text="word"><subfield name="HighByte" type="byte" value="(Flags &gt;&gt; 8) &amp; 0xFF" text="hi"/><subfield name="Type" type="DataId" value="Flags"/></field>)");
  ASSERT_TRUE(r.ok()) << r.reason();
  EXPECT_EQ(r->ident, "flags");
  EXPECT_EQ(r->xml_name, "Flags");
  EXPECT_EQ(r->text, std::optional<std::string>("word"));
  ASSERT_EQ(r->subfields.size(), 2u);

  const SubfieldAccessor& hi = r->subfields[0];
  EXPECT_EQ(hi.ident, "high_byte");
  EXPECT_EQ(hi.xml_name, "HighByte");
  EXPECT_EQ(hi.rust_ty, "u8");
  EXPECT_EQ(hi.rust_expr, "((((self.flags >> (8 as u32))) & (0xFF as u32))) as u8");
  EXPECT_EQ(hi.value_expr, "(Flags >> 8) & 0xFF");
  EXPECT_EQ(hi.text, std::optional<std::string>("hi"));

  // A packed type declares as u32 and is accepted; accessor names are escaped, never numbered.
  const SubfieldAccessor& ty = r->subfields[1];
  EXPECT_EQ(ty.ident, "r#type");
  EXPECT_EQ(ty.rust_ty, "u32");
  EXPECT_FALSE(ty.text.has_value());
}

// ---- Identifier numbering -------------------------------------------------------------------

TEST_F(ConstructsTest, NumberingAcrossBuilders) {
  enum class B { Field, Vector, Table, Packable };
  struct Step {
    B builder;
    const char* xml;
    const char* ident;  // nullptr: the builder fails
  };
  const Step steps[] = {
      {B::Field, R"(<field name="Items" type="uint"/>)", "items"},
      // Vector, table and packable failures leave the count alone...
      {B::Vector, R"(<vector name="Items" type="Nope" length="Count"/>)", nullptr},
      {B::Vector, R"(<vector name="Items" type="uint" length="Count" skip="x"/>)", nullptr},
      {B::Table, R"(<table name="Items" key="uint" value="uint" length="Missing"/>)", nullptr},
      {B::Packable, R"(<field name="Items" type="PackableList" genericType="Nope"/>)", nullptr},
      {B::Vector, R"(<vector name="Items" type="uint" length="Count"/>)", "items_2"},
      // ...while a simple field is numbered before its type is looked up.
      {B::Field, R"(<field name="Items" type="Nope"/>)", nullptr},
      {B::Table, R"(<table name="Items" key="uint" value="uint" length="Count"/>)", "items_4"},
      {B::Packable, R"(<field name="Items" type="PHashTable" genericKey="uint" genericValue="uint"/>)", "items_5"},
      {B::Field, R"(<field name="items" type="uint"/>)", "items_6"},
      // A numbered identifier is not itself counted.
      {B::Field, R"(<field name="Items_2" type="uint"/>)", "items_2"},
      {B::Field, R"(<field name="Type" type="uint"/>)", "r#type"},
      {B::Field, R"(<field name="Type" type="uint"/>)", "type_2"},
  };
  for (const Step& s : steps) {
    std::optional<std::string> ident;
    std::string reason;
    switch (s.builder) {
      case B::Field: {
        auto r = field(s.xml);
        if (r) ident = r->ident;
        break;
      }
      case B::Vector: {
        auto r = vector(s.xml);
        if (r) ident = r->ident;
        break;
      }
      case B::Table: {
        auto r = table(s.xml);
        if (r) ident = r->ident;
        break;
      }
      case B::Packable: {
        auto r = packable(s.xml);
        if (r) ident = r->ident;
        break;
      }
    }
    if (s.ident == nullptr) {
      EXPECT_FALSE(ident.has_value()) << s.xml;
    } else {
      EXPECT_EQ(ident, std::optional<std::string>(s.ident)) << s.xml;
    }
  }
}

// ---- Field readers --------------------------------------------------------------------------

TEST(ConstructsReadFieldTest, EveryKindAtBaseIndent) {
  struct Case {
    FieldKind kind;
    const char* expected;
  };
  const Case cases[] = {
      {FieldKind::U8, R"(        if *offset + 1 > data.len() { return Err("truncated u8 field v"); }
        let v: u8 = data[*offset]; *offset += 1;
)"},
      {FieldKind::U16, R"(        if *offset + 2 > data.len() { return Err("truncated u16 field v"); }
        let v: u16 = u16::from_le_bytes([data[*offset], data[*offset+1]]); *offset += 2;
)"},
      {FieldKind::U64, R"(        if *offset + 8 > data.len() { return Err("truncated u64 field v"); }
        let v: u64 = u64::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3], data[*offset+4], data[*offset+5], data[*offset+6], data[*offset+7]]); *offset += 8;
)"},
      {FieldKind::Bool, R"(        if *offset + 4 > data.len() { return Err("truncated wire-bool field v"); }
        let v: WireBool = u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]]) != 0; *offset += 4;
)"},
      {FieldKind::String, R"(        let v: String = read_string16_le(data, offset)?;
)"},
      {FieldKind::PackedDword, R"(        let v: u32 = read_packed_dword(data, offset)?;
)"},
      {FieldKind::structure("Pos"), R"(        let v: Pos = Pos::read_from(data, offset)?;
)"},
      {FieldKind::enumeration("Foo", false, EnumRepr::U32), R"(        let v_raw = Foo::read_from(data, offset)?;
        let v_bits: u32 = match v_raw { Ok(v) => v as u32, Err(raw) => raw };
        let v: Foo = match v_raw { Ok(v) => v, Err(_) => return Err("unknown Foo discriminant") };
)"},
  };
  for (const Case& c : cases) {
    std::string out = "//\n";
    emit_read_value(Printer(out, kStatementIndent), "v", c.kind);
    EXPECT_EQ(out, std::string("//\n") + c.expected) << "kind " << static_cast<int>(c.kind.tag);
  }
}

TEST(ConstructsReadFieldTest, IndentedFormPutsEveryLineAtTheIndent) {
  std::string out;
  emit_read_value(Printer(out, kIndent16.size(), true), "__elem", FieldKind::U16);
  EXPECT_EQ(out, R"(                if *offset + 2 > data.len() { return Err("truncated u16 field __elem"); }
                let __elem: u16 = u16::from_le_bytes([data[*offset], data[*offset+1]]); *offset += 2;
)");

  out.clear();
  emit_read_value(Printer(out, 1, true), "x", FieldKind::enumeration("Foo", false, EnumRepr::U8));
  EXPECT_EQ(out,
            " let x_raw = Foo::read_from(data, offset)?;\n"
            " let x_bits: u8 = match x_raw { Ok(v) => v as u8, Err(raw) => raw };\n"
            " let x: Foo = match x_raw { Ok(v) => v, Err(_) => return Err(\"unknown Foo discriminant\") };\n");

  out.clear();
  emit_read_value(Printer(out, 0, true), "s", FieldKind::String);
  EXPECT_EQ(out, "let s: String = read_string16_le(data, offset)?;\n");
}

TEST(ConstructsReadFieldTest, AlignPad) {
  std::string out;
  emit_decoder(Printer(out, kStatementIndent), AlignStep{4}, kBodyPlace);
  EXPECT_EQ(out, R"(        // <align type="4"> — advance cursor to next multiple of 4.
        {
            let pad = (4 - (*offset % 4)) % 4;
            if *offset + pad > data.len() { return Err("truncated align(4) pad"); }
            *offset += pad;
        }
)");

  // The indented form flattens the block's inner nesting.
  out.clear();
  emit_decoder(Printer(out, kIndent12.size()), AlignStep{8}, kBodyPlace.case_inside());
  EXPECT_EQ(out, R"(            // <align type="8"> — advance cursor to next multiple of 8.
            {
            let pad = (8 - (*offset % 8)) % 8;
            if *offset + pad > data.len() { return Err("truncated align(8) pad"); }
            *offset += pad;
            }
)");
}

// ---- Vectors ----------------------------------------------------------------------------------

TEST_F(ConstructsTest, VectorReasonsInOrder) {
  ctx_.registry.insert_or_assign("T", TypeKind::primitive("u32"));
  struct Case {
    const char* xml;
    const char* reason;
  };
  const Case cases[] = {
      {R"(<vector type="Nope"/>)", "<vector> missing name"},
      {R"(<vector name="V" length="Count"/>)", "<vector V> missing type"},
      {R"(<vector name="V" type="uint" skip="1"/>)",
       "<vector V> missing length= attribute (only foundation shape supported)"},
      // A registered T is still the templated marker.
      {R"(<vector name="V" type="T" length="Count"/>)",
       R"(<vector V>: element type "T" is a templated marker (parent uses templated=); deferred to J3.E)"},
      {R"(<vector name="V" type="U" length="Missing" skip="x"/>)",
       R"(<vector V>: element type "U" is a templated marker (parent uses templated=); deferred to J3.E)"},
      {R"(<vector name="V" type="Nope" length="Missing"/>)",
       R"(<vector V>: element type "Nope" not in foundation tier (likely SKIPPED by its own deferred feature))"},
      {R"(<vector name="V" type="uint" length="Missing" skip="x"/>)",
       R"(<vector V>: cannot translate length="Missing": identifier "Missing" is not a sibling field nor a sibling's subfield)"},
      {R"(<vector name="V" type="uint" length="Count" skip="two"/>)",
       R"(<vector V>: skip="two" is not a parseable integer literal)"},
      {R"(<vector name="V" type="uint" length="Count" skip=""/>)",
       R"(<vector V>: skip="" is not a parseable integer literal)"},
      // A negative or oversized skip would give a literal that does not compile.
      {R"(<vector name="V" type="uint" length="Count" skip="-1"/>)", R"(<vector V>: skip="-1" is negative)"},
      {R"(<vector name="V" type="uint" length="Count" skip="0x10000000000000000"/>)",
       R"(<vector V>: skip="0x10000000000000000" is too large)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reason_of(vector(c.xml)), c.reason) << c.xml;
  }
  EXPECT_TRUE(body_.occurrences.empty()) << "failed vectors must not be numbered";
}

TEST_F(ConstructsTest, VectorCountExpression) {
  struct Case {
    const char* skip;  // nullptr: no attribute
    const char* count;
  };
  const Case cases[] = {
      {nullptr, "(count) as usize"},
      {"1", "((count) as usize).saturating_sub(1usize)"},
      {"0x10", "((count) as usize).saturating_sub(16usize)"},
      {"0", "((count) as usize).saturating_sub(0usize)"},
      {"-0", "((count) as usize).saturating_sub(0usize)"},
      {"0xFFFFFFFFFFFFFFFF", "((count) as usize).saturating_sub(18446744073709551615usize)"},
  };
  for (const Case& c : cases) {
    std::string xml = R"(<vector name="V" type="uint" length="Count")";
    if (c.skip) xml += std::string(" skip=\"") + c.skip + "\"";
    xml += "/>";
    const Result<VectorField> r = vector(xml);
    ASSERT_TRUE(r.ok()) << xml << ": " << r.reason();
    EXPECT_EQ(r->count_expr, c.count) << xml;
    EXPECT_EQ(r->length_expr, "Count");
  }
}

TEST_F(ConstructsTest, VectorWorkedExample) {
  const Result<VectorField> r = vector(R"(<vector name="Items" type="uint" length="Count"/>)");
  ASSERT_TRUE(r.ok()) << r.reason();
  EXPECT_EQ(r->elem_kind, FieldKind(FieldKind::U32));
  std::string out;
  emit_decoder(Printer(out, kStatementIndent), *r, kBodyPlace);
  EXPECT_EQ(out, R"(        // <vector name="items" length="Count" type="u32">
        let items_count: usize = (count) as usize;
        let mut items: Vec<u32> = Vec::with_capacity(items_count.min(1024));
        for _ in 0..items_count {
            let __elem: u32 = {
                if *offset + 4 > data.len() { return Err("truncated u32 field __elem"); }
                let __elem: u32 = u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]]); *offset += 4;
                __elem
            };
            items.push(__elem);
        }
)");
}

TEST(ConstructsVectorEmitTest, EnumElementsEscapedLengthAndFlattening) {
  const VectorField vec{"vals_2", "Foo", FieldKind::enumeration("Foo", false, EnumRepr::U16), "n", "a<b>", {}, {{"n"}}};
  std::string out;
  emit_decoder(Printer(out, kStatementIndent), vec, kBodyPlace);
  EXPECT_TRUE(
      out.starts_with("        // <vector name=\"vals_2\" length=\"a&lt;b&gt;\" type=\"Foo\">\n"
                      "        let vals_2_count: usize = n;\n"))
      << out;
  EXPECT_NE(out.find("\n                let __elem_bits: u16 = match __elem_raw "), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with("\n                __elem\n            };\n            vals_2.push(__elem);\n        }\n"))
      << out;

  // Re-indented: the same lines, all at one indent.
  std::string flat;
  emit_decoder(Printer(flat, kIndent12.size()), vec, kBodyPlace.case_inside());
  EXPECT_EQ(flat, lines::flattened(out, 12));
}

// ---- Tables -----------------------------------------------------------------------------------

TEST_F(ConstructsTest, TableReasonsInOrder) {
  struct Case {
    const char* xml;
    const char* reason;
  };
  const Case cases[] = {
      {R"(<table key="uint"/>)", "<table> missing name"},
      {R"(<table name="M"/>)", "<table M> missing key= attribute"},
      {R"(<table name="M" key="uint" length="Count"/>)", "<table M> missing value= attribute"},
      {R"(<table name="M" key="uint" value="uint"/>)", "<table M> missing length= attribute"},
      {R"(<table name="M" key="T" value="Nope" length="Count"/>)",
       R"(<table M>: key="T"/value="Nope" uses templated marker; deferred to J3.E)"},
      {R"(<table name="M" key="uint" value="U" length="Missing"/>)",
       R"(<table M>: key="uint"/value="U" uses templated marker; deferred to J3.E)"},
      {R"(<table name="M" key="Nope" value="Nada" length="Count"/>)",
       R"(<table M>: key type "Nope" not in foundation tier)"},
      {R"(<table name="M" key="uint" value="Nada" length="Missing"/>)",
       R"(<table M>: value type "Nada" not in foundation tier)"},
      {R"(<table name="M" key="uint" value="uint" length="Count * 2"/>)",
       R"(<table M>: cannot translate length="Count * 2": expected `+` or `-`, got BinOp('*'))"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reason_of(table(c.xml)), c.reason) << c.xml;
  }
  EXPECT_TRUE(body_.occurrences.empty()) << "failed tables must not be numbered";
}

TEST_F(ConstructsTest, TableWorkedExample) {
  const Result<TableField> r = table(R"(<table name="Props" key="uint" value="float" length="Count" text="doc"/>)");
  ASSERT_TRUE(r.ok()) << r.reason();
  EXPECT_EQ(r->text, std::optional<std::string>("doc"));
  std::string out;
  emit_decoder(Printer(out, 8), *r, kBodyPlace);
  EXPECT_EQ(out, R"(        // <table name="props" length="Count" key="u32" value="f32">
        let props_count: usize = (count) as usize;
        let mut props: std::collections::BTreeMap<u32, f32> = std::collections::BTreeMap::new();
        for _ in 0..props_count {
            if *offset + 4 > data.len() { return Err("truncated u32 field __k"); }
            let __k: u32 = u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]]); *offset += 4;
            if *offset + 4 > data.len() { return Err("truncated f32 field __v"); }
            let __v: f32 = f32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]]); *offset += 4;
            props.insert(__k, __v);
        }
)");
}

TEST(ConstructsTableEmitTest, IndentHandling) {
  const TableField t{"m", "u32", FieldKind::U32, "Pos", FieldKind::structure("Pos"), "c", "Count", {}, {{"c"}}};
  // The indent of the direct form applies to the whole block, keeping its nesting.
  std::string out;
  emit_decoder(Printer(out, kIndent12.size()), t, kBodyPlace);
  EXPECT_EQ(out, R"(            // <table name="m" length="Count" key="u32" value="Pos">
            let m_count: usize = c;
            let mut m: std::collections::BTreeMap<u32, Pos> = std::collections::BTreeMap::new();
            for _ in 0..m_count {
                if *offset + 4 > data.len() { return Err("truncated u32 field __k"); }
                let __k: u32 = u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]]); *offset += 4;
                let __v: Pos = Pos::read_from(data, offset)?;
                m.insert(__k, __v);
            }
)");
  // The indented form flattens it.
  std::string flat;
  emit_decoder(Printer(flat, kIndent12.size()), t, kBodyPlace.case_inside());
  expect_all_lines_at(flat, 12);
  EXPECT_NE(flat.find("\n            let __v: Pos = Pos::read_from(data, offset)?;\n"), std::string::npos);
  EXPECT_NE(flat.find("\n            m.insert(__k, __v);\n            }\n"), std::string::npos);
}

// ---- Packables --------------------------------------------------------------------------------

TEST_F(ConstructsTest, PackableReasonsInOrder) {
  struct Case {
    const char* xml;
    const char* reason;
  };
  const Case cases[] = {
      {R"(<field type="PHashTable"/>)", R"(<field type="PHashTable"> missing name= attribute)"},
      {R"(<field name="L" type="PackableList" genericKey="uint"/>)",
       R"(<field L type="PackableList"> missing genericType= attribute)"},
      {R"(<field name="L" type="PackableList" genericType="T"/>)",
       R"(<field L type="PackableList" genericType="T">: templated marker not allowed in a use-site (nested templated types are not supported))"},
      {R"(<field name="L" type="PackableList" genericType="U"/>)",
       R"(<field L type="PackableList" genericType="U">: element type not in foundation tier)"},
      {R"(<field name="L" type="PackableList" genericType="Nope"/>)",
       R"(<field L type="PackableList" genericType="Nope">: element type not in foundation tier)"},
      {R"(<field name="H" type="PackableHashTable"/>)",
       R"(<field H type="PackableHashTable"> missing genericKey= attribute)"},
      {R"(<field name="H" type="PHashTable" genericKey="uint" genericType="uint"/>)",
       R"(<field H type="PHashTable"> missing genericValue= attribute)"},
      {R"(<field name="H" type="PHashTable" genericKey="Nope" genericValue="T"/>)",
       R"(<field H type="PHashTable" genericKey="Nope" genericValue="T">: templated marker not allowed in a use-site)"},
      {R"(<field name="H" type="PackableHashTable" genericKey="U" genericValue="uint"/>)",
       R"(<field H type="PackableHashTable" genericKey="U" genericValue="uint">: templated marker not allowed in a use-site)"},
      {R"(<field name="H" type="PackableHashTable" genericKey="Nope" genericValue="Nada"/>)",
       R"(<field H type="PackableHashTable" genericKey="Nope">: key type not in foundation tier)"},
      {R"(<field name="H" type="PHashTable" genericKey="uint" genericValue="Nada"/>)",
       R"(<field H type="PHashTable" genericValue="Nada">: value type not in foundation tier)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reason_of(packable(c.xml)), c.reason) << c.xml;
  }
  EXPECT_TRUE(body_.occurrences.empty()) << "failed packables must not be numbered";
}

TEST_F(ConstructsTest, PackableModels) {
  struct Case {
    const char* xml;
    PackableKind kind;
    const char* key_ty;
    FieldKind key_kind;
    const char* value_ty;
    FieldKind value_kind;
    const char* rust_ty;
  };
  const Case cases[] = {
      {R"(<field name="A" type="PackableList" genericType="Pos" genericKey="Nope"/>)", PackableKind::PackableList, "()",
       FieldKind::U8, "Pos", FieldKind::structure("Pos"), "Vec<Pos>"},
      {R"(<field name="B" type="PackableHashTable" genericKey="ushort" genericValue="WString"/>)",
       PackableKind::PackableHashTable, "u16", FieldKind::U16, "String", FieldKind::WString, "Vec<(u16, String)>"},
      {R"(<field name="C" type="PHashTable" genericKey="Foo" genericValue="bool"/>)", PackableKind::PHashTable, "Foo",
       FieldKind::enumeration("Foo", false, EnumRepr::U32), "WireBool", FieldKind::Bool, "Vec<(Foo, WireBool)>"},
  };
  for (const Case& c : cases) {
    const Result<PackableField> r = packable(c.xml);
    ASSERT_TRUE(r.ok()) << c.xml << ": " << r.reason();
    EXPECT_EQ(r->kind, c.kind) << c.xml;
    EXPECT_EQ(r->key_rust_ty, c.key_ty) << c.xml;
    EXPECT_EQ(r->key_kind, c.key_kind) << c.xml;
    EXPECT_EQ(r->value_rust_ty, c.value_ty) << c.xml;
    EXPECT_EQ(r->value_kind, c.value_kind) << c.xml;
    EXPECT_EQ(packable_rust_ty(*r), c.rust_ty) << c.xml;
  }
}

// Each packable reads its count its own way, then one loop whose body is a
// level deeper wherever the packable is written: the element, or the key and
// the value, read there and pushed.
TEST(ConstructsPackableEmitTest, CountThenOneNestedLoop) {
  struct Case {
    PackableField field;
    const char* comment;
    std::vector<std::string> before_loop;  // at the packable's indent, in order
    std::vector<std::string> in_loop;      // one level deeper, in order
  };
  const Case cases[] = {
      {{"spells", "()", FieldKind::U8, "u32", FieldKind::U32, {}, PackableKind::PackableList},
       "// inlined PackableList<u32>",
       {R"(if *offset + 4 > data.len() { return Err("truncated PackableList count for spells"); })",
        "let spells_count: usize = u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], "
        "data[*offset+3]]) as usize; *offset += 4;",
        "for _ in 0..spells_count {"},
       {"let __elem: u32 = {", "};", "spells.push(__elem);"}},
      // A u16 count and a u16 maximum size, checked as one four-byte header.
      {{"t", "u16", FieldKind::U16, "String", FieldKind::String, {}, PackableKind::PackableHashTable},
       "// inlined PackableHashTable<u16, String>",
       {R"(if *offset + 4 > data.len() { return Err("truncated PackableHashTable count for t"); })",
        "let t_count: usize = u16::from_le_bytes([data[*offset], data[*offset+1]]) as usize; *offset += 2;",
        "let _t_maxsize: u16 = u16::from_le_bytes([data[*offset], data[*offset+1]]); *offset += 2;",
        "for _ in 0..t_count {"},
       {R"(if *offset + 2 > data.len() { return Err("truncated u16 field __k"); })",
        "let __v: String = read_string16_le(data, offset)?;", "t.push((__k, __v));"}},
      // The count is the low 24 bits of a packed word.
      {{"map", "u32", FieldKind::U32, "u32", FieldKind::U32, {}, PackableKind::PHashTable},
       "// inlined PHashTable<u32, u32>",
       {R"(if *offset + 4 > data.len() { return Err("truncated PHashTable packed-size for map"); })",
        "let map_count: usize = (map_packed & 0xFFFFFF) as usize;", "for _ in 0..map_count {"},
       {R"(if *offset + 4 > data.len() { return Err("truncated u32 field __k"); })",
        R"(if *offset + 4 > data.len() { return Err("truncated u32 field __v"); })", "map.push((__k, __v));"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.comment);
    std::string at8;
    std::string at12;
    emit_decoder(Printer(at8, 8), c.field, kBodyPlace);
    emit_decoder(Printer(at12, kIndent12.size()), c.field, kBodyPlace);
    EXPECT_TRUE(at8.starts_with(std::string(8, ' ') + c.comment + "\n")) << at8;
    EXPECT_TRUE(lines::in_order(at8, 8, c.before_loop));
    EXPECT_TRUE(lines::in_order(at8, 12, c.in_loop));
    EXPECT_TRUE(at8.ends_with("\n        }\n")) << at8;
    // Written deeper, the same lines keep their nesting.
    EXPECT_EQ(at12, lines::shifted(at8, 4));
  }
}

// ---- Step dispatch --------------------------------------------------------------------------------

// Where a step's decoder lines go when the step sits in a switch case: flat
// at the case's indentation, or its own nesting shifted as a whole.
enum class InCase { Flat, Shifted };

struct StepCase {
  const char* label;
  EmitStep step;
  const char* members;
  const char* ctor;
  bool nests;  // whether the decoder at the body's place has lines deeper than its first
  InCase in_case;
};

std::vector<StepCase> step_cases() {
  const VectorField vec{"items", "u32", FieldKind::U32, "(count) as usize", "Count<2", {}, {{"count"}}};
  VectorField vec_doc = vec;
  vec_doc.text = "Item\n list";
  const TableField tab{"props", "u32", FieldKind::U32, "f32", FieldKind::F32, "c", "a>b", {}, {{"c"}}};
  TableField tab_doc = tab;
  tab_doc.text = "props";
  const PackableField list{"spells", "()", FieldKind::U8, "u32", FieldKind::U32, {}, PackableKind::PackableList};
  PackableField hash{
      "map", "u32", FieldKind::U32, "Pos", FieldKind::structure("Pos"), "a  b", PackableKind::PHashTable};
  PackableField pht = hash;
  pht.kind = PackableKind::PackableHashTable;
  pht.text.reset();

  SimpleField inner{"x", "X", "u8", FieldKind::U8, std::nullopt, {}};
  IfBlock if_block;
  if_block.test = "X == 1";
  if_block.rust_test = "x == 1";
  if_block.true_steps.push_back(EmitStep{inner});
  inner.ident = "y";
  if_block.false_steps.push_back(EmitStep{inner});

  MaskmapBlock mask;
  mask.parent_ident = "flags";
  mask.parent_bits = "(flags as u64)";
  mask.groups.push_back(MaskGroup{"0x1", {EmitStep{inner}}, 1});

  SwitchBlock sw;
  sw.type_name = "S2C_Test_KindData";
  sw.ident = "kind_data";
  sw.disc_expr = "kind";
  sw.name = "Kind";
  sw.cases.push_back(SwitchCase{"Case_1", "1", {1}, {EmitStep{inner}}, std::nullopt});

  return {
      {"field",
       {SimpleField{"count", "Count", "u32", FieldKind::U32, std::nullopt, {}}},
       "    pub count: u32,\n",
       "            count,\n",
       false,
       InCase::Flat},
      {"field with text",
       {SimpleField{"r#type", "Type", "WireBool", FieldKind::Bool, "the  kind\n", {}}},
       "    /// the kind\n    pub r#type: WireBool,\n",
       "            r#type,\n",
       false,
       InCase::Flat},
      {"align", {AlignStep{2}}, "", "", true, InCase::Flat},
      {"vector",
       {vec},
       "    /// Vector field; length from protocol.xml `length=\"Count&lt;2\"`.\n    pub items: Vec<u32>,\n",
       "            items,\n",
       true,
       InCase::Flat},
      {"vector with text",
       {vec_doc},
       "    /// Item list\n    pub items: Vec<u32>,\n",
       "            items,\n",
       true,
       InCase::Flat},
      {"table",
       {tab},
       "    /// Dictionary field; length from protocol.xml `length=\"a&gt;b\"`.\n"
       "    pub props: std::collections::BTreeMap<u32, f32>,\n",
       "            props,\n",
       true,
       InCase::Flat},
      {"table with text",
       {tab_doc},
       "    /// props\n    pub props: std::collections::BTreeMap<u32, f32>,\n",
       "            props,\n",
       true,
       InCase::Flat},
      {"packable list",
       {list},
       "    /// Inlined templated `PackableList` (J3.E use-site).\n    pub spells: Vec<u32>,\n",
       "            spells,\n",
       true,
       InCase::Shifted},
      {"phash table with text",
       {hash},
       "    /// Inlined templated `PHashTable<u32, Pos>`. a b\n    pub map: Vec<(u32, Pos)>,\n",
       "            map,\n",
       true,
       InCase::Shifted},
      {"packable hash table",
       {pht},
       "    /// Inlined templated `PackableHashTable<u32, Pos>` (J3.E use-site).\n    pub map: Vec<(u32, Pos)>,\n",
       "            map,\n",
       true,
       InCase::Shifted},
      {"if",
       {if_block},
       "    /// Conditional fields gated by `<if test=\"X == 1\">`.\n"
       "    /// Gated on `<if>` `true` branch \u2014 present iff the test selected this branch.\n"
       "    pub x: Option<u8>,\n"
       "    /// Gated on `<if>` `false` branch \u2014 present iff the test selected this branch.\n"
       "    pub y: Option<u8>,\n",
       "            x,\n            y,\n",
       true,
       InCase::Shifted},
      {"maskmap",
       {mask},
       "    /// Gated on bit 0x00000001 (`flags`).\n    pub y: Option<u8>,\n",
       "            y,\n",
       true,
       InCase::Flat},
      {"switch",
       {sw},
       "    /// Discriminated by `kind` per protocol.xml `<switch name=\"Kind\">`.\n"
       "    pub kind_data: S2C_Test_KindData,\n",
       "            kind_data,\n",
       true,
       InCase::Shifted},
  };
}

// Members and constructor entries as written; the decoder at the body's
// place opens at the statement indent. In a switch case, deeper, a
// construct without a block of its own (and a mask map) is written flat at
// the case's indentation, while a packable's loop, an if block and a nested
// switch keep their own nesting, shifted as a whole.
TEST(ConstructsStepsTest, StepDispatch) {
  for (const StepCase& c : step_cases()) {
    SCOPED_TRACE(c.label);
    std::string members;
    std::string ctor;
    std::string top;
    std::string at16;
    emit_step_members(members, c.step);
    emit_step_ctor_entries(ctor, c.step);
    emit_step_decoder(Printer(top, kStatementIndent), c.step, kBodyPlace);
    emit_step_decoder(Printer(at16, kIndent16.size()), c.step, kBodyPlace.case_inside());
    EXPECT_EQ(members, c.members);
    EXPECT_EQ(ctor, c.ctor);

    ASSERT_FALSE(top.empty());
    const std::set<std::size_t> indents = lines::indents(top);
    EXPECT_EQ(*indents.begin(), kStatementIndent) << top;
    EXPECT_EQ(indents.size() > 1, c.nests) << top;
    const std::size_t by = kIndent16.size() - kStatementIndent;
    EXPECT_EQ(at16, c.in_case == InCase::Flat ? lines::flattened(top, kIndent16.size()) : lines::shifted(top, by));
  }
}

}  // namespace
}  // namespace qm
