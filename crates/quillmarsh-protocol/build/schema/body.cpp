#include "schema/body.hpp"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "text/text.hpp"

namespace qm {

void SiblingLookup::add_field(std::string_view xml_name, std::string_view ident, const FieldKind& kind) {
  if (const auto ty = numeric_repr_for_field_kind(kind)) {
    numeric_fields.insert_or_assign(std::string(xml_name),
                                    NumericFieldRef{std::string(ident), std::string(*ty), open_branch});
  }
  if (kind.tag == FieldKind::Enum) {
    enum_fields.insert_or_assign(
        std::string(xml_name),
        EnumFieldRef{std::string(ident), std::string(enum_repr_rust_ty(kind.repr)), open_branch});
  }
  if (kind.tag == FieldKind::Bool) bool_fields.emplace(xml_name);
}

void SiblingLookup::add_subfield(std::string_view xml_name, std::string_view parent_xml_name,
                                 std::string_view parent_ident, const FieldKind& parent_kind,
                                 std::string_view value_expr) {
  const auto ty = numeric_repr_for_field_kind(parent_kind);
  if (!ty) return;
  subfields.insert_or_assign(std::string(xml_name),
                             SubfieldRef{std::string(parent_xml_name), std::string(parent_ident), std::string(*ty),
                                         std::string(value_expr), open_branch});
}

std::string SiblingLookup::value_of(std::string_view ident, std::size_t branch) const {
  std::string out(ident);
  if (branch == 0) return out;
  out += branch == open_branch ? "_v" : ".unwrap_or_default()";
  return out;
}

LocalRead SiblingLookup::value_read(std::string_view ident, std::size_t branch) const {
  std::string local(ident);
  if (branch != 0 && branch == open_branch) local += "_v";
  return LocalRead{std::move(local), LocalRead::Value};
}

LocalRead SiblingLookup::raw_bits_read(const EnumFieldRef& field) const {
  if (raw_bits_local(field)) return LocalRead{value_of(field.ident, field.branch) + "_bits", LocalRead::RawBits};
  return LocalRead{field.ident, LocalRead::Value};
}

bool SiblingLookup::raw_bits_local(const EnumFieldRef& field) const {
  return field.branch == 0 || field.branch == open_branch;
}

std::string SiblingLookup::raw_bits_of(const EnumFieldRef& field) const {
  if (raw_bits_local(field)) return value_of(field.ident, field.branch) + "_bits";
  std::string out;
  emit(out, "$ident$.map_or(0$ty$, |v| v as $ty$)", {{"ident", field.ident}, {"ty", field.repr_ty}});
  return out;
}

void SiblingLookup::add_gated(std::string_view xml_name, std::string_view ident, const FieldKind& kind) {
  if (const auto ty = numeric_repr_for_field_kind(kind)) {
    gated_fields.insert_or_assign(std::string(xml_name), GatedFieldRef{std::string(ident), std::string(*ty)});
  }
}

std::string number_snake_identifier(Occurrences& occurrences, std::string snake) {
  auto it = occurrences.lower_bound(snake);
  if (it == occurrences.end() || it->first != snake) it = occurrences.emplace_hint(it, snake, 0);
  const std::size_t count = ++it->second;
  if (count != 1) {
    snake += '_';
    snake += std::to_string(count);
  }
  sanitize_rust_keyword_in(snake);
  return snake;
}

std::string number_identifier(Occurrences& occurrences, std::string_view name) {
  return number_snake_identifier(occurrences, to_snake_case(name));
}

void push_unique(std::vector<std::string>& list, std::string_view text) {
  if (std::find(list.begin(), list.end(), text) == list.end()) list.emplace_back(text);
}

}  // namespace qm
