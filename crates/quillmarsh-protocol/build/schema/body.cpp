#include "schema/body.hpp"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "text/text.hpp"

namespace qm {

void SiblingLookup::remember(Undo::Map map, const std::string& key) {
  if (open_checkpoints_ == 0) return;
  Undo undo;
  undo.map = map;
  undo.key = key;
  const auto keep = [&](const auto& entries, auto& slot) {
    const auto it = entries.find(key);
    undo.existed = it != entries.end();
    if (undo.existed) slot = it->second;
  };
  switch (map) {
    case Undo::Numeric:
      keep(numeric_fields, undo.numeric);
      break;
    case Undo::Subfield:
      keep(subfields, undo.subfield);
      break;
    case Undo::Enum:
      keep(enum_fields, undo.enumeration);
      break;
    case Undo::Bool:
      undo.existed = bool_fields.count(key) != 0;
      break;
    case Undo::Gated:
      keep(gated_fields, undo.gated);
      break;
  }
  undo_.push_back(std::move(undo));
}

std::size_t SiblingLookup::checkpoint() {
  ++open_checkpoints_;
  return undo_.size();
}

void SiblingLookup::rollback(std::size_t mark) {
  const auto put_back = [](auto& entries, const Undo& undo, const auto& old) {
    if (undo.existed) {
      entries.insert_or_assign(undo.key, old);
    } else {
      entries.erase(undo.key);
    }
  };
  while (undo_.size() > mark) {
    const Undo& undo = undo_.back();
    switch (undo.map) {
      case Undo::Numeric:
        put_back(numeric_fields, undo, undo.numeric);
        break;
      case Undo::Subfield:
        put_back(subfields, undo, undo.subfield);
        break;
      case Undo::Enum:
        put_back(enum_fields, undo, undo.enumeration);
        break;
      case Undo::Bool:
        if (undo.existed) {
          bool_fields.insert(undo.key);
        } else {
          bool_fields.erase(undo.key);
        }
        break;
      case Undo::Gated:
        put_back(gated_fields, undo, undo.gated);
        break;
    }
    undo_.pop_back();
  }
  --open_checkpoints_;
}

void SiblingLookup::add_field(std::string_view xml_name, std::string_view ident, const FieldKind& kind) {
  const std::string key(xml_name);
  if (const auto ty = numeric_repr_for_field_kind(kind)) {
    remember(Undo::Numeric, key);
    numeric_fields.insert_or_assign(key, NumericFieldRef{std::string(ident), std::string(*ty), open_branch});
  }
  if (kind.tag == FieldKind::Enum) {
    remember(Undo::Enum, key);
    enum_fields.insert_or_assign(
        key, EnumFieldRef{std::string(ident), std::string(enum_repr_rust_ty(kind.repr)), open_branch});
  }
  if (kind.tag == FieldKind::Bool) {
    remember(Undo::Bool, key);
    bool_fields.insert(key);
  }
}

void SiblingLookup::add_subfield(std::string_view xml_name, std::string_view parent_xml_name,
                                 std::string_view parent_ident, const FieldKind& parent_kind,
                                 std::string_view value_expr) {
  const auto ty = numeric_repr_for_field_kind(parent_kind);
  if (!ty) return;
  remember(Undo::Subfield, std::string(xml_name));
  subfields.insert_or_assign(std::string(xml_name),
                             SubfieldRef{std::string(parent_xml_name), std::string(parent_ident), std::string(*ty),
                                         std::string(value_expr), open_branch});
}

std::size_t SiblingLookup::new_branch() {
  branch_parents_.push_back(open_branch);
  return branch_parents_.size();
}

std::size_t SiblingLookup::depth_of(std::size_t branch) const {
  std::size_t depth = 0;
  for (; branch != 0; branch = branch_parents_[branch - 1]) ++depth;
  return depth;
}

std::string SiblingLookup::local_at(std::string_view ident, std::size_t depth) {
  std::string out(ident);
  for (std::size_t i = 0; i < depth; ++i) out += "_v";
  return out;
}

SiblingLookup::Visible SiblingLookup::visible(std::string_view ident, std::size_t branch, bool home_option) const {
  if (branch == 0) return {std::string(ident), home_option};
  // The branches holding the open point, innermost first.
  std::vector<std::size_t> open_chain;
  for (std::size_t b = open_branch; b != 0; b = branch_parents_[b - 1]) open_chain.push_back(b);
  const auto holds_open = [&](std::size_t b) {
    return b == 0 || std::find(open_chain.begin(), open_chain.end(), b) != open_chain.end();
  };
  if (holds_open(branch)) return {local_at(ident, depth_of(branch)), home_option};
  // The innermost branch holding both: the block that declared the field
  // stands there, and its option is in view.
  std::size_t common = branch_parents_[branch - 1];
  while (!holds_open(common)) common = branch_parents_[common - 1];
  return {local_at(ident, depth_of(common)), true};
}

std::string SiblingLookup::value_of(std::string_view ident, std::size_t branch) const {
  Visible v = visible(ident, branch, false);
  if (v.option) v.local += ".unwrap_or_default()";
  return std::move(v.local);
}

LocalRead SiblingLookup::value_read(std::string_view ident, std::size_t branch) const {
  return LocalRead{visible(ident, branch, false).local, LocalRead::Value};
}

LocalRead SiblingLookup::raw_bits_read(const EnumFieldRef& field) const {
  Visible v = visible(field.ident, field.branch, false);
  if (!v.option) return LocalRead{v.local + "_bits", LocalRead::RawBits};
  return LocalRead{std::move(v.local), LocalRead::Value};
}

bool SiblingLookup::raw_bits_local(const EnumFieldRef& field) const {
  return !visible(field.ident, field.branch, false).option;
}

std::string SiblingLookup::raw_bits_of(const EnumFieldRef& field) const {
  const Visible v = visible(field.ident, field.branch, false);
  if (!v.option) return v.local + "_bits";
  std::string out;
  emit(out, "$local$.map_or(0$ty$, |v| v as $ty$)", {{"local", v.local}, {"ty", field.repr_ty}});
  return out;
}

void SiblingLookup::add_gated(std::string_view xml_name, std::string_view ident, const FieldKind& kind) {
  if (const auto ty = numeric_repr_for_field_kind(kind)) {
    remember(Undo::Gated, std::string(xml_name));
    gated_fields.insert_or_assign(std::string(xml_name),
                                  GatedFieldRef{std::string(ident), std::string(*ty), open_branch});
  }
}

std::string SiblingLookup::gated_local(const GatedFieldRef& field) const {
  return visible(field.ident, field.branch, true).local;
}

std::string Occurrences::number(std::string snake) {
  auto it = counts_.lower_bound(snake);
  if (it == counts_.end() || it->first != snake) it = counts_.emplace_hint(it, snake, 0);
  if (open_checkpoints_ != 0) undo_.emplace_back(snake, it->second);
  const std::size_t count = ++it->second;
  if (count != 1) {
    snake += '_';
    snake += std::to_string(count);
  }
  return snake;
}

std::size_t Occurrences::count_of(std::string_view snake) const {
  const auto it = counts_.find(snake);
  return it == counts_.end() ? 0 : it->second;
}

std::size_t Occurrences::checkpoint() {
  ++open_checkpoints_;
  return undo_.size();
}

void Occurrences::rollback(std::size_t mark) {
  while (undo_.size() > mark) {
    auto& [snake, count] = undo_.back();
    if (count == 0) {
      counts_.erase(snake);
    } else {
      counts_.find(snake)->second = count;
    }
    undo_.pop_back();
  }
  --open_checkpoints_;
}

std::string number_snake_identifier(Occurrences& occurrences, std::string snake) {
  std::string numbered = occurrences.number(std::move(snake));
  sanitize_rust_keyword_in(numbered);
  return numbered;
}

std::string number_identifier(Occurrences& occurrences, std::string_view name) {
  return number_snake_identifier(occurrences, to_snake_case(name));
}

void push_unique(std::vector<std::string>& list, std::string_view text) {
  if (std::find(list.begin(), list.end(), text) == list.end()) list.emplace_back(text);
}

}  // namespace qm
