#pragma once
// Field constructs: for each construct of a struct body, the builder that turns
// its XML element into a model (or a reason text) and the emitters that write
// its struct members, decoder statements and constructor entries.
//
// Generated decoders work on `data: &[u8]` and `offset: &mut usize` and return
// `Result<Self, &'static str>`. Top-level decoder statements stand at eight
// spaces, members at four, constructor entries at twelve.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "schema/context.hpp"
#include "schema/model.hpp"
#include "text/result.hpp"
#include "text/text.hpp"
#include "xml/xml.hpp"

namespace qm {

// Decoder statements of a body's top-level steps stand at eight spaces.
inline constexpr std::size_t kDecoderIndent = 8;

// ---- Classification of body children -------------------------------------------

// "PackableList", "PackableHashTable", "PHashTable" by the `type` attribute.
std::optional<PackableKind> packable_kind_for_field(const xml::Node& field);
std::string_view kind_name(PackableKind kind);
// Byte width of an `<align type=...>`: byte/bool 1, short/ushort 2,
// int/uint/float 4, long/ulong/double 8; anything else none.
std::optional<std::size_t> align_byte_width_from_node(const xml::Node& align);

// ---- Body children ------------------------------------------------------------------

// The child elements besides `field` that a place of a body accepts.
enum class ChildTag : unsigned { Align = 1, Vector = 2, Maskmap = 4, Switch = 8, Table = 16, If = 32 };
inline constexpr unsigned kAllChildren = 63;

// How built simple fields enter the sibling lookup.
enum class FieldRegistration { None, Sibling, IfBranch };

// What one place of a body (the struct body, an if branch, a switch case, a
// mask group) accepts and how it words its reasons.
struct ChildRules {
  unsigned allowed = kAllChildren;  // ChildTag bits
  FieldRegistration fields = FieldRegistration::Sibling;
  bool register_gated = true;                             // mask-map fields enter the lookup
  std::string prefix;                                     // before every reason of a child
  std::string_view align_hint;                            // after the unknown-alignment reason
  std::string switch_owner_suffix;                        // appended to the owner for a nested switch's type name
  std::string_view switch_prefix;                         // before a nested switch's reasons, after `prefix`
  std::string (*refuse)(std::string_view tag) = nullptr;  // the reason for any other child
};

// "unsupported child `<{tag}>`", the struct body's refusal.
std::string unsupported_body_child(std::string_view tag);

// Builds one child element into a step appended to `steps`; the reason
// (behind `rules.prefix`) when it cannot be built or is not allowed here.
Result<bool> build_child_step(const CodegenCtx& ctx, const xml::Node& child, const ChildRules& rules, BodyContext& body,
                              SiblingLookup& lookup, std::vector<EmitStep>& steps);

// ---- Simple fields, subfields, alignment ----------------------------------------

Result<SimpleField> build_simple_field(const CodegenCtx& ctx, const xml::Node& field, BodyContext& body);
// Reads one value of `kind` into the new local `name`.
void emit_field_decoder(const Printer& p, std::string_view name, const FieldKind& kind);
void emit_align_decoder(const Printer& p, std::size_t width);
// Reads one value of `kind` into the new local `name`, at eight spaces.
void emit_read_field(std::string& out, std::string_view name, const FieldKind& kind);
void emit_read_field_indented(std::string& out, std::string_view name, const FieldKind& kind, std::string_view indent);
void emit_align_pad(std::string& out, std::size_t width);
void emit_align_pad_indented(std::string& out, std::size_t width, std::string_view indent);

// ---- Vectors ----------------------------------------------------------------------

// Whether one value of `kind` can be decoded from zero bytes (a data type
// registered as able to), and whether a body with these steps can.
bool kind_may_read_nothing(const FieldKind& kind, const TypeRegistry& registry);
bool steps_may_read_nothing(const std::vector<EmitStep>& steps, const TypeRegistry& registry);

Result<VectorField> build_vector_field(const CodegenCtx& ctx, const xml::Node& vector, BodyContext& body,
                                       const SiblingLookup& lookup);
// Reads the vector into the new local `local`.
void emit_vector_decoder(const Printer& p, const VectorField& vec, std::string_view local);
void emit_read_vector(std::string& out, const VectorField& vec);
void emit_read_vector_indented(std::string& out, const VectorField& vec, std::string_view indent);

// ---- Tables -------------------------------------------------------------------------

Result<TableField> build_table_field(const CodegenCtx& ctx, const xml::Node& table, BodyContext& body,
                                     const SiblingLookup& lookup);
void emit_table_decoder(const Printer& p, const TableField& table);
void emit_read_table(std::string& out, const TableField& table, std::string_view indent);
void emit_read_table_indented(std::string& out, const TableField& table, std::string_view indent);

// ---- Packable lists and hash tables ----------------------------------------------

// `ident` without a leading `r#`, for decoder locals that put text before it.
std::string_view without_raw_prefix(std::string_view ident);

Result<PackableField> build_packable_field(const CodegenCtx& ctx, const xml::Node& field, PackableKind kind,
                                           BodyContext& body);
// "Vec<{V}>" for a list, "Vec<({K}, {V})>" for the hash tables.
std::string packable_rust_ty(const PackableField& packable);
// Reads the container into the new local `local`.
void emit_packable_decoder(const Printer& p, const PackableField& packable, std::string_view local);
void emit_read_packable(std::string& out, const PackableField& packable, std::string_view indent);

// ---- If blocks ----------------------------------------------------------------------

Result<IfBlock> build_if_block(const CodegenCtx& ctx, const xml::Node& if_element, BodyContext& body,
                               SiblingLookup& lookup);
struct PayloadLocal {
  std::string name;
  std::string ty;
};
std::vector<PayloadLocal> collect_if_payload_locals(const std::vector<EmitStep>& steps);
void emit_if_struct_fields(std::string& out, const std::vector<EmitStep>& steps, std::string_view label);
void emit_if_struct_field_names(std::string& out, const std::vector<EmitStep>& steps);
void emit_if_decoder(const Printer& p, const IfBlock& block);
void emit_read_if(std::string& out, const IfBlock& block, std::string_view indent);
// The struct members of an if step: its documentation line, then the fields
// of the true branch and of the false branch.
void emit_if_members(std::string& out, const IfBlock& block);

// ---- Mask maps ------------------------------------------------------------------------

// Mask groups hold fields only, which do not enter the lookup.
Result<MaskmapBlock> build_maskmap_block(const CodegenCtx& ctx, const xml::Node& maskmap, BodyContext& body,
                                         SiblingLookup& lookup);
Result<std::string> resolve_maskmap_parent_bits(std::string_view name, const SiblingLookup& lookup);
std::optional<std::string> resolve_maskmap_parent_snake(std::string_view name, const SiblingLookup& lookup);
Result<std::uint64_t> parse_mask_value(std::string_view value, const EnumValueTable& enum_values);
void emit_maskmap_decoder(const Printer& p, const MaskmapBlock& block);
void emit_read_maskmap(std::string& out, const MaskmapBlock& block);
// Struct members ("Gated on ..." lines) and constructor entries of a mask map.
void emit_maskmap_members(std::string& out, const MaskmapBlock& block);
void emit_maskmap_ctor_entries(std::string& out, const MaskmapBlock& block);
void emit_read_maskmap_indented(std::string& out, const MaskmapBlock& block, std::string_view indent);

// ---- Switch blocks ----------------------------------------------------------------------

// Nesting of switch cases deeper than this gives a reason, never a crash.
inline constexpr std::size_t kMaxBlockDepth = 64;

// `body` and `lookup` serve as scratch while the cases are built; they are
// left as they were, except that `body` counts the switch's own member.
Result<SwitchBlock> build_switch_block(const CodegenCtx& ctx, const xml::Node& switch_element, BodyContext& body,
                                       SiblingLookup& lookup);
struct SwitchDiscriminator {
  std::string expr;
  bool is_enum = false;
};
// The not-found and branch-field reasons come without the `<switch ...>: ` prefix.
Result<SwitchDiscriminator> resolve_switch_discriminator(std::string_view name, const SiblingLookup& lookup);
std::string canonical_case_variant_id(const std::vector<i128>& values);
std::vector<PayloadLocal> collect_case_payload_fields(const std::vector<EmitStep>& steps);
void emit_switch_enum_recursive(std::string& out, const EmitStep& step);
void emit_switch_decoder(const Printer& p, const SwitchBlock& block);
void emit_read_switch(std::string& out, const SwitchBlock& block, std::string_view indent);
// The struct member of a switch: its documentation line and `pub {ident}: {type_name},`.
void emit_switch_member(std::string& out, const SwitchBlock& block);

// ---- Decoder locals ---------------------------------------------------------------------

// The first read in the decoder of a body with these steps that would meet a
// local other than the value it means (a count, raw value, option, loop local
// or match binding of one construct hiding a field another construct or the
// constructor reads), as a reason; nothing when every read meets its value.
std::optional<std::string> find_decoder_local_collision(const std::vector<EmitStep>& steps);

// ---- Per-step dispatch (used by the struct emitter and by switch cases) --------------

// The struct members of one top-level step (documentation lines included).
void emit_step_members(std::string& out, const EmitStep& step);
// Where a step's decoder statements stand: among a body's top-level steps,
// in a switch case, or in an if branch (whose values go to `{ident}_v`
// locals). Inside a block, the constructs without blocks of their own are
// written flat, each line at the block's indentation.
enum class StepPlace { Body, Case, IfBranch };
void emit_step_decoder(const Printer& p, const EmitStep& step, StepPlace place);
// The decoder statements of one top-level step, at eight spaces.
void emit_step_reader(std::string& out, const EmitStep& step);
// The constructor entries of one top-level step, at twelve spaces.
void emit_step_ctor_entries(std::string& out, const EmitStep& step);
// The decoder statements of one step at a given indent (switch cases).
void emit_step_indented(std::string& out, const EmitStep& step, std::string_view indent);

}  // namespace qm
