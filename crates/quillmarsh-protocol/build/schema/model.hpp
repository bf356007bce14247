#pragma once
// The models of a struct body: one emit step per body child, each holding the
// model of its construct, and the sibling lookup through which a later
// construct refers to an earlier field by its XML name. These are plain data:
// builders (constructs/) fill them, emitters (constructs/, structs/) read them,
// and the expression translators (expr/) read the lookup.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "schema/registry.hpp"

namespace qm {

// A decoder local that a translated expression reads, and what the read
// means: a field's value (its local, a branch's `{ident}_v` local or a
// block's option), an enum field's raw bits, or, for a name inside a general
// expression, the field's value unless an enum's raw bits are the nearest
// binding of that name.
struct LocalRead {
  enum Meaning { Expression, Value, RawBits };
  std::string local;
  Meaning meaning = Expression;
};
using LocalReads = std::vector<LocalRead>;

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

struct VectorField {
  std::string ident;
  std::string elem_rust_ty;
  FieldKind elem_kind;
  std::string count_expr;   // Rust `usize` expression
  std::string length_expr;  // `length` as written
  std::optional<std::string> text;
  LocalReads count_reads;  // what the count expression reads
};

struct TableField {
  std::string ident;
  std::string key_rust_ty;
  FieldKind key_kind;
  std::string value_rust_ty;
  FieldKind value_kind;
  std::string count_expr;
  std::string length_expr;
  std::optional<std::string> text;
  LocalReads count_reads;
};

enum class PackableKind { PackableList, PackableHashTable, PHashTable };

struct PackableField {
  std::string ident;
  std::string key_rust_ty = "()";  // list: placeholder
  FieldKind key_kind;              // list: placeholder U8
  std::string value_rust_ty;       // list: the element type
  FieldKind value_kind;
  std::optional<std::string> text;
  PackableKind kind = PackableKind::PackableList;
};

struct EmitStep;

struct IfBlock {
  std::string test;       // as written
  std::string rust_test;  // translated condition
  std::vector<EmitStep> true_steps;
  std::vector<EmitStep> false_steps;
  std::optional<std::string> text;
  LocalReads test_reads;  // what the condition reads
};

struct MaskGroup {
  std::string value_text;  // `value` as written
  std::vector<SimpleField> fields;
  std::vector<PackableField> packables;
  std::uint64_t mask = 0;
};

struct MaskmapBlock {
  std::optional<std::uint64_t> xor_value;
  std::string parent_ident;
  std::string parent_bits;  // Rust expression yielding the parent's value as u64
  std::vector<MaskGroup> groups;
  LocalReads parent_reads;  // what `parent_bits` reads
};

struct SwitchCase {
  std::string variant;     // `Case_...`
  std::string value_text;  // `value` as written
  std::vector<i128> values;
  std::vector<EmitStep> steps;
  std::optional<std::string> text;
};

struct SwitchBlock {
  std::string type_name;  // generated enum type
  std::string ident;      // member and decoder local
  std::string disc_expr;  // the discriminator's value (an enum field's local), as documented
  std::string disc_rust;  // what the decoder matches on (an enum field's raw bits)
  LocalReads disc_reads;
  std::string name;  // `name` as written
  std::vector<SwitchCase> cases;
};

// One step of a body, in document order.
struct EmitStep {
  using Variant =
      std::variant<SimpleField, AlignStep, VectorField, MaskmapBlock, SwitchBlock, TableField, IfBlock, PackableField>;
  Variant v;

  template <class T>
  const T* as() const {
    return std::get_if<T>(&v);
  }
  template <class T>
  T* as() {
    return std::get_if<T>(&v);
  }
};

// ---- Sibling lookup ----------------------------------------------------------

// Every reference below records where its field was declared: `branch` is 0
// for a field of the body itself, or the number of the <if> branch that
// declared it (see SiblingLookup::open_branch).

struct NumericFieldRef {
  std::string ident;  // Rust identifier (also the decoder local)
  std::string ty;     // numeric Rust type
  std::size_t branch = 0;
};

struct SubfieldRef {
  std::string parent_xml_name;
  std::string parent_ident;
  std::string parent_ty;
  std::string expr;        // value expression as written
  std::size_t branch = 0;  // the parent's
};

struct EnumFieldRef {
  std::string ident;
  std::string repr_ty;
  std::size_t branch = 0;
};

struct GatedFieldRef {
  std::string ident;
  std::string ty;
};

// Earlier fields of one body, keyed by XML name. A later entry replaces an
// earlier one with the same key.
struct SiblingLookup {
  std::map<std::string, NumericFieldRef> numeric_fields;
  std::map<std::string, SubfieldRef> subfields;
  std::map<std::string, EnumFieldRef> enum_fields;
  std::set<std::string> bool_fields;
  std::map<std::string, GatedFieldRef> gated_fields;
  // The <if> branch whose fields are being built (0: none), and how many
  // branch numbers were handed out for this body; every branch of every block
  // gets its own number.
  std::size_t open_branch = 0;
  std::size_t branch_count = 0;

  // Registers `field` as declared in the open branch.
  void add_field(const SimpleField& field);
  // What a decoder statement at this point reads for a field with Rust
  // identifier `ident` declared in `branch`: the field's local for a field of
  // the body; inside the field's own branch, the branch's local of the value
  // just read, `{ident}_v`; anywhere else the option of the block, where an
  // absent field reads as its type's zero (false for a bool).
  std::string value_of(std::string_view ident, std::size_t branch) const;
  // The local that `value_of` reads, as a value.
  LocalRead value_read(std::string_view ident, std::size_t branch) const;
  // The raw bits of an enum field, in the enum's representation type: the
  // `{local}_bits` local of a field of the body or of the open branch, the
  // option's value cast (absent: 0) elsewhere. `raw_bits_local` tells which.
  std::string raw_bits_of(const EnumFieldRef& field) const;
  bool raw_bits_local(const EnumFieldRef& field) const;
  // The local that `raw_bits_of` reads: the raw bits, or the option's value.
  LocalRead raw_bits_read(const EnumFieldRef& field) const;
  void add_packable() {}  // packable fields cannot be referred to
  void add_maskmap_gated(const MaskmapBlock& block);
};

// ---- Body context --------------------------------------------------------------

// Shared by every builder of one body. A switch case scopes its fields: it
// works on this same context, which is put back as it was after the case.
struct BodyContext {
  // snake-case identifier -> number of fields of this body that used it
  std::map<std::string, std::size_t> occurrences;
  // the owning struct's full Rust name, prefix included
  std::string owner;
  // Type names already taken by switch enums of this struct (may be null).
  std::set<std::string>* switch_type_names = nullptr;
  // Nesting depth of switch cases at this point.
  std::size_t depth = 0;
};

// Numbers `name` through the occurrence map: the first use of a snake name x
// gives x, the second x_2, the third x_3; then keyword-escapes the result.
std::string number_identifier(std::map<std::string, std::size_t>& occurrences, std::string_view name);
// The same for a key that is already in snake case (a switch counts
// `{snake}_data`).
std::string number_snake_identifier(std::map<std::string, std::size_t>& occurrences, std::string_view snake);

// Appends `text` unless `list` already holds it.
void push_unique(std::vector<std::string>& list, std::string_view text);

}  // namespace qm
