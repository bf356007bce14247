// The vocabulary of random descriptions.

#include "vocabulary.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.hpp"

namespace qm::describe {

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

const std::vector<Builtin> kBuiltins = {{"bool", Num::Bool},       {"byte", Num::U8},      {"short", Num::I16},
                                        {"ushort", Num::U16},      {"int", Num::I32},      {"uint", Num::U32},
                                        {"long", Num::I64},        {"ulong", Num::U64},    {"float", Num::F32},
                                        {"double", Num::F64},      {"string", Num::None},  {"String", Num::None},
                                        {"WString", Num::None},    {"ObjectId", Num::U32}, {"LandcellId", Num::U32},
                                        {"PackedDWORD", Num::U32}, {"DataId", Num::U32}};

const std::vector<EnumParent> kEnumParents = {{"byte", Num::U8},   {"ushort", Num::U16}, {"uint", Num::U32},
                                              {"ulong", Num::U64}, {"int", Num::I32},    {"long", Num::I64}};

const std::vector<std::string> kAlignTypes = {"byte", "bool",  "short", "ushort", "int",
                                              "uint", "float", "long",  "ulong",  "double"};

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

}  // namespace qm::describe
