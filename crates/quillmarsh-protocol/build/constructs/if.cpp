// If blocks: a group of fields decoded only when a test over earlier fields
// holds (the true branch) or fails (the false branch). Every payload of
// either branch becomes an `Option` member and an option local of the decoder.

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/constructs.hpp"
#include "expr/expr.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

// Builds the children of one `<true>` or `<false>` element into `steps`.
// Simple fields are registered in the lookup as soon as they are built, under
// the lookup's open branch: a later reference reads the branch's `_v` local
// inside the same branch and the block's option anywhere else.
Result<bool> build_if_branch(const CodegenCtx& ctx, const xml::Node& branch, const std::string& prefix,
                             BodyContext& body, SiblingLookup& lookup, std::vector<EmitStep>& steps) {
  const std::string branch_prefix = prefix + " <" + std::string(branch.tag()) + ">: ";
  for (const xml::Node* child : branch.children()) {
    const std::string_view tag = child->tag();
    if (tag == "field") {
      if (const auto kind = packable_kind_for_field(*child)) {
        auto packable = build_packable_field(ctx, *child, *kind, body);
        if (!packable) return packable.fail_with_prefix(branch_prefix);
        lookup.add_packable();
        steps.push_back(EmitStep{std::move(packable).value()});
      } else {
        auto field = build_simple_field(ctx, *child, body);
        if (!field) return field.fail_with_prefix(branch_prefix);
        lookup.add_field(*field);
        steps.push_back(EmitStep{std::move(field).value()});
      }
    } else if (tag == "vector") {
      auto vec = build_vector_field(ctx, *child, body, lookup);
      if (!vec) return vec.fail_with_prefix(branch_prefix);
      steps.push_back(EmitStep{std::move(vec).value()});
    } else if (tag == "align") {
      const auto width = align_byte_width_from_node(*child);
      if (!width) {
        return fail(branch_prefix + "<align> with type " + debug_opt_str(child->attr("type")) +
                    ": unknown alignment width");
      }
      steps.push_back(EmitStep{AlignStep{*width}});
    } else {
      return fail(branch_prefix + "unsupported child <" + std::string(tag) + ">");
    }
  }
  return true;
}

}  // namespace

Result<IfBlock> build_if_block(const CodegenCtx& ctx, const xml::Node& if_element, BodyContext& body,
                               SiblingLookup& lookup) {
  const auto test = if_element.attr("test");
  if (!test) return fail("<if> missing test= attribute");
  const std::string prefix = "<if test=" + debug_str(*test) + ">";

  // The test sees only the fields declared before the block.
  auto rust_test = translate_if_test_expr(*test, lookup);
  if (!rust_test) return rust_test.fail_with_prefix(prefix + ": cannot translate boolean expression: ");

  IfBlock block;
  block.test = std::string(*test);
  block.rust_test = std::move(rust_test).value();
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
      return fail(prefix + ": unexpected child <" + std::string(tag) + ">; only <true>/<false> allowed");
    }
    auto built = build_if_branch(ctx, *child, prefix, body, lookup, *steps);
    lookup.open_branch = outer_branch;
    if (!built) return built.fail_with_prefix();
  }
  if (block.true_steps.empty() && block.false_steps.empty()) {
    return fail(prefix + ": both branches empty (no <true>/<false> with fields)");
  }
  if (const auto text = if_element.attr("text")) block.text = std::string(*text);
  return block;
}

std::vector<PayloadLocal> collect_if_payload_locals(const std::vector<EmitStep>& steps) {
  std::vector<PayloadLocal> locals;
  for (const EmitStep& step : steps) {
    if (const auto* field = step.as<SimpleField>()) {
      locals.push_back({field->ident, field->rust_ty});
    } else if (const auto* vec = step.as<VectorField>()) {
      locals.push_back({vec->ident, "Vec<" + vec->elem_rust_ty + ">"});
    } else if (const auto* packable = step.as<PackableField>()) {
      locals.push_back({packable->ident, packable_rust_ty(*packable)});
    }
  }
  return locals;
}

void emit_if_struct_fields(std::string& out, const std::vector<EmitStep>& steps, std::string_view label) {
  for (const PayloadLocal& local : collect_if_payload_locals(steps)) {
    emit(out,
         R"(    /// Gated on `<if>` `$label$` branch — present iff the test selected this branch.
    pub $name$: Option<$ty$>,
)",
         {{"label", label}, {"name", local.name}, {"ty", local.ty}});
  }
}

void emit_if_struct_field_names(std::string& out, const std::vector<EmitStep>& steps) {
  std::set<std::string> written;
  for (const PayloadLocal& local : collect_if_payload_locals(steps)) {
    if (!written.insert(local.name).second) continue;
    emit(out, "            $name$,\n", {{"name", local.name}});
  }
}

void emit_if_members(std::string& out, const IfBlock& block) {
  // A block of only alignment pads declares no member, and a documentation
  // line with nothing after it to document does not compile.
  if (collect_if_payload_locals(block.true_steps).empty() && collect_if_payload_locals(block.false_steps).empty()) {
    return;
  }
  const std::string test = escape_xml_attr_for_doc(block.test);
  if (block.text) {
    emit(out, "    /// `<if test=\"$test$\">`. $text$\n", {{"test", test}, {"text", escape_doc(*block.text)}});
  } else {
    emit(out, "    /// Conditional fields gated by `<if test=\"$test$\">`.\n", {{"test", test}});
  }
  emit_if_struct_fields(out, block.true_steps, "true");
  emit_if_struct_fields(out, block.false_steps, "false");
}

void emit_if_branch_step(std::string& out, const EmitStep& step, std::string_view inner) {
  if (const auto* field = step.as<SimpleField>()) {
    emit_read_field_indented(out, field->ident + "_v", field->kind, inner);
  } else if (const auto* vec = step.as<VectorField>()) {
    VectorField local = *vec;
    local.ident += "_v";
    emit_read_vector_indented(out, local, inner);
  } else if (const auto* packable = step.as<PackableField>()) {
    PackableField local = *packable;
    local.ident += "_v";
    emit_read_packable(out, local, inner);
  } else if (const auto* align = step.as<AlignStep>()) {
    emit_align_pad_indented(out, align->width, inner);
  } else {
    emit(out, "$inner$// UNSUPPORTED nested step inside <if>; please extend J3.E.\n", {{"inner", inner}});
  }
}

namespace {

void emit_if_branch(std::string& out, const std::vector<EmitStep>& steps, std::string_view inner) {
  for (const EmitStep& step : steps) emit_if_branch_step(out, step, inner);
  for (const PayloadLocal& local : collect_if_payload_locals(steps)) {
    emit(out, "$inner$$name$ = Some($name$_v);\n", {{"inner", inner}, {"name", local.name}});
  }
}

}  // namespace

void emit_read_if(std::string& out, const IfBlock& block, std::string_view indent) {
  const std::string inner = std::string(indent) + "    ";
  emit(out, "$indent$// <if test=\"$test$\">\n", {{"indent", indent}, {"test", escape_xml_attr_for_doc(block.test)}});

  // One option local per name, the first branch to declare it giving its type.
  std::set<std::string> declared;
  for (const auto* steps : {&block.true_steps, &block.false_steps}) {
    for (const PayloadLocal& local : collect_if_payload_locals(*steps)) {
      if (!declared.insert(local.name).second) continue;
      emit(out, "$indent$let mut $name$: Option<$ty$> = None;\n",
           {{"indent", indent}, {"name", local.name}, {"ty", local.ty}});
    }
  }

  emit(out, "$indent$if $test$ {\n", {{"indent", indent}, {"test", block.rust_test}});
  emit_if_branch(out, block.true_steps, inner);
  emit(out, "$indent$}\n", {{"indent", indent}});
  if (!block.false_steps.empty()) {
    emit(out, "$indent$else {\n", {{"indent", indent}});
    emit_if_branch(out, block.false_steps, inner);
    emit(out, "$indent$}\n", {{"indent", indent}});
  }
}

}  // namespace qm
