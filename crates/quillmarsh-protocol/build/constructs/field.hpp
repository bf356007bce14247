#pragma once
// Simple fields (with their subfield accessors) and alignment steps.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/construct.hpp"

namespace qm {

struct SubfieldAccessor {
  std::string ident;       // accessor method name
  std::string xml_name;    // `name` as written
  std::string rust_ty;     // "u8" ... "i64"
  std::string rust_expr;   // computes the value from `self.{parent}`
  std::string value_expr;  // `value` as written (C# syntax)
  std::optional<std::string> text;
};

struct SimpleField {
  std::string ident;     // numbered, keyword-escaped snake case
  std::string xml_name;  // `name` as written
  std::string rust_ty;   // declaration type
  FieldKind kind;
  std::optional<std::string> text;
  std::vector<SubfieldAccessor> subfields;
};

struct AlignStep {
  std::size_t width = 1;  // 1, 2, 4 or 8
};

// Registers `field` and its subfields in `lookup`, as declared in its open branch.
void register_field(SiblingLookup& lookup, const SimpleField& field);

// Byte width of an `<align type=...>`: byte/bool 1, short/ushort 2,
// int/uint/float 4, long/ulong/double 8; anything else none.
std::optional<std::size_t> align_byte_width_from_node(const xml::Node& align);

// `lookup`, when given, holds the fields declared before this one, which the
// extended tier lets a subfield's value name.
Result<SimpleField> build_simple_field(const CodegenCtx& ctx, const xml::Node& field, BodyContext& body,
                                       const SiblingLookup* lookup = nullptr);
// Reads one value of `kind` into the new local `name`.
void emit_read_value(const Printer& p, std::string_view name, const FieldKind& kind);
// A counted run of elements of one kind, read into the new `Vec` local
// `local` whose count is in `{local}_count` (vectors and packable lists);
// the locals it binds, the vector's binding returned; and the encoder's
// loop writing every element of the vector behind the reference `local`.
void emit_read_elements(const Printer& p, std::string_view local, std::string_view elem_ty, const FieldKind& elem_kind);
std::size_t walk_read_elements(LocalsWalk& w, std::string_view local, const FieldKind& elem_kind,
                               std::string_view container);
void emit_write_elements(const Printer& p, std::string_view local, std::string_view member, const FieldKind& elem_kind);
// Whether one value of `kind` can be decoded from zero bytes (a data type
// registered as able to).
bool kind_may_read_nothing(const FieldKind& kind, const TypeRegistry& registry);

void emit_members(const Printer& p, const SimpleField& field);
void emit_ctor_entries(const Printer& p, const SimpleField& field);
void emit_accessors(const Printer& p, const SimpleField& field);
void add_accessors(const SimpleField& field, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const SimpleField& field, StepPlace place);
void add_members(const SimpleField& field, std::vector<MemberDecl>& out);
void add_switches(const SimpleField& field, std::vector<const SwitchBlock*>& out);
bool declares_fields(const SimpleField& field);
bool may_read_nothing(const SimpleField& field, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const SimpleField& field, StepPlace place, std::vector<LocalsWalk::Member>& out);

void emit_members(const Printer& p, const AlignStep& align);
void emit_ctor_entries(const Printer& p, const AlignStep& align);
void emit_accessors(const Printer& p, const AlignStep& align);
void add_accessors(const AlignStep& align, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const AlignStep& align, StepPlace place);
void add_members(const AlignStep& align, std::vector<MemberDecl>& out);
void add_switches(const AlignStep& align, std::vector<const SwitchBlock*>& out);
bool declares_fields(const AlignStep& align);
bool may_read_nothing(const AlignStep& align, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const AlignStep& align, StepPlace place, std::vector<LocalsWalk::Member>& out);

void emit_encoder(const Printer& p, const SimpleField& field, StepPlace place);
void emit_encoder(const Printer& p, const AlignStep& align, StepPlace place);

}  // namespace qm
