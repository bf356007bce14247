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

// Reading one value into `$n$`: fixed-width kinds check all their bytes
// first; the others are read by the crate's readers or the type's own
// decoder, which leave the cursor where it was on error.
constexpr std::string_view kReadByte = R"(if *offset + 1 > data.len() { return Err("truncated u8 field $n$"); }
let $n$: u8 = data[*offset]; *offset += 1;
)";
constexpr std::string_view kReadLittleEndian =
    R"(if *offset + $W$ > data.len() { return Err("truncated $T$ field $n$"); }
let $n$: $T$ = $T$::from_le_bytes([$bytes$]); *offset += $W$;
)";
constexpr std::string_view kReadWireBool =
    R"(if *offset + 4 > data.len() { return Err("truncated wire-bool field $n$"); }
let $n$: WireBool = u32::from_le_bytes([$bytes$]) != 0; *offset += 4;
)";
constexpr std::string_view kReadString16 = R"(let $n$: String = read_string16_le(data, offset)?;
)";
constexpr std::string_view kReadWString = R"(let $n$: String = read_wstring_le(data, offset)?;
)";
constexpr std::string_view kReadPackedDword = R"(let $n$: u32 = read_packed_dword(data, offset)?;
)";
constexpr std::string_view kReadStruct = R"(let $n$: $T$ = $T$::read_from(data, offset)?;
)";
constexpr std::string_view kReadEnum = R"(let $n$_raw = $T$::read_from(data, offset)?;
let $n$_bits: $R$ = match $n$_raw { Ok(v) => v as $R$, Err(raw) => raw };
let $n$: $T$ = match $n$_raw { Ok(v) => v, Err(_) => return Err("unknown $T$ discriminant") };
)";

// Writing the value held in `$n$`: numbers through the crate's one writer
// per type; what can fail returns its error naming the member.
constexpr std::string_view kWriteScalar = "crate::enc::$T$(__out, $n$);\n";
// Any non-zero word reads as true; true is written as 1.
constexpr std::string_view kWriteWireBool = "crate::enc::bool(__out, $n$);\n";
constexpr std::string_view kWriteString16 =
    "if let Err(e) = crate::enc::string16(__out, &$n$, __TYPE, $m$) { return Err(e); }\n";
constexpr std::string_view kWriteWString =
    "if let Err(e) = crate::enc::wstring(__out, &$n$, __TYPE, $m$) { return Err(e); }\n";
constexpr std::string_view kWritePackedDword =
    "if let Err(e) = crate::enc::packed_dword(__out, $n$, __TYPE, $m$) { return Err(e); }\n";
// Through the trait: an accessor of the struct may be named `write_to`. A
// nested struct pads from the start of the message it is part of.
constexpr std::string_view kWriteStruct =
    "if let Err(e) = <$T$ as crate::Encode>::write_at(&$n$, __out, __base) { return Err(e); }\n";
constexpr std::string_view kWriteEnum = "$n$.write_to(__out);\n";

// One row per wire kind, in the order of `FieldKind::Tag`.
//   tag, registry text, declaration type, numeric type, width, copy, ord, integer, read, write
constexpr std::array<WireKind, 15> kWireKinds{{
    {FieldKind::U8, "u8", "u8", "u8", 1, true, true, true, kReadByte, kWriteScalar},
    {FieldKind::U16, "u16", "u16", "u16", 2, true, true, true, kReadLittleEndian, kWriteScalar},
    {FieldKind::U32, "u32", "u32", "u32", 4, true, true, true, kReadLittleEndian, kWriteScalar},
    {FieldKind::U64, "u64", "u64", "u64", 8, true, true, true, kReadLittleEndian, kWriteScalar},
    {FieldKind::I16, "i16", "i16", "i16", 2, true, true, true, kReadLittleEndian, kWriteScalar},
    {FieldKind::I32, "i32", "i32", "i32", 4, true, true, true, kReadLittleEndian, kWriteScalar},
    {FieldKind::I64, "i64", "i64", "i64", 8, true, true, true, kReadLittleEndian, kWriteScalar},
    {FieldKind::F32, "f32", "f32", "f32", 4, true, false, false, kReadLittleEndian, kWriteScalar},
    {FieldKind::F64, "f64", "f64", "f64", 8, true, false, false, kReadLittleEndian, kWriteScalar},
    {FieldKind::Bool, "bool", "WireBool", "bool", 4, true, true, false, kReadWireBool, kWriteWireBool},
    {FieldKind::String, "String", "String", "", 0, false, true, false, kReadString16, kWriteString16},
    {FieldKind::WString, "WString", "String", "", 0, false, true, false, kReadWString, kWriteWString},
    {FieldKind::PackedDword, "PackedDWORD", "u32", "u32", 0, true, true, false, kReadPackedDword, kWritePackedDword},
    {FieldKind::Enum, "", "", "", 0, true, true, false, kReadEnum, kWriteEnum},
    {FieldKind::Struct, "", "", "", 0, false, false, false, kReadStruct, kWriteStruct},
}};

constexpr bool rows_follow_tags() {
  for (std::size_t i = 0; i < kWireKinds.size(); ++i) {
    if (static_cast<std::size_t>(kWireKinds[i].tag) != i) return false;
  }
  return true;
}
static_assert(rows_follow_tags(), "kWireKinds holds one row per FieldKind::Tag, in its order");

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
      for (const WireKind& w : kWireKinds) {
        if (!w.registry_text.empty() && w.registry_text == kind.rust_ty) {
          return ResolvedType{std::string(w.rust_ty), FieldKind(w.tag)};
        }
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
  const std::string_view numeric = wire_kind(kind.tag).numeric;
  return numeric.empty() ? std::nullopt : std::optional(numeric);
}

const WireKind& wire_kind(FieldKind::Tag tag) { return kWireKinds[static_cast<std::size_t>(tag)]; }

std::string_view wire_rust_ty(const FieldKind& kind) {
  const std::string_view ty = wire_kind(kind.tag).rust_ty;
  return ty.empty() ? std::string_view(kind.name) : ty;
}

namespace {

// The `width` bytes at the cursor: `data[*offset], data[*offset+1], ...`.
std::string bytes_at_cursor(std::size_t width) {
  std::string out;
  for (std::size_t i = 0; i < width; ++i) {
    out += i == 0 ? "data[*offset]" : ", data[*offset+" + std::to_string(i) + "]";
  }
  return out;
}

// Fills in what a row fixes; every placeholder left for the use site is
// written back as itself.
std::string row_template(const WireKind& row, std::string_view tmpl) {
  const bool named = row.rust_ty.empty();  // an enum's or struct's type comes with the field
  const std::string width = std::to_string(row.width);
  const std::string bytes = bytes_at_cursor(row.width);
  std::string out;
  emit(out, tmpl,
       {{"n", "$n$"},
        {"m", "$m$"},
        {"R", "$R$"},
        {"T", named ? "$T$" : (row.numeric.empty() ? row.rust_ty : row.numeric)},
        {"W", width},
        {"bytes", bytes}});
  return out;
}

struct RowTemplates {
  std::array<std::string, kWireKinds.size()> read;
  std::array<std::string, kWireKinds.size()> write;
  RowTemplates() {
    for (std::size_t i = 0; i < kWireKinds.size(); ++i) {
      read[i] = row_template(kWireKinds[i], kWireKinds[i].read);
      write[i] = row_template(kWireKinds[i], kWireKinds[i].write);
    }
  }
};

const RowTemplates& row_templates() {
  static const RowTemplates templates;
  return templates;
}

}  // namespace

std::string_view wire_read_template(FieldKind::Tag tag) { return row_templates().read[static_cast<std::size_t>(tag)]; }

std::string_view wire_write_template(FieldKind::Tag tag) {
  return row_templates().write[static_cast<std::size_t>(tag)];
}

}  // namespace qm
