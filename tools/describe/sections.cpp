// The sections of a document: enums, typedefs and data types, messages, game
// actions and game events; and the types their fields use.

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "generator.hpp"

namespace qm::describe {

std::string Generator::enums_section() {
  std::string out = "  <enums>\n";
  std::size_t budget = share(0.15);
  int minimum = edge_ ? static_cast<int>(rng_.between(2, 6)) : 3;
  for (int i = 0; (edge_ ? i < minimum : out.size() < budget || i < minimum); ++i) {
    serialize(enum_element(), out, 2);
  }
  if (edge_ && rng_.percent(20)) out += "    <enum parent=\"uint\"><value name=\"A\" value=\"1\"/></enum>\n";
  out += "  </enums>\n";
  return out;
}

Element Generator::enum_element() {
  Element e("enum");
  EnumInfo info;
  const EnumParent& parent = rng_.pick(kEnumParents);
  info.repr = parent.num;
  info.mask = rng_.percent(25);
  bool valid_parent = true;
  if (edge_ && rng_.percent(20)) {
    static const std::vector<std::string> names = {"Result", "Option", "WireBool", "u8",   "Self", "type",
                                                   "Vec",    "String", "str",      "bool", "",     "with space"};
    info.name = rng_.percent(50) && !enums_.empty() ? rng_.pick(enums_).name : rng_.pick(names);
  } else {
    info.name = edge_ ? fresh(rng_.pick(kWords) + "Kind") : global_name(rng_.pick(kWords) + "Type");
  }
  e.set("name", info.name);
  if (edge_ && rng_.percent(10)) {
    static const std::vector<std::string> bad = {"sbyte", "short", "Byte", "bool", ""};
    e.set("parent", rng_.pick(bad));
    valid_parent = false;
  } else if (!(edge_ && rng_.percent(3))) {
    e.set("parent", parent.name);
  } else {
    valid_parent = false;
  }
  if (info.mask)
    e.set("mask", "true");
  else if (edge_ && rng_.percent(10))
    e.set("mask", "True");
  maybe_text(e);

  const int width = bit_width(parent.num);
  const std::uint64_t top = width == 64 ? ~0ULL : ((1ULL << width) - 1);
  const std::uint64_t positive_top = is_signed(parent.num) ? top >> 1 : top;
  int count = static_cast<int>(edge_ ? rng_.between(1, 6) : rng_.between(2, 14));
  std::set<std::string> used_names;
  std::set<std::uint64_t> used_values;
  for (int i = 0; i < count; ++i) {
    Element v("value");
    std::string vname;
    if (edge_ && rng_.percent(15)) {
      vname = rng_.percent(40) && !used_names.empty() ? *used_names.begin() : edge_name(nullptr);
    } else {
      for (;;) {
        vname = rng_.percent(60) ? rng_.pick(kWords) : fresh(rng_.pick(kWords));
        if (!used_names.count(vname)) break;
      }
    }
    used_names.insert(vname);
    std::uint64_t value = 0;
    std::string literal;
    if (info.mask) {
      value = i == 0 ? 0 : (1ULL << ((i - 1) % std::min(width - 1, 62)));
    } else {
      value = static_cast<std::uint64_t>(i) +
              (rng_.percent(30) ? rng_.below(std::min<std::uint64_t>(positive_top, 1000)) : 0);
    }
    value &= positive_top;
    literal = int_literal(value);
    bool parseable = true;
    if (edge_ && rng_.percent(25)) {
      switch (rng_.below(4)) {
        case 0:  // equal to an earlier value after the cut to the width
          if (width < 64) {
            literal = hex(value + (1ULL << width));
            parseable = false;  // a distinct 128-bit value: not an alias
          }
          break;
        case 1:
          literal = "-1";
          parseable = false;
          break;
        case 2:
          literal = odd_int_literal();
          parseable = false;
          break;
        default:  // an alias of an earlier value
          if (!used_values.empty()) {
            value = *used_values.begin();
            literal = int_literal(value);
          }
      }
    } else if (!edge_ && rng_.percent(5) && !used_values.empty()) {
      value = *used_values.begin();  // an alias
      literal = int_literal(value);
    }
    v.set("name", vname);
    v.set("value", literal);
    maybe_text(v);
    e.children.push_back(std::move(v));
    if (parseable && used_values.insert(value).second) info.variants.emplace_back(vname, value);
  }
  if (valid_parent && !info.variants.empty()) enums_.push_back(info);
  return e;
}

void Generator::plan_datatypes() {
  int n =
      edge_ ? static_cast<int>(rng_.between(3, 10)) : static_cast<int>(std::max<std::size_t>(10, share(0.20) / 1300));
  for (int i = 0; i < n; ++i) {
    DataType d;
    if (edge_ && rng_.percent(15)) {
      d.name = rng_.percent(40)   ? rng_.pick(kPreludeNames)
               : rng_.percent(50) ? rng_.pick(kKeywords)
                                  : rng_.pick(kOddNames);
      if (rng_.percent(30) && !enums_.empty()) d.name = rng_.pick(enums_).name;
    } else {
      d.name = edge_ ? fresh(rng_.pick(kWords)) : global_name(rng_.pick(kWords));
    }
    d.rank = i;
    datatypes_.push_back(d);
  }
  // Document order differs from dependency order.
  for (std::size_t i = datatypes_.size(); i > 1; --i) std::swap(datatypes_[i - 1], datatypes_[rng_.below(i)]);
}

std::string Generator::types_section(bool first) {
  std::string out = "  <types>\n";
  if (first) {
    for (const auto& b : kBuiltins) {
      if (rng_.percent(edge_ ? 20 : 50)) {
        Element t("type");
        t.set("name", b.name).set("primitive", "true");
        serialize(t, out, 2);
      }
    }
    static const char* templated[][2] = {{"PackableList", "T"}, {"PackableHashTable", "T,U"}, {"PHashTable", "T,U"}};
    for (const auto& t : templated) {
      Element e("type");
      e.set("name", t[0]).set("templated", t[1]);
      maybe_text(e);
      if (edge_ && rng_.percent(20)) {
        Element f("field");
        f.set("name", "Count").set("type", "uint");
        e.children.push_back(f);
      }
      serialize(e, out, 2);
    }
    typedefs(out);
    for (const auto& d : datatypes_) serialize(datatype_element(d), out, 2);
  } else {
    // A second section: data types written again under the same names, and
    // data types named like the enums written for switches.
    for (const auto& d : datatypes_) {
      if (rng_.percent(30)) serialize(datatype_element(d), out, 2);
    }
    const std::vector<std::string> switch_types = switch_types_;  // grows while data types are written
    for (const auto& s : switch_types) {
      if (rng_.percent(50)) serialize(datatype_element(DataType{s, 0}), out, 2);
    }
    typedefs(out);
  }
  out += "  </types>\n";
  return out;
}

void Generator::typedefs(std::string& out) {
  int n = edge_ ? static_cast<int>(rng_.between(0, 5)) : static_cast<int>(std::max<std::size_t>(5, share(0.01) / 60));
  std::vector<Element> later;
  for (int i = 0; i < n; ++i) {
    Element t("type");
    std::string name = edge_ ? fresh(rng_.pick(kWords) + "Id") : global_name(rng_.pick(kWords) + "Id");
    const Builtin* base = &rng_.pick(kBuiltins);
    std::string parent = base->name;
    Num num = base->num;
    if (!typedefs_.empty() && rng_.percent(30)) {
      const auto& td = rng_.pick(typedefs_);
      parent = td.first;
      num = td.second;
    }
    if (edge_ && rng_.percent(30)) {
      switch (rng_.below(5)) {
        case 0:
          name = rng_.pick(kBuiltins).name;  // a built-in name: ignored
          break;
        case 1:
          if (!enums_.empty()) parent = rng_.pick(enums_).name;  // a typedef of an enum: not registered
          num = Num::None;
          break;
        case 2:
          t.set("primitive", "false");
          num = Num::None;
          break;
        case 3:
          name = rng_.pick(kKeywords);
          break;
        default:
          parent = fresh("Later");  // names a typedef written after it
          num = Num::None;
      }
    }
    t.set("name", name).set("parent", parent);
    maybe_text(t);
    serialize(t, out, 2);
    if (num != Num::None || !edge_) typedefs_.emplace_back(name, num);
  }
}

Element Generator::datatype_element(const DataType& d) {
  Element t("type");
  t.set("name", d.name);
  if (rng_.percent(edge_ ? 10 : 3)) t.set("type", edge_ ? odd_opcode() : hex(0x9000 + rng_.below(0x1000)));
  maybe_text(t);
  current_rank_ = d.rank;
  owner_ = d.name;
  switch_discs_.clear();
  Scope scope;
  body(t, scope, Site::Body, 0, static_cast<int>(edge_ ? rng_.between(1, 6) : rng_.between(2, 9)));
  if (t.children.empty()) field(t, scope, Vis::Plain, 0);
  current_rank_ = -1;
  return t;
}

Element Generator::message(const std::string& prefix, std::set<std::string>& names) {
  Element t("type");
  std::string name;
  if (edge_ && rng_.percent(12)) {
    name = rng_.percent(50) && !names.empty() ? *names.begin() : edge_name(nullptr);
  } else {
    do {
      name = edge_ ? fresh(rng_.pick(kWords)) : global_name(rng_.pick(kWords));
    } while (names.count(name));
  }
  names.insert(name);
  t.set("name", name);
  if (edge_ && rng_.percent(20))
    t.set("type", odd_opcode());
  else if (rng_.percent(95))
    t.set("type", hex(next_opcode_++));
  maybe_text(t);
  owner_ = prefix + name;
  switch_discs_.clear();
  Scope scope;
  int items = static_cast<int>(edge_ ? rng_.between(0, 7) : message_items());
  body(t, scope, Site::Body, 0, items);
  if (edge_ && rng_.percent(3)) {
    Element m("mask");
    m.set("value", "0x1");
    t.children.push_back(m);
  }
  return t;
}

int Generator::message_items() {
  std::uint64_t roll = rng_.below(100);
  if (roll < 55) return static_cast<int>(rng_.between(0, 2));
  if (roll < 90) return static_cast<int>(rng_.between(3, 4));
  return static_cast<int>(rng_.between(5, 8));
}

std::string Generator::messages_section() {
  std::string out = "  <messages>\n";
  std::vector<std::string> order = {"c2s", "s2c"};
  if (rng_.percent(30)) std::swap(order[0], order[1]);
  if (edge_ && rng_.percent(15)) order.push_back("c2x");
  for (const auto& dir : order) {
    out += "    <" + dir + ">\n";
    std::string prefix = dir == "c2s" ? "C2S_" : "S2C_";
    std::set<std::string> names;
    std::size_t start = out.size();
    std::size_t budget = share(0.22);
    int n = edge_ ? static_cast<int>(rng_.between(1, 7)) : 1;
    for (int i = 0; edge_ ? i < n : out.size() - start < budget; ++i) serialize(message(prefix, names), out, 3);
    out += "    </" + dir + ">\n";
  }
  out += "  </messages>\n";
  return out;
}

std::string Generator::actions_section(const std::string& tag, const std::string& prefix, double fraction) {
  std::string out = "  <" + tag + ">\n";
  std::set<std::string> names;
  std::size_t budget = share(fraction);
  int n = edge_ ? static_cast<int>(rng_.between(1, 5)) : 1;
  for (int i = 0; edge_ ? i < n : out.size() < budget; ++i) serialize(message(prefix, names), out, 2);
  out += "  </" + tag + ">\n";
  return out;
}

TypeRef Generator::pick_type(bool allow_struct, bool allow_strings) {
  TypeRef r;
  std::uint64_t roll = rng_.below(100);
  if (edge_ && roll < 6) {
    static const std::vector<std::string> odd = {"T",     "U",    "Unknown", "", "uint ", "Uint", "PackableList",
                                                 "sbyte", "char", "Int32"};
    r.name = rng_.pick(odd);
    return r;
  }
  if (roll < 25 && !enums_.empty()) {
    int i = static_cast<int>(rng_.below(enums_.size()));
    r.name = enums_[i].name;
    if (enums_[i].mask) {
      r.num = enums_[i].repr;
      r.mask_enum = i;
    } else {
      r.enum_index = i;
    }
    return r;
  }
  if (roll < 38 && allow_struct) {
    std::vector<const DataType*> usable;
    for (const auto& d : datatypes_) {
      if (edge_ ? rng_.percent(80) : (current_rank_ < 0 || d.rank < current_rank_)) usable.push_back(&d);
    }
    if (!usable.empty()) {
      r.name = usable[rng_.below(usable.size())]->name;
      return r;
    }
  }
  if (roll < 44 && !typedefs_.empty()) {
    const auto& td = rng_.pick(typedefs_);
    if (allow_strings || td.second != Num::None) {
      r.name = td.first;
      r.num = td.second;
      return r;
    }
  }
  for (;;) {
    const Builtin& b = rng_.pick(kBuiltins);
    if (!allow_strings && b.num == Num::None) continue;
    r.name = b.name;
    r.num = b.num;
    return r;
  }
}

}  // namespace qm::describe
