// A struct body becomes an ordered list of emit steps, one per child element,
// while the sibling lookup records the fields seen so far for later
// constructs to refer to.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "constructs/constructs.hpp"
#include "structs/structs.hpp"
#include "text/text.hpp"
#include "text/text_table.hpp"

namespace qm {
namespace {

// The first name of a built struct that cannot be declared: the struct's own
// name, a switch enum, a member, or an accessor (which shares the impl with
// `read_from` and `OPCODE`).
std::optional<std::string> struct_name_problem(const CodegenCtx& ctx, std::string_view owner,
                                               const std::vector<EmitStep>& steps) {
  if (auto problem = type_name_problem(ctx, owner)) return problem;
  std::set<std::string> type_keys{identifier_key(owner)};
  if (auto problem = nested_type_problem(ctx, steps, type_keys)) return problem;

  const std::vector<MemberDecl> member_list = collect_members(steps);
  NameScope members("member", &ctx.declared_values);
  for (const MemberDecl& member : member_list) {
    if (auto problem = members.add(member.name)) return problem;
  }

  // Accessors share the impl with the decoder and the opcode constant.
  NameScope methods("accessor");
  methods.reserve("read_from", "the decoder");
  methods.reserve("OPCODE", "the opcode constant");
  for (const std::string_view name : collect_accessors(steps)) {
    if (auto problem = methods.add(name)) return problem;
  }
  return std::nullopt;
}

}  // namespace

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
  Result<bool> built = build_child_steps(ctx, body, child_rules(ChildPlace::Body), context, lookup, steps);
  if (!built) return built.fail_with_prefix();
  if (auto problem = struct_name_problem(ctx, owner, steps)) return fail(std::move(*problem));
  if (auto problem = find_decoder_local_collision(steps)) return fail(std::move(*problem));
  return Result<std::vector<EmitStep>>(std::move(steps));
}

}  // namespace qm
