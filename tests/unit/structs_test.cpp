#include "structs/structs.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "constructs/steps.hpp"
#include "driver/driver.hpp"
#include "enums/enums.hpp"
#include "schema/context.hpp"
#include "xml/xml.hpp"

namespace qm {
namespace {

// A parsed document with its own generation context. The header written by
// the context is dropped so tests see only what they generate.
class Doc {
 public:
  explicit Doc(std::string text) : text_(std::move(text)), offsets_(build_line_offsets(text_)) {
    auto parsed = xml::parse(text_);
    if (!parsed.ok()) {
      ADD_FAILURE() << parsed.reason();
      parsed = xml::parse("<root/>");
    }
    doc_ = std::move(parsed).value();
    ctx_ = std::make_unique<CodegenCtx>("/p/protocol.xml", offsets_);
    ctx_->out.clear();
  }
  const xml::Node& root() const { return doc_.root(); }
  // The first element child of the root, or of that child, and so on.
  const xml::Node& child(std::size_t i) const { return *root().children().at(i); }
  CodegenCtx& ctx() { return *ctx_; }

 private:
  std::string text_;
  std::vector<std::size_t> offsets_;
  xml::Document doc_;
  std::unique_ptr<CodegenCtx> ctx_;
};

std::array<std::size_t, 10> counters(const Stats& s) {
  return {s.enums,      s.aliases,           s.datatypes,   s.datatypes_skipped,
          s.messages,   s.messages_skipped,  s.gameactions, s.gameactions_skipped,
          s.gameevents, s.gameevents_skipped};
}

// "pub struct X" and "// SKIPPED ..." lines, in output order, shortened to
// "struct X" and "SKIPPED ...".
std::vector<std::string> outline(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("pub struct ", 0) == 0) {
      lines.push_back("struct " + line.substr(11, line.find(' ', 11) - 11));
    } else if (line.rfind("// SKIPPED ", 0) == 0) {
      lines.push_back(line.substr(3));
    }
  }
  return lines;
}

// The variant names of the steps, in the order of EmitStep's alternatives.
std::vector<std::string> kinds_of(const std::vector<EmitStep>& steps) {
  static constexpr std::array<std::string_view, 8> kNames = {"Field",  "Align", "Vector", "Maskmap",
                                                             "Switch", "Table", "If",     "Packable"};
  std::vector<std::string> kinds;
  for (const EmitStep& step : steps) kinds.emplace_back(kNames.at(step.v.index()));
  return kinds;
}

// ---- Section kinds -------------------------------------------------------------

// Each section names its structs with its own prefix, labels their SKIPPED
// lines and opcode index rows, and counts what it wrote and what it skipped
// in its own pair of the report's counters. The sections write and skip
// different numbers of structs, so that a count going to another counter, or
// to the other one of its pair, shows in the report line.
TEST(SectionKinds, PrefixLabelAndCounters) {
  struct Section {
    std::string_view open;
    std::string_view close;
    std::string_view prefix;
    std::string_view label;
    unsigned opcode_base;
    int written;
    int skipped;
  };
  const Section sections[] = {
      {"<types>", "</types>", "", "datatype", 0x0100, 1, 2},
      {"<messages><c2s>", "</c2s>", "C2S_", "messageC2S", 0x0200, 1, 2},
      {"<s2c>", "</s2c></messages>", "S2C_", "messageS2C", 0x0300, 1, 3},
      {"<gameactions>", "</gameactions>", "Action_", "gameaction", 0x0400, 2, 1},
      {"<gameevents>", "</gameevents>", "Event_", "gameevent", 0x0500, 3, 1},
  };
  std::string xml = "<protocol>";
  std::vector<std::string> want_outline;
  std::vector<std::string> want_rows;
  for (const Section& s : sections) {
    xml += s.open;
    for (int i = 1; i <= s.written; ++i) {
      const std::string name = "Kept" + std::to_string(i);
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%04X", s.opcode_base + i);
      xml += "<type name='" + name + "' type='" + hex + "'><field name='A' type='uint'/></type>";
      want_outline.push_back("struct " + std::string(s.prefix) + name);
      want_rows.push_back("    (\"" + std::string(s.label) + "\", \"" + name + "\", " + hex + "),");
    }
    for (int i = 1; i <= s.skipped; ++i) {
      const std::string name = "Dropped" + std::to_string(i);
      xml += "<type name='" + name + "' type='" + std::to_string(s.opcode_base + 0x80 + i) +
             "'><field name='A' type='Nope'/></type>";
      want_outline.push_back("SKIPPED " + std::string(s.label) + " " + std::string(s.prefix) + name +
                             ": field A: type \"Nope\" not in foundation tier \u2014 port to PR 7.2.");
    }
    xml += s.close;
  }
  xml += "</protocol>";

  const Result<Generated> generated = generate_from_text(xml, "/p/protocol.xml");
  ASSERT_TRUE(generated) << generated.reason();
  EXPECT_EQ(outline(generated->text), want_outline) << generated->text;

  const std::size_t index = generated->text.find("pub const OPCODE_INDEX");
  ASSERT_NE(index, std::string::npos) << generated->text;
  std::vector<std::string> rows;
  std::istringstream in(generated->text.substr(index));
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("    (")) rows.push_back(line);
  }
  EXPECT_EQ(rows, want_rows) << generated->text;

  EXPECT_EQ(generated->report,
            "cargo:warning=quillmarsh-protocol/build: emitted 0 enums (0 aliases), 1 datatypes (2 skipped), "
            "2 messages (5 skipped), 2 gameactions (1 skipped), 3 gameevents (1 skipped)\n");
}

// ---- collect_unsupported ----------------------------------------------------------

TEST(CollectUnsupported, OnlyDirectMaskChildrenCountOnce) {
  struct Case {
    std::string_view body;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"<type name='A'/>", {}},
      {"<type name='A'><mask/></type>", {"mask"}},
      {"<type name='A'><field name='x' type='uint'/><mask/><mask value='1'/></type>", {"mask"}},
      {"<type name='A'><maskmap name='x'><mask value='1'/></maskmap></type>", {}},
      {"<type name='A'><Mask/><masks/><switch/></type>", {}},
  };
  for (const Case& c : cases) {
    Doc doc{std::string(c.body)};
    EXPECT_EQ(collect_unsupported(doc.root()), c.want) << c.body;
  }
}

// ---- collect_emit_steps -------------------------------------------------------------

TEST(CollectEmitSteps, DispatchAndReasons) {
  struct Case {
    std::string_view body;
    std::vector<std::string> kinds;  // expected step kinds when it builds
    std::string reason;              // expected reason, or a prefix of it ending in "*"
  };
  const Case cases[] = {
      {"", {}, ""},
      {"<align type='float'/><align type='byte'/>", {"Align", "Align"}, ""},
      {"<align type='WString'/>",
       {},
       "<align> with type Some(\"WString\"): unknown alignment width \u2014 only "
       "byte/short/ushort/int/uint/long/ulong supported"},
      {"<align/>",
       {},
       "<align> with type None: unknown alignment width \u2014 only byte/short/ushort/int/uint/long/ulong supported"},
      {"<mask/>", {}, "unsupported child `<mask>`"},
      {"<field name='A' type='uint'/><bogus/><field name='B' type='Nope'/>", {}, "unsupported child `<bogus>`"},
      {"<field name='B' type='Nope'/><bogus/>", {}, "field B: type \"Nope\" not in foundation tier"},
      {"<field name='Count' type='uint'/><vector name='Items' type='ushort' length='Count'/>", {"Field", "Vector"}, ""},
      {"<field name='Map' type='PackableHashTable' genericKey='uint' genericValue='uint'/>", {"Packable"}, ""},
      // A packable field cannot be referred to by later constructs.
      {"<field name='L' type='PackableList' genericType='uint'/><vector name='V' type='uint' length='L'/>",
       {},
       "<vector V>: cannot translate length=*"},
      // Only earlier siblings are visible.
      {"<vector name='V' type='uint' length='Count'/><field name='Count' type='uint'/>",
       {},
       "<vector V>: cannot translate length=*"},
      {"<field name='N' type='uint'/><table name='P' key='uint' value='float' length='N'/>", {"Field", "Table"}, ""},
      {"<field name='K' type='uint'/><switch name='K'><case value='1'><field name='X' type='uint'/></case></switch>",
       {"Field", "Switch"},
       ""},
      // A field of an <if> branch can give a later length (read from its option).
      {"<field name='K' type='uint'/><if test='K == 1'><true><field name='X' type='uint'/></true></if>"
       "<vector name='V' type='uint' length='X'/>",
       {"Field", "If", "Vector"},
       ""},
      // Gated fields of a mask map are visible to a later mask map.
      {"<field name='F' type='uint'/>"
       "<maskmap name='F'><mask value='1'><field name='G' type='uint'/></mask></maskmap>"
       "<maskmap name='G'><mask value='2'><field name='H' type='uint'/></mask></maskmap>",
       {"Field", "Maskmap", "Maskmap"},
       ""},
      {"<field name='F' type='uint'/>"
       "<maskmap name='F'><mask value='1'><field name='G' type='uint'/></mask></maskmap>"
       "<maskmap name='Missing'><mask value='2'><field name='H' type='uint'/></mask></maskmap>",
       {},
       "<maskmap name=\"Missing\">: *"},
  };
  for (const Case& c : cases) {
    Doc doc("<type name='T'>" + std::string(c.body) + "</type>");
    const std::string out_before = doc.ctx().out;
    const std::size_t registry_before = doc.ctx().registry.size();
    const auto steps = collect_emit_steps(doc.ctx(), doc.root(), "T");
    EXPECT_EQ(doc.ctx().out, out_before) << c.body;
    EXPECT_EQ(doc.ctx().registry.size(), registry_before) << c.body;
    if (c.reason.empty()) {
      ASSERT_TRUE(steps.ok()) << c.body << ": " << steps.reason();
      EXPECT_EQ(kinds_of(*steps), c.kinds) << c.body;
    } else if (c.reason.back() == '*') {
      ASSERT_FALSE(steps.ok()) << c.body;
      const std::string prefix = c.reason.substr(0, c.reason.size() - 1);
      EXPECT_EQ(steps.reason().substr(0, prefix.size()), prefix) << c.body;
    } else {
      ASSERT_FALSE(steps.ok()) << c.body;
      EXPECT_EQ(steps.reason(), c.reason) << c.body;
    }
  }
}

TEST(CollectEmitSteps, OneOccurrenceMapAndLatestLookupEntryPerBody) {
  // Fields, vectors and tables share one numbering; a repeated XML name
  // refers to the latest field of that name.
  Doc doc(
      "<type name='T'><field name='Count' type='byte'/><field name='Count' type='uint'/>"
      "<vector name='Count' type='uint' length='Count'/></type>");
  const auto steps = collect_emit_steps(doc.ctx(), doc.root(), "T");
  ASSERT_TRUE(steps.ok()) << steps.reason();
  ASSERT_EQ(steps->size(), 3u);
  EXPECT_EQ(std::get_if<SimpleField>(&(*steps)[0].v)->ident, "count");
  EXPECT_EQ(std::get_if<SimpleField>(&(*steps)[1].v)->ident, "count_2");
  const VectorField* vec = std::get_if<VectorField>(&(*steps)[2].v);
  EXPECT_EQ(vec->ident, "count_3");
  EXPECT_NE(vec->count_expr.find("count_2"), std::string::npos) << vec->count_expr;

  // A second probe starts from empty maps and builds the same identifiers.
  const auto again = collect_emit_steps(doc.ctx(), doc.root(), "T");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(std::get_if<VectorField>(&(*again)[2].v)->ident, "count_3");
}

TEST(CollectEmitSteps, OwnerReachesTheBuilders) {
  Doc doc(
      "<type name='T'><field name='K' type='uint'/><field name='Value' type='float'/>"
      "<switch name='K'><case value='1'/></switch></type>");
  struct Case {
    std::string_view owner;
    FieldKind::Tag value_kind;
  };
  const Case cases[] = {{"S2C_Qualities_UpdateFloat", FieldKind::F64}, {"S2C_Other", FieldKind::F32}};
  for (const Case& c : cases) {
    const auto steps = collect_emit_steps(doc.ctx(), doc.root(), c.owner);
    ASSERT_TRUE(steps.ok()) << steps.reason();
    EXPECT_EQ(std::get_if<SimpleField>(&(*steps)[1].v)->kind.tag, c.value_kind) << c.owner;
    EXPECT_EQ(std::get_if<SwitchBlock>(&(*steps)[2].v)->type_name, std::string(c.owner) + "KData");
  }
}

TEST(CollectEmitSteps, NamesThatCannotBeDeclared) {
  // The module already declares the type `Taken` and the struct `TKData2`.
  struct Case {
    std::string_view owner;
    std::string body;
    std::string reason;  // empty: the body builds
  };
  const std::string k = "<field name='K' type='uint'/>";
  const Case cases[] = {
      {"a-b", "", "type name \"a-b\" is not a Rust identifier"},
      {"C2S_", "", ""},
      {"Self", "", "type name \"Self\" is not a Rust identifier"},
      {"u32", "", "type name \"u32\" is reserved by the generated code"},
      {"String", "", "type name \"String\" is reserved by the generated code"},
      {"Taken", "", "type name \"Taken\" is already declared in this file"},
      {"r#Taken", "", "type name \"r#Taken\" is already declared in this file"},
      {"Ok", "", ""},
      {"T", "<field name='1st' type='uint'/>", "member name \"1st\" is not a Rust identifier"},
      {"T", "<field name='' type='uint'/>", "member name \"\" is not a Rust identifier"},
      {"T", "<field name='_' type='uint'/>", "member name \"_\" is not a Rust identifier"},
      {"T", "<field name='A B' type='uint'/>", "member name \"a b\" is not a Rust identifier"},
      {"T", "<field name='A&#10;B' type='uint'/>", "member name \"a\\nb\" is not a Rust identifier"},
      {"T", "<field name='\u00c9t\u00e9' type='uint'/><field name='_x' type='uint'/><field name='\u0394' type='uint'/>",
       ""},
      {"T",
       "<field name='Mut' type='uint'/><field name='Try' type='uint'/><field name='Macro' type='uint'/>"
       "<field name='Unsized' type='uint'/><field name='Self' type='uint'/><field name='Crate' type='uint'/>"
       "<field name='Type' type='uint'/><field name='Union' type='uint'/>",
       ""},
      // Numbering gives x, x_2 and then x_2 again for the name written X_2.
      {"T", "<field name='X' type='uint'/><field name='X' type='uint'/><field name='X_2' type='uint'/>",
       "member name \"x_2\" is declared twice"},
      {"T", "<field name='Data' type='uint'/><field name='DataField' type='uint'/>",
       "member name \"data_field\" is declared twice"},
      {"T", "<field name='A' type='uint'/><vector name='A' type='byte' length='A'/><field name='A_2' type='uint'/>",
       "member name \"a_2\" is declared twice"},
      {"T", "<field name='Caf\u00e9' type='uint'/><field name='Cafe\u0301' type='uint'/>",
       "member name \"cafe\\u{301}\" is declared twice"},
      {"T", "<field name='r#x' type='uint'/><field name='X' type='uint'/>", "member name \"x\" is declared twice"},
      {"T",
       k + "<if test='K == 1'><true><field name='X' type='uint'/><field name='X' type='uint'/></true>"
           "<false><field name='X_2' type='uint'/></false></if>",
       "member name \"x_2\" is declared twice"},
      {"T",
       k + "<maskmap name='K'><mask value='1'><field name='G' type='uint'/></mask></maskmap>"
           "<field name='G' type='uint'/><field name='G_2' type='uint'/>",
       "member name \"g_2\" is declared twice"},
      {"T",
       "<field name='F' type='uint'><subfield name='S' type='byte' value='F'/>"
       "<subfield name='S' type='byte' value='F'/></field>",
       "accessor name \"s\" is declared twice"},
      {"T",
       "<field name='F' type='uint'><subfield name='S' type='byte' value='F'/></field>"
       "<field name='G' type='uint'><subfield name='S' type='byte' value='G'/></field>",
       "accessor name \"s\" is declared twice"},
      {"T", "<field name='F' type='uint'><subfield name='ReadFrom' type='byte' value='F'/></field>",
       "accessor name \"read_from\" is taken by the decoder"},
      {"T", "<field name='F' type='uint'><subfield name='A.B' type='byte' value='F'/></field>",
       "accessor name \"a.b\" is not a Rust identifier"},
      {"T", "<field name='F' type='uint'><subfield name='Opcode' type='byte' value='F'/></field>", ""},
      // A subfield and a member may share a name: fields and methods do not meet.
      {"T", "<field name='F' type='uint'><subfield name='F' type='byte' value='F'/></field>", ""},
      {"T", k + "<switch name='K'><case value='1'/></switch>", ""},
      {"T", k + "<switch name='K'><case value='1'/></switch><switch name='K'><case value='1'/></switch>",
       "type name \"TKData2\" is already declared in this file"},
      {"T", "<field name='K-1' type='uint'/><switch name='K-1'><case value='1'/></switch>",
       "type name \"TK-1Data\" is not a Rust identifier"},
      {"T",
       k + "<switch name='K'><case value='1'><field name='X' type='uint'/><field name='X' type='uint'/>"
           "<field name='X_2' type='uint'/></case></switch>",
       "field name \"x_2\" is declared twice in TKData::Case_1"},
      {"T",
       k + "<switch name='K'><case value='1'><field name='K' type='uint'/>"
           "<switch name='K'><case value='2'><field name='2' type='uint'/></case></switch></case></switch>",
       "field name \"2\" is not a Rust identifier in T_Case_1KData::Case_2"},
      // Each case counts its own fields, so two cases may use one name.
      {"T",
       k + "<switch name='K'><case value='1'><field name='X' type='uint'/></case>"
           "<case value='2'><field name='X' type='uint'/></case></switch>",
       ""},
  };
  for (const Case& c : cases) {
    Doc doc("<type name='T'>" + c.body + "</type>");
    doc.ctx().declared_types.insert("Taken");
    doc.ctx().declared_types.insert("TKData2");
    const auto steps = collect_emit_steps(doc.ctx(), doc.root(), c.owner);
    const std::string label = std::string(c.owner) + ": " + c.body;
    if (c.reason.empty()) {
      EXPECT_TRUE(steps.ok()) << label << ": " << steps.reason();
    } else {
      ASSERT_FALSE(steps.ok()) << label;
      EXPECT_EQ(steps.reason(), c.reason) << label;
    }
  }
}

TEST(CollectEmitSteps, DecoderLocalsMeetingEnumsAndConstants) {
  // A binding named like a variant of its own enum type is fine (the crate
  // allows rustc's lint against it: no variant is in scope there), but a
  // `let` of a constant's name would be a pattern matching it.
  const std::string enums =
      "<enums><enum name='Low' parent='byte'><value name='x' value='1'/><value name='x_v' value='2'/>"
      "<value name='__elem' value='3'/><value name='__k' value='4'/><value name='r#y_v' value='5'/></enum>"
      "<enum name='Vee' parent='byte'><value name='v' value='1'/></enum>"
      "<enum name='MaskVee' parent='byte' mask='true'><value name='v' value='1'/></enum>"
      "<enum name='foo' parent='byte'><value name='A' value='1'/><value name='bar' value='1'/></enum>"
      "<enum name='Hidden' parent='byte'><value name='r#read_from' value='1'/></enum></enums>";
  struct Case {
    std::string body;
    std::string reason;  // empty: the body builds
  };
  const std::string k = "<field name='K' type='uint'/>";
  const Case cases[] = {
      // Decoder locals named like a variant of their enum: `x`, `v` (every
      // enum read binds it), `x_v`, `__elem`, `__k`.
      {"<field name='X' type='Low'/>", ""},
      {"<field name='Z' type='Vee'/>", ""},
      {"<field name='Z' type='MaskVee'/>", ""},
      {k + "<if test='K == 1'><true><field name='X' type='Low'/></true></if>", ""},
      {k + "<if test='K == 1'><false><field name='Type' type='Low'/></false></if>", ""},
      {k + "<if test='K == 1'><false><field name='Y' type='Low'/></false></if>", ""},
      {k + "<maskmap name='K'><mask value='1'><field name='X' type='Low'/></mask></maskmap>", ""},
      {k + "<vector name='V' type='Low' length='K'/>", ""},
      {k + "<table name='T' key='Low' value='uint' length='K'/>", ""},
      {k + "<table name='T' key='uint' value='Low' length='K'/>", ""},
      {"<field name='P' type='PackableList' genericType='Low'/>", ""},
      {k + "<switch name='K'><case value='1'><field name='X' type='Low'/></case></switch>", ""},
      // An enum whose variant would hide its decoder is not written at all.
      {k + "<vector name='V' type='Hidden' length='K'/>",
       "<vector V>: element type \"Hidden\" not in foundation tier (likely SKIPPED by its own deferred feature)"},
      {"<field name='FooBar' type='uint'/>", "member name \"foo_bar\" is taken by a constant of the module"},
      {"<field name='Foo' type='uint'/><field name='Bar' type='uint'/>", ""},
      {k + "<switch name='K'><case value='1'><field name='FooBar' type='uint'/></case></switch>",
       "field name \"foo_bar\" is taken by a constant of the module in TKData::Case_1"},
  };
  for (const Case& c : cases) {
    Doc doc("<protocol>" + enums + "<type name='T'>" + c.body + "</type></protocol>");
    process_enums(doc.ctx(), doc.child(0));
    ASSERT_EQ(doc.ctx().stats.enums, 4u) << doc.ctx().out;
    ASSERT_NE(doc.ctx().out.find("// SKIPPED enum Hidden: variant name \"r#read_from\" is taken by the decoder\n"),
              std::string::npos)
        << doc.ctx().out;
    const auto steps = collect_emit_steps(doc.ctx(), doc.child(1), "T");
    if (c.reason.empty()) {
      EXPECT_TRUE(steps.ok()) << c.body << ": " << steps.reason();
    } else {
      ASSERT_FALSE(steps.ok()) << c.body;
      EXPECT_EQ(steps.reason(), c.reason) << c.body;
    }
  }
}

// ---- emit_message -------------------------------------------------------------------

TEST(EmitMessage, OpcodeOnlyWithinUnsigned32Bits) {
  struct Case {
    std::optional<std::string_view> type;
    std::optional<std::string_view> hex;  // as written in the OPCODE line
    std::uint32_t value;
  };
  const Case cases[] = {
      {"3", "0003", 3},
      {"74565", "12345", 74565},
      {"0x0", "0000", 0},
      {"4294967295", "FFFFFFFF", 0xFFFFFFFFu},
      {"4294967296", std::nullopt, 0},
      {"-1", std::nullopt, 0},
      {"Foo", std::nullopt, 0},
      {"", std::nullopt, 0},
      {std::nullopt, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    std::string xml = "<s2c><type name='M'";
    if (c.type) xml += " type='" + std::string(*c.type) + "'";
    xml += "><field name='A' type='uint'/></type></s2c>";
    Doc doc(xml);
    emit_message(doc.ctx(), doc.child(0), EmitKind::MessageS2c);
    const std::string& out = doc.ctx().out;
    const std::string label = c.type ? std::string(*c.type) : "<absent>";
    if (c.hex) {
      EXPECT_NE(out.find("    pub const OPCODE: u32 = 0x" + std::string(*c.hex) + ";\n"), std::string::npos) << label;
      EXPECT_NE(out.find("/// Opcode: `0x" + std::string(*c.hex) + "` (see `S2C_M::OPCODE`).\n"), std::string::npos);
      ASSERT_EQ(doc.ctx().opcode_rows.size(), 1u) << label;
      EXPECT_EQ(doc.ctx().opcode_rows[0].opcode, c.value);
    } else {
      EXPECT_EQ(out.find("OPCODE"), std::string::npos) << label;
      EXPECT_EQ(out.find("///\n"), std::string::npos) << label;
      EXPECT_TRUE(doc.ctx().opcode_rows.empty()) << label;
    }
    EXPECT_EQ(doc.ctx().stats.messages, 1u) << label;
  }
}

TEST(EmitMessage, SkippedFormsLeaveNothingBehind) {
  struct Case {
    EmitKind kind;
    std::string_view body;
    std::string want;
    std::size_t skipped_index;
  };
  const Case cases[] = {
      {EmitKind::GameAction, "<field name='A' type='uint'/><mask/>",
       "// SKIPPED gameaction Action_M: deferred-tier features [mask] \u2014 port to PR 7.2.\n", 7},
      // The mask pre-check comes before any construct is built.
      {EmitKind::Datatype, "<field name='A' type='Nope'/><mask/><mask/>",
       "// SKIPPED datatype M: deferred-tier features [mask] \u2014 port to PR 7.2.\n", 3},
      {EmitKind::MessageS2c, "<field name='A' type='Nope'/>",
       "// SKIPPED messageS2C S2C_M: field A: type \"Nope\" not in foundation tier \u2014 port to PR 7.2.\n", 5},
      {EmitKind::GameEvent, "<strange/>",
       "// SKIPPED gameevent Event_M: unsupported child `<strange>` \u2014 port to PR 7.2.\n", 9},
  };
  for (const Case& c : cases) {
    Doc doc("<type name='M' type='0x10'>" + std::string(c.body) + "</type>");
    emit_message(doc.ctx(), doc.root(), c.kind);
    EXPECT_EQ(doc.ctx().out, c.want);
    EXPECT_TRUE(doc.ctx().opcode_rows.empty()) << c.want;
    EXPECT_EQ(doc.ctx().registry.count("M"), 0u) << c.want;
    std::array<std::size_t, 10> want{};
    want[c.skipped_index] = 1;
    EXPECT_EQ(counters(doc.ctx().stats), want) << c.want;
  }
}

TEST(EmitMessage, NamelessElementIsIgnored) {
  Doc doc("<type type='1'><mask/></type>");
  emit_message(doc.ctx(), doc.root(), EmitKind::Datatype);
  EXPECT_EQ(doc.ctx().out, "");
  EXPECT_EQ(counters(doc.ctx().stats), (std::array<std::size_t, 10>{}));
}

TEST(EmitMessage, OnlyDataTypesRegister) {
  struct Case {
    EmitKind kind;
    bool registered;
  };
  const Case cases[] = {{EmitKind::Datatype, true},
                        {EmitKind::MessageC2s, false},
                        {EmitKind::MessageS2c, false},
                        {EmitKind::GameAction, false},
                        {EmitKind::GameEvent, false}};
  for (const Case& c : cases) {
    Doc doc("<type name='Pos'><field name='X' type='float'/></type>");
    doc.ctx().registry.insert_or_assign("Pos", TypeKind::primitive("u32"));
    emit_message(doc.ctx(), doc.root(), c.kind);
    EXPECT_EQ(doc.ctx().registry.at("Pos").tag == TypeKind::Struct, c.registered) << label(c.kind);
  }
}

TEST(EmitMessage, FieldlessBodies) {
  struct Case {
    std::string_view body;
    bool no_fields_comment;
    bool let_unused;
  };
  const Case cases[] = {
      {"", true, true},
      {"<align type='uint'/><align type='byte'/>", true, false},
      {"<field name='F' type='uint'/>"
       "<maskmap name='F'><mask value='1'><field name='G' type='uint'/></mask></maskmap>",
       false, false},
      {"<align type='uint'/><field name='F' type='PackableList' genericType='uint'/>", false, false},
  };
  for (const Case& c : cases) {
    Doc doc("<type name='M'>" + std::string(c.body) + "</type>");
    emit_message(doc.ctx(), doc.root(), EmitKind::GameEvent);
    const std::string& out = doc.ctx().out;
    EXPECT_EQ(out.find("    // No fields declared in protocol.xml for this opcode.\n") != std::string::npos,
              c.no_fields_comment)
        << c.body << "\n"
        << out;
    EXPECT_EQ(out.find("        let _ = (data, offset);\n") != std::string::npos, c.let_unused) << c.body;
    EXPECT_EQ(doc.ctx().stats.gameevents, 1u) << c.body;
  }
}

TEST(EmitMessage, AccessorsOnlyForTopLevelFields) {
  Doc doc(
      "<type name='M' text='A  message'>"
      "<field name='Flags' type='uint'>"
      "<subfield name='Low' type='byte' value='Flags &gt;&gt; 8'/>"
      "<subfield name='High' type='byte' value='Flags &amp; 0xFF' text='Top\nbyte'/>"
      "</field>"
      "<if test='Flags == 1'><true><field name='Inner' type='uint'>"
      "<subfield name='Hidden' type='byte' value='Inner'/></field></true></if>"
      "</type>");
  emit_message(doc.ctx(), doc.root(), EmitKind::Datatype);
  const std::string& out = doc.ctx().out;
  EXPECT_NE(out.find("/// `M` \u2014 generated from protocol.xml line 1.\n/// A message\n#[derive"), std::string::npos)
      << out;
  const std::size_t impl = out.find("impl M {\n");
  const std::size_t low = out.find(
      "    /// Derived from `flags` via protocol.xml `<subfield value=\"Flags &gt;&gt; 8\">`.\n"
      "    #[inline]\n    pub fn low(&self) -> u8 { ");
  const std::size_t high =
      out.find("    /// Derived from `flags`. Top byte\n    #[inline]\n    pub fn high(&self) -> u8 { ");
  const std::size_t decode = out.find("    /// Decode `M`");
  ASSERT_NE(impl, std::string::npos) << out;
  ASSERT_NE(low, std::string::npos) << out;
  ASSERT_NE(high, std::string::npos) << out;
  EXPECT_LT(impl, low);
  EXPECT_LT(low, high);
  EXPECT_LT(high, decode);
  EXPECT_EQ(out.find("fn hidden"), std::string::npos) << out;
}

// ---- Sections and fixpoint ------------------------------------------------------------

std::string datatype(std::string_view name, std::string_view field_type) {
  return "<type name='" + std::string(name) + "'><field name='F' type='" + std::string(field_type) + "'/></type>";
}

TEST(Fixpoint, DataTypeOrder) {
  struct Case {
    std::string_view what;
    std::string types;
    std::vector<std::string> want;
    std::size_t emitted;
    std::size_t skipped;
  };
  const Case cases[] = {
      {"use before declaration", datatype("A", "B") + datatype("B", "uint"), {"struct B", "struct A"}, 2, 0},
      {"declaration before use", datatype("B", "uint") + datatype("A", "B"), {"struct B", "struct A"}, 2, 0},
      {"chain of six: the leftover builds",
       datatype("A1", "A2") + datatype("A2", "A3") + datatype("A3", "A4") + datatype("A4", "A5") +
           datatype("A5", "A6") + datatype("A6", "uint"),
       {"struct A6", "struct A5", "struct A4", "struct A3", "struct A2", "struct A1"},
       6,
       0},
      {"chain of seven: leftovers in document order, no retry",
       datatype("A1", "A2") + datatype("A2", "A3") + datatype("A3", "A4") + datatype("A4", "A5") +
           datatype("A5", "A6") + datatype("A6", "A7") + datatype("A7", "uint"),
       {"struct A7", "struct A6", "struct A5", "struct A4", "struct A3",
        "SKIPPED datatype A1: field F: type \"A2\" not in foundation tier \u2014 port to PR 7.2.", "struct A2"},
       6,
       1},
      {"same name, first written", datatype("D", "uint") + datatype("D", "float"), {"struct D"}, 1, 0},
      {"same name, first fails", datatype("D", "Nope") + datatype("D", "float"), {"struct D"}, 1, 0},
      {"same name, both fail",
       datatype("D", "Nope") + datatype("D", "Gone"),
       {"SKIPPED datatype D: field F: type \"Nope\" not in foundation tier \u2014 port to PR 7.2.",
        "SKIPPED datatype D: field F: type \"Gone\" not in foundation tier \u2014 port to PR 7.2."},
       0,
       2},
      {"mask child ends with the leftovers",
       "<type name='M'><mask/></type>" + datatype("A", "uint"),
       {"struct A", "SKIPPED datatype M: deferred-tier features [mask] \u2014 port to PR 7.2."},
       1,
       1},
      {"templated types first, never candidates; childless types ignored",
       datatype("A", "uint") + "<type name='P' templated='T'><field name='x' type='T'/></type>" +
           "<type name='Q' primitive='uint'><field name='x' type='uint'/></type><type name='Alias' parent='uint'/>"
           "<type name='Lone'/><type templated='U'/>",
       {"SKIPPED datatype P: templated=\"T\" (J3.E inlines at every use-site via `<field type=\"P\" generic*=...>`; "
        "no concrete Rust struct emitted).",
        "struct A"},
       1,
       1},
  };
  for (const Case& c : cases) {
    Doc doc("<types>" + c.types + "</types>");
    process_datatypes(doc.ctx(), doc.root());
    const std::string& out = doc.ctx().out;
    EXPECT_EQ(out.rfind("// === DATATYPES ===\n\n", 0), 0u) << c.what;
    EXPECT_EQ(outline(out), c.want) << c.what << "\n" << out;
    EXPECT_EQ(doc.ctx().stats.datatypes, c.emitted) << c.what;
    EXPECT_EQ(doc.ctx().stats.datatypes_skipped, c.skipped) << c.what;
  }
}

TEST(Fixpoint, OpcodeRowsFollowEmissionOrder) {
  Doc doc(
      "<types><type name='A' type='1'><field name='F' type='B'/></type>"
      "<type name='B' type='0x2'><field name='F' type='uint'/></type></types>");
  process_datatypes(doc.ctx(), doc.root());
  ASSERT_EQ(doc.ctx().opcode_rows.size(), 2u);
  EXPECT_EQ(doc.ctx().opcode_rows[0].name, "B");
  EXPECT_EQ(doc.ctx().opcode_rows[0].label, "datatype");
  EXPECT_EQ(doc.ctx().opcode_rows[1].name, "A");
}

TEST(Fixpoint, MessageSections) {
  struct Case {
    std::string_view what;
    std::string xml;
    void (*process)(CodegenCtx&, const xml::Node&);
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"mask child written in place during the first pass",
       "<gameactions><type name='Bad' type='1'><field name='F' type='Nope'/></type>"
       "<type name='Masked'><mask/></type><type name='Good'><field name='F' type='uint'/></type>"
       "<type type='9'/><other name='X'/></gameactions>",
       process_gameactions,
       {"SKIPPED gameaction Action_Masked: deferred-tier features [mask] \u2014 port to PR 7.2.", "struct Action_Good",
        "SKIPPED gameaction Action_Bad: field F: type \"Nope\" not in foundation tier \u2014 port to PR 7.2."}},
      {"events", "<gameevents><type name='E'/><type name='E'/></gameevents>", process_gameevents, {"struct Event_E"}},
      {"direction groups in document order",
       "<messages><s2c><type name='B'/></s2c><junk/><c2s><type name='A'/></c2s><c2s><type name='C'/></c2s>"
       "</messages>",
       process_messages,
       {"struct S2C_B", "struct C2S_A", "struct C2S_C"}},
  };
  for (const Case& c : cases) {
    Doc doc(c.xml);
    c.process(doc.ctx(), doc.root());
    EXPECT_EQ(outline(doc.ctx().out), c.want) << c.what << "\n" << doc.ctx().out;
  }
}

TEST(Fixpoint, OneTypeNamePerFile) {
  // Every module-level type name is declared once: a later struct or enum of
  // a name already written is skipped, and a skipped data type is never
  // registered, so its users are skipped or use what the name meant before.
  const std::string taken = "type name \"D\" is already declared in this file \u2014 port to PR 7.2.";
  struct Case {
    std::string_view what;
    std::string xml;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"a data type in two sections",
       "<types>" + datatype("D", "uint") + "</types><types>" + datatype("D", "float") + datatype("U", "D") + "</types>",
       {"struct D", "struct U", "SKIPPED datatype D: " + taken}},
      {"a message in two sections",
       "<messages><c2s><type name='P' type='1'/></c2s><c2s><type name='P' type='2'/><type name='Q'/></c2s>"
       "</messages>",
       {"struct C2S_P", "struct C2S_Q",
        "SKIPPED messageC2S C2S_P: type name \"C2S_P\" is already declared in this file \u2014 port to PR 7.2."}},
      {"an enum and a data type",
       "<enums><enum name='D' parent='byte'><value name='A' value='1'/></enum></enums><types>" + datatype("D", "uint") +
           datatype("U", "D") + "</types>",
       {"struct U", "SKIPPED datatype D: " + taken}},
      {"a data type meeting a switch enum written before",
       "<messages><s2c><type name='A'><field name='B' type='uint'/><switch name='B'><case value='1'/></switch>"
       "</type></s2c></messages><types><type name='S2C_ABData'><field name='F' type='uint'/></type></types>",
       {"struct S2C_A",
        "SKIPPED datatype S2C_ABData: type name \"S2C_ABData\" is already declared in this file \u2014 port to PR "
        "7.2."}},
      {"a switch enum meeting a data type written before",
       "<types><type name='S2C_ABData'><field name='F' type='uint'/></type></types><messages><s2c><type name='A'>"
       "<field name='B' type='uint'/><switch name='B'><case value='1'/></switch></type></s2c></messages>",
       {"struct S2C_ABData",
        "SKIPPED messageS2C S2C_A: type name \"S2C_ABData\" is already declared in this file \u2014 port to PR "
        "7.2."}},
      {"switch enums of two structs",
       "<types><type name='A'><field name='B_C' type='uint'/><switch name='B_C'><case value='1'/></switch></type>"
       "<type name='AB'><field name='C' type='uint'/><switch name='C'><case value='1'/></switch></type></types>",
       {"struct A",
        "SKIPPED datatype AB: type name \"ABCData\" is already declared in this file \u2014 port to PR 7.2."}},
      {"a reserved name is not registered",
       "<types>" + datatype("Vec", "uint") + datatype("U", "Vec") + datatype("String", "uint") +
           datatype("W", "String") + "</types>",
       {"struct W", "SKIPPED datatype Vec: type name \"Vec\" is reserved by the generated code \u2014 port to PR 7.2.",
        "SKIPPED datatype U: field F: type \"Vec\" not in foundation tier \u2014 port to PR 7.2.",
        "SKIPPED datatype String: type name \"String\" is reserved by the generated code \u2014 port to PR 7.2."}},
  };
  for (const Case& c : cases) {
    Doc doc("<protocol>" + c.xml + "</protocol>");
    for (const xml::Node* section : doc.root().children()) {
      if (section->tag() == "enums") process_enums(doc.ctx(), *section);
      if (section->tag() == "types") process_datatypes(doc.ctx(), *section);
      if (section->tag() == "messages") process_messages(doc.ctx(), *section);
    }
    EXPECT_EQ(outline(doc.ctx().out), c.want) << c.what << "\n" << doc.ctx().out;
  }
}

TEST(Fixpoint, SkippedLinesStayOnOneLine) {
  Doc doc(
      "<types><type name='T&#10;1' templated='x&#13;y'><field name='F' type='uint'/></type>"
      "<type name='D' type='1'><field name='F&#10;G' type='uint'/></type>"
      "<type name='E\u202e'><field name='F' type='\u2066Nope&#10;'/></type></types>");
  process_datatypes(doc.ctx(), doc.root());
  EXPECT_EQ(doc.ctx().out,
            "// === DATATYPES ===\n\n"
            "// SKIPPED datatype T\\n1: templated=\"x\\ry\" (J3.E inlines at every use-site via "
            "`<field type=\"T\\n1\" generic*=...>`; no concrete Rust struct emitted).\n"
            "// SKIPPED datatype D: member name \"f\\ng\" is not a Rust identifier \u2014 port to PR 7.2.\n"
            "// SKIPPED datatype E\\u{202e}: field F: type \"\\u{2066}Nope\\n\" not in foundation tier \u2014 port to "
            "PR 7.2.\n");
}

TEST(Fixpoint, ProbeOwnerCarriesThePrefix) {
  // The float exception depends on the full struct name, so a probe with the
  // bare name would build a different struct than the one written.
  Doc doc("<s2c><type name='Qualities_UpdateFloat'><field name='Value' type='float'/></type></s2c>");
  emit_with_fixpoint(doc.ctx(), doc.root(), EmitKind::MessageS2c);
  EXPECT_NE(doc.ctx().out.find("    pub value: f64,\n"), std::string::npos) << doc.ctx().out;
}

}  // namespace
}  // namespace qm
