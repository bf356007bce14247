// Bodies whose generated decoder would not compile, would read the wrong
// value or would never finish: decoder locals that meet a value another
// statement reads, echoed attribute text that would break out of its comment,
// raw identifiers inside local names, unordered map keys, variant names that
// repeat, documentation with nothing to document and elements that read no
// bytes. Each refused case sits next to the closest body that must still build.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/constructs.hpp"
#include "schema/context.hpp"
#include "structs/structs.hpp"
#include "text/text.hpp"
#include "xml/xml.hpp"

namespace qm {
namespace {

const std::vector<std::size_t> kNoLines;
constexpr std::string_view kBuilt = "<built>";

// Built-in types, an enum `Kind` (u32), the enum values `Flags.A` = 1, a data
// type `Empty` that can decode from zero bytes and two that cannot.
struct Env {
  CodegenCtx ctx{"protocol.xml", kNoLines};
  Env() {
    ctx.registry["Kind"] = TypeKind::enumeration(EnumRepr::U32, false);
    ctx.enum_values["Flags"] = {{"A", 1}};
    ctx.registry["Empty"] = TypeKind::structure(/*may_read_nothing=*/true);
    ctx.registry["Full"] = TypeKind::structure();
    ctx.registry["Pos"] = TypeKind::structure(false);
  }
};

Result<std::vector<EmitStep>> build_body(const Env& env, const std::string& body) {
  auto doc = xml::parse("<type>" + body + "</type>");
  if (!doc) return fail("xml: " + doc.reason());
  return collect_emit_steps(env.ctx, doc->root(), "C2S_M");
}

std::string outcome(const std::string& body) {
  Env env;
  auto steps = build_body(env, body);
  return steps ? std::string(kBuilt) : steps.reason();
}

struct Case {
  const char* name;
  std::string body;
  std::string want;  // the reason, or kBuilt
};

void expect_outcomes(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(outcome(c.body), c.want) << c.name << "\n" << c.body;
}

// ---- Decoder locals ----------------------------------------------------------------------

const std::string kNK = R"(<field name="N" type="uint"/><field name="K" type="uint"/>)";

TEST(DecoderLocals, MatchBindingOfASwitchArm) {
  expect_outcomes({
      {"length read in a case",
       kNK + R"(<switch name="K"><case value="1"><vector name="V" type="uint" length="N"/></case></switch>)",
       "`n` read by vector `v` would be the discriminator of <switch name=\"K\">, not field `n`"},
      {"if test in a case",
       kNK + R"(<switch name="K"><case value="1"><if test="N"><true><field name="X" type="byte"/></true></if>)"
             R"(</case></switch>)",
       "`n` read by <if test=\"N\"> would be the discriminator of <switch name=\"K\">, not field `n`"},
      {"nested discriminator",
       kNK + R"(<switch name="K"><case value="1"><switch name="N"><case value="2"/></switch></case></switch>)",
       "`n` read by <switch name=\"N\"> would be the discriminator of <switch name=\"K\">, not field `n`"},
      {"mask map parent",
       kNK + R"(<switch name="K"><case value="1"><maskmap name="N"><mask value="1"><field name="G" type="byte"/>)"
             R"(</mask></maskmap></case></switch>)",
       "`n` read by the mask map on `n` would be the discriminator of <switch name=\"K\">, not field `n`"},
      {"an outer __disc read by a nested switch",
       R"(<field name="__disc" type="uint"/><field name="K" type="uint"/><switch name="K"><case value="1">)"
       R"(<switch name="__disc"><case value="3"/></switch></case></switch>)",
       "`__disc` read by <switch name=\"__disc\"> would be the discriminator of <switch name=\"K\">, not field "
       "`__disc`"},
      // The case's own N hides the match binding, so the length reads it.
      {"a field of the case itself",
       R"(<field name="K" type="uint"/><switch name="K"><case value="1"><field name="N" type="byte"/>)"
       R"(<vector name="V" type="uint" length="N"/></case></switch>)",
       std::string(kBuilt)},
      {"read before and after the switch",
       kNK + R"(<vector name="A" type="uint" length="N"/><switch name="N"><case value="1"/></switch>)"
             R"(<vector name="B" type="uint" length="N"/>)",
       std::string(kBuilt)},
      {"__disc read outside the switch",
       R"(<field name="__disc" type="uint"/><vector name="V" type="byte" length="__disc"/>)"
       R"(<switch name="__disc"><case value="1"/></switch>)",
       std::string(kBuilt)},
  });
}

TEST(DecoderLocals, LocalsDerivedFromAMemberName) {
  const std::string f = R"(<field name="F" type="uint"/>)";
  expect_outcomes({
      {"vector count after a field of that name",
       f + R"(<field name="ItemsCount" type="byte"/><vector name="Items" type="uint" length="F"/>)",
       "`items_count` read by the constructor would be the count of vector `items`, not field `items_count`"},
      {"vector count before a field of that name",
       f + R"(<vector name="Items" type="uint" length="F"/><field name="ItemsCount" type="byte"/>)",
       std::string(kBuilt)},
      {"table count", f + R"(<field name="TCount" type="uint"/><table name="T" key="uint" value="uint" length="F"/>)",
       "`t_count` read by the constructor would be the count of table `t`, not field `t_count`"},
      {"packed size",
       R"(<field name="MapPacked" type="uint"/><field name="Map" type="PHashTable" genericKey="uint" )"
       R"(genericValue="uint"/>)",
       "`map_packed` read by the constructor would be the packed size of packable `map`, not field `map_packed`"},
      {"maximum size",
       R"(<field name="_Map_maxsize" type="ushort"/><field name="Map" type="PackableHashTable" genericKey="uint" )"
       R"(genericValue="uint"/>)",
       "`_map_maxsize` read by the constructor would be the maximum size of packable `map`, not field "
       "`_map_maxsize`"},
      {"decoded enum result", R"(<field name="XRaw" type="byte"/><field name="X" type="Kind"/>)",
       "`x_raw` read by the constructor would be the decoded result of field `x`, not field `x_raw`"},
      {"raw enum value hiding a field", R"(<field name="KindBits" type="uint"/><field name="Kind" type="Kind"/>)",
       "`kind_bits` read by the constructor would be the raw value of field `kind`, not field `kind_bits`"},
      {"field hiding the raw value a switch reads",
       R"(<field name="Kind" type="Kind"/><field name="KindBits" type="uint"/><switch name="Kind">)"
       R"(<case value="1"/></switch>)",
       "`kind_bits` read by <switch name=\"Kind\"> would be field `kind_bits`, not the raw value of field `kind`"},
      {"field hiding the raw value a mask map reads",
       R"(<field name="Kind" type="Kind"/><field name="KindBits" type="uint"/><maskmap name="Kind">)"
       R"(<mask value="1"><field name="G" type="byte"/></mask></maskmap>)",
       "`kind_bits` read by the mask map on `kind` would be field `kind_bits`, not the raw value of field `kind`"},
      {"the raw value read before the field that hides it",
       R"(<field name="Kind" type="Kind"/><switch name="Kind"><case value="1"/></switch>)"
       R"(<field name="KindBits" type="uint"/>)",
       std::string(kBuilt)},
      {"case payload",
       R"(<field name="K" type="uint"/><switch name="K"><case value="1"><field name="C" type="byte"/>)"
       R"(<field name="VCount" type="byte"/><vector name="V" type="uint" length="C"/></case></switch>)",
       "`v_count` read by the variant Case_1 of <switch name=\"K\"> would be the count of vector `v`, not field "
       "`v_count`"},
  });
}

TEST(DecoderLocals, ScratchLocalsOfBlocksAndLoops) {
  const std::string f = R"(<field name="F" type="uint"/>)";
  expect_outcomes({
      {"gated field named like the mask bits",
       f + R"(<maskmap name="F"><mask value="1"><field name="__mm_bits" type="uint"/></mask></maskmap>)",
       "`__mm_bits` read by the mask map on `f` would be field `__mm_bits`, not the bits of the mask map on `f`"},
      {"earlier field named like the mask bits",
       R"(<field name="__mm_bits" type="uint"/><maskmap name="__mm_bits"><mask value="1">)"
       R"(<field name="G" type="byte"/></mask></maskmap>)",
       "`__mm_bits` read by the constructor would be the bits of the mask map on `__mm_bits`, not field "
       "`__mm_bits`"},
      {"two mask maps rebind their bits",
       f + R"(<maskmap name="F"><mask value="1"><field name="G" type="byte"/></mask></maskmap>)"
           R"(<maskmap name="F"><mask value="2"><field name="H" type="byte"/></mask></maskmap>)",
       std::string(kBuilt)},
      {"gated field named like another's decoded value",
       f + R"(<maskmap name="F"><mask value="1"><field name="A" type="byte"/><field name="A_v" type="byte"/>)"
           R"(</mask></maskmap>)",
       "`a_v` read by the mask map on `f` would be the decoded value of field `a`, not field `a_v`"},
      {"vector named like its element", f + R"(<vector name="__elem" type="uint" length="F"/>)",
       "`__elem` read by the loop of vector `__elem` would be a loop local of vector `__elem`, not vector `__elem`"},
      {"table named like its key", f + R"(<table name="__k" key="uint" value="uint" length="F"/>)",
       "`__k` read by the loop of table `__k` would be a loop local of table `__k`, not table `__k`"},
      {"hash table named like the raw value of its enum key",
       R"(<field name="__k_bits" type="PHashTable" genericKey="Kind" genericValue="uint"/>)",
       "`__k_bits` read by the loop of packable `__k_bits` would be a loop local of packable `__k_bits`, not "
       "packable `__k_bits`"},
      {"list named like the element block's enum locals",
       R"(<field name="__elem_bits" type="PackableList" genericType="Kind"/>)", std::string(kBuilt)},
      {"branch value hiding an outer field",
       R"(<field name="A_v" type="uint"/>)" + f +
           R"(<if test="F"><true><field name="A" type="uint"/><vector name="W" type="uint" length="A_v"/>)"
           R"(</true></if>)",
       "`a_v` read by vector `w` would be the innermost of two fields named `a_v`"},
      {"branch field read in its branch, in the other branch and after the block",
       f + R"(<if test="F"><true><field name="A" type="uint"/><vector name="W" type="uint" length="A"/>)"
           R"(</true><false><vector name="X" type="uint" length="A"/></false></if>)"
           R"(<vector name="Y" type="uint" length="A"/>)",
       std::string(kBuilt)},
      {"branch field named like a branch vector's count",
       f + R"(<if test="F"><true><vector name="X" type="uint" length="F"/><field name="X_v_count" type="byte"/>)"
           R"(</true></if>)",
       "`x_v_count` read by <if test=\"F\"> would be the count of vector `x`, not field `x_v_count`"},
      {"case field named like a numbered outer field",
       R"(<field name="X" type="uint"/><field name="X" type="uint"/><field name="K" type="uint"/>)"
       R"(<switch name="K"><case value="1"><field name="X_2" type="byte"/><vector name="V" type="uint" length="X"/>)"
       R"(</case></switch>)",
       "`x_2` read by vector `v` would be the innermost of two fields named `x_2`"},
      {"raw identifiers in every local",
       f + R"(<field name="Type" type="PHashTable" genericKey="Kind" genericValue="uint"/>)"
           R"(<vector name="Match" type="Kind" length="F"/><field name="Fn" type="Kind"/>)"
           R"(<if test="F"><true><field name="Ref" type="PackableHashTable" genericKey="uint" genericValue="uint"/>)"
           R"(<field name="Mod" type="Kind"/></true></if>)"
           R"(<maskmap name="Fn"><mask value="1"><field name="Let" type="Kind"/></mask></maskmap>)",
       std::string(kBuilt)},
  });
}

// ---- Echoed text -------------------------------------------------------------------------------

// Every comment a construct writes stays on its line: the emitted text holds
// no raw break or bidirectional control, and the escaped value is where the
// comment echoes it.
TEST(EchoedText, ConstructCommentsAndDocs) {
  struct Echo {
    const char* name;
    std::string body;
    std::vector<std::string> want;  // lines (without indent) the text must hold
  };
  const std::string f = R"(<field name="F" type="uint"/>)";
  const std::vector<Echo> cases = {
      {"if test",
       f + R"(<if test="&#10;F == 1"><true><field name="Y" type="uint"/></true></if>)",
       {"/// Conditional fields gated by `<if test=\"\\nF == 1\">`.", "// <if test=\"\\nF == 1\">"}},
      {"if text",
       f + R"(<if test="F" text="a&#x202E;b"><true><field name="Y" type="uint"/></true></if>)",
       {"/// `<if test=\"F\">`. a\\u{202e}b"}},
      {"case values and text",
       f + R"(<switch name="F"><case value="1&#13;"><field name="P" type="uint"/></case>)"
           R"(<case value="2" text="t&#x2067;"/></switch>)",
       {"/// case value=\"1\\r\".", "// case value=\"1\\r\"", "/// case value=\"2\". t\\u{2067}", "// 2 — t\\u{2067}"}},
      {"mask value",
       f + R"(<maskmap name="F"><mask value="&#10;Flags.A"><field name="G" type="uint"/></mask></maskmap>)",
       {"/// Gated on Flags.A (`f`).", "// <mask value=\"\\nFlags.A\">", "} // end mask \\nFlags.A"}},
      {"vector and table lengths",
       f + R"(<vector name="V" type="uint" length="&#10;F"/><table name="T" key="uint" value="uint" length="F&#13;"/>)",
       {"/// Vector field; length from protocol.xml `length=\"\\nF\"`.",
        "// <vector name=\"v\" length=\"\\nF\" type=\"u32\">",
        "/// Dictionary field; length from protocol.xml `length=\"F\\r\"`.",
        "// <table name=\"t\" length=\"F\\r\" key=\"u32\" value=\"u32\">"}},
      {"field text", R"(<field name="F" type="uint" text="x&#x2069;&#10;y"/>)", {"/// x\\u{2069} y"}},
  };
  for (const Echo& c : cases) {
    Env env;
    auto steps = build_body(env, c.body);
    ASSERT_TRUE(steps.ok()) << c.name << ": " << steps.reason();
    std::string text;
    emit_nested_types(text, *steps);
    for (const EmitStep& step : *steps) {
      emit_step_members(text, step);
      emit_step_decoder(Printer(text, kStatementIndent), step, kBodyPlace);
    }
    for (const char* bad : {"\r", "\u202E", "\u2066", "\u2067", "\u2069", "\u2028"}) {
      EXPECT_EQ(text.find(bad), std::string::npos) << c.name << "\n" << text;
    }
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < text.size();) {
      const std::size_t lf = text.find('\n', pos);
      const std::string line = text.substr(pos, lf - pos);
      lines.push_back(line.substr(std::min(line.find_first_not_of(' '), line.size())));
      pos = lf + 1;
    }
    for (const std::string& want : c.want) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << c.name << ": " << want << "\n" << text;
    }
  }
}

// ---- Raw identifiers in local names ------------------------------------------------------------

TEST(RawIdentifierLocals, UnderscoreGoesBeforeTheStem) {
  PackableField p;
  p.ident = "r#type";
  p.kind = PackableKind::PackableHashTable;
  p.key_rust_ty = p.value_rust_ty = "u32";
  p.key_kind = p.value_kind = FieldKind(FieldKind::U32);
  std::string out;
  emit_decoder(Printer(out, 8), p, kBodyPlace);
  EXPECT_NE(out.find("        let _type_maxsize: u16 = "), std::string::npos) << out;
  // Locals that put the raw identifier first are Rust as they stand.
  EXPECT_NE(out.find("        let r#type_count: usize = "), std::string::npos) << out;
  EXPECT_EQ(out.find("_r#"), std::string::npos) << out;

  EXPECT_EQ(without_raw_prefix("r#type"), "type");
  EXPECT_EQ(without_raw_prefix("ref"), "ref");
  EXPECT_EQ(without_raw_prefix("r_x"), "r_x");
}

// ---- Map keys, variant names, empty documentation --------------------------------------------

TEST(TableKeys, MapKeysMustBeOrdered) {
  const std::string c = R"(<field name="C" type="uint"/>)";
  expect_outcomes({
      {"float", c + R"(<table name="T" key="float" value="uint" length="C"/>)",
       "<table T>: key type \"float\" is not ordered (a map key needs Ord)"},
      {"double", c + R"(<table name="T" key="double" value="uint" length="C"/>)",
       "<table T>: key type \"double\" is not ordered (a map key needs Ord)"},
      {"data type", c + R"(<table name="T" key="Pos" value="uint" length="C"/>)",
       "<table T>: key type \"Pos\" is not ordered (a map key needs Ord)"},
      // The reasons of the construct itself come first.
      {"float key, unknown value", c + R"(<table name="T" key="float" value="Nope" length="C"/>)",
       "<table T>: value type \"Nope\" not in foundation tier"},
      {"enum", c + R"(<table name="T" key="Kind" value="float" length="C"/>)", std::string(kBuilt)},
      {"bool", c + R"(<table name="T" key="bool" value="Pos" length="C"/>)", std::string(kBuilt)},
      {"string", c + R"(<table name="T" key="string" value="uint" length="C"/>)", std::string(kBuilt)},
  });
}

TEST(SwitchVariants, ValuesThatAgreeInTheirLow64Bits) {
  const std::string k = R"(<field name="K" type="ulong"/>)";
  expect_outcomes({
      {"one value each", k + R"(<switch name="K"><case value="1"/><case value="18446744073709551617"/></switch>)",
       "<switch name=\"K\">: <case value=\"18446744073709551617\"> gives the variant Case_1 of an earlier case "
       "(its values agree with that case's in their low 64 bits)"},
      {"two values each",
       k + R"(<switch name="K"><case value="1|2"/><case value="0x10000000000000001 | 0x10000000000000002"/>)"
           R"(</switch>)",
       "<switch name=\"K\">: <case value=\"0x10000000000000001 | 0x10000000000000002\"> gives the variant "
       "Case_1_2 of an earlier case (its values agree with that case's in their low 64 bits)"},
      {"a failing case body is reported first",
       k + R"(<switch name="K"><case value="1"/><case value="18446744073709551617"/>)"
           R"(<case value="3"><table name="T"/></case></switch>)",
       "<switch name=\"K\"> <case value=\"3\">: unsupported body child <table>"},
      {"negative and wide values keep apart",
       k + R"(<switch name="K"><case value="-1"/><case value="18446744073709551615"/>)"
           R"(<case value="18446744073709551617"/></switch>)",
       std::string(kBuilt)},
  });
}

TEST(IfMembers, AlignOnlyBlockWritesNoDocumentation) {
  struct Members {
    const char* name;
    std::string body;
    std::string want;
  };
  const std::string f = R"(<field name="F" type="uint"/>)";
  const std::vector<Members> cases = {
      {"true branch", f + R"(<if test="F"><true><align type="uint"/></true></if>)", ""},
      {"both branches, with text",
       f + R"(<if test="F" text="pads"><true><align type="byte"/></true><false><align type="long"/></false></if>)", ""},
      {"a payload in either branch keeps the line",
       f + R"(<if test="F"><true><align type="uint"/></true><false><field name="G" type="byte"/></false></if>)",
       "    /// Conditional fields gated by `<if test=\"F\">`.\n"
       "    /// Gated on `<if>` `false` branch — present iff the test selected this branch.\n"
       "    pub g: Option<u8>,\n"},
  };
  for (const Members& c : cases) {
    Env env;
    auto steps = build_body(env, c.body);
    ASSERT_TRUE(steps.ok()) << c.name << ": " << steps.reason();
    std::string out;
    emit_step_members(out, steps->back());
    EXPECT_EQ(out, c.want) << c.name;
  }
}

// ---- Elements that read no bytes -----------------------------------------------------------------

TEST(ZeroWidthElements, CountedLoopsRefuseThem) {
  const std::string c = R"(<field name="C" type="uint"/>)";
  expect_outcomes({
      {"vector", c + R"(<vector name="V" type="Empty" length="C"/>)",
       "<vector V>: element type \"Empty\" can decode from zero bytes, so a large count would loop without "
       "consuming input"},
      {"packable list", R"(<field name="L" type="PackableList" genericType="Empty"/>)",
       "<field L type=\"PackableList\" genericType=\"Empty\">: element type can decode from zero bytes, so a large "
       "count would loop without consuming input"},
      {"hash table of two empty types",
       R"(<field name="H" type="PHashTable" genericKey="Empty" genericValue="Empty"/>)",
       "<field H type=\"PHashTable\" genericKey=\"Empty\" genericValue=\"Empty\">: key and value types can both decode "
       "from zero bytes, so a large count would loop without consuming input"},
      {"vector in a branch", c + R"(<if test="C"><true><vector name="V" type="Empty" length="C"/></true></if>)",
       "<if test=\"C\"> <true>: <vector V>: element type \"Empty\" can decode from zero bytes, so a large count "
       "would loop without consuming input"},
      {"the skip is checked first", c + R"(<vector name="V" type="Empty" length="C" skip="two"/>)",
       "<vector V>: skip=\"two\" is not a parseable integer literal"},
      {"hash table with one side that reads",
       R"(<field name="H" type="PackableHashTable" genericKey="uint" genericValue="Empty"/>)", std::string(kBuilt)},
      {"vector of a type that reads", c + R"(<vector name="V" type="Full" length="C"/>)", std::string(kBuilt)},
      {"a single empty field", R"(<field name="E" type="Empty"/>)", std::string(kBuilt)},
  });
}

TEST(ZeroWidthElements, WhichBodiesCanReadNothing) {
  struct Width {
    const char* name;
    std::string body;
    bool may_read_nothing;
  };
  const std::vector<Width> cases = {
      {"no steps", "", true},
      {"pads only", R"(<align type="uint"/><align type="byte"/>)", true},
      {"fields of empty types", R"(<align type="uint"/><field name="E" type="Empty"/>)", true},
      {"a byte", R"(<field name="E" type="Empty"/><field name="B" type="byte"/>)", false},
      {"a field of a type that reads", R"(<field name="P" type="Full"/>)", false},
      {"a packable header", R"(<field name="L" type="PackableList" genericType="uint"/>)", false},
      {"a string", R"(<field name="S" type="string"/>)", false},
  };
  for (const Width& c : cases) {
    Env env;
    auto steps = build_body(env, c.body);
    ASSERT_TRUE(steps.ok()) << c.name << ": " << steps.reason();
    EXPECT_EQ(steps_may_read_nothing(*steps, env.ctx.registry), c.may_read_nothing) << c.name;
  }
}

// Every local a construct's decoder template binds, in the order Rust binds
// them: `let` bindings and the discriminator of a switch arm, without `r#`.
// A `let` whose value is a block (`let x = {` ... `};`) binds after the
// block, as the walk does.
std::vector<std::string> locals_in_text(const std::string& text) {
  std::vector<std::string> out;
  std::vector<std::pair<std::string, int>> pending;  // a block's `let`, and the depth its block opens at
  int depth = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line(text.data() + at, end - at);
    line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    const auto binding = [&](std::size_t skip) {
      std::string_view rest = line.substr(skip);
      if (rest.starts_with("r#")) rest.remove_prefix(2);
      std::size_t n = 0;
      while (n < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[n])) != 0 || rest[n] == '_')) ++n;
      return std::string(rest.substr(0, n));
    };
    std::string name;
    if (line.starts_with("let mut ")) {
      name = binding(8);
    } else if (line.starts_with("let ")) {
      name = binding(4);
    }
    if (line.starts_with("n if ")) out.emplace_back("n");
    if (!name.empty() && line.ends_with("= {")) {
      pending.emplace_back(name, depth);
    } else if (!name.empty()) {
      out.push_back(name);
    }
    for (const char c : line) {
      if (c == '{') ++depth;
      if (c == '}') --depth;
    }
    if (!pending.empty() && line.starts_with("};") && depth == pending.back().second) {
      out.push_back(pending.back().first);
      pending.pop_back();
    }
    at = end + 1;
  }
  return out;
}

// The walk of each construct's decoder locals (what the collision checks
// rely on) names exactly the locals its template binds, in the same order:
// a template that gains or loses a binding fails here until its walk does
// the same.
TEST(DecoderLocals, EveryTemplateBindsWhatItsWalkDeclares) {
  const std::string n = R"(<field name="N" type="uint"/>)";
  const std::string bodies[] = {
      R"(<field name="A" type="uint"/><field name="S" type="string"/><field name="W" type="WString"/>)"
      R"(<field name="P" type="PackedDWORD"/><field name="B" type="bool"/><field name="E" type="Kind"/>)"
      R"(<field name="F" type="Full"/><align type="uint"/>)",
      n + R"(<vector name="V" type="Kind" length="N"/><vector name="W" type="uint" length="N" skip="1"/>)",
      n + R"(<table name="T" key="Kind" value="Kind" length="N"/>)",
      R"(<field name="L" type="PackableList" genericType="Kind"/>)"
      R"(<field name="H" type="PackableHashTable" genericKey="uint" genericValue="Kind"/>)"
      R"(<field name="Q" type="PHashTable" genericKey="Kind" genericValue="Full"/>)",
      n + R"(<if test="N"><true><field name="X" type="uint"/><field name="E" type="Kind"/>)"
          R"(<vector name="V" type="uint" length="X"/>)"
          R"(<align type="uint"/></true><false><field name="Y" type="uint"/>)"
          R"(<field name="L" type="PackableList" genericType="uint"/></false></if>)",
      n + R"(<maskmap name="N" xor="1"><mask value="1"><field name="L" type="PackableList" genericType="Kind"/>)"
          R"(<field name="G" type="Kind"/><field name="H" type="uint"/></mask>)"
          R"(<mask value="2"><field name="I" type="uint"/></mask></maskmap>)",
      R"(<field name="K" type="uint"/><switch name="K"><case value="1|2"><field name="X" type="Kind"/>)"
      R"(<switch name="X"><case value="3"><field name="Z" type="uint"/></case></switch>)"
      R"(<if test="K"><true><field name="Y" type="uint"/></true></if>)"
      R"(<maskmap name="K"><mask value="1"><field name="G" type="uint"/></mask></maskmap></case>)"
      R"(<case value="4"/></switch>)",
  };
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body);
    Env env;
    auto steps = build_body(env, body);
    ASSERT_TRUE(steps) << steps.reason();
    for (const EmitStep& step : *steps) {
      std::string text;
      emit_step_decoder(Printer(text, kStatementIndent), step, kBodyPlace);
      std::vector<std::string> walked;
      LocalsWalk walk;
      walk.trace = &walked;
      std::vector<LocalsWalk::Member> members;
      walk.push();
      visit_step(step, [&](const auto& m) { walk_locals(walk, m, kBodyPlace, members); });
      EXPECT_EQ(locals_in_text(text), walked) << text;
    }
  }
}

// The walk's table of the newest binding per name, through many bindings,
// names hidden and shown again by scopes, and keys with and without `r#` or a
// suffix: every read meets the binding in view, and a hidden one is reported.
TEST(LocalsWalkTable, EveryReadMeetsTheBindingInView) {
  using Role = LocalsWalk::Role;
  const auto name = [](int i) {
    std::string n = "v";
    n += std::to_string(i);
    return n;
  };
  LocalsWalk w;
  w.push();
  std::vector<std::size_t> outer;
  for (int i = 0; i < 300; ++i) outer.push_back(w.bind(name(i), Role::Value, LocalsWalk::plain_text("outer")));
  for (int round = 0; round < 4; ++round) {
    w.push();
    for (int i = round % 2; i < 300; i += 2) w.bind(name(i), Role::Internal, LocalsWalk::plain_text("inner"));
    for (int i = 1 - round % 2; i < 300; i += 2) w.read_exact(name(i), outer[i], LocalsWalk::plain_text("reader"));
    EXPECT_FALSE(w.problem) << round << ": " << *w.problem;
    w.pop();
  }
  for (int i = 0; i < 300; ++i) w.read_exact(name(i), outer[i], LocalsWalk::plain_text("reader"));
  EXPECT_FALSE(w.problem) << *w.problem;

  const std::size_t raw = w.bind("r#type", "_raw", Role::Internal, LocalsWalk::plain_text("a raw value"));
  w.read_exact("type_raw", raw, LocalsWalk::plain_text("reader"));
  w.read_exact("r#type_raw", raw, LocalsWalk::plain_text("reader"));
  EXPECT_FALSE(w.problem) << *w.problem;

  w.push();
  w.bind("v7", Role::Internal, LocalsWalk::plain_text("the hider"));
  w.read_exact("v7", outer[7], LocalsWalk::plain_text("the reader"));
  ASSERT_TRUE(w.problem);
  EXPECT_EQ(*w.problem, "`v7` read by the reader would be the hider, not outer");
}

}  // namespace
}  // namespace qm
