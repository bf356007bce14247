#include "schema/registry.hpp"

#include <array>
#include <span>
#include <utility>

namespace qm {

namespace {

struct ReprInfo {
  EnumRepr repr;
  std::string_view parent;
  std::string_view rust_ty;
  std::size_t width;
  bool is_signed;
  FieldKind::Tag kind;
};

constexpr std::array<ReprInfo, 6> kReprs{{
    {EnumRepr::U8, "byte", "u8", 1, false, FieldKind::U8},
    {EnumRepr::U16, "ushort", "u16", 2, false, FieldKind::U16},
    {EnumRepr::U32, "uint", "u32", 4, false, FieldKind::U32},
    {EnumRepr::U64, "ulong", "u64", 8, false, FieldKind::U64},
    {EnumRepr::I32, "int", "i32", 4, true, FieldKind::I32},
    {EnumRepr::I64, "long", "i64", 8, true, FieldKind::I64},
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

// Registry text of a primitive -> (declaration type, wire kind).
struct PrimitiveMapping {
  std::string_view registry_text;
  std::string_view rust_ty;
  FieldKind::Tag kind;
};

constexpr std::array<PrimitiveMapping, 13> kPrimitiveKinds{{
    {"u8", "u8", FieldKind::U8},
    {"u16", "u16", FieldKind::U16},
    {"u32", "u32", FieldKind::U32},
    {"u64", "u64", FieldKind::U64},
    {"i16", "i16", FieldKind::I16},
    {"i32", "i32", FieldKind::I32},
    {"i64", "i64", FieldKind::I64},
    {"f32", "f32", FieldKind::F32},
    {"f64", "f64", FieldKind::F64},
    {"bool", "WireBool", FieldKind::Bool},
    {"String", "String", FieldKind::String},
    {"WString", "String", FieldKind::WString},
    {"PackedDWORD", "u32", FieldKind::PackedDword},
}};

// The cast names of the expression language: the first ten built-in names,
// which stand for the same Rust types there.
constexpr auto kCsharpPrimitives = std::span(kBuiltins).first<10>();
static_assert(kCsharpPrimitives.front().first == "bool" && kCsharpPrimitives.back().first == "double");

}  // namespace

std::optional<EnumRepr> enum_repr_from_parent(std::optional<std::string_view> parent) {
  if (!parent) return std::nullopt;
  for (const ReprInfo& r : kReprs) {
    if (r.parent == *parent) return r.repr;
  }
  return std::nullopt;
}

std::string_view enum_repr_rust_ty(EnumRepr repr) { return info(repr).rust_ty; }
std::size_t enum_repr_byte_width(EnumRepr repr) { return info(repr).width; }
bool enum_repr_is_signed(EnumRepr repr) { return info(repr).is_signed; }

void register_builtin_types(TypeRegistry& registry) {
  for (const auto& [name, ty] : kBuiltins) {
    registry.insert_or_assign(std::string(name), TypeKind::primitive(ty));
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
    if (registry.find(std::string(*name)) != registry.end()) continue;
    // One link per typedef: the parent must already be a registered primitive.
    const auto ty = resolve_primitive_chain(registry, *parent);
    if (!ty) continue;
    registry.emplace(std::string(*name), TypeKind::primitive(*ty));
  }
}

std::optional<std::string_view> resolve_primitive_chain(const TypeRegistry& registry, std::string_view name) {
  const auto it = registry.find(std::string(name));
  if (it == registry.end() || it->second.tag != TypeKind::Primitive) return std::nullopt;
  return it->second.rust_ty;
}

std::optional<ResolvedType> resolve_field(const TypeRegistry& registry, std::string_view name) {
  const auto it = registry.find(std::string(name));
  if (it == registry.end()) return std::nullopt;
  const TypeKind& kind = it->second;
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
  switch (kind.tag) {
    case FieldKind::U8:
      return "u8";
    case FieldKind::U16:
      return "u16";
    case FieldKind::U32:
      return "u32";
    case FieldKind::U64:
      return "u64";
    case FieldKind::I16:
      return "i16";
    case FieldKind::I32:
      return "i32";
    case FieldKind::I64:
      return "i64";
    case FieldKind::F32:
      return "f32";
    case FieldKind::F64:
      return "f64";
    case FieldKind::Bool:
      return "bool";
    case FieldKind::PackedDword:
      return "u32";
    case FieldKind::String:
    case FieldKind::WString:
    case FieldKind::Enum:
    case FieldKind::Struct:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace qm
