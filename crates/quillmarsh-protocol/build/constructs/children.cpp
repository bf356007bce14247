// The one dispatch of body children: the struct body, if branches, switch
// cases and mask groups hand each child element to the builder of its
// construct, each allowing its own set of children (one table below).

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "constructs/constructs.hpp"
#include "text/text.hpp"

namespace qm {
namespace {

constexpr unsigned bits(std::initializer_list<ChildTag> tags) {
  unsigned out = 0;
  for (const ChildTag tag : tags) out |= static_cast<unsigned>(tag);
  return out;
}

// What each place accepts besides `field` (and what the extended tier accepts
// there too), whether its fields enter the sibling lookup, and how it refuses
// anything else. A mask group's fields are seen only inside the group (by the
// lengths of its vectors).
//   place, allowed, extended, register fields, register mask-map fields, align hint, refusal
const ChildRules kPlaces[] = {
    {ChildPlace::Body,
     bits({ChildTag::Align, ChildTag::Vector, ChildTag::Maskmap, ChildTag::Switch, ChildTag::Table, ChildTag::If}),
     0,
     true,
     true,
     " \u2014 only byte/short/ushort/int/uint/long/ulong supported",
     "unsupported child `<$tag$>`",
     {},
     {}},
    {ChildPlace::IfBranch,
     bits({ChildTag::Align, ChildTag::Vector}),
     bits({ChildTag::Maskmap, ChildTag::Switch, ChildTag::Table, ChildTag::If}),
     true,
     true,
     "",
     "unsupported child <$tag$>",
     {},
     {}},
    {ChildPlace::Case,
     bits({ChildTag::Align, ChildTag::Vector, ChildTag::Maskmap, ChildTag::Switch, ChildTag::If}),
     bits({ChildTag::Table}),
     true,
     false,
     "",
     "unsupported body child <$tag$>",
     {},
     {}},
    {ChildPlace::MaskGroup,
     0,
     bits({ChildTag::Vector}),
     true,
     false,
     "",
     "unexpected child <$tag$>; only <field> allowed inside <mask>",
     {},
     {}},
};

// Appends a built model as a step, or returns its reason behind `before`,
// which is joined only then.
template <class M>
Result<bool> append(Result<M> built, std::vector<EmitStep>& steps, std::string_view before = {}) {
  if (!built) return fail(std::string(before).append(built.reason()));
  steps.emplace_back(std::move(built).value());
  return true;
}

// Builds one child element into a step appended to `steps`.
Result<bool> build_child_step(const CodegenCtx& ctx, const xml::Node& child, const ChildRules& rules, BodyContext& body,
                              SiblingLookup& lookup, std::vector<EmitStep>& steps) {
  const std::string_view tag = child.tag();
  const unsigned accepted = rules.allowed | (ctx.extended ? rules.extended : 0U);
  const auto allowed = [&](ChildTag t) { return (accepted & static_cast<unsigned>(t)) != 0; };
  if (tag == "field") {
    if (const std::optional<PackableKind> kind = packable_kind_for_field(child)) {
      return append(build_packable_field(ctx, child, *kind, body), steps);
    }
    Result<SimpleField> field = build_simple_field(ctx, child, body, &lookup);
    if (field && rules.register_fields) register_field(lookup, *field);
    return append(std::move(field), steps);
  }
  if (tag == "align" && allowed(ChildTag::Align)) {
    const std::optional<std::size_t> width = align_byte_width_from_node(child);
    if (!width) {
      return fail("<align> with type " + debug_opt_str(child.attr("type")) + ": unknown alignment width" +
                  std::string(rules.align_hint));
    }
    steps.push_back(EmitStep{AlignStep{*width}});
    return true;
  }
  if (tag == "vector" && allowed(ChildTag::Vector)) {
    return append(build_vector_field(ctx, child, body, lookup), steps);
  }
  if (tag == "maskmap" && allowed(ChildTag::Maskmap)) {
    Result<MaskmapBlock> block = build_maskmap_block(ctx, child, body, lookup);
    if (block && rules.register_gated) register_gated(lookup, *block);
    return append(std::move(block), steps);
  }
  if (tag == "switch" && allowed(ChildTag::Switch)) {
    // A nested switch's enum type is named after the case that holds it.
    const std::size_t owner_size = body.owner.size();
    body.owner += rules.switch_owner_suffix;
    Result<SwitchBlock> block = build_switch_block(ctx, child, body, lookup);
    body.owner.resize(owner_size);
    return append(std::move(block), steps, rules.switch_prefix);
  }
  if (tag == "table" && allowed(ChildTag::Table)) {
    return append(build_table_field(ctx, child, body, lookup), steps);
  }
  if (tag == "if" && allowed(ChildTag::If)) {
    return append(build_if_block(ctx, child, body, lookup), steps);
  }
  std::string reason;
  emit(reason, rules.refusal, {{"tag", tag}});
  return fail(std::move(reason));
}

}  // namespace

const ChildRules& child_rules(ChildPlace place) {
  for (const ChildRules& rules : kPlaces) {
    if (rules.place == place) return rules;
  }
  return kPlaces[0];  // unreachable: every place has a row
}

Result<bool> build_child_steps(const CodegenCtx& ctx, const xml::Node& parent, const ChildRules& rules,
                               BodyContext& body, SiblingLookup& lookup, std::vector<EmitStep>& steps) {
  for (const xml::Node* child : parent.children()) {
    Result<bool> built = build_child_step(ctx, *child, rules, body, lookup, steps);
    if (!built) return built;
  }
  return true;
}

}  // namespace qm
