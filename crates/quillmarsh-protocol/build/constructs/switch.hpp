#pragma once
// Switch blocks: one enum variant per case, chosen by an earlier field.

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/construct.hpp"

namespace qm {

struct SwitchCase {
  std::string variant;     // `Case_...`
  std::string value_text;  // `value` as written
  std::vector<i128> values;
  std::vector<EmitStep> steps;
  std::optional<std::string> text;
};

struct SwitchBlock {
  std::string type_name;  // generated enum type
  std::string ident;      // member and decoder local
  std::string disc_expr;  // the discriminator's value (an enum field's local), as documented
  std::string disc_rust;  // what the decoder matches on (an enum field's raw bits)
  LocalReads disc_reads;
  std::string name;  // `name` as written
  std::vector<SwitchCase> cases;
};

// Nesting of switch cases deeper than this gives a reason, never a crash.
inline constexpr std::size_t kMaxBlockDepth = 64;

// `body` and `lookup` serve as scratch while the cases are built; they are
// left as they were, except that `body` counts the switch's own member.
Result<SwitchBlock> build_switch_block(const CodegenCtx& ctx, const xml::Node& switch_element, BodyContext& body,
                                       SiblingLookup& lookup);
struct SwitchDiscriminator {
  std::string expr;      // the value, as documented
  bool is_enum = false;  // an enum field's, matched on through its raw bits
  std::string rust;      // what the decoder matches on
  LocalReads reads;
};
// The not-found and branch-field reasons come without the `<switch ...>: ` prefix.
Result<SwitchDiscriminator> resolve_switch_discriminator(std::string_view name, const SiblingLookup& lookup);
std::string canonical_case_variant_id(const std::vector<i128>& values);
// The enum type of one switch (its nested switches' types not included).
void emit_switch_enum(std::string& out, const SwitchBlock& block);
// Its serde impls: externally tagged, a case with fields as a map of them,
// one without as its name.
void emit_switch_serde(std::string& out, const SwitchBlock& block);
// The first problem with the names the enum type of `block` declares: its
// own, against the module and `type_keys` (which receives its key), its
// variants' and their fields'.
std::optional<std::string> switch_type_problem(const CodegenCtx& ctx, const SwitchBlock& block,
                                               std::set<std::string>& type_keys);
// A variant field of `block` (not of the switches nested in it) named like a
// local the encoder binds itself.
std::optional<std::string> case_field_taking_encoder_local(const SwitchBlock& block);

// Members: its documentation line and `pub {ident}: {type_name},`.
void emit_members(const Printer& p, const SwitchBlock& block);
void emit_ctor_entries(const Printer& p, const SwitchBlock& block);
void emit_accessors(const Printer& p, const SwitchBlock& block);
void add_accessors(const SwitchBlock& block, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const SwitchBlock& block, StepPlace place);
void add_members(const SwitchBlock& block, std::vector<MemberDecl>& out);
void add_switches(const SwitchBlock& block, std::vector<const SwitchBlock*>& out);
bool declares_fields(const SwitchBlock& block);
bool may_read_nothing(const SwitchBlock& block, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const SwitchBlock& block, StepPlace place, std::vector<LocalsWalk::Member>& out);

void emit_encoder(const Printer& p, const SwitchBlock& block, StepPlace place);

}  // namespace qm
