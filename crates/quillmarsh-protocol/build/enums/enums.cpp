#include "enums/enums.hpp"

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "schema/literals.hpp"
#include "text/text_table.hpp"

namespace qm {

namespace {

// The expression that reads a representation's raw value at `*offset`.
std::string_view raw_read_expr(EnumRepr repr) {
  switch (repr) {
    case EnumRepr::U8:
      return "data[*offset]";
    case EnumRepr::U16:
      return "u16::from_le_bytes([data[*offset], data[*offset+1]])";
    case EnumRepr::U32:
      return "u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]])";
    case EnumRepr::U64:
      return "u64::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3], "
             "data[*offset+4], data[*offset+5], data[*offset+6], data[*offset+7]])";
    case EnumRepr::I32:
      return "i32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]])";
    case EnumRepr::I64:
      return "i64::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3], "
             "data[*offset+4], data[*offset+5], data[*offset+6], data[*offset+7]])";
  }
  return "data[*offset]";
}

// Names and documentation are views into the document, which outlives the
// generation.
struct Primary {
  i128 value;
  std::string_view name;
  std::optional<std::string_view> text;
};

struct Alias {
  std::string_view name;
  std::string_view canonical;
  std::optional<std::string_view> text;
};

// The serde impls of a written enum: each variant is its name (without
// `r#`) as a string.
void write_enum_serde(std::string& out, std::string_view name, const std::vector<std::string>& variants) {
  const std::string path = "crate::messages::" + std::string(name);
  std::string names = "&[";
  std::string values = "&[";
  for (std::size_t i = 0; i < variants.size(); ++i) {
    if (i != 0) {
      names += ", ";
      values += ", ";
    }
    names += debug_str(without_raw_prefix(variants[i]));
    values += path + "::" + variants[i];
  }
  names += "]";
  values += "]";
  const std::string type = debug_str(name);
  const TemplateVars vars = {{"path", path}, {"type", type}, {"names", names}, {"values", values}};
  emit(out, R"rs(impl serde::Serialize for $path$ {
    fn serialize<S: serde::Serializer>(&self, serializer: S) -> Result<S::Ok, S::Error> {
        serializer.serialize_str(match self {
)rs",
       vars);
  const Printer arm = Printer(out).in(3);
  for (const std::string& variant : variants) {
    arm("Self::$variant$ => $name$,\n", {{"variant", variant}, {"name", debug_str(without_raw_prefix(variant))}});
  }
  emit(out, R"rs(        })
    }
}

impl<'de> serde::Deserialize<'de> for $path$ {
    fn deserialize<D: serde::Deserializer<'de>>(deserializer: D) -> Result<Self, D::Error> {
        const NAMES: &[&str] = $names$;
        const VALUES: &[$path$] = $values$;
        crate::serde_support::variant_name(deserializer, $type$, NAMES).map(|i| VALUES[i])
    }
}

)rs",
       vars);
}

void write_skipped_enum(CodegenCtx& ctx, std::string_view name, std::string_view reason) {
  write_skipped_line(ctx, "enum", name, name, std::nullopt, reason);
  ctx.out += '\n';
}

// The first reason the enum's names cannot be declared: its own name, a
// variant name (invalid or repeated) or an alias constant name (invalid,
// repeated, or meeting a name of the module).
std::optional<std::string> enum_name_problem(const CodegenCtx& ctx, std::string_view name,
                                             const std::vector<std::string>& variants,
                                             const std::vector<std::string>& constants) {
  if (auto problem = type_name_problem(ctx, name)) return problem;
  TextPool built_keys;  // the keys that are not views of the names
  TextTable<NoValue, /*kCopiesKeys=*/false> variant_keys;
  for (const std::string& variant : variants) {
    if (!is_rust_identifier(variant)) return "variant name " + debug_str(variant) + " is not a Rust identifier";
    const std::string_view key = identifier_key_kept(variant, built_keys);
    // `{name}::read_from` would name the variant, so the decoder could not
    // be called.
    if (key == "read_from") return "variant name " + debug_str(variant) + " is taken by the decoder";
    if (!variant_keys.insert(key)) {
      return "variant name " + debug_str(variant) + " is declared twice";
    }
  }
  TextTable<NoValue, /*kCopiesKeys=*/false> constant_keys;
  for (const std::string& constant : constants) {
    if (auto problem = constant_name_problem(ctx, constant)) return problem;
    if (!constant_keys.insert(identifier_key_kept(constant, built_keys))) {
      return "constant name " + debug_str(constant) + " is declared twice";
    }
  }
  return std::nullopt;
}

}  // namespace

std::string format_enum_literal(i128 value, EnumRepr repr) {
  const i128 cut = cut_to_width(value, repr);
  if (enum_repr_is_signed(repr)) return to_decimal(cut);
  return "0x" + to_hex_upper(static_cast<u128>(cut), 2 * enum_repr_byte_width(repr));
}

void process_enums(CodegenCtx& ctx, const xml::Node& enums_section) {
  ctx.out += "// === ENUMS ===\n\n";
  for (const xml::Node* child : enums_section.children()) {
    if (child->tag() == "enum") emit_enum(ctx, *child);
  }
}

void emit_enum(CodegenCtx& ctx, const xml::Node& enum_element) {
  const auto name_attr = enum_element.attr("name");
  if (!name_attr) return;
  const std::string name(*name_attr);
  const auto parent = enum_element.attr("parent");
  const auto repr = enum_repr_from_parent(parent);
  if (!repr) {
    write_skipped_enum(ctx, name, "unknown parent type " + debug_opt_str(parent));
    return;
  }
  const bool mask = enum_element.attr("mask") == std::optional<std::string_view>("true");

  std::map<i128, std::string_view> canonical_of;  // the first name of each value
  std::vector<Primary> primaries;
  std::vector<Alias> aliases;
  std::map<std::string, i128> all_values;
  for (const xml::Node* child : enum_element.children()) {
    if (child->tag() != "value") continue;
    const auto vname = child->attr("name");
    if (!vname) continue;
    const auto vtext = child->attr("value");
    if (!vtext) continue;
    const auto value = parse_int_literal(*vtext);
    if (!value) continue;
    const auto doc = child->attr("text");
    all_values.insert_or_assign(std::string(*vname), *value);
    const auto [first, fresh] = canonical_of.try_emplace(cut_to_width(*value, *repr), *vname);
    if (fresh) {
      primaries.push_back({*value, *vname, doc});
    } else {
      aliases.push_back({*vname, first->second, doc});
    }
  }
  if (primaries.empty()) {
    write_skipped_enum(ctx, name, "no parseable variants");
    return;
  }

  std::vector<std::string> variants;
  for (const Primary& p : primaries) variants.push_back(sanitize_rust_keyword(p.name));
  std::vector<std::string> constants;
  for (const Alias& a : aliases) constants.push_back(name + "_" + sanitize_const_name(a.name));
  if (const auto problem = enum_name_problem(ctx, name, variants, constants)) {
    write_skipped_enum(ctx, name, *problem);
    return;
  }

  const std::string ty(enum_repr_rust_ty(*repr));
  std::string& out = ctx.out;

  emit(out, "/// `$name$` enum from protocol.xml (parent `$parent$`).\n", {{"name", name}, {"parent", *parent}});
  if (const auto text = enum_element.attr("text")) emit(out, "/// $doc$\n", {{"doc", escape_doc(*text)}});
  emit(out, R"rs(#[derive(Debug, Clone, Copy, PartialEq, Eq, PartialOrd, Ord, Hash)]
#[repr($ty$)]
pub enum $name$ {
)rs",
       {{"ty", ty}, {"name", name}});
  const Printer variant_line = Printer(out).in(1);
  for (std::size_t i = 0; i < primaries.size(); ++i) {
    const Primary& p = primaries[i];
    if (p.text) variant_line("/// $doc$\n", {{"doc", escape_doc(*p.text)}});
    variant_line("$variant$ = $literal$,\n",
                 {{"variant", variants[i]}, {"literal", format_enum_literal(p.value, *repr)}});
  }
  out += "}\n\n";

  for (const Alias& a : aliases) {
    const std::string canonical = sanitize_rust_keyword(a.canonical);
    if (a.text) {
      emit(out, "/// Alias of $name$::$canonical$. $doc$\n",
           {{"name", name}, {"canonical", canonical}, {"doc", escape_doc(*a.text)}});
    } else {
      emit(out, "/// Alias of $name$::$canonical$.\n", {{"name", name}, {"canonical", canonical}});
    }
    emit(out, "pub const $name$_$alias$: $name$ = $name$::$canonical$;\n",
         {{"name", name}, {"alias", sanitize_const_name(a.name)}, {"canonical", canonical}});
    ++ctx.stats.aliases;
  }
  if (!aliases.empty()) out += "\n";

  const std::string width = std::to_string(enum_repr_byte_width(*repr));
  emit(out, R"rs(impl $name$ {
    /// Decode this enum from a little-endian wire stream at `*offset`.
    /// Returns `Ok(Ok(variant))` for known values, `Ok(Err(raw))` for unknown values.
    pub fn read_from(
        data: &[u8],
        offset: &mut usize,
    ) -> Result<Result<$name$, $ty$>, &'static str> {
        if *offset + $width$ > data.len() { return Err("truncated enum $name$"); }
        let raw = $read$; *offset += $width$;
        Ok(match raw {
)rs",
       {{"name", name}, {"ty", ty}, {"width", width}, {"read", raw_read_expr(*repr)}});
  // The arms of the decoder's match.
  const Printer arm = Printer(out).in(3);
  for (const std::string& variant : variants) {
    arm("x if x == $name$::$variant$ as $ty$ => Ok($name$::$variant$),\n",
        {{"name", name}, {"variant", variant}, {"ty", ty}});
  }
  arm("other => Err(other),\n");
  out += R"rs(        })
    }
}

)rs";

  if (ctx.encode) {
    emit(ctx.encoders, R"rs(impl $name$ {
    /// Encode this enum to the little-endian wire form ($width$ bytes).
    pub fn write_to(self, out: &mut Vec<u8>) {
        out.extend_from_slice(&(self as $ty$).to_le_bytes());
    }
}

)rs",
         {{"name", name}, {"ty", ty}, {"width", width}});
  }

  if (ctx.serde) write_enum_serde(ctx.serde_impls, name, variants);

  ctx.declared_types.insert(identifier_key(name));
  for (const std::string& constant : constants) ctx.declared_values.insert(identifier_key(constant));
  ctx.registry.insert_or_assign(name, TypeKind::enumeration(*repr, mask));
  ctx.enum_values.insert_or_assign(name, std::move(all_values));
  ++ctx.stats.enums;
}

}  // namespace qm
