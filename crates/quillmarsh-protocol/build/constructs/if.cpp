// If blocks: a group of fields decoded only when a test over earlier fields
// holds (the true branch) or fails (the false branch). Every payload of
// either branch becomes an `Option` member and an option local of the decoder.

#include "constructs/if.hpp"

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "constructs/steps.hpp"
#include "expr/expr.hpp"
#include "text/text.hpp"

namespace qm {

namespace {}  // namespace

Result<IfBlock> build_if_block(const CodegenCtx& ctx, const xml::Node& if_element, BodyContext& body,
                               SiblingLookup& lookup) {
  const auto test = if_element.attr("test");
  if (!test) return fail("<if> missing test= attribute");
  // The reasons' prefix is built only for a reason.
  const auto prefix = [&] { return "<if test=" + debug_str(*test) + ">"; };

  // The test sees only the fields declared before the block.
  LocalReads test_reads;
  auto rust_test = translate_if_test_expr(*test, lookup, &test_reads);
  if (!rust_test && ctx.extended) {
    // The extended tier reads any C# test over the earlier fields; when it
    // cannot either, the reason stays the default tier's.
    LocalReads extended_reads;
    auto extended =
        translate_extended_test(*test, decoder_name_resolver(lookup, ctx.enum_values, ctx.registry), &extended_reads);
    if (extended) {
      rust_test = std::move(extended);
      test_reads = std::move(extended_reads);
    }
  }
  if (!rust_test) return rust_test.fail_with_prefix(prefix() + ": cannot translate boolean expression: ");

  IfBlock block;
  block.test = std::string(*test);
  block.rust_test = std::move(rust_test).value();
  block.test_reads = std::move(test_reads);
  // Every <true> child adds to one branch of the decoder, every <false> child
  // to the other; each of the two gets its own number.
  const std::size_t true_branch = lookup.new_branch();
  const std::size_t false_branch = lookup.new_branch();
  const std::size_t outer_branch = lookup.open_branch;
  for (const xml::Node* child : if_element.children()) {
    const std::string_view tag = child->tag();
    std::vector<EmitStep>* steps = nullptr;
    if (tag == "true") {
      steps = &block.true_steps;
      lookup.open_branch = true_branch;
    } else if (tag == "false") {
      steps = &block.false_steps;
      lookup.open_branch = false_branch;
    } else {
      return fail(prefix() + ": unexpected child <" + std::string(tag) + ">; only <true>/<false> allowed");
    }
    // Simple fields are registered in the lookup as soon as they are built,
    // under the lookup's open branch: a later reference reads the branch's
    // `_v` local inside the same branch and the block's option anywhere else.
    auto built = build_child_steps(ctx, *child, child_rules(ChildPlace::IfBranch), body, lookup, *steps);
    lookup.open_branch = outer_branch;
    if (!built) return built.fail_with_prefix(prefix() + " <" + std::string(tag) + ">: ");
  }
  if (block.true_steps.empty() && block.false_steps.empty()) {
    return fail(prefix() + ": both branches empty (no <true>/<false> with fields)");
  }
  block.text = if_element.attr_copy("text");
  return block;
}

namespace {

// `members` with each name kept once, where it first appears.
std::vector<MemberDecl> first_of_each_name(std::vector<MemberDecl> members) {
  std::vector<bool> first(members.size());
  {
    std::set<std::string_view> seen;  // views into `members`, which stays in place meanwhile
    for (std::size_t i = 0; i < members.size(); ++i) first[i] = seen.insert(members[i].name).second;
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (!first[i]) continue;
    if (kept != i) members[kept] = std::move(members[i]);
    ++kept;
  }
  members.resize(kept);
  return members;
}

// A branch's members, each as the block's option.
std::vector<MemberDecl> branch_options(const std::vector<EmitStep>& steps) {
  std::vector<MemberDecl> members = collect_members(steps);
  for (MemberDecl& member : members) member = as_block_option(std::move(member));
  return members;
}

// The block's options: one per name over both branches, the true branch's
// first; a name in both branches takes the type the true branch gives it.
std::vector<MemberDecl> block_options(const IfBlock& block) {
  std::vector<MemberDecl> members = branch_options(block.true_steps);
  std::vector<MemberDecl> other = branch_options(block.false_steps);
  members.insert(members.end(), std::make_move_iterator(other.begin()), std::make_move_iterator(other.end()));
  return first_of_each_name(std::move(members));
}

// A branch's members, each written as an option documented by its branch.
void emit_branch_members(const Printer& p, const std::vector<EmitStep>& steps, std::string_view label) {
  for (const MemberDecl& member : branch_options(steps)) {
    p(R"(/// Gated on `<if>` `$label$` branch — present iff the test selected this branch.
pub $name$: $option$,
)",
      {{"label", label}, {"name", member.name}, {"option", member.ty}});
  }
}

}  // namespace

void emit_members(const Printer& p, const IfBlock& block) {
  // A block of only alignment pads declares no member, and a documentation
  // line with nothing after it to document does not compile.
  if (collect_members(block.true_steps).empty() && collect_members(block.false_steps).empty()) return;
  const std::string test = escape_xml_attr_for_doc(block.test);
  if (block.text) {
    p("/// `<if test=\"$test$\">`. $text$\n", {{"test", test}, {"text", escape_doc(*block.text)}});
  } else {
    p("/// Conditional fields gated by `<if test=\"$test$\">`.\n", {{"test", test}});
  }
  emit_branch_members(p, block.true_steps, "true");
  emit_branch_members(p, block.false_steps, "false");
}

// Each branch lists its names once; a name of both branches is listed by
// both, as the members are.
void emit_ctor_entries(const Printer& p, const IfBlock& block) {
  for (const auto* steps : {&block.true_steps, &block.false_steps}) {
    for (const MemberDecl& member : first_of_each_name(collect_members(*steps))) emit_ctor_entry(p, member.name);
  }
}

void emit_accessors(const Printer& /*p*/, const IfBlock& /*block*/) {}
void add_accessors(const IfBlock& /*block*/, std::vector<std::string_view>& /*out*/) {}

namespace {

// A branch of a block standing at `place`: its steps, then each value stored
// into the block's option of its name (an option of a block nested in the
// branch is stored as it is).
void emit_if_branch(const Printer& p, const std::vector<EmitStep>& steps, StepPlace place) {
  const StepPlace inner = place.block_inside();
  for (const EmitStep& step : steps) emit_step_decoder(p, step, inner);
  for (const MemberDecl& member : collect_members(steps)) {
    p(member.optional ? "$option$ = $value$;\n" : "$option$ = Some($value$);\n",
      {{"option", decoder_local(member.name, place)}, {"value", decoder_local(member.name, inner)}});
  }
}

void emit_read_if_into(const Printer& p, const IfBlock& block, StepPlace place) {
  p("// <if test=\"$test$\">\n", {{"test", escape_xml_attr_for_doc(block.test)}});
  for (const MemberDecl& option : block_options(block)) {
    p("let mut $name$: $option$ = None;\n", {{"name", decoder_local(option.name, place)}, {"option", option.ty}});
  }
  p("if $test$ {\n", {{"test", block.rust_test}});
  emit_if_branch(p.in(), block.true_steps, place);
  p("}\n");
  if (!block.false_steps.empty()) {
    p("else {\n");
    emit_if_branch(p.in(), block.false_steps, place);
    p("}\n");
  }
}

}  // namespace

// The block has its own braces, even inside another block.
void emit_decoder(const Printer& p, const IfBlock& block, StepPlace place) { emit_read_if_into(p, block, place); }

void add_members(const IfBlock& block, std::vector<MemberDecl>& out) {
  for (const auto* branch : {&block.true_steps, &block.false_steps}) {
    for (MemberDecl& member : branch_options(*branch)) out.push_back(std::move(member));
  }
}

void add_variant_fields(const IfBlock& block, std::vector<MemberDecl>& out) {
  for (MemberDecl& option : block_options(block)) out.push_back(std::move(option));
}

void add_switches(const IfBlock& block, std::vector<const SwitchBlock*>& out) {
  for (const auto* branch : {&block.true_steps, &block.false_steps}) {
    for (const EmitStep& step : *branch) visit_step(step, [&](const auto& m) { add_switches(m, out); });
  }
}

bool declares_fields(const IfBlock& /*block*/) { return true; }
bool may_read_nothing(const IfBlock& /*block*/, const TypeRegistry& /*registry*/) { return true; }

namespace {

// One branch of `emit_read_if_into`: its steps' `_v` values, each stored into
// the option of its name.
void walk_branch_locals(LocalsWalk& w, const std::vector<EmitStep>& steps, StepPlace place,
                        const std::vector<LocalsWalk::Member>& options, const LocalsWalk::Text& reader) {
  w.push();
  std::vector<LocalsWalk::Member> values;  // the `_v` local of each payload, by member name
  walk_steps_locals(w, steps, place.block_inside(), values);
  for (const LocalsWalk::Member& value : values) {
    for (const LocalsWalk::Member& option : options) {
      if (option.name == value.name) w.read_exact(decoder_local(option.name, place), option.id, reader);
    }
    w.read_exact(decoder_local(value.name, place.block_inside()), value.id, reader);
  }
  w.pop();
}

}  // namespace

// The options declared before the test, then each branch. Expressions read
// a simple field's option; containers are read only as members.
void walk_locals(LocalsWalk& w, const IfBlock& block, StepPlace place, std::vector<LocalsWalk::Member>& out) {
  const LocalsWalk::Text shown = LocalsWalk::plain_text(w.keep("<if test=" + debug_str(block.test) + ">"));
  std::vector<LocalsWalk::Member> options;
  std::set<std::string_view> declared;
  for (const auto* steps : {&block.true_steps, &block.false_steps}) {
    for (const MemberDecl& member : collect_members(*steps)) {
      const std::string_view name = w.keep(member.name);
      if (!declared.insert(name).second) continue;
      options.push_back({name, w.bind(w.keep(decoder_local(name, place)),
                                      member.value ? LocalsWalk::Role::Value : LocalsWalk::Role::Member,
                                      LocalsWalk::quoted_text("field ", name))});
    }
  }
  out.insert(out.end(), options.begin(), options.end());
  w.read_locals(block.test_reads, shown);
  walk_branch_locals(w, block.true_steps, place, options, shown);
  if (!block.false_steps.empty()) walk_branch_locals(w, block.false_steps, place, options, shown);
}

// ---- Encoder ----

namespace {

// One branch of a block standing at `place`: the options of its payload must
// be present (an option of a block nested in it is checked by that block) and
// the options only the other branch declares absent; then its steps write the
// values.
void emit_if_branch_encoder(const Printer& p, const IfBlock& block, StepPlace place, const std::vector<EmitStep>& steps,
                            const std::vector<EmitStep>& other, bool holds) {
  const std::vector<MemberDecl> mine = collect_members(steps);
  std::set<std::string_view> names;
  for (const MemberDecl& member : mine) names.insert(member.name);
  // The test and whether it holds here, as the helpers word them.
  const std::string test = debug_str(block.test) + (holds ? ", true" : ", false");
  for (const MemberDecl& member : collect_members(other)) {
    if (names.count(member.name) == 0) {
      emit_require_absent(p, decoder_local(member.name, place),
                          encode_error_call("present_despite_test", member.name, test));
    }
  }
  for (const MemberDecl& member : mine) {
    if (member.optional) continue;
    emit_require_present(p, member.name, decoder_local(member.name, place),
                         encode_error_call("absent_despite_test", member.name, test));
  }
  for (const EmitStep& step : steps) emit_step_encoder(p, step, place.block_inside());
}

}  // namespace

void emit_encoder(const Printer& p, const IfBlock& block, StepPlace place) {
  p("// <if test=\"$test$\">\n", {{"test", escape_xml_attr_for_doc(block.test)}});
  for (const MemberDecl& option : block_options(block)) emit_encoder_option_binding(p, option.name, place);
  p("if $test$ {\n", {{"test", block.rust_test}});
  emit_if_branch_encoder(p.in(), block, place, block.true_steps, block.false_steps, true);
  p("}\nelse {\n");
  emit_if_branch_encoder(p.in(), block, place, block.false_steps, block.true_steps, false);
  p("}\n");
}

}  // namespace qm
