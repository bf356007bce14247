// The names of extended C# expressions as a decoder reads them: the earlier
// fields of a body, their subfields, and members of enums already written.

#include <string>
#include <string_view>
#include <utility>

#include "expr/csharp_types.hpp"
#include "expr/expr.hpp"
#include "schema/literals.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

// `Enum.Member`: the member's value as the enum's Rust discriminant holds it.
Result<ResolvedName> resolve_enum_member(std::string_view name, const EnumValueTable& enum_values,
                                         const TypeRegistry& registry) {
  const std::size_t dot = name.find('.');
  const std::string_view enum_name = name.substr(0, dot);
  const std::string_view member = name.substr(dot + 1);
  if (member.find('.') != std::string_view::npos) {
    return fail("name " + debug_str(name) + " is not an `Enum.Member` reference");
  }
  const TypeKind* kind = registry.find(enum_name);
  const auto values = enum_values.find(enum_name);
  if (kind == nullptr || kind->tag != TypeKind::Enum || values == enum_values.end()) {
    return fail("enum " + debug_str(enum_name) + " of " + debug_str(name) + " is not an enum written before");
  }
  const auto value = values->second.find(std::string(member));
  if (value == values->second.end()) {
    return fail("enum " + debug_str(enum_name) + " has no member named " + debug_str(member));
  }
  ResolvedName out;
  out.rust_ty = enum_repr_rust_ty(kind->repr);
  const i128 constant = cut_to_width(value->second, kind->repr);
  out.constant = constant;
  out.rust = csharp::int_literal_text(to_decimal(static_cast<u128>(constant < 0 ? -constant : constant)), constant < 0,
                                      *csharp::type_of_rust(out.rust_ty));
  return out;
}

}  // namespace

Result<ResolvedName> resolve_decoder_name(std::string_view name, const SiblingLookup& lookup,
                                          const EnumValueTable& enum_values, const TypeRegistry& registry) {
  if (name.find('.') != std::string_view::npos) return resolve_enum_member(name, enum_values, registry);
  const std::string key(name);
  // Every field is read as an expression reads it: the value, or the raw
  // bits when they stand nearest.
  const auto read_of = [&](std::string_view ident, std::size_t branch) {
    return LocalReads{{lookup.value_read(ident, branch).local, LocalRead::Expression}};
  };
  if (const auto it = lookup.numeric_fields.find(key); it != lookup.numeric_fields.end()) {
    const NumericFieldRef& field = it->second;
    return ResolvedName{lookup.value_of(field.ident, field.branch), field.ty, read_of(field.ident, field.branch), {}};
  }
  if (const auto it = lookup.enum_fields.find(key); it != lookup.enum_fields.end()) {
    return ResolvedName{lookup.raw_bits_of(it->second), it->second.repr_ty, {lookup.raw_bits_read(it->second)}, {}};
  }
  if (const auto it = lookup.gated_fields.find(key); it != lookup.gated_fields.end()) {
    // An option: a field of a group whose mask bits were clear reads as zero.
    const std::string local = lookup.gated_local(it->second);
    return ResolvedName{local + ".unwrap_or_default()", it->second.ty, {LocalRead{local, LocalRead::Value}}, {}};
  }
  if (const auto it = lookup.subfields.find(key); it != lookup.subfields.end()) {
    const SubfieldRef& sub = it->second;
    Result<std::string> value = translate_subfield_expr_for_local(
        sub.expr, sub.parent_xml_name, lookup.value_of(sub.parent_ident, sub.branch), sub.parent_ty, sub.parent_ty);
    if (!value)
      return value.fail_with_prefix("subfield " + debug_str(name) + ": cannot translate " + debug_str(sub.expr) + ": ");
    return ResolvedName{std::move(*value), sub.parent_ty, read_of(sub.parent_ident, sub.branch), {}};
  }
  return fail("name " + debug_str(name) + " is not a field declared before it in this body");
}

NameResolver decoder_name_resolver(const SiblingLookup& lookup, const EnumValueTable& enum_values,
                                   const TypeRegistry& registry) {
  return [&lookup, &enum_values, &registry](std::string_view name) {
    return resolve_decoder_name(name, lookup, enum_values, registry);
  };
}

}  // namespace qm
