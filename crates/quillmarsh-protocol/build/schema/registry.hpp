#pragma once
// The type registry: what every usable protocol type name is, and how a field
// of that type is declared in Rust and read from the wire.

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "text/result.hpp"
#include "text/text.hpp"
#include "text/text_table.hpp"
#include "xml/xml.hpp"

namespace qm {

// ---- Rust scalar types --------------------------------------------------------

// A Rust scalar type the generated code computes with: "u8" ... "u64",
// "i16" ... "i128", "f32", "f64". Floats count as signed.
struct ScalarType {
  std::string_view name;
  int bits;
  bool is_signed;
  bool is_float;
};
// The scalar type named `rust_ty`, or null.
const ScalarType* scalar_type(std::string_view rust_ty);
// Whether an integer value is one of the integer type `ty`.
bool fits(i128 value, const ScalarType& ty);
// What an `as` conversion to the integer type `ty` gives: the low bits,
// reinterpreted in the type's signedness.
i128 wrap_to(i128 value, const ScalarType& ty);

// ---- Enum representations ---------------------------------------------------

// An enum's underlying integer.
enum class EnumRepr { U8, U16, U32, U64, I32, I64 };

// "byte" -> U8, "ushort" -> U16, "uint" -> U32, "ulong" -> U64, "int" -> I32,
// "long" -> I64; anything else, or no attribute, gives none.
std::optional<EnumRepr> enum_repr_from_parent(std::optional<std::string_view> parent);
std::string_view enum_repr_rust_ty(EnumRepr repr);  // "u8" ... "i64"
std::size_t enum_repr_byte_width(EnumRepr repr);    // 1, 2, 4, 8, 4, 8
bool enum_repr_is_signed(EnumRepr repr);

// What a registered type name is.
struct TypeKind {
  enum Tag { Primitive, Struct, Enum };
  Tag tag = Primitive;
  std::string_view rust_ty;       // Primitive: static Rust type text
  EnumRepr repr = EnumRepr::U8;   // Enum
  bool mask = false;              // Enum: a bit-flag enum
  bool may_read_nothing = false;  // Struct: its decoder can consume zero bytes

  static TypeKind primitive(std::string_view ty) { return {Primitive, ty, EnumRepr::U8, false}; }
  static TypeKind structure(bool may_read_nothing = false) {
    return {Struct, {}, EnumRepr::U8, false, may_read_nothing};
  }
  static TypeKind enumeration(EnumRepr r, bool is_mask) { return {Enum, {}, r, is_mask}; }
};

// The wire kind of a resolved field type.
struct FieldKind {
  enum Tag { U8, U16, U32, U64, I16, I32, I64, F32, F64, Bool, String, WString, PackedDword, Enum, Struct };
  Tag tag = U8;
  std::string name;              // Enum: the enum's name; Struct: the struct's name
  bool mask = false;             // Enum only
  EnumRepr repr = EnumRepr::U8;  // Enum only

  FieldKind() = default;
  FieldKind(Tag t) : tag(t) {}  // NOLINT(google-explicit-constructor)
  static FieldKind enumeration(std::string n, bool m, EnumRepr r) {
    FieldKind k(Enum);
    k.name = std::move(n);
    k.mask = m;
    k.repr = r;
    return k;
  }
  static FieldKind structure(std::string n) {
    FieldKind k(Struct);
    k.name = std::move(n);
    return k;
  }
  bool operator==(const FieldKind&) const = default;
};

// ---- Wire kinds ------------------------------------------------------------------
//
// Every fact about a wire kind, one row per kind (registry.cpp): how the
// registry names it, how a field of it is declared, its value's type in
// expressions, its width, the traits its Rust type has, and the decoder and
// encoder templates that read and write one value of it. The templates use
// `$n$` (the local holding the value), `$T$` (the type a number is read and
// written as; for an enum or struct, its name), `$W$` (the width), `$bytes$`
// (the `$W$` bytes at the cursor, `data[*offset], ...`), `$R$` (an enum's
// representation type) and `$m$` (the member, in encoder errors).
struct WireKind {
  FieldKind::Tag tag;
  std::string_view registry_text;  // a Primitive's text in the registry; empty for enums and structs
  std::string_view rust_ty;        // declaration type; empty: the enum's or struct's own name
  std::string_view numeric;        // the value's type in expressions; empty: none
  std::size_t width;               // bytes on the wire; 0 when it varies
  bool copy;                       // the Rust type is `Copy`
  bool ord;                        // the Rust type is `Ord` (it can key a map)
  bool integer;                    // a fixed-width integer: it can carry subfields
  std::string_view read;           // decoder statements binding the new local `$n$`
  std::string_view write;          // encoder statement appending the value held in `$n$`
};

// The row of `tag`.
const WireKind& wire_kind(FieldKind::Tag tag);
// The declaration type of a field of `kind`: its row's, or the enum's or
// struct's own name.
std::string_view wire_rust_ty(const FieldKind& kind);
// The row's read and write templates with what the row itself fixes filled
// in (its type, width and bytes), built once: what is left is `$n$` (and
// `$m$` in a write), and an enum's or struct's `$T$` and `$R$`.
std::string_view wire_read_template(FieldKind::Tag tag);
std::string_view wire_write_template(FieldKind::Tag tag);

using TypeRegistry = TextTable<TypeKind>;
// Enum name -> member name -> value.
using EnumValueTable = std::unordered_map<std::string, std::map<std::string, i128>, TextHash, std::equal_to<>>;

// Inserts the seventeen built-in names.
void register_builtin_types(TypeRegistry& registry);

// Registers the typedefs of one `types` element.
void collect_typedefs(TypeRegistry& registry, const xml::Node& types_section);

// The Rust type text of a name registered as Primitive, else none.
std::optional<std::string_view> resolve_primitive_chain(const TypeRegistry& registry, std::string_view name);

struct ResolvedType {
  std::string rust_ty;
  FieldKind kind;
};
// The Rust declaration type and wire kind of a type name, or none.
std::optional<ResolvedType> resolve_field(const TypeRegistry& registry, std::string_view name);

// Whether a type name is a template parameter ("T" or "U") of a templated
// data type, meaningful only inside its definition.
inline bool is_templated_marker(std::string_view name) { return name == "T" || name == "U"; }

// C# cast names: "int" -> "i32", ...; otherwise "unknown C# primitive \"x\"".
Result<std::string_view> csharp_to_rust_primitive(std::string_view name);

// "u8" ... "bool" or "u32" for PackedDword; none for String, WString, Enum, Struct.
std::optional<std::string_view> numeric_repr_for_field_kind(const FieldKind& kind);

}  // namespace qm
