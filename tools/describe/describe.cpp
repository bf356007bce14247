// The random description generator. One `Generator` writes one document:
// enums first (so bodies can use them), then typedefs and data types, then the
// message sections. Every element is serialised as soon as it is complete, so
// a large document never exists as a tree.
//
// The generator tracks what a body has declared so far (numeric fields, enum
// fields, fields inside if branches or mask maps, subfields) so that most
// lengths, tests, discriminators and mask-map parents refer to fields the code
// generator will accept. In the edge profile a share of every choice is drawn
// from lists of awkward names, literals and expression shapes instead.

#include "describe.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rng.hpp"
#include "text/text.hpp"

namespace qm::describe {

std::string escape_xml_attr(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

// ---- A minimal element tree, for one top-level element at a time ----------

struct Element {
  std::string tag;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::vector<Element> children;

  explicit Element(std::string t) : tag(std::move(t)) {}
  // Sets an attribute, replacing an earlier value of the same name.
  Element& set(std::string key, std::string value) {
    for (auto& a : attrs) {
      if (a.first == key) {
        a.second = std::move(value);
        return *this;
      }
    }
    attrs.emplace_back(std::move(key), std::move(value));
    return *this;
  }
};

void serialize(const Element& e, std::string& out, int depth) {
  out.append(static_cast<std::size_t>(2 * depth), ' ');
  out += '<';
  out += e.tag;
  for (const auto& [key, value] : e.attrs) {
    out += ' ';
    out += key;
    out += "=\"";
    out += escape_xml_attr(value);
    out += '"';
  }
  if (e.children.empty()) {
    out += "/>\n";
    return;
  }
  out += ">\n";
  for (const auto& child : e.children) serialize(child, out, depth + 1);
  out.append(static_cast<std::size_t>(2 * depth), ' ');
  out += "</";
  out += e.tag;
  out += ">\n";
}

// ---- Word lists ------------------------------------------------------------

const std::vector<std::string> kWords = {
    "Amount",   "Armor",  "Bonus",    "Burden",   "Cell",   "Channel",  "Charges", "Color",      "Cooldown", "Damage",
    "Duration", "Effect", "Entry",    "Frame",    "Guild",  "Heading",  "Health",  "Icon",       "Index",    "Item",
    "Kind",     "Level",  "Light",    "Mana",     "Mode",   "Owner",    "Portal",  "Price",      "Quest",    "Radius",
    "Range",    "Rank",   "Ratio",    "Region",   "Scale",  "Sequence", "Skill",   "Slot",       "Source",   "Speed",
    "Spell",    "Stack",  "Stamina",  "State",    "Style",  "Target",   "Tier",    "Title",      "Value",    "Weight",
    "Zone",     "Flags",  "Position", "Velocity", "Vendor", "Trade",    "Fellow",  "Allegiance", "Chat",     "Book"};

const std::vector<std::string> kTextWords = {
    "the",    "player", "server", "client", "sends", "when", "an",    "object", "changes", "its",   "state",
    "and",    "this",   "value",  "is",     "used",  "for",  "every", "item",   "in",      "range", "of",
    "a",      "list",   "entry",  "count",  "may",   "be",   "zero",  "flags",  "select",  "which", "fields",
    "follow", "on",     "wire",   "after",  "login", "only", "older", "builds", "ignore",  "it"};

const std::vector<std::string> kKeywords = {
    "as",       "break", "const",  "continue", "crate",   "else",     "enum",   "extern", "false", "fn",     "for",
    "if",       "impl",  "in",     "let",      "loop",    "match",    "mod",    "move",   "mut",   "pub",    "ref",
    "return",   "self",  "Self",   "static",   "struct",  "super",    "trait",  "true",   "type",  "unsafe", "use",
    "where",    "while", "async",  "await",    "dyn",     "abstract", "become", "box",    "do",    "final",  "macro",
    "override", "priv",  "typeof", "unsized",  "virtual", "yield",    "try",    "union",  "Type",  "Fn",     "Match"};

const std::vector<std::string> kDecoderLocals = {"data",      "offset", "n",   "__elem", "__k",   "__v",
                                                 "__mm_bits", "__disc", "raw", "pad",    "Data",  "Offset",
                                                 "N",         "other",  "x",   "v",      "_other"};

const std::vector<std::string> kPreludeNames = {
    "Result", "Option",       "Vec",       "String", "WireBool", "Ok",   "Err",   "Some",      "None",  "Box",
    "u8",     "bool",         "i128",      "usize",  "Self",     "str",  "u32",   "f32",       "u64",   "i32",
    "OPCODE", "OPCODE_INDEX", "read_from", "std",    "core",     "Copy", "Clone", "PartialEq", "Debug", "Default"};

const std::vector<std::string> kOddNames = {"",
                                            "_",
                                            "1st",
                                            "9Lives",
                                            "\xC3\x9Cn\xC3\xAF\x63ode",
                                            "\xE5\x90\x8D\xE5\x89\x8D",
                                            "with space",
                                            "line\nfeed",
                                            "cr\rname",
                                            "evil\xE2\x80\xAEname",
                                            "a-b",
                                            "a.b",
                                            "tab\tname",
                                            "\xCE\xA9",
                                            "caf\xC3\xA9",
                                            "__",
                                            "_x",
                                            "X_",
                                            "ABC_",
                                            "r#type",
                                            "SELF",
                                            "x__y",
                                            "\xC3\x89lan",
                                            "IDs",
                                            "ObjectIDs",
                                            "A1B"};

const std::vector<std::string> kOddTexts = {"",
                                            "   ",
                                            "line one\nline two",
                                            "carriage\rreturn",
                                            "bidi \xE2\x80\xAE override",
                                            "isolate \xE2\x81\xA6x\xE2\x81\xA9 here",
                                            "<b>bold</b> & \"quoted\"",
                                            "back\\slash `tick`",
                                            "/// nested doc",
                                            "*/ ends /* a comment",
                                            "tab\there",
                                            "trailing \\",
                                            "line sep\xE2\x80\xA8here",
                                            "emoji \xF0\x9F\x98\x80 text"};

// The C# names the code generator knows, with the numeric kind each gives.
enum class Num { None, U8, U16, U32, U64, I16, I32, I64, F32, F64, Bool };

int bit_width(Num n) {
  switch (n) {
    case Num::U8:
      return 8;
    case Num::U16:
    case Num::I16:
      return 16;
    case Num::U64:
    case Num::I64:
    case Num::F64:
      return 64;
    default:
      return 32;
  }
}
bool is_integer(Num n) { return n >= Num::U8 && n <= Num::I64; }
bool is_signed(Num n) { return n == Num::I16 || n == Num::I32 || n == Num::I64; }
bool is_float(Num n) { return n == Num::F32 || n == Num::F64; }

struct Builtin {
  const char* name;
  Num num;
};
const std::vector<Builtin> kBuiltins = {{"bool", Num::Bool},       {"byte", Num::U8},      {"short", Num::I16},
                                        {"ushort", Num::U16},      {"int", Num::I32},      {"uint", Num::U32},
                                        {"long", Num::I64},        {"ulong", Num::U64},    {"float", Num::F32},
                                        {"double", Num::F64},      {"string", Num::None},  {"String", Num::None},
                                        {"WString", Num::None},    {"ObjectId", Num::U32}, {"LandcellId", Num::U32},
                                        {"PackedDWORD", Num::U32}, {"DataId", Num::U32}};

struct EnumParent {
  const char* name;
  Num num;
};
const std::vector<EnumParent> kEnumParents = {{"byte", Num::U8},   {"ushort", Num::U16}, {"uint", Num::U32},
                                              {"ulong", Num::U64}, {"int", Num::I32},    {"long", Num::I64}};

const std::vector<std::string> kAlignTypes = {"byte", "bool",  "short", "ushort", "int",
                                              "uint", "float", "long",  "ulong",  "double"};

// What the code generator declares for a member named `name`, in the form
// in which Rust compares identifiers: `Data` and `DataField` both give
// `data_field`, `Type` gives `type` (declared as `r#type`).
std::string member_key(std::string_view name) { return identifier_key(sanitize_rust_keyword(to_snake_case(name))); }

std::string hex(std::uint64_t v) {
  static const char* digits = "0123456789ABCDEF";
  if (v == 0) return "0x0";
  std::string s;
  while (v != 0) {
    s.insert(s.begin(), digits[v & 0xF]);
    v >>= 4;
  }
  return "0x" + s;
}

// ---- What a body has declared so far -------------------------------------

// How a field is visible to later constructs of its body.
enum class Vis {
  Plain,     // a local of the decoder holding the value
  Optional,  // declared in an <if> branch: read as the value inside the branch, as 0 when absent after it
  Gated,     // declared in a body-level <maskmap>: found only as a mask-map parent
  Hidden     // declared in a mask map inside a case: not visible at all
};

// Whether later lengths, tests, discriminators and parents can name the field.
bool readable(Vis vis) { return vis == Vis::Plain || vis == Vis::Optional; }

struct Known {
  std::string xml;
  Num num = Num::None;  // numeric kind as a sibling; None for strings, structs, plain enums
  int enum_index = -1;  // an ordinary (non-mask) enum field
  int mask_enum = -1;   // a field of a mask enum (numeric, declared as its raw integer)
  Vis vis = Vis::Plain;
};

struct SubRef {
  std::string xml;
  Num parent_num = Num::None;
  bool safe = false;  // its expression cannot fail at run time
  Vis vis = Vis::Plain;
};

struct Scope {
  std::vector<Known> fields;
  std::vector<SubRef> subs;
  std::set<std::string> members;  // member_key of every member (the realistic profile keeps them unique)
};

enum class Site { Body, Branch, Case, Mask };

struct EnumInfo {
  std::string name;
  Num repr = Num::None;
  bool mask = false;
  std::vector<std::pair<std::string, std::uint64_t>> variants;  // distinct values, first name wins
};

struct TypeRef {
  std::string name;
  Num num = Num::None;
  int enum_index = -1;
  int mask_enum = -1;
};

class Generator {
 public:
  explicit Generator(const Options& options)
      : rng_(options.start), edge_(options.profile == Profile::Edge), size_(options.size) {
    if (size_ == 0) size_ = edge_ ? 6000 : 1000000;
  }

  std::string run() {
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

 private:
  Rng rng_;
  bool edge_;
  std::size_t size_;
  int counter_ = 0;
  std::vector<EnumInfo> enums_;
  std::set<std::string> global_names_;  // realistic: every enum, data type and message name
  struct DataType {
    std::string name;
    int rank = 0;
  };
  std::vector<DataType> datatypes_;
  std::vector<std::pair<std::string, Num>> typedefs_;
  std::vector<std::string> switch_types_;  // enum types written for switches of data types
  int current_rank_ = -1;                  // rank of the data type being generated, -1 in messages
  std::string owner_;                      // full Rust name of the struct being generated
  std::set<std::string> switch_discs_;     // discriminator names switched on in that struct
  std::uint32_t next_opcode_ = 0x0001;

  std::size_t share(double fraction) const { return static_cast<std::size_t>(static_cast<double>(size_) * fraction); }

  // ---- Names and texts ----

  std::string fresh(const std::string& base) { return base + std::to_string(++counter_); }

  std::string global_name(const std::string& base) {
    for (;;) {
      std::string name = rng_.percent(30) ? base : base + rng_.pick(kWords);
      name = fresh(name);
      if (global_names_.insert(name).second) return name;
    }
  }

  std::string edge_name(const Scope* scope) {
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
          if (rng_.percent(15)) return "_" + to_snake_case(k.xml) + "_maxsize";
          return to_snake_case(k.xml) + rng_.pick(suffixes);
        }
        // Two draws, one statement each: the operands of `+` may be
        // evaluated in either order, and compilers differ.
        const std::string& suffix = rng_.pick(suffixes);
        return rng_.pick(kWords) + suffix;
      }
    }
  }

  // A member name: unique in the struct for the realistic profile; in the edge
  // profile often a bare word (so repeats happen) and sometimes awkward.
  std::string member_name(Scope& scope, const std::string& base) {
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

  std::string sentence() {
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

  void maybe_text(Element& e) {
    if (edge_) {
      if (rng_.percent(10))
        e.set("text", rng_.pick(kOddTexts));
      else if (rng_.percent(15))
        e.set("text", sentence());
    } else if (rng_.percent(65)) {
      e.set("text", sentence());
    }
  }

  // ---- Literals ----

  std::string int_literal(std::uint64_t v) { return rng_.percent(60) ? hex(v) : std::to_string(v); }

  std::string odd_int_literal() {
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

  // ---- Enums ----

  std::string enums_section() {
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

  Element enum_element() {
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

  // ---- Types ----

  void plan_datatypes() {
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

  std::string types_section(bool first) {
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

  void typedefs(std::string& out) {
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

  Element datatype_element(const DataType& d) {
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

  std::string odd_opcode() {
    static const std::vector<std::string> odd = {
        "0x", "-1", "4294967296", "0XF7B1", "abc", "0xFFFFFFFF", "99999999999999999999999999999999999999999", "0x0"};
    return rng_.percent(50) ? odd[rng_.below(odd.size())] : hex(rng_.below(0x10000));
  }

  // ---- Message sections ----

  Element message(const std::string& prefix, std::set<std::string>& names) {
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

  // Most messages are short; a few are long.
  int message_items() {
    std::uint64_t roll = rng_.below(100);
    if (roll < 55) return static_cast<int>(rng_.between(0, 2));
    if (roll < 90) return static_cast<int>(rng_.between(3, 4));
    return static_cast<int>(rng_.between(5, 8));
  }

  std::string messages_section() {
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

  std::string actions_section(const std::string& tag, const std::string& prefix, double fraction) {
    std::string out = "  <" + tag + ">\n";
    std::set<std::string> names;
    std::size_t budget = share(fraction);
    int n = edge_ ? static_cast<int>(rng_.between(1, 5)) : 1;
    for (int i = 0; edge_ ? i < n : out.size() < budget; ++i) serialize(message(prefix, names), out, 2);
    out += "  </" + tag + ">\n";
    return out;
  }

  // ---- Types of fields ----

  TypeRef pick_type(bool allow_struct, bool allow_strings = true) {
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

  // ---- Bodies ----

  void body(Element& parent, Scope& scope, Site site, int depth, int items) {
    for (int i = 0; i < items; ++i) item(parent, scope, site, depth);
  }

  Vis vis_for(Site site) { return site == Site::Branch ? Vis::Optional : Vis::Plain; }

  void item(Element& parent, Scope& scope, Site site, int depth) {
    std::uint64_t roll = rng_.below(100);
    if (edge_ && roll < 2) {
      static const std::vector<std::string> odd = {"note", "mask", "table", "switch", "if", "maskmap", "case", "true"};
      Element e(rng_.pick(odd));
      e.set("name", "X");
      parent.children.push_back(e);
      return;
    }
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

  void align(Element& parent) {
    Element a("align");
    if (edge_ && rng_.percent(8)) {
      if (rng_.percent(50)) a.set("type", rng_.percent(50) ? "WString" : "");
    } else {
      a.set("type", rng_.pick(kAlignTypes));
    }
    parent.children.push_back(a);
  }

  // A field of the given visibility; registers it (and its subfields) in the scope.
  void field(Element& parent, Scope& scope, Vis vis, int depth) {
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
      for (int i = 0; i < n; ++i) subfield(f, scope, name, type.num, vis);
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

  void subfield(Element& f, Scope& scope, const std::string& parent_name, Num parent_num, Vis vis) {
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
    bool safe = true;
    std::string expr = subfield_expr(parent_name, parent_num, safe);
    s.set("name", name).set("type", type).set("value", expr);
    maybe_text(s);
    f.children.push_back(s);
    scope.subs.push_back(SubRef{name, parent_num, safe, vis});
  }

  // A value expression over the parent field P of numeric kind `num`.
  std::string subfield_expr(const std::string& p, Num num, bool& safe) {
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

  // Fields usable as a number by later constructs (lengths, tests, discriminators).
  std::vector<const Known*> numeric(const Scope& scope, bool integers_only) {
    std::vector<const Known*> out;
    for (const auto& k : scope.fields) {
      if (!readable(k.vis) || k.num == Num::None) continue;
      if (integers_only && !is_integer(k.num)) continue;
      out.push_back(&k);
    }
    return out;
  }

  // Names a numeric field declared earlier, adding a count field first when
  // the scope has none.
  std::string count_source(Element& parent, Scope& scope, bool integers_only, Vis inserted = Vis::Plain) {
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

  // Any earlier name, valid or not, for the edge profile's wrong references.
  std::string wrong_reference(const Scope& scope) {
    std::vector<std::string> names;
    for (const auto& k : scope.fields) {
      if (!readable(k.vis) || k.num == Num::None) names.push_back(k.xml);
    }
    if (!names.empty() && rng_.percent(70)) return rng_.pick(names);
    return rng_.percent(50) ? "Later" : "count";
  }

  std::string length_expr(Element& parent, Scope& scope, Vis inserted) {
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

  void vector(Element& parent, Scope& scope, Site site) {
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

  void table(Element& parent, Scope& scope) {
    Element t("table");
    std::string length = length_expr(parent, scope, Vis::Plain);
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

  void packable(Element& parent, Scope& scope, Vis vis) {
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

  std::string if_test(Element& parent, Scope& scope) {
    if (edge_ && rng_.percent(35)) {
      std::string a = rng_.percent(50) ? wrong_reference(scope) : count_source(parent, scope, false);
      std::string b = count_source(parent, scope, false);
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
      n = count_source(parent, scope, true);
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

  void if_block(Element& parent, Scope& scope, Site site, int depth) {
    (void)site;
    Element e("if");
    e.set("test", if_test(parent, scope));
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

  // A branch field that repeats the name of an earlier field (of the body, of
  // an earlier block or of the other branch), with a type of its own: a later
  // reference means whichever field the code generator's lookup keeps.
  void repeated_name_field(Element& branch, Scope& scope) {
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

  void maskmap(Element& parent, Scope& scope, Site site) {
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

  void switch_block(Element& parent, Scope& scope, int depth) {
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
};

}  // namespace

std::string random_description(const Options& options) { return Generator(options).run(); }

}  // namespace qm::describe
