// Bodies and their constructs: fields and subfields, alignment, vectors,
// tables, packable containers, if blocks, mask maps and switches. Each
// registers what it declares in the scope of its body.

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "generator.hpp"
#include "text/text.hpp"

namespace qm::describe {

void Generator::body(Element& parent, Scope& scope, Site site, int depth, int items) {
  for (int i = 0; i < items; ++i) item(parent, scope, site, depth);
}

Vis Generator::vis_for(Site site) { return site == Site::Branch ? Vis::Optional : Vis::Plain; }

void Generator::item(Element& parent, Scope& scope, Site site, int depth) {
  std::uint64_t roll = rng_.below(100);
  if (edge_ && roll < 2) {
    static const std::vector<std::string> odd = {"note", "mask", "table", "switch", "if", "maskmap", "case", "true"};
    Element e(rng_.pick(odd));
    e.set("name", "X");
    parent.children.push_back(e);
    return;
  }
  if (ext_ && extended_item(parent, scope, site, depth)) return;
  const bool nested_ok = depth < 3;
  switch (site) {
    case Site::Body:
      if (!edge_) {
        // Plain fields dominate real descriptions.
        if (roll < 62) return field(parent, scope, Vis::Plain, depth);
        if (roll < 70) return vector(parent, scope, site);
        if (roll < 73) return table(parent, scope);
        if (roll < 80) return packable(parent, scope, Vis::Plain);
        if (roll < 87) return if_block(parent, scope, site, depth);
        if (roll < 92) return maskmap(parent, scope, site);
        if (roll < 96) return switch_block(parent, scope, depth);
        return align(parent);
      }
      if (roll < 45) return field(parent, scope, Vis::Plain, depth);
      if (roll < 55) return vector(parent, scope, site);
      if (roll < 60) return table(parent, scope);
      if (roll < 68) return packable(parent, scope, Vis::Plain);
      if (roll < 78) return if_block(parent, scope, site, depth);
      if (roll < 85) return maskmap(parent, scope, site);
      if (roll < 93) return switch_block(parent, scope, depth);
      return align(parent);
    case Site::Branch:
      if (roll < 60) return field(parent, scope, Vis::Optional, depth);
      if (roll < 75) return vector(parent, scope, site);
      if (roll < 87) return packable(parent, scope, Vis::Optional);
      return align(parent);
    case Site::Case:
      if (roll < 45) return field(parent, scope, Vis::Plain, depth);
      if (roll < 55) return vector(parent, scope, site);
      if (roll < 60) return align(parent);
      if (roll < 70) return maskmap(parent, scope, site);
      if (roll < 78 && nested_ok) return switch_block(parent, scope, depth + 1);
      if (roll < 88 && nested_ok) return if_block(parent, scope, site, depth + 1);
      return packable(parent, scope, Vis::Plain);
    case Site::Mask:
      if (roll < 80) return field(parent, scope, Vis::Gated, depth);
      return packable(parent, scope, Vis::Gated);
  }
}

void Generator::align(Element& parent) {
  Element a("align");
  if (edge_ && rng_.percent(8)) {
    if (rng_.percent(50)) a.set("type", rng_.percent(50) ? "WString" : "");
  } else {
    a.set("type", rng_.pick(kAlignTypes));
  }
  parent.children.push_back(a);
}

void Generator::field(Element& parent, Scope& scope, Vis vis, int depth) {
  (void)depth;
  Element f("field");
  TypeRef type = pick_type(true);
  std::string base = rng_.pick(kWords);
  std::string name = member_name(scope, base);
  f.set("name", name).set("type", type.name);
  maybe_text(f);
  if (edge_ && rng_.percent(2)) f.children.push_back(Element("note"));
  bool integral = is_integer(type.num);
  if ((integral && rng_.percent(edge_ ? 30 : 15)) || (edge_ && rng_.percent(3))) {
    int n = static_cast<int>(rng_.between(1, 3));
    for (int i = 0; i < n; ++i) subfield(f, scope, name, type.num, vis, vis == Vis::Plain && depth == 0);
  }
  parent.children.push_back(std::move(f));
  Known k;
  k.xml = name;
  k.num = type.num;
  k.enum_index = type.enum_index;
  k.mask_enum = type.mask_enum;
  k.vis = vis;
  scope.fields.push_back(k);
}

void Generator::subfield(Element& f, Scope& scope, const std::string& parent_name, Num parent_num, Vis vis,
                         bool top_level) {
  Element s("subfield");
  std::string name;
  if (edge_ && rng_.percent(25)) {
    static const std::vector<std::string> odd = {"read_from", "OPCODE", "type", "self", "data", "Low", "High"};
    name = rng_.percent(40) && !scope.subs.empty() ? scope.subs.back().xml : rng_.pick(odd);
  } else {
    name = member_name(scope, rng_.percent(50) ? "Low" : "High");
    if (!edge_) name = fresh(name);
  }
  static const std::vector<std::string> types = {"byte", "ushort", "uint",   "ulong",   "short",
                                                 "int",  "long",   "DataId", "ObjectId"};
  std::string type = rng_.pick(types);
  if (edge_ && rng_.percent(8)) type = rng_.percent(50) ? "bool" : "float";
  // A value over other fields of the body: later constructs cannot name
  // such a subfield (only its accessor computes it), so it is not registered.
  if (ext_ && top_level && rng_.percent(edge_ ? 40 : 8)) {
    std::string cross = cross_field_expr(scope, parent_name, parent_num);
    if (!cross.empty()) {
      s.set("name", name).set("type", type).set("value", cross);
      maybe_text(s);
      f.children.push_back(s);
      return;
    }
  }
  bool safe = true;
  std::string expr = subfield_expr(parent_name, parent_num, safe);
  s.set("name", name).set("type", type).set("value", expr);
  maybe_text(s);
  f.children.push_back(s);
  scope.subs.push_back(SubRef{name, parent_num, safe, vis});
}

void Generator::vector(Element& parent, Scope& scope, Site site) {
  // A vector in a branch counts by any earlier field: of the body, of an
  // earlier block, of the other branch or of its own branch.
  if (!edge_ && site == Site::Branch && numeric(scope, true).empty()) return field(parent, scope, Vis::Optional, 0);
  Element v("vector");
  std::string length = length_expr(parent, scope, vis_for(site));
  TypeRef type = pick_type(true);
  if (edge_ && rng_.percent(5)) type.name = rng_.percent(50) ? "T" : "U";
  v.set("name", member_name(scope, rng_.pick(kWords) + "s")).set("type", type.name).set("length", length);
  if (rng_.percent(edge_ ? 25 : 5)) {
    static const std::vector<std::string> skips = {"1",   "0x10", "-1", "5.", "99999999999999999999999",
                                                   "0X2", "two",  "0"};
    v.set("skip", edge_ ? rng_.pick(skips) : "1");
  }
  maybe_text(v);
  parent.children.push_back(v);
}

void Generator::table(Element& parent, Scope& scope, Vis inserted) {
  Element t("table");
  std::string length = length_expr(parent, scope, inserted);
  static const std::vector<std::string> keys = {"uint",     "ushort", "byte", "int",
                                                "ObjectId", "string", "long", "DataId"};
  std::string key = rng_.pick(keys);
  if (!enums_.empty() && rng_.percent(15)) key = rng_.pick(enums_).name;
  if (edge_ && rng_.percent(35)) {
    static const std::vector<std::string> odd = {"float", "double", "bool", "WString", "T"};
    key = rng_.percent(30) && !datatypes_.empty() ? rng_.pick(datatypes_).name : rng_.pick(odd);
  }
  TypeRef value = pick_type(true);
  t.set("name", member_name(scope, rng_.pick(kWords) + "Table")).set("key", key).set("value", value.name);
  t.set("length", length);
  maybe_text(t);
  parent.children.push_back(t);
}

void Generator::packable(Element& parent, Scope& scope, Vis vis) {
  (void)vis;
  Element f("field");
  static const std::vector<std::string> kinds = {"PackableList", "PackableHashTable", "PHashTable"};
  std::string kind = rng_.pick(kinds);
  std::string name = member_name(scope, rng_.pick(kWords) + "List");
  if (edge_ && rng_.percent(15)) name = rng_.percent(50) ? "type" : rng_.pick(kKeywords);
  f.set("name", name).set("type", kind);
  auto generic = [&]() {
    if (edge_ && rng_.percent(6)) return std::string(rng_.percent(50) ? "T" : "U");
    return pick_type(true).name;
  };
  if (kind == "PackableList") {
    if (!(edge_ && rng_.percent(3))) f.set("genericType", generic());
  } else {
    static const std::vector<std::string> keys = {"uint", "ushort", "ObjectId", "string", "int", "DataId"};
    if (!(edge_ && rng_.percent(3))) f.set("genericKey", edge_ && rng_.percent(30) ? generic() : rng_.pick(keys));
    if (!(edge_ && rng_.percent(3))) f.set("genericValue", generic());
  }
  maybe_text(f);
  parent.children.push_back(f);
}

void Generator::if_block(Element& parent, Scope& scope, Site site, int depth) {
  (void)site;
  Element e("if");
  e.set("test", if_test(parent, scope, vis_for(site)));
  maybe_text(e);
  auto branch = [&](const char* tag, int items) {
    Element b(tag);
    if (edge_ && rng_.percent(12)) {
      align(b);
    } else {
      body(b, scope, Site::Branch, depth + 1, items);
      if (rng_.percent(35)) repeated_name_field(b, scope);
      // A length read from a field of this branch, just decoded.
      if (rng_.percent(30) && !scope.fields.empty() && scope.fields.back().vis == Vis::Optional &&
          is_integer(scope.fields.back().num)) {
        Element v("vector");
        v.set("name", member_name(scope, rng_.pick(kWords) + "s"))
            .set("type", pick_type(true).name)
            .set("length", scope.fields.back().xml);
        b.children.push_back(v);
      }
    }
    return b;
  };
  bool has_true = rng_.percent(90);
  bool has_false = !has_true || rng_.percent(45);
  const int most = edge_ ? 3 : 2;
  if (has_true) e.children.push_back(branch("true", static_cast<int>(rng_.between(1, most))));
  if (has_false) e.children.push_back(branch("false", static_cast<int>(rng_.between(1, most))));
  if (edge_ && rng_.percent(5)) e.children.clear();
  if (edge_ && rng_.percent(5)) e.children.push_back(branch("true", 1));
  parent.children.push_back(e);
}

void Generator::repeated_name_field(Element& branch, Scope& scope) {
  if (scope.fields.empty()) return;
  const std::string name = rng_.pick(scope.fields).xml;
  const TypeRef type = pick_type(true);
  Element f("field");
  f.set("name", name).set("type", type.name);
  branch.children.push_back(std::move(f));
  Known k;
  k.xml = name;
  k.num = type.num;
  k.enum_index = type.enum_index;
  k.mask_enum = type.mask_enum;
  k.vis = Vis::Optional;
  scope.fields.push_back(k);
}

void Generator::maskmap(Element& parent, Scope& scope, Site site) {
  Element m("maskmap");
  // The parent: an integer, a mask-enum or enum field, or a gated field.
  std::vector<const Known*> parents;
  for (const auto& k : scope.fields) {
    if (readable(k.vis) && (is_integer(k.num) || k.enum_index >= 0)) parents.push_back(&k);
    if (k.vis == Vis::Gated && is_integer(k.num)) parents.push_back(&k);
  }
  std::string parent_name;
  int value_enum = -1;
  if (edge_ && rng_.percent(15)) {
    parent_name = wrong_reference(scope);
  } else if (!parents.empty() && rng_.percent(75)) {
    const Known* k = parents[rng_.below(parents.size())];
    parent_name = k->xml;
    value_enum = k->mask_enum >= 0 ? k->mask_enum : k->enum_index;
  } else {
    Element f("field");
    std::vector<int> mask_enums;
    for (std::size_t i = 0; i < enums_.size(); ++i) {
      if (enums_[i].mask) mask_enums.push_back(static_cast<int>(i));
    }
    parent_name = member_name(scope, "Flags");
    Known k;
    k.xml = parent_name;
    k.vis = vis_for(site);
    if (!mask_enums.empty() && rng_.percent(50)) {
      value_enum = mask_enums[rng_.below(mask_enums.size())];
      f.set("name", parent_name).set("type", enums_[value_enum].name);
      k.num = enums_[value_enum].repr;
      k.mask_enum = value_enum;
    } else {
      f.set("name", parent_name).set("type", "uint");
      k.num = Num::U32;
    }
    parent.children.push_back(f);
    scope.fields.push_back(k);
  }
  m.set("name", parent_name);
  if (rng_.percent(edge_ ? 20 : 5)) {
    static const std::vector<std::string> xors = {"0xFF", "-1", "0X10", "huge", "18446744073709551616", "0x"};
    m.set("xor", edge_ ? rng_.pick(xors) : "0xFF");
  }
  // Fields of the masks become visible (as gated) only after the map.
  Scope inner = scope;
  std::vector<Known> gated;
  int masks = static_cast<int>(rng_.between(1, 4));
  for (int i = 0; i < masks; ++i) {
    Element mask("mask");
    std::string value = hex(1ULL << rng_.below(16));
    if (value_enum >= 0 && rng_.percent(50)) {
      const auto& info = enums_[value_enum];
      value = info.name + "." + info.variants[rng_.below(info.variants.size())].first;
    }
    if (edge_ && rng_.percent(20)) {
      static const std::vector<std::string> odd = {"-1",     "0",   " 0x4 ", "0X1F",
                                                   "Nope.X", "bad", "0x\n",  "18446744073709551617"};
      value = rng_.pick(odd);
      if (!enums_.empty() && rng_.percent(30)) value = rng_.pick(enums_).name + ".Missing";
    }
    mask.set("value", value);
    std::size_t before = inner.fields.size();
    group_start_ = before;
    int n = static_cast<int>(rng_.between(1, 3));
    if (edge_ && rng_.percent(3)) n = 0;
    body(mask, inner, Site::Mask, 3, n);
    for (std::size_t j = before; j < inner.fields.size(); ++j) gated.push_back(inner.fields[j]);
    m.children.push_back(mask);
  }
  for (auto& k : gated) {
    k.vis = site == Site::Body ? Vis::Gated : Vis::Hidden;
    scope.fields.push_back(k);
  }
  scope.members = inner.members;
  parent.children.push_back(m);
}

void Generator::switch_block(Element& parent, Scope& scope, int depth, Vis inserted) {
  Element s("switch");
  // The discriminator: an integer or enum field, or a subfield.
  std::vector<const Known*> discs;
  for (const auto& k : scope.fields) {
    if (readable(k.vis) && (is_integer(k.num) || k.enum_index >= 0)) discs.push_back(&k);
  }
  std::string disc;
  int disc_enum = -1;
  std::vector<const SubRef*> subs;
  for (const auto& sub : scope.subs) {
    if (readable(sub.vis) && (sub.safe || edge_)) subs.push_back(&sub);
  }
  if (edge_ && rng_.percent(10)) {
    disc = wrong_reference(scope);
  } else if (!subs.empty() && rng_.percent(15)) {
    disc = subs[rng_.below(subs.size())]->xml;
  } else if (!discs.empty() && rng_.percent(75)) {
    const Known* k = discs[rng_.below(discs.size())];
    disc = k->xml;
    disc_enum = k->enum_index;
  }
  // Two switches on one name in one struct share their enum's name; only
  // the edge profile lets that happen.
  if (disc.empty() || (!edge_ && switch_discs_.count(disc))) {
    disc_enum = -1;
    Element f("field");
    std::vector<int> plain;
    for (std::size_t i = 0; i < enums_.size(); ++i) {
      if (!enums_[i].mask && enums_[i].variants.size() >= 2) plain.push_back(static_cast<int>(i));
    }
    disc = member_name(scope, "Kind");
    Known k;
    k.xml = disc;
    k.vis = inserted;
    if (!plain.empty() && rng_.percent(50)) {
      disc_enum = plain[rng_.below(plain.size())];
      f.set("name", disc).set("type", enums_[disc_enum].name);
      k.enum_index = disc_enum;
    } else {
      f.set("name", disc).set("type", "uint");
      k.num = Num::U32;
    }
    parent.children.push_back(f);
    scope.fields.push_back(k);
  }
  switch_discs_.insert(disc);
  s.set("name", disc);
  if (edge_ && rng_.percent(3)) s.set("name", "");
  switch_types_.push_back(owner_ + pascalize_xml_name(disc) + "Data");

  // Case values: distinct numbers, from the enum when the discriminator is one.
  std::vector<std::uint64_t> pool;
  if (disc_enum >= 0) {
    for (const auto& v : enums_[disc_enum].variants) pool.push_back(v.second);
  } else {
    for (std::uint64_t v = 0; v < 12; ++v) pool.push_back(v == 11 ? 0x1F : v);
  }
  for (std::size_t i = pool.size(); i > 1; --i) std::swap(pool[i - 1], pool[rng_.below(i)]);
  int cases = static_cast<int>(std::min<std::size_t>(pool.size(), static_cast<std::size_t>(rng_.between(1, 4))));
  std::size_t next = 0;
  for (int i = 0; i < cases && next < pool.size(); ++i) {
    Element c("case");
    std::string value = int_literal(pool[next++]);
    if (next < pool.size() && rng_.percent(25)) value += "|" + int_literal(pool[next++]);
    if (edge_ && rng_.percent(20)) {
      static const std::vector<std::string> odd = {" 3 | ",
                                                   "|",
                                                   "1|1",
                                                   "18446744073709551617",
                                                   "-16",
                                                   "-0x10",
                                                   "-0x8000000000000000",
                                                   "340282366920938463463374607431768211455",
                                                   "0X1F",
                                                   "x",
                                                   "170141183460469231731687303715884105727",
                                                   "-170141183460469231731687303715884105728",
                                                   "4294967297",
                                                   "65537",
                                                   "7 \n| 8"};
      value = rng_.pick(odd);
    }
    c.set("value", value);
    maybe_text(c);
    Scope case_scope = scope;
    body(c, case_scope, Site::Case, depth + 1, static_cast<int>(rng_.between(0, edge_ ? 3 : 2)));
    s.children.push_back(c);
  }
  if (edge_ && rng_.percent(4)) s.children.push_back(Element("default"));
  parent.children.push_back(s);
  // A second switch on the same name, now and then.
  if (edge_ && rng_.percent(5)) parent.children.push_back(s);
}

}  // namespace qm::describe
