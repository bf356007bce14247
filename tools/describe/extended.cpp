// The constructs only the code generator's extended tier translates: tables,
// switches, mask maps and nested ifs in if branches, tables in switch cases,
// vectors in mask groups, compound C# if tests and subfield values over other
// fields of the body. Every name they use is one the extended tier resolves:
// a field of the right scope declared earlier, of a type the expression's C#
// typing accepts, and declared once in the body (a repeated name means
// whichever field the code generator's lookup keeps, maybe one of another type).

#include <map>
#include <string>
#include <vector>

#include "generator.hpp"

namespace qm::describe {
namespace {

// The fields of `scope` whose name no other field of it has, that `keep` takes.
template <class Keep>
std::vector<const Known*> declared_once(const Scope& scope, std::size_t from, Keep keep) {
  std::map<std::string, int> uses;
  for (const auto& k : scope.fields) ++uses[k.xml];
  std::vector<const Known*> out;
  for (std::size_t i = from; i < scope.fields.size(); ++i) {
    const Known& k = scope.fields[i];
    if (uses[k.xml] == 1 && keep(k)) out.push_back(&k);
  }
  return out;
}

// Whether C# can combine the two integer kinds in one binary operator: a
// 64-bit unsigned operand and a signed one have no common type.
bool combinable(Num a, Num b) {
  const bool a_u64 = a == Num::U64;
  const bool b_u64 = b == Num::U64;
  return !((a_u64 && is_signed(b)) || (b_u64 && is_signed(a)));
}

}  // namespace

bool Generator::extended_item(Element& parent, Scope& scope, Site site, int depth) {
  switch (site) {
    case Site::Body:
      return false;
    case Site::Branch: {
      if (!rng_.percent(edge_ ? 25 : 4)) return false;
      const std::uint64_t roll = rng_.below(100);
      if (roll < 30) {
        table(parent, scope, Vis::Optional);
      } else if (roll < 55) {
        switch_block(parent, scope, depth, Vis::Optional);
      } else if (roll < 80) {
        maskmap(parent, scope, Site::Branch);
      } else if (depth < 3) {
        if_block(parent, scope, Site::Branch, depth);
      } else {
        table(parent, scope, Vis::Optional);
      }
      return true;
    }
    case Site::Case:
      if (!rng_.percent(edge_ ? 15 : 3)) return false;
      table(parent, scope, Vis::Plain);
      return true;
    case Site::Mask:
      if (!rng_.percent(edge_ ? 25 : 2)) return false;
      mask_vector(parent, scope);
      return true;
  }
  return false;
}

void Generator::mask_vector(Element& parent, Scope& scope) {
  // The group's own integer fields (gated, seen only inside the group) or the
  // body's readable ones.
  auto group = declared_once(scope, group_start_, [](const Known& k) { return is_integer(k.num); });
  auto outer = declared_once(scope, 0, [](const Known& k) { return readable(k.vis) && is_integer(k.num); });
  std::string length;
  if (!group.empty() && (outer.empty() || rng_.percent(70))) {
    length = rng_.pick(group)->xml;
  } else if (!outer.empty() && rng_.percent(60)) {
    length = rng_.pick(outer)->xml;
  } else {
    Element f("field");
    const std::string type = rng_.percent(50) ? "byte" : "ushort";
    length = member_name(scope, "Num" + rng_.pick(kWords));
    f.set("name", length).set("type", type);
    parent.children.push_back(f);
    Known k;
    k.xml = length;
    k.num = type == "byte" ? Num::U8 : Num::U16;
    k.vis = Vis::Gated;
    scope.fields.push_back(k);
  }
  if (rng_.percent(20)) length += " + 1";
  Element v("vector");
  TypeRef type = pick_type(true);
  v.set("name", member_name(scope, rng_.pick(kWords) + "s")).set("type", type.name).set("length", length);
  maybe_text(v);
  parent.children.push_back(v);
}

std::string Generator::extended_test(const Scope& scope) {
  auto ints = declared_once(scope, 0, [](const Known& k) { return readable(k.vis) && is_integer(k.num); });
  auto bools = declared_once(scope, 0, [](const Known& k) { return readable(k.vis) && k.num == Num::Bool; });
  auto enums = declared_once(scope, 0, [this](const Known& k) {
    return readable(k.vis) && k.enum_index >= 0 && !enums_[k.enum_index].variants.empty();
  });
  // Which family the test is over: integers mostly.
  std::vector<int> families;
  if (!ints.empty()) families.insert(families.end(), {0, 0, 0});
  if (!bools.empty()) families.push_back(1);
  if (!enums.empty()) families.push_back(2);
  if (families.empty()) return "";
  switch (rng_.pick(families)) {
    case 1: {
      const std::string c = rng_.pick(bools)->xml;
      const std::string a = ints.empty() ? c : rng_.pick(ints)->xml;
      switch (rng_.below(4)) {
        case 0:
          return "!" + c;
        case 1:
          return ints.empty() ? "!(" + c + ")" : c + " && " + a + " < 5";
        case 2:
          return ints.empty() ? c + " || !" + c : "!" + c + " || " + a + " == 0";
        default:
          return "(" + c + " || " + c + ") && !" + c;
      }
    }
    case 2: {
      const Known* e = rng_.pick(enums);
      const auto& info = enums_[e->enum_index];
      const std::string first = info.name + "." + rng_.pick(info.variants).first;
      const std::string second = info.name + "." + rng_.pick(info.variants).first;
      if (rng_.percent(50)) return e->xml + " == " + first + " || " + e->xml + " == " + second;
      return "!(" + e->xml + " == " + first + ")";
    }
    default:
      break;
  }
  const Known* ka = rng_.pick(ints);
  const Known* kb = rng_.pick(ints);
  if (!combinable(ka->num, kb->num)) kb = ka;
  const std::string& a = ka->xml;
  const std::string& b = kb->xml;
  switch (rng_.below(11)) {
    case 0:
      return "(" + a + " & 0x4) != 0 && " + b + " > 2";
    case 1:
      return a + " > 1 || " + b + " == 0";
    case 2:
      return "!(" + a + " == 3)";
    case 3:
      return a + " + " + b + " > 10";
    case 4:
      return a + " * 2 - 1";
    case 5:
      return "(" + a + " >> 2) % 3 == 1";
    case 6:
      return a + " != " + b + " && (" + a + " | " + b + ") != 0";
    case 7:
      return a + " && " + b;
    case 8:
      return a + " & 1";
    case 9:
      return "!" + a;
    default:
      return "(" + a + " - " + b + ") * 3 <= 0x40 || !(" + b + " < 7)";
  }
}

std::string Generator::cross_field_expr(const Scope& scope, const std::string& p, Num p_num) {
  auto others = declared_once(scope, 0, [&](const Known& k) {
    return k.vis == Vis::Plain && is_integer(k.num) && k.xml != p && combinable(k.num, p_num);
  });
  if (others.empty()) return "";
  const Known* k = rng_.pick(others);
  const std::string& x = k->xml;
  // `X >> 1` has X's promoted type: int for the narrow kinds, which has no
  // common type with a ulong parent.
  const bool shift_ok = combinable(bit_width(k->num) < 32 ? Num::I32 : k->num, p_num);
  switch (rng_.below(6)) {
    case 0:
      return p + " + " + x;
    case 1:
      return x + " - " + p;
    case 2:
      return "(" + p + " + " + x + ") & 0xFF";
    case 3:
      return p + " * " + x;
    case 4:
      return shift_ok ? "(" + x + " >> 1) + " + p : p + " + " + x;
    default:
      return x + " ^ " + p;
  }
}

}  // namespace qm::describe
