// A struct body becomes an ordered list of emit steps, one per child element,
// while the sibling lookup records the fields seen so far for later
// constructs to refer to.

#include <set>
#include <utility>

#include "constructs/constructs.hpp"
#include "structs/structs.hpp"
#include "text/text.hpp"

namespace qm {

Result<std::vector<EmitStep>> collect_emit_steps(const CodegenCtx& ctx, const xml::Node& body, std::string_view owner) {
  // Switch enum type names are tracked per struct, across every nested block.
  std::set<std::string> switch_type_names;
  BodyContext context;
  context.owner.assign(owner);
  context.switch_type_names = &switch_type_names;
  context.depth = 0;
  SiblingLookup lookup;

  std::vector<EmitStep> steps;
  steps.reserve(body.children().size());
  for (const xml::Node* child_ptr : body.children()) {
    const xml::Node& child = *child_ptr;
    const std::string_view tag = child.tag();
    if (tag == "field") {
      if (const std::optional<PackableKind> packable = packable_kind_for_field(child)) {
        Result<PackableField> built = build_packable_field(ctx, child, *packable, context);
        if (!built) return built.fail_with_prefix();
        lookup.add_packable();
        steps.push_back(EmitStep{std::move(built).value()});
      } else {
        Result<SimpleField> built = build_simple_field(ctx, child, context);
        if (!built) return built.fail_with_prefix();
        lookup.add_field(*built);
        steps.push_back(EmitStep{std::move(built).value()});
      }
    } else if (tag == "align") {
      const std::optional<std::size_t> width = align_byte_width_from_node(child);
      if (!width) {
        return fail("<align> with type " + debug_opt_str(child.attr("type")) +
                    ": unknown alignment width \u2014 only byte/short/ushort/int/uint/long/ulong supported");
      }
      steps.push_back(EmitStep{AlignStep{*width}});
    } else if (tag == "vector") {
      Result<VectorField> built = build_vector_field(ctx, child, context, lookup);
      if (!built) return built.fail_with_prefix();
      steps.push_back(EmitStep{std::move(built).value()});
    } else if (tag == "maskmap") {
      Result<MaskmapBlock> built = build_maskmap_block(ctx, child, context, lookup);
      if (!built) return built.fail_with_prefix();
      lookup.add_maskmap_gated(*built);
      steps.push_back(EmitStep{std::move(built).value()});
    } else if (tag == "switch") {
      Result<SwitchBlock> built = build_switch_block(ctx, child, context, lookup);
      if (!built) return built.fail_with_prefix();
      steps.push_back(EmitStep{std::move(built).value()});
    } else if (tag == "table") {
      Result<TableField> built = build_table_field(ctx, child, context, lookup);
      if (!built) return built.fail_with_prefix();
      steps.push_back(EmitStep{std::move(built).value()});
    } else if (tag == "if") {
      Result<IfBlock> built = build_if_block(ctx, child, context, lookup);
      if (!built) return built.fail_with_prefix();
      steps.push_back(EmitStep{std::move(built).value()});
    } else {
      std::string reason = "unsupported child `<";
      reason.append(tag);
      reason += ">`";
      return fail(std::move(reason));
    }
  }
  return Result<std::vector<EmitStep>>(std::move(steps));
}

}  // namespace qm
