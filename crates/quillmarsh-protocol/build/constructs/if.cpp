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
  if (!rust_test) return rust_test.fail_with_prefix(prefix() + ": cannot translate boolean expression: ");

  IfBlock block;
  block.test = std::string(*test);
  block.rust_test = std::move(rust_test).value();
  block.test_reads = std::move(test_reads);
  // Every <true> child adds to one branch of the decoder, every <false> child
  // to the other; each of the two gets its own number.
  const std::size_t true_branch = ++lookup.branch_count;
  const std::size_t false_branch = ++lookup.branch_count;
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

std::vector<MemberDecl> collect_if_payload_locals(const std::vector<EmitStep>& steps) { return collect_members(steps); }

void emit_if_struct_fields(std::string& out, const std::vector<EmitStep>& steps, std::string_view label) {
  const Printer p(out, kMemberIndent);
  for (const MemberDecl& local : collect_if_payload_locals(steps)) {
    p(R"(/// Gated on `<if>` `$label$` branch — present iff the test selected this branch.
pub $name$: Option<$ty$>,
)",
      {{"label", label}, {"name", local.name}, {"ty", local.ty}});
  }
}

void emit_if_struct_field_names(std::string& out, const std::vector<EmitStep>& steps) {
  std::set<std::string> written;
  for (const MemberDecl& local : collect_if_payload_locals(steps)) {
    if (written.insert(local.name).second) emit_ctor_entry(Printer(out, kCtorIndent), local.name);
  }
}

void emit_members(const Printer& p, const IfBlock& block) {
  // A block of only alignment pads declares no member, and a documentation
  // line with nothing after it to document does not compile.
  if (collect_if_payload_locals(block.true_steps).empty() && collect_if_payload_locals(block.false_steps).empty()) {
    return;
  }
  const std::string test = escape_xml_attr_for_doc(block.test);
  if (block.text) {
    p("/// `<if test=\"$test$\">`. $text$\n", {{"test", test}, {"text", escape_doc(*block.text)}});
  } else {
    p("/// Conditional fields gated by `<if test=\"$test$\">`.\n", {{"test", test}});
  }
  emit_if_struct_fields(p.out(), block.true_steps, "true");
  emit_if_struct_fields(p.out(), block.false_steps, "false");
}

void emit_ctor_entries(const Printer& p, const IfBlock& block) {
  emit_if_struct_field_names(p.out(), block.true_steps);
  emit_if_struct_field_names(p.out(), block.false_steps);
}

void emit_accessors(const Printer& /*p*/, const IfBlock& /*block*/) {}
void add_accessors(const IfBlock& /*block*/, std::vector<std::string_view>& /*out*/) {}

namespace {

void emit_if_branch(const Printer& p, const std::vector<EmitStep>& steps) {
  for (const EmitStep& step : steps) emit_step_decoder(p, step, StepPlace::IfBranch);
  for (const MemberDecl& local : collect_if_payload_locals(steps)) {
    p("$name$ = Some($name$_v);\n", {{"name", local.name}});
  }
}

void emit_read_if_into(const Printer& p, const IfBlock& block) {
  p("// <if test=\"$test$\">\n", {{"test", escape_xml_attr_for_doc(block.test)}});

  // One option local per name, the first branch to declare it giving its type.
  std::set<std::string> declared;
  for (const auto* steps : {&block.true_steps, &block.false_steps}) {
    for (const MemberDecl& local : collect_if_payload_locals(*steps)) {
      if (!declared.insert(local.name).second) continue;
      p("let mut $name$: Option<$ty$> = None;\n", {{"name", local.name}, {"ty", local.ty}});
    }
  }

  p("if $test$ {\n", {{"test", block.rust_test}});
  emit_if_branch(p.in(), block.true_steps);
  p("}\n");
  if (!block.false_steps.empty()) {
    p("else {\n");
    emit_if_branch(p.in(), block.false_steps);
    p("}\n");
  }
}

}  // namespace

// The block has its own braces, even inside another block.
void emit_decoder(const Printer& p, const IfBlock& block, StepPlace /*place*/) { emit_read_if_into(p, block); }

void add_members(const IfBlock& block, std::vector<MemberDecl>& out) {
  for (const auto* branch : {&block.true_steps, &block.false_steps}) {
    for (MemberDecl& local : collect_if_payload_locals(*branch)) {
      out.push_back({std::move(local.name), "Option<" + local.ty + ">"});
    }
  }
}

void add_variant_fields(const IfBlock& block, std::vector<MemberDecl>& out) {
  std::set<std::string> seen;
  for (const auto* branch : {&block.true_steps, &block.false_steps}) {
    for (MemberDecl& local : collect_if_payload_locals(*branch)) {
      if (seen.insert(local.name).second) out.push_back({std::move(local.name), "Option<" + local.ty + ">"});
    }
  }
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
void walk_branch_locals(LocalsWalk& w, const std::vector<EmitStep>& steps,
                        const std::vector<LocalsWalk::Member>& options, const LocalsWalk::Text& reader) {
  w.push();
  std::vector<LocalsWalk::Member> values;  // the `_v` local of each payload, by member name
  walk_steps_locals(w, steps, StepPlace::IfBranch, values);
  for (const LocalsWalk::Member& value : values) {
    for (const LocalsWalk::Member& option : options) {
      if (option.name == value.name) w.read_exact(option.name, option.id, reader);
    }
    w.read_exact(std::string(value.name) + "_v", value.id, reader);
  }
  w.pop();
}

}  // namespace

// The options declared before the test, then each branch.
void walk_locals(LocalsWalk& w, const IfBlock& block, StepPlace /*place*/, std::vector<LocalsWalk::Member>& out) {
  const LocalsWalk::Text shown = LocalsWalk::plain_text(w.keep("<if test=" + debug_str(block.test) + ">"));
  std::vector<LocalsWalk::Member> options;
  std::set<std::string_view> declared;
  for (const auto* steps : {&block.true_steps, &block.false_steps}) {
    for (const EmitStep& step : *steps) {
      // Expressions read a field's option; containers are read only as members.
      visit_step(step, [&](const auto& m) {
        std::vector<MemberDecl> members;
        add_members(m, members);
        const bool field = std::is_same_v<std::decay_t<decltype(m)>, SimpleField>;
        for (const MemberDecl& member : members) {
          const std::string_view name = w.keep(member.name);
          if (!declared.insert(name).second) continue;
          options.push_back({name, w.bind(name, field ? LocalsWalk::Role::Value : LocalsWalk::Role::Member,
                                          LocalsWalk::quoted_text("field ", name))});
        }
      });
    }
  }
  out.insert(out.end(), options.begin(), options.end());
  w.read_locals(block.test_reads, shown);
  walk_branch_locals(w, block.true_steps, options, shown);
  if (!block.false_steps.empty()) walk_branch_locals(w, block.false_steps, options, shown);
}

// ---- Encoder ----

namespace {

// One branch: the options of its payload must be present and the options
// only the other branch declares absent; then its steps write the values.
void emit_if_branch_encoder(const Printer& p, const IfBlock& block, const std::vector<EmitStep>& steps,
                            const std::vector<EmitStep>& other, bool holds) {
  const std::vector<MemberDecl> mine = collect_if_payload_locals(steps);
  std::set<std::string> names;
  for (const MemberDecl& local : mine) names.insert(local.name);
  // The test and whether it holds here, as the helpers word them.
  const std::string test = debug_str(block.test) + (holds ? ", true" : ", false");
  for (const MemberDecl& local : collect_if_payload_locals(other)) {
    if (names.count(local.name) != 0) continue;
    p(R"(if $n$.is_some() {
    return Err($err$);
}
)",
      {{"n", local.name}, {"err", encode_error_call("present_despite_test", local.name, test)}});
  }
  for (const MemberDecl& local : mine) {
    p("let $b$ = match $n$ { Some(v) => v, None => return Err($err$) };\n",
      {{"b", encoder_some_binding(local.name)},
       {"n", local.name},
       {"err", encode_error_call("absent_despite_test", local.name, test)}});
  }
  for (const EmitStep& step : steps) emit_step_encoder(p, step, StepPlace::IfBranch);
}

}  // namespace

void emit_encoder(const Printer& p, const IfBlock& block, StepPlace place) {
  p("// <if test=\"$test$\">\n", {{"test", escape_xml_attr_for_doc(block.test)}});
  std::set<std::string> bound;
  for (const auto* steps : {&block.true_steps, &block.false_steps}) {
    for (const MemberDecl& local : collect_if_payload_locals(*steps)) {
      if (bound.insert(local.name).second) emit_encoder_binding(p, local.name, "", false, place);
    }
  }
  p("if $test$ {\n", {{"test", block.rust_test}});
  emit_if_branch_encoder(p.in(), block, block.true_steps, block.false_steps, true);
  p("}\nelse {\n");
  emit_if_branch_encoder(p.in(), block, block.false_steps, block.true_steps, false);
  p("}\n");
}

}  // namespace qm
