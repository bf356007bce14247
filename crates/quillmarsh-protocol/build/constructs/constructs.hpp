#pragma once
// Field constructs: for each construct of a struct body, the builder that turns
// its XML element into a model (or a reason text) and what the construct
// contributes to the struct: members, constructor entries, accessors, decoder
// statements, nested types, and the names and locals it declares.
//
// Generated decoders work on `data: &[u8]` and `offset: &mut usize` and return
// `Result<Self, &'static str>`. Top-level decoder statements stand at eight
// spaces, members at four, constructor entries at twelve.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "constructs/locals.hpp"
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

// What one place of a body (the struct body, an if branch, a switch case, a
// mask group) accepts and how it words its reasons.
struct ChildRules {
  unsigned allowed = kAllChildren;                        // ChildTag bits
  bool register_fields = true;                            // simple fields enter the lookup
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

// ---- The construct interface --------------------------------------------------------
//
// Every construct model M (SimpleField, AlignStep, VectorField, TableField,
// PackableField, IfBlock, MaskmapBlock, SwitchBlock) has one overload of each
// of these, defined in its own unit; `visit_step` (below) calls them for a
// step, so a construct without one of them does not compile:
//
//   emit_members(p, m)            its struct members, documentation included (p at kMemberIndent)
//   emit_ctor_entries(p, m)       its constructor entries (p at kCtorIndent)
//   emit_accessors(p, m)          its methods in the struct's impl (p at kMemberIndent)
//   add_accessors(m, out)         the names of those methods
//   emit_decoder(p, m, place)     its decoder statements at `place`
//   emit_encoder(p, m, place)     its encoder statements at `place` (see Encoders below)
//   add_members(m, out)           the members it declares, with their types, in order
//   add_switches(m, out)          the switch blocks it holds (itself included), innermost first
//   declares_fields(m)            whether the struct counts as declaring fields because of it
//   may_read_nothing(m, registry) whether its decoder can finish without consuming a byte
//   walk_locals(w, m, place, out) the locals its decoder binds and reads, in the decoder's order and
//                                 scopes; its members (as `out`) with the binding each one means

inline constexpr std::size_t kMemberIndent = 4;
inline constexpr std::size_t kCtorIndent = 12;

// A member (or a variant field, or a decoder local) with its Rust type.
struct PayloadLocal {
  std::string name;
  std::string ty;
};

// Where a step's decoder statements stand: among a body's top-level steps,
// in a switch case, or in an if branch (whose values go to `{ident}_v`
// locals). Inside a block, the constructs without blocks of their own are
// written flat, each line at the block's indentation.
enum class StepPlace { Body, Case, IfBranch };
// The printer for a construct without blocks of its own at `place`.
inline Printer flat_in_block(const Printer& p, StepPlace place) { return place == StepPlace::Body ? p : p.flat(); }
// The local a decoded value goes to at `place`.
inline std::string decoder_local(const std::string& ident, StepPlace place) {
  return place == StepPlace::IfBranch ? ident + "_v" : ident;
}

// Shared member templates: "/// {doc}", "pub {ident}: {ty},", "{ident},".
void emit_member_doc(const Printer& p, std::string_view text);
void emit_member_decl(const Printer& p, std::string_view ident, std::string_view ty);
void emit_ctor_entry(const Printer& p, std::string_view ident);

// ---- Simple fields, subfields, alignment ----------------------------------------

Result<SimpleField> build_simple_field(const CodegenCtx& ctx, const xml::Node& field, BodyContext& body);
// Reads one value of `kind` into the new local `name`.
void emit_read_value(const Printer& p, std::string_view name, const FieldKind& kind);
// Whether one value of `kind` can be decoded from zero bytes (a data type
// registered as able to).
bool kind_may_read_nothing(const FieldKind& kind, const TypeRegistry& registry);

void emit_members(const Printer& p, const SimpleField& field);
void emit_ctor_entries(const Printer& p, const SimpleField& field);
void emit_accessors(const Printer& p, const SimpleField& field);
void add_accessors(const SimpleField& field, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const SimpleField& field, StepPlace place);
void add_members(const SimpleField& field, std::vector<PayloadLocal>& out);
void add_switches(const SimpleField& field, std::vector<const SwitchBlock*>& out);
bool declares_fields(const SimpleField& field);
bool may_read_nothing(const SimpleField& field, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const SimpleField& field, StepPlace place, std::vector<LocalsWalk::Member>& out);

void emit_members(const Printer& p, const AlignStep& align);
void emit_ctor_entries(const Printer& p, const AlignStep& align);
void emit_accessors(const Printer& p, const AlignStep& align);
void add_accessors(const AlignStep& align, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const AlignStep& align, StepPlace place);
void add_members(const AlignStep& align, std::vector<PayloadLocal>& out);
void add_switches(const AlignStep& align, std::vector<const SwitchBlock*>& out);
bool declares_fields(const AlignStep& align);
bool may_read_nothing(const AlignStep& align, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const AlignStep& align, StepPlace place, std::vector<LocalsWalk::Member>& out);

// ---- Vectors ----------------------------------------------------------------------

Result<VectorField> build_vector_field(const CodegenCtx& ctx, const xml::Node& vector, BodyContext& body,
                                       const SiblingLookup& lookup);
// Reads the vector into the new local `local`.
void emit_read_vector_into(const Printer& p, const VectorField& vec, std::string_view local);

void emit_members(const Printer& p, const VectorField& vec);
void emit_ctor_entries(const Printer& p, const VectorField& vec);
void emit_accessors(const Printer& p, const VectorField& vec);
void add_accessors(const VectorField& vec, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const VectorField& vec, StepPlace place);
void add_members(const VectorField& vec, std::vector<PayloadLocal>& out);
void add_switches(const VectorField& vec, std::vector<const SwitchBlock*>& out);
bool declares_fields(const VectorField& vec);
bool may_read_nothing(const VectorField& vec, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const VectorField& vec, StepPlace place, std::vector<LocalsWalk::Member>& out);

// ---- Tables -------------------------------------------------------------------------

Result<TableField> build_table_field(const CodegenCtx& ctx, const xml::Node& table, BodyContext& body,
                                     const SiblingLookup& lookup);

void emit_members(const Printer& p, const TableField& table);
void emit_ctor_entries(const Printer& p, const TableField& table);
void emit_accessors(const Printer& p, const TableField& table);
void add_accessors(const TableField& table, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const TableField& table, StepPlace place);
void add_members(const TableField& table, std::vector<PayloadLocal>& out);
void add_switches(const TableField& table, std::vector<const SwitchBlock*>& out);
bool declares_fields(const TableField& table);
bool may_read_nothing(const TableField& table, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const TableField& table, StepPlace place, std::vector<LocalsWalk::Member>& out);

// ---- Packable lists and hash tables ----------------------------------------------

// `ident` without a leading `r#`, for decoder locals that put text before it.
std::string_view without_raw_prefix(std::string_view ident);

Result<PackableField> build_packable_field(const CodegenCtx& ctx, const xml::Node& field, PackableKind kind,
                                           BodyContext& body);
// "Vec<{V}>" for a list, "Vec<({K}, {V})>" for the hash tables.
std::string packable_rust_ty(const PackableField& packable);
// Reads the container into the new local `local`.
void emit_read_packable_into(const Printer& p, const PackableField& packable, std::string_view local);

void emit_members(const Printer& p, const PackableField& packable);
void emit_ctor_entries(const Printer& p, const PackableField& packable);
void emit_accessors(const Printer& p, const PackableField& packable);
void add_accessors(const PackableField& packable, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const PackableField& packable, StepPlace place);
void add_members(const PackableField& packable, std::vector<PayloadLocal>& out);
void add_switches(const PackableField& packable, std::vector<const SwitchBlock*>& out);
bool declares_fields(const PackableField& packable);
bool may_read_nothing(const PackableField& packable, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const PackableField& packable, StepPlace place, std::vector<LocalsWalk::Member>& out);

// ---- If blocks ----------------------------------------------------------------------

Result<IfBlock> build_if_block(const CodegenCtx& ctx, const xml::Node& if_element, BodyContext& body,
                               SiblingLookup& lookup);
// The payload of one branch: one option member per field, vector and packable.
std::vector<PayloadLocal> collect_if_payload_locals(const std::vector<EmitStep>& steps);
void emit_if_struct_fields(std::string& out, const std::vector<EmitStep>& steps, std::string_view label);
void emit_if_struct_field_names(std::string& out, const std::vector<EmitStep>& steps);

// Members: the documentation line, then the fields of the true branch and
// of the false branch.
void emit_members(const Printer& p, const IfBlock& block);
void emit_ctor_entries(const Printer& p, const IfBlock& block);
void emit_accessors(const Printer& p, const IfBlock& block);
void add_accessors(const IfBlock& block, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const IfBlock& block, StepPlace place);
// Both branches' options, in order, a name in both branches twice.
void add_members(const IfBlock& block, std::vector<PayloadLocal>& out);
// In a switch case both branches share one option per name.
void add_variant_fields(const IfBlock& block, std::vector<PayloadLocal>& out);
void add_switches(const IfBlock& block, std::vector<const SwitchBlock*>& out);
bool declares_fields(const IfBlock& block);
bool may_read_nothing(const IfBlock& block, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const IfBlock& block, StepPlace place, std::vector<LocalsWalk::Member>& out);

// ---- Mask maps ------------------------------------------------------------------------

// Mask groups hold fields only, which do not enter the lookup.
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
void add_members(const MaskmapBlock& block, std::vector<PayloadLocal>& out);
void add_switches(const MaskmapBlock& block, std::vector<const SwitchBlock*>& out);
bool declares_fields(const MaskmapBlock& block);
bool may_read_nothing(const MaskmapBlock& block, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const MaskmapBlock& block, StepPlace place, std::vector<LocalsWalk::Member>& out);

// ---- Switch blocks ----------------------------------------------------------------------

// Nesting of switch cases deeper than this gives a reason, never a crash.
inline constexpr std::size_t kMaxBlockDepth = 64;

// `body` and `lookup` serve as scratch while the cases are built; they are
// left as they were, except that `body` counts the switch's own member.
Result<SwitchBlock> build_switch_block(const CodegenCtx& ctx, const xml::Node& switch_element, BodyContext& body,
                                       SiblingLookup& lookup);
struct SwitchDiscriminator {
  std::string expr;      // the value, as documented
  bool is_enum = false;  // an enum field's, matched on through its raw bits
  std::string rust;      // what the decoder matches on
  LocalReads reads;
};
// The not-found and branch-field reasons come without the `<switch ...>: ` prefix.
Result<SwitchDiscriminator> resolve_switch_discriminator(std::string_view name, const SiblingLookup& lookup);
std::string canonical_case_variant_id(const std::vector<i128>& values);
// The enum type of one switch (its nested switches' types not included).
void emit_switch_enum(std::string& out, const SwitchBlock& block);

// Members: its documentation line and `pub {ident}: {type_name},`.
void emit_members(const Printer& p, const SwitchBlock& block);
void emit_ctor_entries(const Printer& p, const SwitchBlock& block);
void emit_accessors(const Printer& p, const SwitchBlock& block);
void add_accessors(const SwitchBlock& block, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const SwitchBlock& block, StepPlace place);
void add_members(const SwitchBlock& block, std::vector<PayloadLocal>& out);
void add_switches(const SwitchBlock& block, std::vector<const SwitchBlock*>& out);
bool declares_fields(const SwitchBlock& block);
bool may_read_nothing(const SwitchBlock& block, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const SwitchBlock& block, StepPlace place, std::vector<LocalsWalk::Member>& out);

// ---- Walks over steps --------------------------------------------------------------------

// Calls `f` with the model of `step`.
template <class F>
decltype(auto) visit_step(const EmitStep& step, F&& f) {
  return std::visit(std::forward<F>(f), step.v);
}

// A variant field of a switch case is a member, except that an if block's
// branches share one option per name there.
template <class M>
void add_variant_fields(const M& m, std::vector<PayloadLocal>& out) {
  add_members(m, out);
}

// The members the steps declare, in order.
std::vector<PayloadLocal> collect_members(const std::vector<EmitStep>& steps);
// The fields of a switch case's variant.
std::vector<PayloadLocal> collect_case_payload_fields(const std::vector<EmitStep>& steps);
// The accessor names the steps declare.
std::vector<std::string_view> collect_accessors(const std::vector<EmitStep>& steps);
// The switch blocks among the steps, nested ones included, innermost first.
std::vector<const SwitchBlock*> collect_switches(const std::vector<EmitStep>& steps);
// Whether a decoder of these steps can finish without consuming a byte.
bool steps_may_read_nothing(const std::vector<EmitStep>& steps, const TypeRegistry& registry);

// Whether any step makes the struct one that declares fields.
bool steps_declare_fields(const std::vector<EmitStep>& steps);
// The accessors of one top-level step, at four spaces.
void emit_step_accessors(std::string& out, const EmitStep& step);
// The struct members of one top-level step (documentation lines included).
void emit_step_members(std::string& out, const EmitStep& step);
void emit_step_decoder(const Printer& p, const EmitStep& step, StepPlace place);
// The decoder statements of one top-level step, at eight spaces.
void emit_step_reader(std::string& out, const EmitStep& step);
// The constructor entries of one top-level step, at twelve spaces.
void emit_step_ctor_entries(std::string& out, const EmitStep& step);

// ---- Encoders ----------------------------------------------------------------------------
//
// Each construct's `emit_encoder(p, m, place)` writes the inverse of its
// decoder: statements inside a struct's `write_to` that append exactly the
// bytes the decoder reads to `__out: &mut Vec<u8>`. They bind the same locals
// the decoder binds, under the same names, so that the translated length,
// test, mask and discriminator expressions read the same values; members come
// from `self` among a body's top-level steps, from the variant's bindings
// (references) in a switch case, and from the block's `{ident}_v` locals
// (references) in an if branch or mask group. Whatever the layout takes from
// earlier members is checked against them, and a disagreement returns
// `EncodeError` naming the struct (the local `__TYPE`) and the member.

// Whether values of `kind` are `Copy` in Rust (scalars and enums).
bool kind_is_copy(const FieldKind& kind);
// Appends one value of `kind` held in `name` (a value for `Copy` kinds, a
// value or reference otherwise); `member` names it in errors.
void emit_write_value(const Printer& p, std::string_view name, std::string_view member, const FieldKind& kind);
// The same for a value behind the reference `name` (a loop's element).
void emit_write_borrowed(const Printer& p, std::string_view name, std::string_view member, const FieldKind& kind);
// The names a switch case's pattern binds a variant field `ident` to, and an
// if branch or mask group binds the value inside the option `ident` to, so
// that the field's own local is bound only where its step stands, as in the
// decoder.
std::string encoder_case_binding(std::string_view ident);
std::string encoder_some_binding(std::string_view ident);
// Binds the member `ident`'s local at `place` (`decoder_local`): from `self`
// among a body's steps, from the case pattern's binding in a switch case, from
// the block's binding of the option's value in an if branch or mask group;
// `Copy` types by value, others by reference.
void emit_encoder_binding(const Printer& p, std::string_view ident, std::string_view ty, bool copy, StepPlace place);
// `Err(...)` of a problem given as a Rust expression (a literal or a `format!`).
std::string encode_error(std::string_view member, std::string_view problem_expr);

void emit_encoder(const Printer& p, const SimpleField& field, StepPlace place);
void emit_encoder(const Printer& p, const AlignStep& align, StepPlace place);
void emit_encoder(const Printer& p, const VectorField& vec, StepPlace place);
void emit_encoder(const Printer& p, const TableField& table, StepPlace place);
void emit_encoder(const Printer& p, const PackableField& packable, StepPlace place);
void emit_encoder(const Printer& p, const IfBlock& block, StepPlace place);
void emit_encoder(const Printer& p, const MaskmapBlock& block, StepPlace place);
void emit_encoder(const Printer& p, const SwitchBlock& block, StepPlace place);
void emit_step_encoder(const Printer& p, const EmitStep& step, StepPlace place);

// ---- Decoder locals ---------------------------------------------------------------------

// The locals of the decoder of `steps` at `place`.
void walk_steps_locals(LocalsWalk& walk, const std::vector<EmitStep>& steps, StepPlace place,
                       std::vector<LocalsWalk::Member>& members);
// The locals of a packable read into `local`, shown as `shown`; the id of the container's binding.
std::size_t walk_packable_locals(LocalsWalk& w, const PackableField& packable, std::string_view local,
                                 std::string_view shown);

// The first read in the decoder of a body with these steps that would meet a
// local other than the value it means (a count, raw value, option, loop local
// or match binding of one construct hiding a field another construct or the
// constructor reads), as a reason; nothing when every read meets its value.
std::optional<std::string> find_decoder_local_collision(const std::vector<EmitStep>& steps);
// The same walk, leaving its findings (the collision, the enum values bound)
// in `walk`.
void walk_decoder_locals(LocalsWalk& walk, const std::vector<EmitStep>& steps);

}  // namespace qm
