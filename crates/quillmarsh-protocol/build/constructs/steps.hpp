#pragma once
// The steps of a struct body: one step per body child, holding its
// construct's model; building a child into a step, and the walks over a
// body's steps (each visits every construct: a construct the walk does not
// handle does not compile).

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "constructs/construct.hpp"
#include "constructs/field.hpp"
#include "constructs/if.hpp"
#include "constructs/maskmap.hpp"
#include "constructs/packable.hpp"
#include "constructs/switch.hpp"
#include "constructs/table.hpp"
#include "constructs/vector.hpp"

namespace qm {

// One step of a body, in document order.
struct EmitStep {
  using Variant =
      std::variant<SimpleField, AlignStep, VectorField, MaskmapBlock, SwitchBlock, TableField, IfBlock, PackableField>;
  Variant v;

  // A step holding model `m`, built in place (`steps.emplace_back(model)`
  // moves the model once).
  template <class M>
  requires(!std::is_same_v<std::remove_cvref_t<M>, EmitStep>) EmitStep(M&& m)
      : v(std::forward<M>(m)) {}  // NOLINT(google-explicit-constructor)
};

// ---- Body children ------------------------------------------------------------------

// The child elements besides `field` that a place of a body accepts.
enum class ChildTag : unsigned { Align = 1, Vector = 2, Maskmap = 4, Switch = 8, Table = 16, If = 32 };

// The places of a body that hold children.
enum class ChildPlace { Body, IfBranch, Case, MaskGroup };

// What one place of a body accepts and how it words its reasons (one row per
// place in children.cpp). A child's reason comes without the place's own
// prefix: the block holding the place puts that before it, building it only
// for a reason.
struct ChildRules {
  ChildPlace place = ChildPlace::Body;
  unsigned allowed = 0;             // ChildTag bits
  unsigned extended = 0;            // ChildTag bits accepted by the extended tier too
  bool register_fields = false;     // simple fields enter the lookup
  bool register_gated = false;      // mask-map fields enter the lookup
  std::string_view align_hint;      // after the unknown-alignment reason
  std::string_view refusal;         // the reason for any other child, `$tag$` its tag
  std::string switch_owner_suffix;  // appended to the owner for a nested switch's type name
  std::string_view switch_prefix;   // before a nested switch's reasons
};
const ChildRules& child_rules(ChildPlace place);

// Builds every child element of `parent` into steps appended to `steps`; the
// first reason when one cannot be built or is not allowed here.
Result<bool> build_child_steps(const CodegenCtx& ctx, const xml::Node& parent, const ChildRules& rules,
                               BodyContext& body, SiblingLookup& lookup, std::vector<EmitStep>& steps);

// ---- Walks over steps --------------------------------------------------------------------

// Calls `f` with the model of `step`.
template <class F>
decltype(auto) visit_step(const EmitStep& step, F&& f) {
  return std::visit(std::forward<F>(f), step.v);
}

// A variant field of a switch case is a member, except that an if block's
// branches share one option per name there.
template <class M>
void add_variant_fields(const M& m, std::vector<MemberDecl>& out) {
  add_members(m, out);
}

// The members the steps declare, in order.
std::vector<MemberDecl> collect_members(const std::vector<EmitStep>& steps);
// The fields of a switch case's variant.
std::vector<MemberDecl> collect_case_payload_fields(const std::vector<EmitStep>& steps);
// The accessor names the steps declare.
std::vector<std::string_view> collect_accessors(const std::vector<EmitStep>& steps);
// The switch blocks among the steps, nested ones included, innermost first.
std::vector<const SwitchBlock*> collect_switches(const std::vector<EmitStep>& steps);

// The types the steps declare ahead of their struct (the enums of their
// switches, nested ones included, innermost first): their text, their
// names, and the first problem with the names they declare (each type's key
// goes into `type_keys`, which holds those already declared in the struct).
void emit_nested_types(std::string& out, const std::vector<EmitStep>& steps);
// Their serde impls, in the same order.
void emit_nested_types_serde(std::string& out, const std::vector<EmitStep>& steps);
std::vector<std::string_view> collect_nested_type_names(const std::vector<EmitStep>& steps);
std::optional<std::string> nested_type_problem(const CodegenCtx& ctx, const std::vector<EmitStep>& steps,
                                               std::set<std::string>& type_keys);

// The member, or variant field of a switch among the steps, whose name is
// one the encoder binds itself (so that it would hide that local); nothing
// when every name is free.
std::optional<std::string> member_taking_encoder_local(const std::vector<EmitStep>& steps);
// Whether a decoder of these steps can finish without consuming a byte.
bool steps_may_read_nothing(const std::vector<EmitStep>& steps, const TypeRegistry& registry);

// Whether any step makes the struct one that declares fields.
bool steps_declare_fields(const std::vector<EmitStep>& steps);
// The accessors of one top-level step, at four spaces.
void emit_step_accessors(std::string& out, const EmitStep& step);
// The struct members of one top-level step (documentation lines included).
void emit_step_members(std::string& out, const EmitStep& step);
// The decoder statements of one step at `place` (a top-level step: at
// `kStatementIndent`, `kBodyPlace`).
void emit_step_decoder(const Printer& p, const EmitStep& step, StepPlace place);
// The constructor entries of one top-level step, at twelve spaces.
void emit_step_ctor_entries(std::string& out, const EmitStep& step);

void emit_step_encoder(const Printer& p, const EmitStep& step, StepPlace place);

// ---- Decoder locals ---------------------------------------------------------------------

// The locals of the decoder of `steps` at `place`.
void walk_steps_locals(LocalsWalk& walk, const std::vector<EmitStep>& steps, StepPlace place,
                       std::vector<LocalsWalk::Member>& members);
// The first read in the decoder of a body with these steps that would meet a
// local other than the value it means (a count, raw value, option, loop local
// or match binding of one construct hiding a field another construct or the
// constructor reads), as a reason; nothing when every read meets its value.
std::optional<std::string> find_decoder_local_collision(const std::vector<EmitStep>& steps);
// The same walk, leaving its findings (the collision, the enum values bound)
// in `walk`.
void walk_decoder_locals(LocalsWalk& walk, const std::vector<EmitStep>& steps);

}  // namespace qm
