// Expressions: subfield values, vector and table lengths, if tests, and the
// earlier fields they name (adding a count field when a body has none).

#include <string>
#include <vector>

#include "generator.hpp"

namespace qm::describe {

std::string Generator::subfield_expr(const std::string& p, Num num, bool& safe) {
  const int w = bit_width(num);
  if (!edge_ || rng_.percent(55)) {
    std::string mask = is_signed(num) || w == 8 ? "0x7F" : "0xFF";
    switch (rng_.below(6)) {
      case 0:
        return p + " & " + mask;
      case 1:
        return w > 8 ? "(" + p + " >> 8) & " + mask : p + " & 0xF";
      case 2:
        return p + " >> " + std::to_string(w / 2);
      case 3:
        return "(" + p + " >> 4) & 0xF";
      case 4:
        return p;
      default:
        return p + " | 0x1";
    }
  }
  safe = false;
  std::string W = std::to_string(w);
  const std::vector<std::string> shapes = {p + " >> " + W,
                                           p + " << " + W,
                                           "(" + p + " >> 8) & 0xFF",
                                           "(ushort)-" + p,
                                           "-" + p,
                                           "(bool)" + p,
                                           "(float)" + p + " + 1",
                                           "(double)" + p,
                                           "(int)" + p + " * 2",
                                           "(long)" + p + " >> 40",
                                           p + " / 0",
                                           p + " / " + p,
                                           "0x10 / " + p,
                                           "1 << " + p,
                                           p + " * 0x10000",
                                           p + " * " + p,
                                           p + " - 1",
                                           p + " + 1 - 2",
                                           "0X1F & " + p,
                                           p + " & 0x",
                                           p + " & 99999999999999999999999",
                                           p + " & 0xFFFFFFFFFFFFFFFF",
                                           "((" + p + "))",
                                           p + " " + p,
                                           "Other & 1",
                                           p + " % 2",
                                           "",
                                           "(sbyte)" + p,
                                           "( int)" + p,
                                           "(byte)(" + p + " >> 8)",
                                           "(ulong)" + p + " << 63",
                                           "(short)" + p + " - 1",
                                           p + "\n& 0xFF",
                                           p + " ^ -1",
                                           "(uint)" + p + " - (uint)1"};
  return rng_.pick(shapes);
}

std::vector<const Known*> Generator::numeric(const Scope& scope, bool integers_only) {
  std::vector<const Known*> out;
  for (const auto& k : scope.fields) {
    if (!readable(k.vis) || k.num == Num::None) continue;
    if (integers_only && !is_integer(k.num)) continue;
    out.push_back(&k);
  }
  return out;
}

std::string Generator::count_source(Element& parent, Scope& scope, bool integers_only, Vis inserted) {
  auto candidates = numeric(scope, integers_only);
  if (!candidates.empty() && rng_.percent(80)) return rng_.pick(candidates)->xml;
  std::vector<const SubRef*> subs;
  for (const auto& s : scope.subs) {
    if (readable(s.vis) && (s.safe || edge_)) subs.push_back(&s);
  }
  if (!subs.empty() && rng_.percent(40)) return subs[rng_.below(subs.size())]->xml;
  if (!candidates.empty()) return rng_.pick(candidates)->xml;
  Element f("field");
  static const std::vector<std::string> types = {"byte", "ushort", "uint", "uint", "PackedDWORD"};
  std::string type = rng_.pick(types);
  std::string name = member_name(scope, "Num" + rng_.pick(kWords));
  f.set("name", name).set("type", type);
  parent.children.push_back(f);
  Known k;
  k.xml = name;
  k.num = type == "byte" ? Num::U8 : type == "ushort" ? Num::U16 : Num::U32;
  k.vis = inserted;
  scope.fields.push_back(k);
  return name;
}

std::string Generator::wrong_reference(const Scope& scope) {
  std::vector<std::string> names;
  for (const auto& k : scope.fields) {
    if (!readable(k.vis) || k.num == Num::None) names.push_back(k.xml);
  }
  if (!names.empty() && rng_.percent(70)) return rng_.pick(names);
  return rng_.percent(50) ? "Later" : "count";
}

std::string Generator::length_expr(Element& parent, Scope& scope, Vis inserted) {
  if (edge_ && rng_.percent(30)) {
    std::string n = rng_.percent(40) ? wrong_reference(scope) : count_source(parent, scope, false, inserted);
    static const std::vector<std::string> tails = {
        " + 0X1F", " - 0", " + 99999999999", " - 2147483648", " + 0x", "+2147483647",   " * 2",
        ".Count",  "",     " + 1 + 2",       "\n- 1",         " - -1", " + 0x7FFFFFFF", " - 0x80000000"};
    std::string tail = rng_.pick(tails);
    if (rng_.percent(5)) return rng_.percent(50) ? "" : " 4 ";
    return n + tail;
  }
  std::string n = count_source(parent, scope, true, inserted);
  switch (rng_.below(6)) {
    case 0:
      return n + " - 1";
    case 1:
      return n + " + 1";
    case 2:
      return n + " + 0x10";
    default:
      return n;
  }
}

std::string Generator::if_test(Element& parent, Scope& scope, Vis inserted) {
  if (ext_ && rng_.percent(edge_ ? 30 : 6)) {
    std::string test = extended_test(scope);
    if (!test.empty()) return test;
  }
  if (edge_ && rng_.percent(35)) {
    std::string a = rng_.percent(50) ? wrong_reference(scope) : count_source(parent, scope, false, inserted);
    std::string b = count_source(parent, scope, false, inserted);
    const std::vector<std::string> shapes = {a + " < -1",
                                             a + " != 0X1F",
                                             a + " > 5.",
                                             a + " < 0.5",
                                             a + " == " + b,
                                             a + " == 99999999999999999999999999999999999999999",
                                             a + " == 0x",
                                             a + " == -0x10",
                                             a + " > 1.2.3",
                                             a + " && " + b,
                                             "1 == " + a,
                                             "",
                                             a,
                                             a + "\n== 1",
                                             a + " >= 18446744073709551616",
                                             a + " == 0.0",
                                             a + " <= -0.5",
                                             a + " != " + a};
    return rng_.pick(shapes);
  }
  auto candidates = numeric(scope, false);
  std::string n;
  Num num = Num::U32;
  if (!candidates.empty() && rng_.percent(85)) {
    const Known* k = rng_.pick(candidates);
    n = k->xml;
    num = k->num;
  } else {
    n = count_source(parent, scope, true, inserted);
  }
  if (is_float(num)) return n + (rng_.percent(50) ? " < 1.5" : " >= 0.25");
  if (num == Num::Bool) return rng_.percent(70) ? n : n + " == 1";
  switch (rng_.below(5)) {
    case 0:
      return n + " >= 2";
    case 1:
      return n + " == 0x10";
    case 2:
      return n + " != 0";
    case 3:
      return n + " < 100";
    default:
      return n;
  }
}

}  // namespace qm::describe
