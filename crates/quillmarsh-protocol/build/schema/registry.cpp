#include "schema/registry.hpp"

#include <array>
#include <span>
#include <utility>

namespace qm {

namespace {

constexpr std::array<ScalarType, 10> kScalars{{
    {"u8", 8, false, false},
    {"u16", 16, false, false},
    {"u32", 32, false, false},
    {"u64", 64, false, false},
    {"i16", 16, true, false},
    {"i32", 32, true, false},
    {"i64", 64, true, false},
    {"i128", 128, true, false},
    {"f32", 32, true, true},
    {"f64", 64, true, true},
}};

struct ReprInfo {
  EnumRepr repr;
  std::string_view parent;
  std::string_view rust_ty;
  FieldKind::Tag kind;
};

constexpr std::array<ReprInfo, 6> kReprs{{
    {EnumRepr::U8, "byte", "u8", FieldKind::U8},
    {EnumRepr::U16, "ushort", "u16", FieldKind::U16},
    {EnumRepr::U32, "uint", "u32", FieldKind::U32},
    {EnumRepr::U64, "ulong", "u64", FieldKind::U64},
    {EnumRepr::I32, "int", "i32", FieldKind::I32},
    {EnumRepr::I64, "long", "i64", FieldKind::I64},
}};

const ReprInfo& info(EnumRepr repr) {
  for (const ReprInfo& r : kReprs) {
    if (r.repr == repr) return r;
  }
  return kReprs[0];  // unreachable: every representation is in the table
}

// The built-in protocol type names and the Rust type text each stands for.
constexpr std::array<std::pair<std::string_view, std::string_view>, 17> kBuiltins{{
    {"bool", "bool"},
    {"byte", "u8"},
    {"short", "i16"},
    {"ushort", "u16"},
    {"int", "i32"},
    {"uint", "u32"},
    {"long", "i64"},
    {"ulong", "u64"},
    {"float", "f32"},
    {"double", "f64"},
    {"string", "String"},
    {"String", "String"},
    {"WString", "WString"},
    {"ObjectId", "u32"},
    {"LandcellId", "u32"},
    {"PackedDWORD", "PackedDWORD"},
    {"DataId", "PackedDWORD"},
}};

// Registry text of a primitive -> declaration type, wire kind, and the
// numeric type its value has in expressions (empty for texts).
struct PrimitiveMapping {
  std::string_view registry_text;
  std::string_view rust_ty;
  FieldKind::Tag kind;
  std::string_view numeric;
};

constexpr std::array<PrimitiveMapping, 13> kPrimitiveKinds{{
    {"u8", "u8", FieldKind::U8, "u8"},
    {"u16", "u16", FieldKind::U16, "u16"},
    {"u32", "u32", FieldKind::U32, "u32"},
    {"u64", "u64", FieldKind::U64, "u64"},
    {"i16", "i16", FieldKind::I16, "i16"},
    {"i32", "i32", FieldKind::I32, "i32"},
    {"i64", "i64", FieldKind::I64, "i64"},
    {"f32", "f32", FieldKind::F32, "f32"},
    {"f64", "f64", FieldKind::F64, "f64"},
    {"bool", "WireBool", FieldKind::Bool, "bool"},
    {"String", "String", FieldKind::String, ""},
    {"WString", "String", FieldKind::WString, ""},
    {"PackedDWORD", "u32", FieldKind::PackedDword, "u32"},
}};

// The cast names of the expression language: the first ten built-in names,
// which stand for the same Rust types there.
constexpr auto kCsharpPrimitives = std::span(kBuiltins).first<10>();
static_assert(kCsharpPrimitives.front().first == "bool" && kCsharpPrimitives.back().first == "double");

}  // namespace

const ScalarType* scalar_type(std::string_view rust_ty) {
  // Most names share their length; the first letter rules out most of the
  // rest before the texts are compared.
  for (const ScalarType& ty : kScalars) {
    if (ty.name.size() == rust_ty.size() && ty.name[0] == rust_ty[0] && ty.name == rust_ty) return &ty;
  }
  return nullptr;
}

bool fits(i128 value, const ScalarType& ty) {
  if (ty.bits >= 128) return ty.is_signed || value >= 0;
  if (ty.is_signed) {
    const i128 half = i128{1} << (ty.bits - 1);
    return value >= -half && value < half;
  }
  return value >= 0 && value < (i128{1} << ty.bits);
}

i128 wrap_to(i128 value, const ScalarType& ty) {
  if (ty.bits >= 128) return value;
  const u128 low = static_cast<u128>(value) & ((u128{1} << ty.bits) - 1);
  if (ty.is_signed && low >= (u128{1} << (ty.bits - 1))) return static_cast<i128>(low) - (i128{1} << ty.bits);
  return static_cast<i128>(low);
}

std::optional<EnumRepr> enum_repr_from_parent(std::optional<std::string_view> parent) {
  if (!parent) return std::nullopt;
  for (const ReprInfo& r : kReprs) {
    if (r.parent == *parent) return r.repr;
  }
  return std::nullopt;
}

std::string_view enum_repr_rust_ty(EnumRepr repr) { return info(repr).rust_ty; }
std::size_t enum_repr_byte_width(EnumRepr repr) {
  return static_cast<std::size_t>(scalar_type(info(repr).rust_ty)->bits) / 8;
}
bool enum_repr_is_signed(EnumRepr repr) { return scalar_type(info(repr).rust_ty)->is_signed; }

void register_builtin_types(TypeRegistry& registry) {
  for (const auto& [name, ty] : kBuiltins) {
    registry.insert_or_assign(name, TypeKind::primitive(ty));
  }
}

void collect_typedefs(TypeRegistry& registry, const xml::Node& types_section) {
  for (const xml::Node* child : types_section.children()) {
    if (child->tag() != "type") continue;
    const auto name = child->attr("name");
    if (!name) continue;
    if (child->has_attr("primitive")) continue;
    if (!child->children().empty()) continue;
    const auto parent = child->attr("parent");
    if (!parent) continue;
    // The first definition of a name wins: built-in and enum names stay.
    if (registry.contains(*name)) continue;
    // One link per typedef: the parent must already be a registered primitive.
    const auto ty = resolve_primitive_chain(registry, *parent);
    if (!ty) continue;
    registry.try_emplace(*name, TypeKind::primitive(*ty));
  }
}

std::optional<std::string_view> resolve_primitive_chain(const TypeRegistry& registry, std::string_view name) {
  const TypeKind* kind = registry.find(name);
  if (kind == nullptr || kind->tag != TypeKind::Primitive) return std::nullopt;
  return kind->rust_ty;
}

std::optional<ResolvedType> resolve_field(const TypeRegistry& registry, std::string_view name) {
  const TypeKind* found = registry.find(name);
  if (found == nullptr) return std::nullopt;
  const TypeKind& kind = *found;
  switch (kind.tag) {
    case TypeKind::Struct:
      return ResolvedType{std::string(name), FieldKind::structure(std::string(name))};
    case TypeKind::Enum:
      if (kind.mask) {
        // A bit-flag enum is declared and read as its raw integer.
        const ReprInfo& r = info(kind.repr);
        return ResolvedType{std::string(r.rust_ty), FieldKind(r.kind)};
      }
      return ResolvedType{std::string(name), FieldKind::enumeration(std::string(name), false, kind.repr)};
    case TypeKind::Primitive:
      for (const PrimitiveMapping& m : kPrimitiveKinds) {
        if (m.registry_text == kind.rust_ty) return ResolvedType{std::string(m.rust_ty), FieldKind(m.kind)};
      }
      return std::nullopt;
  }
  return std::nullopt;
}

Result<std::string_view> csharp_to_rust_primitive(std::string_view name) {
  for (const auto& [cs, rust] : kCsharpPrimitives) {
    if (cs == name) return rust;
  }
  return fail("unknown C# primitive " + debug_str(name));
}

std::optional<std::string_view> numeric_repr_for_field_kind(const FieldKind& kind) {
  for (const PrimitiveMapping& m : kPrimitiveKinds) {
    if (m.kind == kind.tag) return m.numeric.empty() ? std::nullopt : std::optional(m.numeric);
  }
  return std::nullopt;  // enums and structs
}

}  // namespace qm
