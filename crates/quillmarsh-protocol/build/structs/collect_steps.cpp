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

// Names declared in one scope (a struct's members, its methods, one enum's
// variants, one variant's fields): each must be an identifier and appear once.
// The scope keeps views of the names it is given, which must outlive it.
class NameScope {
 public:
  // `constants`, when given, are the module's constants: a name that is also
  // a decoder local must not be one of them, or its `let` would be read as a
  // pattern matching that constant.
  explicit NameScope(std::string_view what, const NameKeys* constants = nullptr) : what_(what), constants_(constants) {}

  // Marks `name` as held by something the generated code declares itself.
  void reserve(std::string_view name, std::string_view holder) { holders_.try_emplace(name, holder); }

  // Records `name`; the reason when it cannot be declared here.
  std::optional<std::string> add(std::string_view name) {
    if (!is_rust_identifier(name)) return shown(name) + " is not a Rust identifier";
    const std::string_view key = identifier_key_kept(name, keys_);
    if (constants_ != nullptr && constants_->count(key) != 0) {
      return shown(name) + " is taken by a constant of the module";
    }
    const auto [holder, fresh] = holders_.try_emplace(key, std::string_view());
    if (fresh) return std::nullopt;
    if (holder.empty()) return shown(name) + " is declared twice";
    return shown(name) + " is taken by " + std::string(holder);
  }

 private:
  std::string_view what_;
  const NameKeys* constants_;
  // identifier key -> what holds it (empty for a name of this scope)
  TextTable<std::string_view, /*kCopiesKeys=*/false> holders_;
  // The keys that are not views of the names (normalized ones).
  TextPool keys_;

  std::string shown(std::string_view name) const { return std::string(what_) + " name " + debug_str(name); }
};

// Checks the enum types of the switches among `steps` (nested ones
// included): their names, against the module and each other, and their
// variants and variant fields.
std::optional<std::string> check_switch_types(const CodegenCtx& ctx, const std::vector<EmitStep>& steps,
                                              std::set<std::string>& type_keys) {
  for (const SwitchBlock* block : collect_switches(steps)) {
    if (auto problem = type_name_problem(ctx, block->type_name)) return problem;
    if (!type_keys.insert(identifier_key(block->type_name)).second) {
      return "type name " + debug_str(block->type_name) + " is declared twice";
    }
    NameScope variants("variant");
    for (const SwitchCase& c : block->cases) {
      if (auto problem = variants.add(c.variant)) return problem;
      const std::vector<PayloadLocal> payload = collect_case_payload_fields(c.steps);
      NameScope fields("field", &ctx.declared_values);
      for (const PayloadLocal& p : payload) {
        if (auto problem = fields.add(p.name)) return *problem + " in " + block->type_name + "::" + c.variant;
      }
    }
  }
  return std::nullopt;
}

// The first name of a built struct that cannot be declared: the struct's own
// name, a switch enum, a member, or an accessor (which shares the impl with
// `read_from` and `OPCODE`).
std::optional<std::string> struct_name_problem(const CodegenCtx& ctx, std::string_view owner,
                                               const std::vector<EmitStep>& steps) {
  if (auto problem = type_name_problem(ctx, owner)) return problem;
  std::set<std::string> type_keys{identifier_key(owner)};
  if (auto problem = check_switch_types(ctx, steps, type_keys)) return problem;

  const std::vector<PayloadLocal> member_list = collect_members(steps);
  NameScope members("member", &ctx.declared_values);
  for (const PayloadLocal& member : member_list) {
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

  ChildRules rules;
  rules.align_hint = " \u2014 only byte/short/ushort/int/uint/long/ulong supported";
  rules.refuse = unsupported_body_child;
  std::vector<EmitStep> steps;
  steps.reserve(body.children().size());
  for (const xml::Node* child : body.children()) {
    Result<bool> built = build_child_step(ctx, *child, rules, context, lookup, steps);
    if (!built) return built.fail_with_prefix();
  }
  if (auto problem = struct_name_problem(ctx, owner, steps)) return fail(std::move(*problem));
  if (auto problem = find_decoder_local_collision(steps)) return fail(std::move(*problem));
  return Result<std::vector<EmitStep>>(std::move(steps));
}

}  // namespace qm
