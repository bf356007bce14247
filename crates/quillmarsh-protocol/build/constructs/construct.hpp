#pragma once
// What every construct of a struct body shares: where its decoder and
// encoder statements stand, the member and binding templates, and the
// interface each construct's unit implements (one header per construct:
// field.hpp, vector.hpp, table.hpp, packable.hpp, if.hpp, maskmap.hpp,
// switch.hpp; steps.hpp joins them into a body's steps).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "constructs/locals.hpp"
#include "schema/body.hpp"
#include "schema/context.hpp"
#include "schema/registry.hpp"
#include "text/result.hpp"
#include "text/text.hpp"
#include "xml/xml.hpp"

namespace qm {

// The statements of a struct's decoder and encoder stand at eight spaces:
// a method's body in an impl block.
inline constexpr std::size_t kStatementIndent = 8;

// ---- The construct interface --------------------------------------------------------
//
// Every construct model M (SimpleField, AlignStep, VectorField, TableField,
// PackableField, IfBlock, MaskmapBlock, SwitchBlock) has one overload of each
// of these, defined in its own unit; `visit_step` (steps.hpp) calls them for a
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

// A member a construct declares (a struct member, or a field of a switch
// case's variant; the decoder's local of the same name holds its value),
// with its Rust type and, when the description documents it, its text.
struct MemberDecl {
  std::string name;
  std::string ty;
  const std::optional<std::string>* doc = nullptr;
  // Declared by a block (an if branch, a mask group) as an option: `ty` is
  // then `Option<...>`.
  bool optional = false;
  // A simple field's value (or its option), which expressions may read.
  bool value = false;
};
// The member as the option of a block holding it: `Option<ty>`, or the
// member as it is when it is an option already (a member inside nested
// blocks is one option, present when every block around it selected it).
MemberDecl as_block_option(MemberDecl member);

// Where a step's decoder statements stand: among a body's top-level steps,
// in a switch case, or in a block (an if branch or a mask group, whose values
// go to `{ident}_v` locals, the block's options being `{ident}`); `depth`
// counts the blocks around the step, and a value `depth` blocks deep goes to
// `{ident}` followed by `_v` `depth` times. Inside a block or case, the
// constructs without blocks of their own are written flat, each line at the
// block's indentation.
struct StepPlace {
  enum Kind : unsigned char { InBody, InCase, InBlock };
  Kind kind = InBody;
  std::size_t depth = 0;

  // The place of the steps of a switch case standing here, and of a block's.
  StepPlace case_inside() const { return {InCase, depth}; }
  StepPlace block_inside() const { return {InBlock, depth + 1}; }
};
// A body's top-level steps.
inline constexpr StepPlace kBodyPlace{StepPlace::InBody, 0};
// The printer for a construct without blocks of its own at `place`.
inline Printer flat_in_block(const Printer& p, StepPlace place) {
  return place.kind == StepPlace::InBody ? p : p.flat();
}
// The local a decoded value goes to at `place`.
inline std::string decoder_local(std::string_view ident, StepPlace place) {
  return SiblingLookup::local_at(ident, place.depth);
}

// Shared member templates: "/// {doc}", "pub {ident}: {ty},", "{ident},".
void emit_member_doc(const Printer& p, std::string_view text);
void emit_member_decl(const Printer& p, std::string_view ident, std::string_view ty);
void emit_ctor_entry(const Printer& p, std::string_view ident);

// The models that hold other steps.
struct EmitStep;
struct SwitchBlock;

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
// `__base` is where the message being written starts in `__out`: alignment
// pads count from there, as the decoder counts from the start of its data.

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
// The checks of an option's presence: the option of member `ident`, held in
// `local`, must hold a value, bound by reference to
// `encoder_some_binding(ident)`, or be absent; `error` is the `EncodeError` to
// return otherwise (an expression, see `encode_error_call`).
void emit_require_present(const Printer& p, std::string_view ident, std::string_view local, std::string_view error);
void emit_require_absent(const Printer& p, std::string_view local, std::string_view error);
// Whether a member named `name` would hide a local the encoder binds itself
// (`__out`, `__base`, `__items` and `__rest` of the element loops, and the
// `__case_`/`__some_` bindings above).
bool is_encoder_local(std::string_view name);
// Binds the member `ident`'s local at `place` (`decoder_local`): from `self`
// among a body's steps, from the case pattern's binding in a switch case, from
// the block's binding of the option's value in an if branch or mask group;
// `Copy` types by value, others by reference.
void emit_encoder_binding(const Printer& p, std::string_view ident, std::string_view ty, bool copy, StepPlace place);
// Binds the option of a block's member `ident` at `place`: from `self`, from
// the case pattern's binding, or, for a block inside a block, the enclosing
// block's option of the same member.
void emit_encoder_option_binding(const Printer& p, std::string_view ident, StepPlace place);
// A call of the crate's encoder helper `helper` (`crate::enc::{helper}`) with
// the struct's name, the member `member` (without a raw prefix) and then
// `args`: the helpers check what the layout takes from earlier members and
// build the error that names both, so each site holds only a call.
std::string encode_error_call(std::string_view helper, std::string_view member, std::string_view args);

// ---- Serde impls ---------------------------------------------------------------------
//
// The Serialize and Deserialize impls of `serde_generated.rs` (the crate's
// `serde` feature). A struct, and a switch case's variant, is a map of its
// members keyed by their names without `r#`, in declaration order; the
// crate's `serde_support` module checks the names.

// The `(name, value)` pairs of a map of `members`, each member's value read
// as `{access}{name}` (`&self.`, or a variant's bindings `__fN` when
// `access` is empty), into the serializer state `state`.
void emit_serialize_members(const Printer& p, std::string_view state, std::string_view access,
                            const std::vector<MemberDecl>& members);
// The key names of `members`: `&["a", "b"]`.
std::string serde_member_names(const std::vector<MemberDecl>& members);
// A visitor `visitor` reading a map of `members` into `{constructor} {
// member: value, ... }` of type `value_ty`; `type_label` names it in
// errors, and `members_const` is the const holding the key names, which the
// caller declares beside it.
void emit_members_visitor(const Printer& p, std::string_view visitor, std::string_view members_const,
                          std::string_view type_label, std::string_view value_ty, std::string_view constructor,
                          const std::vector<MemberDecl>& members);

}  // namespace qm
