// If blocks, mask maps and switch blocks: builder reasons and their order,
// identifier and type naming, and what each block declares and decodes.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "constructs/constructs.hpp"
#include "expr/expr.hpp"
#include "schema/context.hpp"
#include "structs/structs.hpp"
#include "text/text.hpp"
#include "text_lines.hpp"
#include "xml/xml.hpp"

namespace qm {
namespace {

const std::vector<std::size_t> kNoLines;

// A generation context with the built-in types, an ordinary enum `Kind` (u8)
// and the enum values `Flags.A` = 1, `Flags.B` = 8.
struct Env {
  CodegenCtx ctx{"protocol.xml", kNoLines};
  Env() {
    ctx.registry["Kind"] = TypeKind::enumeration(EnumRepr::U8, false);
    ctx.enum_values["Flags"] = {{"A", 1}, {"B", 8}};
  }
};

// The steps of `<type>{body}</type>` for the struct `owner`, or the reason.
Result<std::vector<EmitStep>> build_body(const Env& env, const std::string& body,
                                         std::string_view owner = "S2C_Thing") {
  auto doc = xml::parse("<type>" + body + "</type>");
  if (!doc) return fail("xml: " + doc.reason());
  return collect_emit_steps(env.ctx, doc->root(), owner);
}

std::string reason_of(const std::string& body) {
  Env env;
  auto steps = build_body(env, body);
  return steps ? std::string("<built>") : steps.reason();
}

template <class T>
const T& last_as(const std::vector<EmitStep>& steps) {
  const T* model = std::get_if<T>(&steps.back().v);
  EXPECT_NE(model, nullptr);
  return *model;
}

struct ReasonCase {
  std::string body;
  std::string reason;
};

void expect_reasons(const std::vector<ReasonCase>& cases) {
  for (const ReasonCase& c : cases) EXPECT_EQ(reason_of(c.body), c.reason) << c.body;
}

const std::string kFields = R"(<field name="Flags" type="uint"/><field name="Count" type="ushort"/>)";

// ---- If blocks ------------------------------------------------------------------

TEST(IfBlockBuild, Reasons) {
  expect_reasons({
      {kFields + "<if><true><field name=\"X\" type=\"uint\"/></true></if>", "<if> missing test= attribute"},
      {kFields + "<if test=\"Nope\"><true/></if>",
       "<if test=\"Nope\">: cannot translate boolean expression: identifier \"Nope\" is not a sibling field"},
      // The test cannot see a field of its own branches.
      {kFields + "<if test=\"X\"><true><field name=\"X\" type=\"uint\"/></true></if>",
       "<if test=\"X\">: cannot translate boolean expression: identifier \"X\" is not a sibling field"},
      {kFields + "<if test=\"Flags\"><true><field name=\"X\" type=\"uint\"/></true><maybe/></if>",
       "<if test=\"Flags\">: unexpected child <maybe>; only <true>/<false> allowed"},
      // The first failing child decides: a bad field before an unexpected child.
      {kFields + "<if test=\"Flags\"><true><field name=\"X\" type=\"Nope\"/></true><maybe/></if>",
       "<if test=\"Flags\"> <true>: field X: type \"Nope\" not in foundation tier"},
      {kFields + "<if test=\"Flags\"><false><align type=\"WString\"/></false></if>",
       "<if test=\"Flags\"> <false>: <align> with type Some(\"WString\"): unknown alignment width"},
      {kFields + "<if test=\"Flags\"><false><align/></false></if>",
       "<if test=\"Flags\"> <false>: <align> with type None: unknown alignment width"},
      {kFields + "<if test=\"Flags\"><true><table name=\"T\"/></true></if>",
       "<if test=\"Flags\"> <true>: unsupported child <table>"},
      {kFields + "<if test=\"Flags\"><true><if test=\"Flags\"/></true></if>",
       "<if test=\"Flags\"> <true>: unsupported child <if>"},
      {kFields + "<if test=\"Flags\"><true><vector name=\"V\" type=\"uint\"/></true></if>",
       "<if test=\"Flags\"> <true>: <vector V> missing length= attribute (only foundation shape supported)"},
      {kFields + "<if test=\"Flags\"><false><field name=\"P\" type=\"PackableList\"/></false></if>",
       "<if test=\"Flags\"> <false>: <field P type=\"PackableList\"> missing genericType= attribute"},
      {kFields + "<if test=\"Flags\"><true/><false/></if>",
       "<if test=\"Flags\">: both branches empty (no <true>/<false> with fields)"},
      {kFields + "<if test=\"Flags\"/>", "<if test=\"Flags\">: both branches empty (no <true>/<false> with fields)"},
      {kFields + "<if test=\"a&#9;b\"/>",
       "<if test=\"a\\tb\">: cannot translate boolean expression: unsupported test shape: [Ident(\"a\"), "
       "Ident(\"b\")]"},
  });
}

// What the last construct of a body reads: a vector's or table's count, an if
// test, a switch discriminator (an enum's through its `_bits` local), a mask
// map's parent bits; for an if block whose last branch step is a vector, that
// vector's count.
std::string reference_in(const std::string& body) {
  Env env;
  auto steps = build_body(env, body);
  if (!steps) return steps.reason();
  const EmitStep* step = &steps->back();
  if (const auto* block = std::get_if<IfBlock>(&step->v)) {
    const auto& branch = block->false_steps.empty() ? block->true_steps : block->false_steps;
    if (branch.empty() || std::get_if<VectorField>(&branch.back().v) == nullptr) return block->rust_test;
    step = &branch.back();
  }
  if (const auto* vec = std::get_if<VectorField>(&step->v)) return vec->count_expr;
  if (const auto* table = std::get_if<TableField>(&step->v)) return table->count_expr;
  if (const auto* sw = std::get_if<SwitchBlock>(&step->v)) return sw->disc_rust;
  if (const auto* maskmap = std::get_if<MaskmapBlock>(&step->v)) return maskmap->parent_bits;
  return "<unexpected step>";
}

// A reference that the lookup resolves to a field of an <if> branch reads the
// value just decoded inside that branch, and the block's option (absent: zero,
// false, raw bits 0) anywhere else; a name that a branch field of another kind
// shares with an earlier field does not disturb the earlier field.
TEST(IfBlockBuild, BranchFieldReferences) {
  const std::string opt = kFields + R"(<if test="Flags"><true><field name="N" type="byte">)"
                                    R"(<subfield name="Lo" type="byte" value="N &amp; 0xF"/></field>)"
                                    R"(<field name="K" type="Kind"/><field name="B" type="bool"/></true></if>)";
  const std::string align = R"(<true><align type="byte"/></true></if>)";
  const std::vector<ReasonCase> cases = {
      // The same branch, the other branch, after the block.
      {kFields + R"(<if test="Flags"><true><field name="N" type="byte"/>)"
                 R"(<vector name="V" type="uint" length="N"/></true></if>)",
       "(n_v) as usize"},
      {kFields + R"(<if test="Flags"><true><field name="N" type="byte"/></true>)"
                 R"(<false><vector name="V" type="uint" length="N - 1"/></false></if>)",
       "((n.unwrap_or_default() as i32).wrapping_sub(1)) as usize"},
      {kFields + R"(<if test="Flags"><true><field name="N" type="byte"><subfield name="Lo" type="byte" )"
                 R"(value="N &amp; 0xF"/></field><vector name="V" type="uint" length="Lo"/></true></if>)",
       "(((n_v & (0xF as u8))) as u8) as usize"},
      {opt + R"(<vector name="W" type="byte" length="N"/>)", "(n.unwrap_or_default()) as usize"},
      {opt + R"(<vector name="W" type="byte" length="Lo - 1"/>)",
       "((((n.unwrap_or_default() & (0xF as u8))) as u8 as i32).wrapping_sub(1)) as usize"},
      {opt + R"(<table name="T" key="uint" value="uint" length="N"/>)", "(n.unwrap_or_default()) as usize"},
      {opt + R"(<if test="N">)" + align, "(n.unwrap_or_default() as u64) != 0"},
      {opt + R"(<if test="B">)" + align, "b.unwrap_or_default()"},
      {opt + R"(<if test="Count &lt; N">)" + align, "(count as i128) < (n.unwrap_or_default() as i128)"},
      {opt + R"(<switch name="N"><case value="1"/></switch>)", "n.unwrap_or_default()"},
      {opt + R"(<switch name="K"><case value="1"/></switch>)", "k.map_or(0u8, |v| v as u8)"},
      {opt + R"(<switch name="Lo"><case value="1"/></switch>)", "((n.unwrap_or_default() & (0xF as u8))) as u8"},
      {opt + R"(<maskmap name="K"><mask value="1"><field name="A" type="uint"/></mask></maskmap>)",
       "k.map_or(0u8, |v| v as u8) as u64"},
      {opt + R"(<maskmap name="N"><mask value="1"><field name="A" type="uint"/></mask></maskmap>)",
       "n.unwrap_or_default() as u64"},
      {opt + R"(<maskmap name="B"><mask value="1"><field name="A" type="uint"/></mask></maskmap>)",
       "b.unwrap_or_default() as u64"},
      // Fields declared before the block are read as they are.
      {opt + R"(<vector name="W" type="byte" length="Count"/>)", "(count) as usize"},
      // A branch string registers nothing: the name still means the byte.
      {R"(<field name="Total" type="byte"/><if test="Total &gt; 1"><true><field name="Total" type="String"/></true>)"
       R"(<false><vector name="Items" type="float" length="Total"/></false></if>)",
       "(total) as usize"},
      // A later field takes the name in its own maps; the others keep the branch field.
      {opt + R"(<field name="N" type="ushort"/><vector name="W" type="byte" length="N"/>)", "(n_2) as usize"},
      {opt + R"(<field name="N" type="Kind"/><vector name="W" type="byte" length="N"/>)",
       "(n.unwrap_or_default()) as usize"},
      {opt + R"(<field name="K" type="Kind"/><switch name="K"><case value="1"/></switch>)", "k_2_bits"},
      {opt + R"(<field name="N" type="ushort"/><vector name="W" type="byte" length="Lo"/>)",
       "(((n.unwrap_or_default() & (0xF as u8))) as u8) as usize"},
  };
  for (const ReasonCase& c : cases) EXPECT_EQ(reference_in(c.body), c.reason) << c.body;
}

// An if block's decoder cut at its lines at the statement indent: the option
// locals before the test, the test, the lines of each branch.
struct IfDecoder {
  std::vector<std::string> options;  // without the indent
  std::string test;
  std::string true_branch;
  std::optional<std::string> false_branch;
};

// Fails the test unless `text` is an if block's decoder at eight spaces: its
// comment, option locals, `if {test} {`, the true branch, `}`, then
// optionally `else {`, the false branch, `}`, and nothing after.
IfDecoder split_if_decoder(std::string_view text) {
  IfDecoder got;
  const std::string at8(8, ' ');
  const std::vector<std::string_view> all = lines::of(text);
  std::size_t i = 0;
  const auto line = [&] { return i < all.size() ? all[i] : std::string_view(); };
  EXPECT_TRUE(line().starts_with(at8 + "// <if test=")) << text;
  for (++i; line().starts_with(at8 + "let mut "); ++i) {
    got.options.emplace_back(line().substr(8, line().size() - 9));
  }
  const std::string_view open = line();
  const std::string if_at8 = at8 + "if ";
  if (open.starts_with(if_at8) && open.ends_with(" {\n")) {
    got.test = open.substr(if_at8.size(), open.size() - if_at8.size() - 3);
  } else {
    ADD_FAILURE() << "no `if {test} {` line after the options in:\n" << text;
  }
  const auto branch = [&] {
    std::string lines;
    for (++i; i < all.size() && all[i] != at8 + "}\n"; ++i) lines += all[i];
    EXPECT_LT(i, all.size()) << "unclosed branch in:\n" << text;
    ++i;
    return lines;
  };
  got.true_branch = branch();
  if (line() == at8 + "else {\n") got.false_branch = branch();
  EXPECT_EQ(i, all.size()) << "lines after the block in:\n" << text;
  return got;
}

// A block's members as "{branch} {declaration}", each checked to carry the
// documentation line of its branch, after the block's own line.
std::vector<std::string> if_members(std::string_view text, std::string& block_doc) {
  std::vector<std::string> got;
  const std::vector<std::string_view> all = lines::of(text);
  if (all.empty()) return got;
  block_doc = std::string(all[0].substr(4, all[0].size() - 5));
  const std::string_view branch_doc = "/// Gated on `<if>` `";
  for (std::size_t i = 1; i + 1 < all.size(); i += 2) {
    const std::string_view doc = all[i].substr(4);
    const std::string_view decl = all[i + 1].substr(4);
    EXPECT_TRUE(doc.starts_with(branch_doc)) << text;
    EXPECT_TRUE(decl.starts_with("pub ") && decl.ends_with(",\n")) << text;
    const std::string_view branch = doc.substr(branch_doc.size(), doc.find('`', branch_doc.size()) - branch_doc.size());
    got.push_back(std::string(branch) + " " + std::string(decl.substr(4, decl.size() - 6)));
  }
  EXPECT_EQ(all.size() % 2, 1u) << "a member without its documentation line in:\n" << text;
  return got;
}

// An if block of the document: the block's documentation line (its text, or
// its test), then each member as an option documented by its branch, the
// true branch's first, numbered in one count over both (a branch of only
// alignment pads declares none, and a block without members writes no line);
// the decoder declares one option local per member before the test, reads
// each branch's values into `_v` locals and stores them after the branch's
// reads; only a false branch with steps gets an `else`.
TEST(IfBlockEmit, MembersOptionsAndBranches) {
  struct Case {
    const char* name;
    std::string body;
    std::string doc;                       // empty: no member lines at all
    std::vector<std::string> members;      // "{branch} {name}: {type}", in order
    std::string test;                      // the Rust test
    std::vector<std::string> true_lines;   // in the true branch, in order, after 12 spaces
    std::vector<std::string> false_lines;  // in the false branch; empty: no else
    std::string ctor;
  };
  const std::vector<Case> cases = {
      {"only true",
       kFields + R"(<if test="Flags"><true><field name="Extra" type="ushort"/></true></if>)",
       "/// Conditional fields gated by `<if test=\"Flags\">`.",
       {"true extra: Option<u16>"},
       "(flags as u64) != 0",
       {"let extra_v: u16 = u16::from_le_bytes([data[*offset], data[*offset+1]]); *offset += 2;",
        "extra = Some(extra_v);"},
       {},
       "            extra,\n"},
      {"only false, with text",
       kFields + R"(<if test="Count >= 2" text=" Name,
  if long "><false><field name="Name" type="String"/></false></if>)",
       "/// `<if test=\"Count &gt;= 2\">`. Name, if long",
       {"false name: Option<String>"},
       "(count as i128) >= 2i128",
       {},
       {"let name_v: String = read_string16_le(data, offset)?;", "name = Some(name_v);"},
       "            name,\n"},
      // Two <true> children form one branch; a vector in a branch is flat.
      {"both branches",
       kFields + R"(<if test="Flags == 0x10"><true><field name="X" type="byte"/><field name="X" type="ushort"/></true>)"
                 R"(<false><field name="X" type="uint"/></false>)"
                 R"(<true><vector name="Items" type="byte" length="Count"/></true></if>)",
       "/// Conditional fields gated by `<if test=\"Flags == 0x10\">`.",
       {"true x: Option<u8>", "true x_2: Option<u16>", "true items: Option<Vec<u8>>", "false x_3: Option<u32>"},
       "(flags as i128) == 0x10i128",
       {"let x_v: u8 = data[*offset]; *offset += 1;",
        "let x_2_v: u16 = u16::from_le_bytes([data[*offset], data[*offset+1]]); *offset += 2;",
        "for _ in 0..items_v_count {", "items_v.push(__elem);", "}", "x = Some(x_v);", "x_2 = Some(x_2_v);",
        "items = Some(items_v);"},
       {"let x_3_v: u32 = u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]]); "
        "*offset += 4;",
        "x_3 = Some(x_3_v);"},
       "            x,\n            x_2,\n            items,\n            x_3,\n"},
      // A packable in a branch keeps its loop's nesting.
      {"align only in one branch",
       kFields + R"(<if test="Flags"><true><align type="int"/></true>)"
                 R"(<false><field name="H" type="PackableHashTable" genericKey="byte" genericValue="ushort"/>)"
                 R"(</false></if>)",
       "/// Conditional fields gated by `<if test=\"Flags\">`.",
       {"false h: Option<Vec<(u8, u16)>>"},
       "(flags as u64) != 0",
       {"let pad = (4 - (*offset % 4)) % 4;", "*offset += pad;"},
       {"for _ in 0..h_v_count {", "    h_v.push((__k, __v));", "}", "h = Some(h_v);"},
       "            h,\n"},
      {"align only",
       kFields + R"(<if test="Flags &lt; 2"><true><align type="ushort"/></true></if>)",
       "",
       {},
       "(flags as i128) < 2i128",
       {"let pad = (2 - (*offset % 2)) % 2;"},
       {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Env env;
    auto steps = build_body(env, c.body);
    ASSERT_TRUE(steps) << steps.reason();
    const IfBlock& block = last_as<IfBlock>(*steps);
    std::string members, reader, ctor;
    emit_members(Printer(members, kMemberIndent), block);
    emit_decoder(Printer(reader, 8), block, kBodyPlace);
    emit_ctor_entries(Printer(ctor, kCtorIndent), block);

    std::string doc;
    EXPECT_EQ(if_members(members, doc), c.members) << members;
    EXPECT_EQ(doc, c.doc);

    const IfDecoder got = split_if_decoder(reader);
    std::vector<std::string> options;
    for (const std::string& member : c.members) {
      options.push_back("let mut " + member.substr(member.find(' ') + 1) + " = None;");
    }
    EXPECT_EQ(got.options, options);
    EXPECT_EQ(got.test, c.test);
    EXPECT_TRUE(lines::in_order(got.true_branch, 12, c.true_lines));
    EXPECT_EQ(got.true_branch.empty(), c.true_lines.empty()) << got.true_branch;
    EXPECT_EQ(got.false_branch.has_value(), !c.false_lines.empty());
    if (got.false_branch) {
      EXPECT_TRUE(lines::in_order(*got.false_branch, 12, c.false_lines));
    }
    EXPECT_EQ(ctor, c.ctor);
  }
}

// A name in both branches of a hand-built block (the builder numbers them
// apart): one option local per name, typed by the true branch, which declares
// it first; each branch lists its names once among the constructor entries.
TEST(IfBlockEmit, NameInBothBranches) {
  IfBlock block;
  block.test = "T";
  block.rust_test = "t";
  block.true_steps = {EmitStep{SimpleField{"a", "A", "u8", FieldKind::U8, std::nullopt, {}}},
                      EmitStep{SimpleField{"b", "B", "u16", FieldKind::U16, std::nullopt, {}}}};
  block.false_steps = {EmitStep{SimpleField{"a", "A", "u32", FieldKind::U32, std::nullopt, {}}},
                       EmitStep{SimpleField{"c", "C", "u8", FieldKind::U8, std::nullopt, {}}},
                       EmitStep{SimpleField{"c", "C", "u8", FieldKind::U8, std::nullopt, {}}}};
  std::string reader, ctor;
  emit_decoder(Printer(reader, 8), block, kBodyPlace);
  emit_ctor_entries(Printer(ctor, kCtorIndent), block);
  EXPECT_EQ(split_if_decoder(reader).options,
            (std::vector<std::string>{"let mut a: Option<u8> = None;", "let mut b: Option<u16> = None;",
                                      "let mut c: Option<u8> = None;"}));
  EXPECT_EQ(ctor, "            a,\n            b,\n            a,\n            c,\n");
}

// ---- Mask maps ------------------------------------------------------------------

TEST(MaskValue, Parse) {
  struct Case {
    std::string_view text;
    std::uint64_t mask;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"0x10", 0x10, ""},
      {"  16\t", 0x10, ""},
      {"\u00a016\u2003", 0x10, ""},
      {"-1", ~std::uint64_t{0}, ""},
      {"0x1FFFFFFFFFFFFFFFF", ~std::uint64_t{0}, ""},
      {"Flags.B", 8, ""},
      {" Flags.A ", 1, ""},
      {"0", 0, ""},
      {"abc", 0, "mask value \"abc\" is neither a hex literal nor an `EnumName.VariantName` dotted reference"},
      {" abc ", 0, "mask value \" abc \" is neither a hex literal nor an `EnumName.VariantName` dotted reference"},
      {"", 0, "mask value \"\" is neither a hex literal nor an `EnumName.VariantName` dotted reference"},
      {"Nope.A", 0, "enum \"Nope\" not emitted before this <mask> reference (forward reference?)"},
      {"Flags.C", 0, "enum \"Flags\" has no variant named \"C\""},
      // The parts are not trimmed again after the split.
      {"Flags. B", 0, "enum \"Flags\" has no variant named \" B\""},
      {"Flags .B", 0, "enum \"Flags \" not emitted before this <mask> reference (forward reference?)"},
      {"Flags.B.C", 0, "enum \"Flags\" has no variant named \"B.C\""},
  };
  Env env;
  for (const Case& c : cases) {
    auto got = parse_mask_value(c.text, env.ctx.enum_values);
    if (c.reason.empty()) {
      ASSERT_TRUE(got) << c.text << ": " << got.reason();
      EXPECT_EQ(*got, c.mask) << c.text;
    } else {
      ASSERT_FALSE(got) << c.text;
      EXPECT_EQ(got.reason(), c.reason) << c.text;
    }
  }
}

TEST(MaskmapParent, ResolutionOrder) {
  SiblingLookup lookup;
  lookup.numeric_fields["N"] = {"n", "u32"};
  lookup.enum_fields["E"] = {"e", "u8"};
  lookup.gated_fields["G"] = {"g", "u16"};
  lookup.subfields["S"] = {"N", "n", "u32", "N & 1"};
  lookup.bool_fields.insert("B");
  // The same name in several maps: numeric beats enum beats gated.
  lookup.numeric_fields["Both"] = {"both_n", "u8"};
  lookup.enum_fields["Both"] = {"both_e", "u8"};
  lookup.enum_fields["Both2"] = {"both2_e", "u8"};
  lookup.gated_fields["Both2"] = {"both2_g", "u8"};

  struct Case {
    std::string_view name;
    std::string bits;  // empty: not found
    std::string ident;
  };
  const std::vector<Case> cases = {
      {"N", "n as u64", "n"},
      {"E", "e_bits as u64", "e"},
      {"G", "g.map_or(0u64, |v| v as u64)", "g"},
      {"Both", "both_n as u64", "both_n"},
      {"Both2", "both2_e_bits as u64", "both2_e"},
      {"S", "", ""},
      {"B", "", ""},
      {"n", "", ""},
  };
  for (const Case& c : cases) {
    auto parent = resolve_maskmap_parent(c.name, lookup);
    if (c.bits.empty()) {
      ASSERT_FALSE(parent) << c.name;
      EXPECT_EQ(parent.reason(), "parent " + debug_str(c.name) +
                                     " is not a sibling numeric field — maskmap parents must be declared before the "
                                     "<maskmap> in the same <type> body");
    } else {
      ASSERT_TRUE(parent) << c.name;
      EXPECT_EQ(parent->bits, c.bits);
      EXPECT_EQ(parent->ident, c.ident);
      // The one local the decoder reads for it: the field, or an enum's raw bits.
      ASSERT_EQ(parent->reads.size(), 1u) << c.name;
      EXPECT_EQ(parent->reads[0].local, c.bits.substr(0, c.bits.find_first_of(" .")));
    }
  }
}

TEST(MaskmapBuild, Reasons) {
  const std::string f = kFields + R"(<field name="Name" type="String"/>)";
  expect_reasons({
      {f + "<maskmap><mask value=\"1\"/></maskmap>", "<maskmap> missing name= attribute"},
      {f + "<maskmap name=\"Name\"/>",
       "<maskmap name=\"Name\">: parent \"Name\" is not a sibling numeric field — maskmap parents must be declared "
       "before the <maskmap> in the same <type> body"},
      {f + "<maskmap name=\"Later\"/><field name=\"Later\" type=\"uint\"/>",
       "<maskmap name=\"Later\">: parent \"Later\" is not a sibling numeric field — maskmap parents must be "
       "declared before the <maskmap> in the same <type> body"},
      {f + "<maskmap name=\"Flags\" xor=\"zz\"><bogus/></maskmap>",
       "<maskmap name=\"Flags\"> xor=\"zz\" is not a parseable integer literal"},
      {f + "<maskmap name=\"Flags\"><mask value=\"1\"><field name=\"A\" type=\"uint\"/></mask><bogus/></maskmap>",
       "<maskmap name=\"Flags\">: unexpected child <bogus>; only <mask> allowed"},
      {f + "<maskmap name=\"Flags\"><mask><bogus/></mask></maskmap>",
       "<maskmap name=\"Flags\">: <mask> missing value= attribute"},
      {f + "<maskmap name=\"Flags\"><mask value=\" x \"><bogus/></mask></maskmap>",
       "<maskmap name=\"Flags\">: <mask value=\" x \">: mask value \" x \" is neither a hex literal nor an "
       "`EnumName.VariantName` dotted reference"},
      {f + "<maskmap name=\"Flags\"><mask value=\"Flags.Z\"/></maskmap>",
       "<maskmap name=\"Flags\">: <mask value=\"Flags.Z\">: enum \"Flags\" has no variant named \"Z\""},
      {f + "<maskmap name=\"Flags\"><mask value=\"1\"><field name=\"A\" type=\"uint\"/><vector/></mask></maskmap>",
       "<maskmap name=\"Flags\"> <mask value=\"1\">: unexpected child <vector>; only <field> allowed inside <mask>"},
      {f + "<maskmap name=\"Flags\"><mask value=\"1\"><field name=\"A\" type=\"Nope\"/><vector/></mask></maskmap>",
       "<maskmap name=\"Flags\"> <mask value=\"1\">: field A: type \"Nope\" not in foundation tier"},
      {f + "<maskmap name=\"Flags\"><mask value=\"1\"><field name=\"P\" type=\"PHashTable\"/></mask></maskmap>",
       "<maskmap name=\"Flags\"> <mask value=\"1\">: <field P type=\"PHashTable\"> missing genericKey= attribute"},
      {f + "<maskmap name=\"Flags\"><mask value=\"1\"/></maskmap>",
       "<maskmap name=\"Flags\"> <mask value=\"1\">: contains no <field> children"},
      {f + "<maskmap name=\"Flags\"/>", "<maskmap name=\"Flags\">: contains no <mask> children"},
      // A field gated by an earlier mask map can be a parent; it reads as
      // 0 when absent.
      {f + R"(<maskmap name="Flags"><mask value="1"><field name="G" type="byte"/></mask></maskmap>)"
           R"(<maskmap name="G"><mask value="2"><field name="H" type="byte"/></mask></maskmap>)",
       "<built>"},
  });
}

// A mask map tests its parent's bits, xored when asked, against each group's
// mask (a dotted value resolved through its enum); every group's members are
// options declared before the first group, and a group decodes and stores
// its simple fields (a packable written before them in the document
// notwithstanding) before its packables, whose loops keep their nesting. In
// a case the same lines are flat at the case's indentation.
TEST(MaskmapEmit, GroupsReadSimpleFieldsBeforePackables) {
  Env env;
  auto steps = build_body(
      env, kFields + R"(<field name="Bits" type="uint"/>)"
                     R"(<maskmap name="Bits" xor="0xFF">)"
                     R"(<mask value="0x4"><field name="A" type="ushort" text="  the   a "/></mask>)"
                     R"(<mask value=" Flags.B"><field name="L" type="PackableList" genericType="uint" text="list"/>)"
                     R"(<field name="C" type="byte"/></mask>)"
                     R"(</maskmap>)");
  ASSERT_TRUE(steps) << steps.reason();
  const MaskmapBlock& block = last_as<MaskmapBlock>(*steps);

  std::string members, ctor, reader, indented;
  emit_members(Printer(members, kMemberIndent), block);
  emit_ctor_entries(Printer(ctor, kCtorIndent), block);
  emit_decoder(Printer(reader, kStatementIndent), block, kBodyPlace);
  emit_decoder(Printer(indented, 4), block, kBodyPlace.case_inside());

  EXPECT_TRUE(
      lines::in_order(members, 4,
                      {"/// Gated on bit 0x00000004 (`bits`). the a", "pub a: Option<u16>,", "pub c: Option<u8>,",
                       "/// Gated on Flags.B (`bits`). list", "pub l: Option<Vec<u32>>,"}));
  EXPECT_EQ(ctor, "            a,\n            c,\n            l,\n");

  EXPECT_TRUE(lines::in_order(
      reader, 8,
      {"let __mm_bits: u64 = bits as u64 ^ 0xFFu64; // xor=0xFF", "let mut a: Option<u16> = None;",
       "let mut c: Option<u8> = None;", "let mut l: Option<Vec<u32>> = None;", "if (__mm_bits & 0x4u64) != 0 {",
       "} // end mask 0x4", "if (__mm_bits & 0x8u64) != 0 {", "} // end mask  Flags.B"}));
  const std::size_t second_group = reader.find("if (__mm_bits & 0x8u64)");
  ASSERT_NE(second_group, std::string::npos);
  EXPECT_TRUE(
      lines::in_order(std::string_view(reader).substr(second_group), 12,
                      {"let c_v: u8 = data[*offset]; *offset += 1;", "c = Some(c_v);", "// inlined PackableList<u32>",
                       "for _ in 0..l_v_count {", "    l_v.push(__elem);", "}", "l = Some(l_v);"}));

  EXPECT_EQ(indented, lines::flattened(reader, 4));
}

TEST(MaskmapEmit, Labels) {
  struct Case {
    std::string value_text;
    std::uint64_t mask;
    std::string member_label;
    std::string end_label;
  };
  const std::vector<Case> cases = {
      {"0", 0, "bit 0x00000000", "0x0"},
      {"-1", ~std::uint64_t{0}, "bit 0xFFFFFFFFFFFFFFFF", "0xFFFFFFFFFFFFFFFF"},
      {"E.\"q\"", 3, "E.\"q\"", "E.q"},
  };
  for (const Case& c : cases) {
    SimpleField f;
    f.ident = "f";
    f.rust_ty = "u8";
    f.kind = FieldKind::U8;
    MaskmapBlock block;
    block.parent_ident = "p";
    block.parent_bits = "p as u64";
    block.groups.push_back(MaskGroup{c.value_text, {EmitStep{f}}, c.mask});
    std::string members, reader;
    emit_members(Printer(members, kMemberIndent), block);
    emit_decoder(Printer(reader, kStatementIndent), block, kBodyPlace);
    EXPECT_EQ(members.substr(0, members.find('\n')), "    /// Gated on " + c.member_label + " (`p`).");
    EXPECT_NE(reader.find("        } // end mask " + c.end_label + "\n"), std::string::npos) << reader;
  }
}

// ---- Switch blocks ----------------------------------------------------------------

TEST(CaseVariantId, Forms) {
  const i128 big = (static_cast<i128>(1) << 64) + 5;
  const i128 most_negative = -static_cast<i128>(~u128{0} >> 1) - 1;
  struct Case {
    std::vector<i128> values;
    std::string id;
  };
  const std::vector<Case> cases = {
      {{1}, "Case_1"},
      {{10}, "Case_A"},
      {{0x1F, 300}, "Case_1F_12C"},
      {{-16}, "Case_Neg16"},
      {{0}, "Case_0"},
      {{-1, 255}, "Case_Neg1_FF"},
      {{big}, "Case_5"},
      {{most_negative}, "Case_Neg170141183460469231731687303715884105728"},
  };
  for (const Case& c : cases) EXPECT_EQ(canonical_case_variant_id(c.values), c.id);
}

TEST(SwitchDiscriminator, Resolution) {
  SiblingLookup lookup;
  lookup.numeric_fields["N"] = {"n", "u32"};
  lookup.enum_fields["E"] = {"e", "u8"};
  lookup.numeric_fields["Both"] = {"both_n", "u8"};
  lookup.enum_fields["Both"] = {"both_e", "u8"};
  lookup.subfields["S"] = {"N", "n", "u32", "N >> 4"};
  lookup.subfields["Bad"] = {"N", "n", "u32", "Other + 1"};
  lookup.gated_fields["G"] = {"g", "u8"};

  auto sub = translate_subfield_expr_for_local("N >> 4", "N", "n", "u32", "u32");
  ASSERT_TRUE(sub) << sub.reason();

  struct Case {
    std::string_view name;
    std::optional<std::string> expr;
    bool is_enum;
  };
  const std::vector<Case> cases = {
      {"N", "n", false},
      {"E", "e", true},
      {"Both", "both_n", false},
      {"S", *sub, false},
      {"Bad", std::nullopt, false},
      {"G", std::nullopt, false},
      {"n", std::nullopt, false},
  };
  for (const Case& c : cases) {
    const auto got = resolve_switch_discriminator(c.name, lookup);
    ASSERT_EQ(static_cast<bool>(got), c.expr.has_value()) << c.name;
    if (got) {
      EXPECT_EQ(got->expr, *c.expr);
      EXPECT_EQ(got->is_enum, c.is_enum) << c.name;
    }
  }
}

TEST(SwitchBuild, Reasons) {
  const std::string f = kFields;
  expect_reasons({
      {f + "<switch><case value=\"1\"/></switch>", "<switch> missing name= attribute"},
      {f + "<switch name=\"Nope\"><case value=\"1\"/></switch>",
       "<switch name=\"Nope\">: discriminator not found as a sibling numeric/enum field declared before this "
       "<switch>"},
      {f + "<switch name=\"Flags\"><case value=\"1\"/><table/></switch>",
       "<switch name=\"Flags\">: unexpected child <table>; only <case> allowed"},
      {f + "<switch name=\"Flags\"><case/></switch>", "<switch name=\"Flags\">: <case> missing value= attribute"},
      {f + "<switch name=\"Flags\"><case value=\" | \"/></switch>",
       "<switch name=\"Flags\">: <case value=\" | \"> has no parseable tokens"},
      {f + "<switch name=\"Flags\"><case value=\"1| two |x\"/></switch>",
       "<switch name=\"Flags\">: <case value=\"1| two |x\"> token \"two\" is not a parseable integer literal"},
      {f + "<switch name=\"Flags\"><case value=\"1|1\"/></switch>",
       "<switch name=\"Flags\">: case value 1 (token \"1\") is duplicated across cases"},
      {f + "<switch name=\"Flags\"><case value=\"0x10\"/><case value=\"3| 16\"/></switch>",
       "<switch name=\"Flags\">: case value 16 (token \"16\") is duplicated across cases"},
      {f + "<switch name=\"Flags\"><case value=\"1\"><table name=\"T\"/></case></switch>",
       "<switch name=\"Flags\"> <case value=\"1\">: unsupported body child <table>"},
      {f + "<switch name=\"Flags\"><case value=\"1\"><align type=\"char\"/></case></switch>",
       "<switch name=\"Flags\"> <case value=\"1\">: <align> with type Some(\"char\"): unknown alignment width"},
      {f + "<switch name=\"Flags\"><case value=\"1\"><field name=\"X\"/></case></switch>",
       "<switch name=\"Flags\"> <case value=\"1\">: <field X> missing type"},
      {f + "<switch name=\"Flags\"><case value=\"1\"><if/></case></switch>",
       "<switch name=\"Flags\"> <case value=\"1\">: <if> missing test= attribute"},
      {f + "<switch name=\"Flags\"><case value=\"1\"><maskmap/></case></switch>",
       "<switch name=\"Flags\"> <case value=\"1\">: <maskmap> missing name= attribute"},
      {f + "<switch name=\"Flags\"><case value=\"1\"><switch name=\"Count\"><case value=\"2\">"
           "<field name=\"Y\" type=\"Nope\"/></case></switch></case></switch>",
       "<switch name=\"Flags\"> <case value=\"1\">: nested <switch name=\"Count\"> <case value=\"2\">: field Y: "
       "type \"Nope\" not in foundation tier"},
      {f + "<switch name=\"Flags\"/>", "<switch name=\"Flags\">: contains no <case> children"},
      // Fields of a case are visible later in the case only.
      {f + "<switch name=\"Flags\"><case value=\"1\"><field name=\"Z\" type=\"byte\"/>"
           "<switch name=\"Z\"><case value=\"1\"/></switch></case>"
           "<case value=\"2\"><switch name=\"Z\"><case value=\"1\"/></switch></case></switch>",
       "<switch name=\"Flags\"> <case value=\"2\">: nested <switch name=\"Z\">: discriminator not found as a "
       "sibling numeric/enum field declared before this <switch>"},
      {f + "<switch name=\"Flags\"><case value=\"1\"><field name=\"Z\" type=\"byte\"/></case></switch>"
           "<if test=\"Z\"><true><align type=\"byte\"/></true></if>",
       "<if test=\"Z\">: cannot translate boolean expression: identifier \"Z\" is not a sibling field"},
      // Gated fields of a mask map in a case are not discriminators.
      {f + "<switch name=\"Flags\"><case value=\"1\"><maskmap name=\"Count\"><mask value=\"1\">"
           "<field name=\"G\" type=\"byte\"/></mask></maskmap><switch name=\"G\"><case value=\"1\"/></switch>"
           "</case></switch>",
       "<switch name=\"Flags\"> <case value=\"1\">: nested <switch name=\"G\">: discriminator not found as a "
       "sibling numeric/enum field declared before this <switch>"},
  });
}

TEST(SwitchBuild, CaseScopingAndNumbering) {
  Env env;
  auto steps = build_body(env, kFields + R"(<field name="X" type="byte"/><field name="FlagsData" type="byte"/>)"
                                         R"(<switch name="Flags">)"
                                         R"(<case value=" 3 | " text="t"><field name="X" type="byte"/>)"
                                         R"(<field name="Y" type="byte"/><switch name="Y"><case value="1"/></switch>)"
                                         R"(<switch name="Y"><case value="1"/></switch></case>)"
                                         R"(<case value="1|2"><field name="Y" type="byte"/></case>)"
                                         R"(</switch>)"
                                         R"(<field name="Y" type="byte"/><field name="X" type="byte"/>)"
                                         R"(<switch name="Flags"><case value="1"/></switch>)");
  ASSERT_TRUE(steps) << steps.reason();
  const SwitchBlock& sw = *std::get_if<SwitchBlock>(&(*steps)[4].v);
  EXPECT_EQ(sw.ident, "flags_data_2");
  EXPECT_EQ(sw.type_name, "S2C_ThingFlagsData");
  EXPECT_EQ(sw.disc_expr, "flags");
  EXPECT_EQ(sw.disc_rust, "flags");
  ASSERT_EQ(sw.cases.size(), 2u);

  const SwitchCase& c3 = sw.cases[0];
  EXPECT_EQ(c3.variant, "Case_3");
  EXPECT_EQ(c3.value_text, " 3 | ");
  EXPECT_EQ(c3.text, std::optional<std::string>("t"));
  ASSERT_EQ(c3.steps.size(), 4u);
  EXPECT_EQ(std::get_if<SimpleField>(&c3.steps[0].v)->ident, "x_2");
  EXPECT_EQ(std::get_if<SimpleField>(&c3.steps[1].v)->ident, "y");
  EXPECT_EQ(std::get_if<SwitchBlock>(&c3.steps[2].v)->ident, "y_data");
  EXPECT_EQ(std::get_if<SwitchBlock>(&c3.steps[2].v)->type_name, "S2C_Thing_Case_3YData");
  EXPECT_EQ(std::get_if<SwitchBlock>(&c3.steps[3].v)->ident, "y_data_2");
  EXPECT_EQ(std::get_if<SwitchBlock>(&c3.steps[3].v)->type_name, "S2C_Thing_Case_3YData2");

  const SwitchCase& c12 = sw.cases[1];
  EXPECT_EQ(c12.variant, "Case_1_2");
  EXPECT_EQ(c12.values, (std::vector<i128>{1, 2}));
  EXPECT_EQ(std::get_if<SimpleField>(&c12.steps[0].v)->ident, "y");

  // After the switch, numbering continues from the body's own counts.
  EXPECT_EQ(std::get_if<SimpleField>(&(*steps)[5].v)->ident, "y");
  EXPECT_EQ(std::get_if<SimpleField>(&(*steps)[6].v)->ident, "x_2");
  const SwitchBlock& second = *std::get_if<SwitchBlock>(&(*steps)[7].v);
  EXPECT_EQ(second.ident, "flags_data_3");
  EXPECT_EQ(second.type_name, "S2C_ThingFlagsData2");
}

TEST(SwitchBuild, TypeNamesUniqueInBuildOrder) {
  // Nested switches are named before the switch that holds them.
  Env env;
  const std::string sw = R"(<switch name="Flags"><case value="1"><switch name="Count"><case value="1"/>)"
                         R"(</switch></case></switch>)";
  auto steps = build_body(env, kFields + sw + sw + sw);
  ASSERT_TRUE(steps) << steps.reason();
  const std::vector<std::pair<std::string, std::string>> want = {
      {"S2C_ThingFlagsData", "S2C_Thing_Case_1CountData"},
      {"S2C_ThingFlagsData2", "S2C_Thing_Case_1CountData2"},
      {"S2C_ThingFlagsData3", "S2C_Thing_Case_1CountData3"},
  };
  for (std::size_t i = 0; i < want.size(); ++i) {
    const SwitchBlock& outer = *std::get_if<SwitchBlock>(&(*steps)[2 + i].v);
    EXPECT_EQ(outer.type_name, want[i].first);
    EXPECT_EQ(std::get_if<SwitchBlock>(&outer.cases[0].steps[0].v)->type_name, want[i].second);
  }

  // Without a struct-wide set the names are left as they are.
  auto doc = xml::parse("<switch name=\"N\"><case value=\"1\"/></switch>");
  ASSERT_TRUE(doc);
  SiblingLookup lookup;
  lookup.numeric_fields["N"] = {"n", "u8"};
  BodyContext body;
  body.owner = "T";
  for (int i = 0; i < 2; ++i) {
    auto block = build_switch_block(env.ctx, doc->root(), body, lookup);
    ASSERT_TRUE(block) << block.reason();
    EXPECT_EQ(block->type_name, "TNData");
  }
  EXPECT_EQ(body.occurrences.count_of("n_data"), 2u);
}

TEST(SwitchEmit, NestedWithEnumAndSubfieldDiscriminators) {
  Env env;
  auto steps = build_body(env, R"(<field name="K" type="Kind"/>)"
                               R"(<switch name="K">)"
                               R"(<case value="1"><field name="Word" type="uint">)"
                               R"(<subfield name="Lo" type="ushort" value="Word &amp; 0xFFFF"/></field>)"
                               R"(<switch name="Lo"><case value="0x10|2" text=" pair "><field name="X" type="byte"/>)"
                               R"(</case><case value="-3"/></switch>)"
                               R"(<if test="Word"><true><field name="Y" type="byte"/></true>)"
                               R"(<false><field name="Y" type="byte"/></false></if></case>)"
                               R"(<case value=" 7 "/>)"
                               R"(</switch>)");
  ASSERT_TRUE(steps) << steps.reason();
  auto lo = translate_subfield_expr_for_local("Word & 0xFFFF", "Word", "word", "u32", "u32");
  ASSERT_TRUE(lo) << lo.reason();
  const SwitchBlock& block = last_as<SwitchBlock>(*steps);

  std::string enums, member, reader;
  emit_nested_types(enums, *steps);
  emit_members(Printer(member, kMemberIndent), block);
  emit_decoder(Printer(reader, 8), block, kBodyPlace);

  EXPECT_EQ(enums, R"(/// `<switch name="Lo">` discriminated union (one variant per case).
#[derive(Debug, Clone, PartialEq)]
pub enum S2C_Thing_Case_1LoData {
    /// case value="0x10|2". pair
    Case_10_2 {
        x: u8,
    },
    /// case value="-3".
    Case_Neg3,
}

/// `<switch name="K">` discriminated union (one variant per case).
#[derive(Debug, Clone, PartialEq)]
pub enum S2C_ThingKData {
    /// case value="1".
    Case_1 {
        word: u32,
        lo_data: S2C_Thing_Case_1LoData,
        y: Option<u8>,
        y_2: Option<u8>,
    },
    /// case value=" 7 ".
    Case_7,
}

)");
  EXPECT_EQ(member, R"(    /// Discriminated by `k` per protocol.xml `<switch name="K">`.
    pub k_data: S2C_ThingKData,
)");
  EXPECT_EQ(reader, R"(        // <switch name="K">
        let k_data: S2C_ThingKData = {
            let __disc: i128 = (k_bits) as i128;
            match __disc {
                n if n == 1i128 => {
                    // case value="1"
                    if *offset + 4 > data.len() { return Err("truncated u32 field word"); }
                    let word: u32 = u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]]); *offset += 4;
                    // <switch name="Lo">
                    let lo_data: S2C_Thing_Case_1LoData = {
                        let __disc: i128 = ()" +
                        *lo + R"() as i128;
                        match __disc {
                            n if n == 16i128 || n == 2i128 => {
                                // 0x10|2 — pair
                                if *offset + 1 > data.len() { return Err("truncated u8 field x"); }
                                let x: u8 = data[*offset]; *offset += 1;
                                S2C_Thing_Case_1LoData::Case_10_2 {
                                    x,
                                }
                            },
                            n if n == -3i128 => {
                                // case value="-3"
                                S2C_Thing_Case_1LoData::Case_Neg3
                            },
                            _other => return Err("unknown S2C_Thing_Case_1LoData discriminator"),
                        }
                    };
                    // <if test="Word">
                    let mut y: Option<u8> = None;
                    let mut y_2: Option<u8> = None;
                    if (word as u64) != 0 {
                        if *offset + 1 > data.len() { return Err("truncated u8 field y_v"); }
                        let y_v: u8 = data[*offset]; *offset += 1;
                        y = Some(y_v);
                    }
                    else {
                        if *offset + 1 > data.len() { return Err("truncated u8 field y_2_v"); }
                        let y_2_v: u8 = data[*offset]; *offset += 1;
                        y_2 = Some(y_2_v);
                    }
                    S2C_ThingKData::Case_1 {
                        word,
                        lo_data,
                        y,
                        y_2,
                    }
                },
                n if n == 7i128 => {
                    // case value=" 7 "
                    S2C_ThingKData::Case_7
                },
                _other => return Err("unknown S2C_ThingKData discriminator"),
            }
        };
)");
}

TEST(SwitchEmit, CasePayloads) {
  // A payload from an if block is listed once per name across its branches;
  // mask-map payloads are not deduplicated.
  SimpleField a;
  a.ident = "a";
  a.rust_ty = "u8";
  PackableField p;
  p.ident = "p";
  p.value_rust_ty = "u16";
  IfBlock block;
  block.true_steps = {EmitStep{a}, EmitStep{AlignStep{1}}};
  block.false_steps = {EmitStep{a}, EmitStep{p}};
  MaskmapBlock mm;
  mm.groups.push_back(MaskGroup{"1", {EmitStep{a}, EmitStep{p}}, 1});
  mm.groups.push_back(MaskGroup{"2", {EmitStep{a}}, 2});
  TableField t;
  t.ident = "t";
  t.key_rust_ty = "u8";
  t.value_rust_ty = "String";
  const std::vector<EmitStep> steps = {EmitStep{block}, EmitStep{mm}, EmitStep{AlignStep{4}}, EmitStep{t}, EmitStep{p}};
  std::string got;
  for (const MemberDecl& local : collect_case_payload_fields(steps)) got += local.name + ": " + local.ty + "; ";
  EXPECT_EQ(got,
            "a: Option<u8>; p: Option<Vec<u16>>; a: Option<u8>; p: Option<Vec<u16>>; a: Option<u8>; "
            "t: std::collections::BTreeMap<u8, String>; p: Vec<u16>; ");
}

TEST(SwitchEmit, MaskmapInCaseIsFlattenedToCaseIndent) {
  Env env;
  auto steps = build_body(env, kFields + R"(<switch name="Flags"><case value="1">)"
                                         R"(<maskmap name="Count"><mask value="1"><field name="G" type="byte"/>)"
                                         R"(</mask></maskmap></case></switch>)");
  ASSERT_TRUE(steps) << steps.reason();
  std::string reader;
  emit_decoder(Printer(reader, 8), last_as<SwitchBlock>(*steps), kBodyPlace);
  const std::string i3(20, ' ');
  EXPECT_NE(reader.find(i3 + "// <maskmap name=\"count\">\n" + i3 + "let __mm_bits: u64 = count as u64;\n"),
            std::string::npos)
      << reader;
  EXPECT_NE(reader.find("\n" + i3 + "let g_v: u8 = data[*offset]; *offset += 1;\n" + i3 + "g = Some(g_v);\n" + i3 +
                        "} // end mask 0x1\n"),
            std::string::npos)
      << reader;
  EXPECT_NE(reader.find(i3 + "S2C_ThingFlagsData::Case_1 {\n" + i3 + "    g,\n" + i3 + "}\n"), std::string::npos);
}

// ---- Nesting depth ------------------------------------------------------------------

std::string nested_switches(std::size_t levels) {
  std::string xml = R"(<field name="D" type="byte"/>)";
  for (std::size_t i = 0; i < levels; ++i) xml += R"(<switch name="D"><case value="1">)";
  xml += R"(<field name="Leaf" type="byte"/>)";
  for (std::size_t i = 0; i < levels; ++i) xml += "</case></switch>";
  return xml;
}

std::string repeat(std::string_view text, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += text;
  return out;
}

TEST(SwitchDepth, DeepDocumentsGiveAReason) {
  const std::string too_deep = repeat("<switch name=\"D\"> <case value=\"1\">: nested ", kMaxBlockDepth) +
                               "<switch name=\"D\">: nested deeper than 64 levels";
  for (const std::size_t levels : {kMaxBlockDepth + 1, kMaxBlockDepth + 2, std::size_t{20000}}) {
    EXPECT_EQ(reason_of(nested_switches(levels)), too_deep) << levels;
  }
}

TEST(SwitchDepth, DeepestAllowedNestingBuildsAndEmits) {
  Env env;
  auto steps = build_body(env, nested_switches(kMaxBlockDepth));
  ASSERT_TRUE(steps) << steps.reason();
  const std::vector<EmitStep> copy = *steps;  // deep copies work too

  std::string enums, reader;
  emit_nested_types(enums, copy);
  emit_decoder(Printer(reader, 8), last_as<SwitchBlock>(copy), kBodyPlace);

  std::size_t enum_count = 0;
  for (std::size_t pos = enums.find("pub enum "); pos != std::string::npos; pos = enums.find("pub enum ", pos + 1)) {
    ++enum_count;
  }
  EXPECT_EQ(enum_count, kMaxBlockDepth);
  // The innermost enum comes first and carries every enclosing case's variant.
  const std::string innermost = "S2C_Thing" + repeat("_Case_1", kMaxBlockDepth - 1) + "DData";
  EXPECT_EQ(enums.find("pub enum " + innermost + " {\n"), enums.find("pub enum "));
  EXPECT_NE(reader.find(std::string(8 + 12 * kMaxBlockDepth, ' ') + "let leaf: u8 = data[*offset]; *offset += 1;\n"),
            std::string::npos);
}

}  // namespace
}  // namespace qm
