#include "enums/enums.hpp"

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

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

struct Primary {
  i128 value;
  std::string name;
  std::optional<std::string> text;
};

struct Alias {
  std::string name;
  std::string canonical;
  std::optional<std::string> text;
};

constexpr u128 kI128Max = ~u128{0} >> 1;

int digit_value(char c, unsigned base) {
  int d = -1;
  if (c >= '0' && c <= '9') {
    d = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    d = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    d = c - 'A' + 10;
  }
  return d >= 0 && static_cast<unsigned>(d) < base ? d : -1;
}

// A signed 128-bit number in `base`: one optional sign, then one or more
// digits and nothing else. Stops at the first digit that would overflow, so
// the cost stays linear however long the text is.
std::optional<i128> parse_signed_radix(std::string_view text, unsigned base) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // The magnitude may reach 2^127 only when it is negated afterwards.
  const u128 limit = negative ? kI128Max + 1 : kI128Max;
  u128 magnitude = 0;
  for (char c : text) {
    const int d = digit_value(c, base);
    if (d < 0) return std::nullopt;
    const u128 digit = static_cast<u128>(d);
    if (magnitude > (limit - digit) / base) return std::nullopt;
    magnitude = magnitude * base + digit;
  }
  if (negative) return static_cast<i128>(u128{0} - magnitude);  // two's complement, 2^127 -> min
  return static_cast<i128>(magnitude);
}

// The value as the discriminant keeps it: cut to the representation's width,
// sign-extended for the signed ones. Two values with one cut value would be
// one discriminant twice, so the later one becomes an alias.
i128 cut_to_width(i128 value, EnumRepr repr) {
  const u128 bits = static_cast<u128>(value);
  switch (repr) {
    case EnumRepr::I32:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    case EnumRepr::I64:
      return static_cast<std::int64_t>(static_cast<std::uint64_t>(bits));
    default:
      break;
  }
  const std::size_t width = enum_repr_byte_width(repr);
  const u128 mask = width >= 16 ? ~u128{0} : (u128{1} << (8 * width)) - 1;
  return static_cast<i128>(bits & mask);
}

void write_skipped_enum(CodegenCtx& ctx, std::string_view name, std::string_view reason) {
  note_skipped(ctx, "enum", name, std::nullopt, reason);
  std::string line;
  emit(line, "// SKIPPED enum $name$: $reason$", {{"name", name}, {"reason", reason}});
  ctx.out += one_line_comment_text(line);
  ctx.out += "\n\n";
}

// The first reason the enum's names cannot be declared: its own name, a
// variant name (invalid or repeated) or an alias constant name (invalid,
// repeated, or meeting a name of the module).
std::optional<std::string> enum_name_problem(const CodegenCtx& ctx, std::string_view name,
                                             const std::vector<std::string>& variants,
                                             const std::vector<std::string>& constants) {
  if (auto problem = type_name_problem(ctx, name)) return problem;
  std::set<std::string> seen;
  for (const std::string& variant : variants) {
    if (!is_rust_identifier(variant)) return "variant name " + debug_str(variant) + " is not a Rust identifier";
    std::string key = identifier_key(variant);
    // `{name}::read_from` would name the variant, so the decoder could not
    // be called.
    if (key == "read_from") return "variant name " + debug_str(variant) + " is taken by the decoder";
    if (!seen.insert(std::move(key)).second) {
      return "variant name " + debug_str(variant) + " is declared twice";
    }
  }
  seen.clear();
  for (const std::string& constant : constants) {
    if (auto problem = constant_name_problem(ctx, constant)) return problem;
    if (!seen.insert(identifier_key(constant)).second) {
      return "constant name " + debug_str(constant) + " is declared twice";
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<i128> parse_int_literal(std::string_view text) {
  std::string_view rest = trim_unicode_ws(text);
  const bool negative = !rest.empty() && rest.front() == '-';
  if (negative) rest.remove_prefix(1);
  std::optional<i128> parsed;
  if (rest.starts_with("0x") || rest.starts_with("0X")) {
    parsed = parse_signed_radix(rest.substr(2), 16);
  } else {
    parsed = parse_signed_radix(rest, 10);
  }
  if (!parsed || !negative) return parsed;
  const i128 min = static_cast<i128>(kI128Max + 1);
  if (*parsed == min) return std::nullopt;  // its negation does not fit
  return -*parsed;
}

std::string format_enum_literal(i128 value, EnumRepr repr) {
  const std::size_t width = enum_repr_byte_width(repr);
  const u128 bits = static_cast<u128>(value);
  switch (repr) {
    case EnumRepr::I32:
      return to_decimal(static_cast<i128>(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits))));
    case EnumRepr::I64:
      return to_decimal(static_cast<i128>(static_cast<std::int64_t>(static_cast<std::uint64_t>(bits))));
    default:
      break;
  }
  const u128 mask = width >= 16 ? ~u128{0} : (u128{1} << (8 * width)) - 1;
  return "0x" + to_hex_upper(bits & mask, 2 * width);
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

  std::set<i128> seen;
  std::map<i128, std::string> canonical_of;
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
    const auto doc = opt_string(child->attr("text"));
    all_values.insert_or_assign(std::string(*vname), *value);
    const i128 cut = cut_to_width(*value, *repr);
    if (seen.insert(cut).second) {
      canonical_of.emplace(cut, std::string(*vname));
      primaries.push_back({*value, std::string(*vname), doc});
    } else {
      aliases.push_back({std::string(*vname), canonical_of.at(cut), doc});
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
  for (const Primary& p : primaries) {
    if (p.text) emit(out, "    /// $doc$\n", {{"doc", escape_doc(*p.text)}});
    emit(out, "    $variant$ = $literal$,\n",
         {{"variant", sanitize_rust_keyword(p.name)}, {"literal", format_enum_literal(p.value, *repr)}});
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
  for (const Primary& p : primaries) {
    emit(out, "            x if x == $name$::$variant$ as $ty$ => Ok($name$::$variant$),\n",
         {{"name", name}, {"variant", sanitize_rust_keyword(p.name)}, {"ty", ty}});
  }
  out += R"rs(            other => Err(other),
        })
    }
}

)rs";

  ctx.declared_types.insert(identifier_key(name));
  std::set<std::string>& variant_keys = ctx.enum_variant_keys[name];
  for (const std::string& variant : variants) variant_keys.insert(identifier_key(variant));
  for (const std::string& constant : constants) ctx.declared_values.insert(identifier_key(constant));
  ctx.registry.insert_or_assign(name, TypeKind::enumeration(*repr, mask));
  ctx.enum_values.insert_or_assign(name, std::move(all_values));
  ++ctx.stats.enums;
}

}  // namespace qm
