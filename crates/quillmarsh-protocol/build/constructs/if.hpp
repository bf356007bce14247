#pragma once
// If blocks: the fields of the branch the test selects, each as an option.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/construct.hpp"

namespace qm {

struct IfBlock {
  std::string test;       // as written
  std::string rust_test;  // translated condition
  std::vector<EmitStep> true_steps;
  std::vector<EmitStep> false_steps;
  std::optional<std::string> text;
  LocalReads test_reads;  // what the condition reads
};

Result<IfBlock> build_if_block(const CodegenCtx& ctx, const xml::Node& if_element, BodyContext& body,
                               SiblingLookup& lookup);

// Members: the documentation line, then the fields of the true branch and
// of the false branch.
void emit_members(const Printer& p, const IfBlock& block);
void emit_ctor_entries(const Printer& p, const IfBlock& block);
void emit_accessors(const Printer& p, const IfBlock& block);
void add_accessors(const IfBlock& block, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const IfBlock& block, StepPlace place);
// Both branches' options, in order, a name in both branches twice.
void add_members(const IfBlock& block, std::vector<MemberDecl>& out);
// In a switch case both branches share one option per name.
void add_variant_fields(const IfBlock& block, std::vector<MemberDecl>& out);
void add_switches(const IfBlock& block, std::vector<const SwitchBlock*>& out);
bool declares_fields(const IfBlock& block);
bool may_read_nothing(const IfBlock& block, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const IfBlock& block, StepPlace place, std::vector<LocalsWalk::Member>& out);

void emit_encoder(const Printer& p, const IfBlock& block, StepPlace place);

}  // namespace qm
