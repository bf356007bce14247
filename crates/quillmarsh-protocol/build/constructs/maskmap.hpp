#pragma once
// Mask maps: groups of fields, each present when its bits are set in an earlier field.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/construct.hpp"

namespace qm {

struct MaskGroup {
  std::string value_text;  // `value` as written
  // The group's simple fields, then its packables (each kind in document
  // order): the order of its members and of its decoder.
  std::vector<EmitStep> steps;
  std::uint64_t mask = 0;
};

struct MaskmapBlock {
  std::optional<std::uint64_t> xor_value;
  std::string parent_ident;
  std::string parent_bits;  // Rust expression yielding the parent's value as u64
  std::vector<MaskGroup> groups;
  LocalReads parent_reads;  // what `parent_bits` reads
};

// Mask groups hold fields only, which do not enter the lookup.
// Registers the fields of every group in `lookup`, read later as options.
void register_gated(SiblingLookup& lookup, const MaskmapBlock& block);
Result<MaskmapBlock> build_maskmap_block(const CodegenCtx& ctx, const xml::Node& maskmap, BodyContext& body,
                                         SiblingLookup& lookup);
struct MaskmapParent {
  std::string bits;   // the parent's value as u64
  std::string ident;  // the parent's Rust identifier
  LocalReads reads;
};
// The reason comes without the `<maskmap ...>: ` prefix.
Result<MaskmapParent> resolve_maskmap_parent(std::string_view name, const SiblingLookup& lookup);
Result<std::uint64_t> parse_mask_value(std::string_view value, const EnumValueTable& enum_values);

// Members: a "Gated on" line and an option per field of each group.
void emit_members(const Printer& p, const MaskmapBlock& block);
void emit_ctor_entries(const Printer& p, const MaskmapBlock& block);
void emit_accessors(const Printer& p, const MaskmapBlock& block);
void add_accessors(const MaskmapBlock& block, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const MaskmapBlock& block, StepPlace place);
void add_members(const MaskmapBlock& block, std::vector<MemberDecl>& out);
void add_switches(const MaskmapBlock& block, std::vector<const SwitchBlock*>& out);
bool declares_fields(const MaskmapBlock& block);
bool may_read_nothing(const MaskmapBlock& block, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const MaskmapBlock& block, StepPlace place, std::vector<LocalsWalk::Member>& out);

void emit_encoder(const Printer& p, const MaskmapBlock& block, StepPlace place);

}  // namespace qm
