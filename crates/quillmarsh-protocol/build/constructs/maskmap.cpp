// Mask maps: groups of fields present only when bits of an earlier numeric
// field are set. The decoder computes the parent's bits once and tests each
// group's pattern independently.

#include "constructs/maskmap.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "constructs/steps.hpp"
#include "schema/literals.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

// The label that stands for a group in member documentation: the dotted
// enum reference as written, or the bit pattern.
std::string group_label(const MaskGroup& group) {
  if (group.value_text.find('.') != std::string::npos) return group.value_text;
  return "bit 0x" + to_hex_upper(group.mask, 8);
}

// The label that closes a group in the decoder, kept on the comment's line.
std::string group_end_label(const MaskGroup& group) {
  if (group.value_text.find('.') == std::string::npos) return "0x" + to_hex_upper(group.mask);
  std::string label;
  for (char c : group.value_text) {
    if (c != '"') label.push_back(c);
  }
  return one_line_comment_text(label);
}

void emit_gated_member(const Printer& p, std::string_view label, std::string_view parent, const MemberDecl& member) {
  if (member.doc != nullptr && *member.doc) {
    p("/// Gated on $label$ (`$parent$`). $text$\n",
      {{"label", label}, {"parent", parent}, {"text", escape_doc(**member.doc)}});
  } else {
    p("/// Gated on $label$ (`$parent$`).\n", {{"label", label}, {"parent", parent}});
  }
  p("pub $ident$: Option<$ty$>,\n", {{"ident", member.name}, {"ty", member.ty}});
}

bool is_simple_field(const EmitStep& step) { return std::holds_alternative<SimpleField>(step.v); }

// Where a group's packables begin: its simple fields come first.
std::size_t packables_begin(const MaskGroup& group) {
  return static_cast<std::size_t>(std::find_if_not(group.steps.begin(), group.steps.end(), is_simple_field) -
                                  group.steps.begin());
}

}  // namespace

Result<MaskmapParent> resolve_maskmap_parent(std::string_view name, const SiblingLookup& lookup) {
  const std::string key(name);
  if (const auto it = lookup.numeric_fields.find(key); it != lookup.numeric_fields.end()) {
    const NumericFieldRef& field = it->second;
    return MaskmapParent{lookup.value_of(field.ident, field.branch) + " as u64",
                         field.ident,
                         {lookup.value_read(field.ident, field.branch)}};
  }
  if (const auto it = lookup.enum_fields.find(key); it != lookup.enum_fields.end()) {
    return MaskmapParent{
        lookup.raw_bits_of(it->second) + " as u64", it->second.ident, {lookup.raw_bits_read(it->second)}};
  }
  if (const auto it = lookup.gated_fields.find(key); it != lookup.gated_fields.end()) {
    std::string local = lookup.gated_local(it->second);
    return MaskmapParent{local + ".map_or(0u64, |v| v as u64)", it->second.ident, {LocalRead{local, LocalRead::Value}}};
  }
  return fail("parent " + debug_str(name) +
              " is not a sibling numeric field — maskmap parents must be declared before the <maskmap> in the "
              "same <type> body");
}

Result<std::uint64_t> parse_mask_value(std::string_view value, const EnumValueTable& enum_values) {
  const std::string_view trimmed = trim_unicode_ws(value);
  if (const auto number = parse_int_literal(trimmed)) return static_cast<std::uint64_t>(*number);

  const std::size_t dot = trimmed.find('.');
  if (dot == std::string_view::npos) {
    return fail("mask value " + debug_str(value) +
                " is neither a hex literal nor an `EnumName.VariantName` dotted reference");
  }
  const std::string enum_name(trimmed.substr(0, dot));
  const std::string variant(trimmed.substr(dot + 1));
  const auto en = enum_values.find(enum_name);
  if (en == enum_values.end()) {
    return fail("enum " + debug_str(enum_name) + " not emitted before this <mask> reference (forward reference?)");
  }
  const auto member = en->second.find(variant);
  if (member == en->second.end()) {
    return fail("enum " + debug_str(enum_name) + " has no variant named " + debug_str(variant));
  }
  return static_cast<std::uint64_t>(member->second);
}

void register_gated(SiblingLookup& lookup, const MaskmapBlock& block) {
  for (const MaskGroup& group : block.groups) {
    for (const EmitStep& step : group.steps) {
      if (const auto* field = std::get_if<SimpleField>(&step.v)) {
        lookup.add_gated(field->xml_name, field->ident, field->kind);
      }
    }
  }
}

Result<MaskmapBlock> build_maskmap_block(const CodegenCtx& ctx, const xml::Node& maskmap, BodyContext& body,
                                         SiblingLookup& lookup) {
  const auto name = maskmap.attr("name");
  if (!name) return fail("<maskmap> missing name= attribute");
  // The reasons' prefixes are built only for a reason.
  const auto prefix = [&] { return "<maskmap name=" + debug_str(*name) + ">"; };

  MaskmapBlock block;
  Result<MaskmapParent> parent = resolve_maskmap_parent(*name, lookup);
  if (!parent) return parent.fail_with_prefix(prefix() + ": ");
  block.parent_bits = std::move(parent->bits);
  block.parent_ident = std::move(parent->ident);
  block.parent_reads = std::move(parent->reads);

  if (const auto xor_text = maskmap.attr("xor")) {
    const auto xor_value = parse_int_literal(*xor_text);
    if (!xor_value) return fail(prefix() + " xor=" + debug_str(*xor_text) + " is not a parseable integer literal");
    block.xor_value = static_cast<std::uint64_t>(*xor_value);
  }

  for (const xml::Node* child : maskmap.children()) {
    if (child->tag() != "mask") {
      return fail(prefix() + ": unexpected child <" + std::string(child->tag()) + ">; only <mask> allowed");
    }
    const auto value = child->attr("value");
    if (!value) return fail(prefix() + ": <mask> missing value= attribute");
    const auto mask_tag = [&] { return "<mask value=" + debug_str(*value) + ">"; };
    auto mask = parse_mask_value(*value, ctx.enum_values);
    if (!mask) return mask.fail_with_prefix(prefix() + ": " + mask_tag() + ": ");

    MaskGroup group;
    group.value_text = std::string(*value);
    group.mask = *mask;
    const auto inner_prefix = [&] { return prefix() + " " + mask_tag() + ": "; };
    // The children's reasons come without a prefix; the group's goes before
    // them. The group's fields are in the lookup only while the group is
    // built: a vector of the group may take its length from one.
    const std::size_t mark = lookup.checkpoint();
    const std::size_t outer_branch = lookup.open_branch;
    lookup.open_branch = lookup.new_branch();
    Result<bool> built = build_child_steps(ctx, *child, child_rules(ChildPlace::MaskGroup), body, lookup, group.steps);
    lookup.open_branch = outer_branch;
    lookup.rollback(mark);
    if (!built) return built.fail_with_prefix(inner_prefix());
    // Simple fields first, then packables, each kind keeping its order. A
    // group holding a vector (which the extended tier takes) is read in the
    // order of the description, as the wire holds it.
    const bool has_vector = std::any_of(group.steps.begin(), group.steps.end(),
                                        [](const EmitStep& s) { return std::holds_alternative<VectorField>(s.v); });
    if (!has_vector && !std::is_partitioned(group.steps.begin(), group.steps.end(), is_simple_field)) {
      std::stable_partition(group.steps.begin(), group.steps.end(), is_simple_field);
    }
    if (group.steps.empty()) return fail(inner_prefix() + "contains no <field> children");
    block.groups.push_back(std::move(group));
  }
  if (block.groups.empty()) return fail(prefix() + ": contains no <mask> children");
  return block;
}

namespace {

// The test that opens a mask group's block, in the decoder and the encoder.
void emit_mask_open(const Printer& p, const MaskGroup& group) {
  p(R"(// <mask value="$value$">
if (__mm_bits & 0x$mask$u64) != 0 {
)",
    {{"value", escape_xml_attr_for_doc(group.value_text)}, {"mask", to_hex_upper(group.mask)}});
}

// Stores a group member's decoded `{ident}_v` value into its option, for a
// mask map standing at `place`.
void emit_store_option(const Printer& p, const MemberDecl& member, StepPlace place) {
  p("$option$ = Some($value$);\n",
    {{"option", decoder_local(member.name, place)}, {"value", decoder_local(member.name, place.block_inside())}});
}

// Each group decodes its simple fields into `{ident}_v` locals and stores
// them, then each packable, stored right after it.
void emit_read_maskmap_into(const Printer& p, const MaskmapBlock& block, StepPlace place) {
  const StepPlace in_group = place.block_inside();
  p("// <maskmap name=\"$parent$\">\n", {{"parent", block.parent_ident}});
  if (block.xor_value) {
    const std::string xor_hex = to_hex_upper(*block.xor_value);
    p("let __mm_bits: u64 = $bits$ ^ 0x$xor$u64; // xor=0x$xor$\n", {{"bits", block.parent_bits}, {"xor", xor_hex}});
  } else {
    p("let __mm_bits: u64 = $bits$;\n", {{"bits", block.parent_bits}});
  }
  for (const MaskGroup& group : block.groups) {
    for (const MemberDecl& member : collect_members(group.steps)) {
      p("let mut $ident$: Option<$ty$> = None;\n", {{"ident", decoder_local(member.name, place)}, {"ty", member.ty}});
    }
  }
  const Printer inner = p.in();
  for (const MaskGroup& group : block.groups) {
    emit_mask_open(p, group);
    // Each step of a group declares one member.
    const std::vector<MemberDecl> members = collect_members(group.steps);
    const std::size_t packables = packables_begin(group);
    for (std::size_t i = 0; i < packables; ++i) emit_step_decoder(inner, group.steps[i], in_group);
    for (std::size_t i = 0; i < group.steps.size(); ++i) {
      if (i >= packables) emit_step_decoder(inner, group.steps[i], in_group);
      emit_store_option(inner, members[i], place);
    }
    p("} // end mask $label$\n", {{"label", group_end_label(group)}});
  }
}

}  // namespace

void emit_members(const Printer& p, const MaskmapBlock& block) {
  const std::string parent = escape_doc(block.parent_ident);
  for (const MaskGroup& group : block.groups) {
    const std::string label = escape_doc(group_label(group));
    for (const MemberDecl& member : collect_members(group.steps)) emit_gated_member(p, label, parent, member);
  }
}

void emit_ctor_entries(const Printer& p, const MaskmapBlock& block) {
  for (const MaskGroup& group : block.groups) {
    for (const EmitStep& step : group.steps) visit_step(step, [&](const auto& m) { emit_ctor_entries(p, m); });
  }
}

void emit_accessors(const Printer& /*p*/, const MaskmapBlock& /*block*/) {}
void add_accessors(const MaskmapBlock& /*block*/, std::vector<std::string_view>& /*out*/) {}

void emit_decoder(const Printer& p, const MaskmapBlock& block, StepPlace place) {
  emit_read_maskmap_into(flat_in_block(p, place), block, place);
}

void add_members(const MaskmapBlock& block, std::vector<MemberDecl>& out) {
  for (const MaskGroup& group : block.groups) {
    for (MemberDecl& member : collect_members(group.steps)) out.push_back(as_block_option(std::move(member)));
  }
}

void add_switches(const MaskmapBlock& /*block*/, std::vector<const SwitchBlock*>& /*out*/) {}
// A mask map alone does not make a struct one that declares fields.
bool declares_fields(const MaskmapBlock& /*block*/) { return false; }
bool may_read_nothing(const MaskmapBlock& /*block*/, const TypeRegistry& /*registry*/) { return true; }

// `__mm_bits`, an option per member, and each group's `_v` values of
// `emit_read_maskmap_into`.
void walk_locals(LocalsWalk& w, const MaskmapBlock& block, StepPlace place, std::vector<LocalsWalk::Member>& out) {
  using Role = LocalsWalk::Role;
  const LocalsWalk::Text reader = LocalsWalk::quoted_text("the mask map on ", block.parent_ident);
  w.read_locals(block.parent_reads, reader);
  const std::size_t bits = w.bind("__mm_bits", Role::Internal, {"the bits of ", w.keep(reader.str()), false});
  // An option per member: a simple field's is what expressions read.
  std::vector<std::vector<LocalsWalk::Member>> options;
  for (const MaskGroup& group : block.groups) {
    options.emplace_back();
    for (const MemberDecl& member : collect_members(group.steps)) {
      const std::string_view name = w.keep(member.name);
      options.back().push_back(
          {name, w.bind(w.keep(decoder_local(name, place)), member.value ? Role::Value : Role::Member,
                        LocalsWalk::quoted_text("field ", name))});
      out.push_back(options.back().back());
    }
  }
  for (std::size_t g = 0; g < block.groups.size(); ++g) {
    const MaskGroup& group = block.groups[g];
    w.read_exact("__mm_bits", bits, reader);
    w.push();
    const std::size_t packables = packables_begin(group);
    std::vector<LocalsWalk::Member> values;  // each member's `_v` local, in the group's order
    const StepPlace in_group = place.block_inside();
    const auto store = [&](std::size_t k) {
      w.read_exact(decoder_local(options[g][k].name, place), options[g][k].id, reader);
      w.read_exact(decoder_local(values[k].name, in_group), values[k].id, reader);
    };
    for (std::size_t i = 0; i < packables; ++i) {
      visit_step(group.steps[i], [&](const auto& m) { walk_locals(w, m, in_group, values); });
    }
    for (std::size_t k = 0; k < values.size(); ++k) store(k);
    for (std::size_t i = packables; i < group.steps.size(); ++i) {
      visit_step(group.steps[i], [&](const auto& m) { walk_locals(w, m, in_group, values); });
      store(values.size() - 1);
    }
    w.pop();
  }
}

// ---- Encoder ----

namespace {

// The options of one group must be present exactly when its mask selects
// them.
void emit_mask_presence(const Printer& p, const MaskmapBlock& block, const MaskGroup& group, std::string_view ident,
                        StepPlace place, bool selected) {
  const std::string mask = debug_str(group_end_label(group)) + ", " + debug_str(block.parent_ident);
  const std::string local = decoder_local(ident, place);
  if (selected) {
    emit_require_present(p, ident, local, encode_error_call("absent_despite_mask", ident, mask));
  } else {
    emit_require_absent(p, local, encode_error_call("present_despite_mask", ident, mask));
  }
}

}  // namespace

void emit_encoder(const Printer& p, const MaskmapBlock& block, StepPlace place) {
  p("// <maskmap name=\"$parent$\">\n", {{"parent", block.parent_ident}});
  if (block.xor_value) {
    p("let __mm_bits: u64 = $bits$ ^ 0x$xor$u64;\n",
      {{"bits", block.parent_bits}, {"xor", to_hex_upper(*block.xor_value)}});
  } else {
    p("let __mm_bits: u64 = $bits$;\n", {{"bits", block.parent_bits}});
  }
  for (const MaskGroup& group : block.groups) {
    for (const MemberDecl& member : collect_members(group.steps)) emit_encoder_option_binding(p, member.name, place);
  }
  const Printer inner = p.in();
  for (const MaskGroup& group : block.groups) {
    const std::vector<MemberDecl> members = collect_members(group.steps);
    emit_mask_open(p, group);
    for (const MemberDecl& member : members) emit_mask_presence(inner, block, group, member.name, place, true);
    for (const EmitStep& step : group.steps) emit_step_encoder(inner, step, place.block_inside());
    p("}\nelse {\n");
    for (const MemberDecl& member : members) emit_mask_presence(inner, block, group, member.name, place, false);
    p("}\n");
  }
}

}  // namespace qm
