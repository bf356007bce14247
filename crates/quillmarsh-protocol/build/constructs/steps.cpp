// Walks over the steps of a body: each asks every step's construct for its
// contribution through `visit_step`, so a construct that lacks one does not
// compile.

#include "constructs/steps.hpp"

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.hpp"

namespace qm {

std::vector<MemberDecl> collect_members(const std::vector<EmitStep>& steps) {
  std::vector<MemberDecl> members;
  members.reserve(steps.size());  // most steps declare one member
  for (const EmitStep& step : steps) visit_step(step, [&](const auto& m) { add_members(m, members); });
  return members;
}

std::vector<MemberDecl> collect_case_payload_fields(const std::vector<EmitStep>& steps) {
  std::vector<MemberDecl> fields;
  fields.reserve(steps.size());
  for (const EmitStep& step : steps) visit_step(step, [&](const auto& m) { add_variant_fields(m, fields); });
  return fields;
}

std::vector<std::string_view> collect_accessors(const std::vector<EmitStep>& steps) {
  std::vector<std::string_view> names;
  names.reserve(steps.size());
  for (const EmitStep& step : steps) visit_step(step, [&](const auto& m) { add_accessors(m, names); });
  return names;
}

std::vector<const SwitchBlock*> collect_switches(const std::vector<EmitStep>& steps) {
  std::vector<const SwitchBlock*> switches;
  for (const EmitStep& step : steps) visit_step(step, [&](const auto& m) { add_switches(m, switches); });
  return switches;
}

void emit_nested_types(std::string& out, const std::vector<EmitStep>& steps) {
  for (const SwitchBlock* block : collect_switches(steps)) emit_switch_enum(out, *block);
}

void emit_nested_types_serde(std::string& out, const std::vector<EmitStep>& steps) {
  for (const SwitchBlock* block : collect_switches(steps)) emit_switch_serde(out, *block);
}

std::vector<std::string_view> collect_nested_type_names(const std::vector<EmitStep>& steps) {
  std::vector<std::string_view> names;
  for (const SwitchBlock* block : collect_switches(steps)) names.push_back(block->type_name);
  return names;
}

std::optional<std::string> nested_type_problem(const CodegenCtx& ctx, const std::vector<EmitStep>& steps,
                                               std::set<std::string>& type_keys) {
  for (const SwitchBlock* block : collect_switches(steps)) {
    if (auto problem = switch_type_problem(ctx, *block, type_keys)) return problem;
  }
  return std::nullopt;
}

std::optional<std::string> member_taking_encoder_local(const std::vector<EmitStep>& steps) {
  for (const MemberDecl& member : collect_members(steps)) {
    if (is_encoder_local(member.name)) return member.name;
  }
  for (const SwitchBlock* block : collect_switches(steps)) {
    if (auto field = case_field_taking_encoder_local(*block)) return field;
  }
  return std::nullopt;
}

bool steps_may_read_nothing(const std::vector<EmitStep>& steps, const TypeRegistry& registry) {
  for (const EmitStep& step : steps) {
    if (!visit_step(step, [&](const auto& m) { return may_read_nothing(m, registry); })) return false;
  }
  return true;
}

bool steps_declare_fields(const std::vector<EmitStep>& steps) {
  for (const EmitStep& step : steps) {
    if (visit_step(step, [](const auto& m) { return declares_fields(m); })) return true;
  }
  return false;
}

void emit_step_accessors(std::string& out, const EmitStep& step) {
  visit_step(step, [p = Printer(out, kMemberIndent)](const auto& m) { emit_accessors(p, m); });
}

void emit_step_members(std::string& out, const EmitStep& step) {
  visit_step(step, [p = Printer(out, kMemberIndent)](const auto& m) { emit_members(p, m); });
}

void emit_step_ctor_entries(std::string& out, const EmitStep& step) {
  visit_step(step, [p = Printer(out, kCtorIndent)](const auto& m) { emit_ctor_entries(p, m); });
}

void emit_step_decoder(const Printer& p, const EmitStep& step, StepPlace place) {
  visit_step(step, [&](const auto& m) { emit_decoder(p, m, place); });
}

void emit_step_encoder(const Printer& p, const EmitStep& step, StepPlace place) {
  visit_step(step, [&](const auto& m) { emit_encoder(p, m, place); });
}

}  // namespace qm
