// The document and the order of its sections; names, texts and literals.

#include "generator.hpp"

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "text/text.hpp"

namespace qm::describe {

Generator::Generator(const Options& options)
    : rng_(options.start), edge_(options.profile == Profile::Edge), ext_(options.extended), size_(options.size) {
  if (size_ == 0) size_ = edge_ ? 6000 : 1000000;
}

std::string Generator::run() {
  std::string enums = enums_section();
  plan_datatypes();
  std::vector<std::string> sections;
  sections.push_back(enums);
  if (edge_ && rng_.percent(30)) sections.push_back(enums_section());
  sections.push_back(types_section(true));
  if (edge_ && rng_.percent(40)) sections.push_back(types_section(false));
  sections.push_back(messages_section());
  sections.push_back(actions_section("gameactions", "Action_", 0.08));
  sections.push_back(actions_section("gameevents", "Event_", 0.07));
  if (edge_ && rng_.percent(20)) sections.push_back(messages_section());
  if (edge_ && rng_.percent(20)) sections.push_back("  <unknownsection name=\"x\"/>\n");
  if (edge_ && rng_.percent(30)) {
    for (std::size_t i = sections.size(); i > 1; --i) std::swap(sections[i - 1], sections[rng_.below(i)]);
  }
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<protocol>\n";
  for (const auto& s : sections) out += s;
  out += "</protocol>\n";
  return out;
}

std::string Generator::fresh(const std::string& base) { return base + std::to_string(++counter_); }

std::string Generator::global_name(const std::string& base) {
  for (;;) {
    std::string name = rng_.percent(30) ? base : base + rng_.pick(kWords);
    name = fresh(name);
    if (global_names_.insert(name).second) return name;
  }
}

std::string Generator::edge_name(const Scope* scope) {
  switch (rng_.below(5)) {
    case 0:
      return rng_.pick(kKeywords);
    case 1:
      return rng_.pick(kDecoderLocals);
    case 2:
      return rng_.pick(kPreludeNames);
    case 3:
      return rng_.pick(kOddNames);
    default: {
      static const std::vector<std::string> suffixes = {"_count", "_raw", "_bits",    "_packed", "_v",
                                                        "_data",  "_2",   "_maxsize", "_v_v",    "_elem"};
      // Names of the locals the generator derives from a member's
      // identifier (`kind_count`, `_kind_maxsize`); a keyword's `r#type`
      // is the identifier `type` to Rust, so its snake case meets them too.
      if (scope != nullptr && !scope->fields.empty()) {
        const auto& k = rng_.pick(scope->fields);
        if (rng_.percent(15)) {
          // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
          // `"_" + std::string` here.
          std::string name = "_";
          name += to_snake_case(k.xml);
          name += "_maxsize";
          return name;
        }
        return to_snake_case(k.xml) + rng_.pick(suffixes);
      }
      // Two draws, one statement each: the operands of `+` may be
      // evaluated in either order, and compilers differ.
      const std::string& suffix = rng_.pick(suffixes);
      return rng_.pick(kWords) + suffix;
    }
  }
}

std::string Generator::member_name(Scope& scope, const std::string& base) {
  if (edge_) {
    if (rng_.percent(18)) return edge_name(&scope);
    if (rng_.percent(35)) return base;
    return fresh(base);
  }
  for (;;) {
    std::string name = rng_.percent(50) ? base : base + rng_.pick(kWords);
    if (scope.members.insert(member_key(name)).second) return name;
    name = fresh(name);
    if (scope.members.insert(member_key(name)).second) return name;
  }
}

std::string Generator::sentence() {
  std::string s;
  int n = static_cast<int>(rng_.between(3, 9));
  for (int i = 0; i < n; ++i) {
    if (i > 0) s += ' ';
    s += rng_.pick(kTextWords);
  }
  s[0] = static_cast<char>(s[0] - 'a' + 'A');
  s += '.';
  return s;
}

void Generator::maybe_text(Element& e) {
  if (edge_) {
    if (rng_.percent(10))
      e.set("text", rng_.pick(kOddTexts));
    else if (rng_.percent(15))
      e.set("text", sentence());
  } else if (rng_.percent(65)) {
    e.set("text", sentence());
  }
}

std::string Generator::int_literal(std::uint64_t v) { return rng_.percent(60) ? hex(v) : std::to_string(v); }

std::string Generator::odd_int_literal() {
  static const std::vector<std::string> odd = {"0X1F",
                                               "0x",
                                               "-0x10",
                                               "5.",
                                               "1_000",
                                               "12u",
                                               "",
                                               "  7  ",
                                               "+31",
                                               "--31",
                                               "18446744073709551617",
                                               "-9223372036854775809",
                                               "170141183460469231731687303715884105727",
                                               "340282366920938463463374607431768211456",
                                               "0xFFFFFFFFFFFFFFFFFFFF",
                                               "-1",
                                               "0"};
  return rng_.pick(odd);
}

std::string Generator::odd_opcode() {
  static const std::vector<std::string> odd = {
      "0x", "-1", "4294967296", "0XF7B1", "abc", "0xFFFFFFFF", "99999999999999999999999999999999999999999", "0x0"};
  return rng_.percent(50) ? odd[rng_.below(odd.size())] : hex(rng_.below(0x10000));
}

std::string random_description(const Options& options) { return Generator(options).run(); }

}  // namespace qm::describe
