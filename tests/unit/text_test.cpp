// Tests for the naming and text utilities.

#include "text/text.hpp"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/text_table.hpp"

namespace qm {
namespace {

struct Case {
  std::string_view in;
  std::string_view want;
};

TEST(ToSnakeCase, ConvertsNames) {
  const Case cases[] = {
      {"ObjectId", "object_id"},
      {"ObjectID", "object_id"},
      {"objectID", "object_id"},
      {"RGBColor", "rgb_color"},
      {"ABCDef", "abc_def"},
      {"Vector3D", "vector3d"},
      {"Position3DFoo", "position3d_foo"},
      {"My_Field", "my_field"},
      {"already_snake", "already_snake"},
      {"IDs", "i_ds"},
      {"ObjectIDs", "object_i_ds"},
      {"", ""},
      {"X", "x"},
      {"ABCD", "abcd"},
      {"A1B", "a1b"},
      {"Type", "type"},
      {"aB", "a_b"},         // a final capital after a lower-case letter still opens a word
      {"a B", "a b"},        // a space stops the underscore
      {"__A__B", "__a__b"},  // underscores are kept, never doubled
      {"ÀB", "Àb"},          // a non-ASCII capital is neither lowered nor a word start
      {"éA", "éa"},          // a non-ASCII letter before a capital opens no word
      {"AÉb", "aÉb"},        // a non-ASCII letter after a capital is not lower case
      {"X\xffY", "x\xffy"},  // stray bytes pass through
  };
  for (const auto& c : cases) EXPECT_EQ(to_snake_case(c.in), c.want) << c.in;
}

TEST(PascalizeXmlName, ConvertsNames) {
  const Case cases[] = {
      {"foo_bar", "FooBar"},
      {"FOO_BAR", "FOOBAR"},
      {"_x", "X"},
      {"a__b", "AB"},
      {"trailing_", "Trailing"},
      {"Already", "Already"},
      {"", ""},
      {"_", ""},
      {"a_1", "A1"},
      {"camel_caseName", "CamelCaseName"},  // nothing is lowered
      {"é_à", "ÉÀ"},
      {"ß_x", "SSX"},  // full mapping: one character becomes two
      {"ŉ", "ʼN"},     // U+0149 upper-cases to two characters
      {"ǆ_z", "ǄZ"},   // the upper-case form, not the title-case one
      {"ﬃ", "FFI"},    // ligature expands to three letters
      {"i_ı", "II"},   // root locale: no dotted capital I
      {"𐐨_x", "𐐀X"},   // a character outside the basic plane
      {"\xff_a",
       "\xff"
       "A"},  // a stray byte is copied and counts as a character
      {"\xff"
       "a",
       "\xff"
       "a"},
  };
  for (const auto& c : cases) EXPECT_EQ(pascalize_xml_name(c.in), c.want) << c.in;
}

TEST(SanitizeRustKeyword, EscapesReservedWords) {
  const Case cases[] = {
      {"type", "r#type"},
      {"self", "self_v"},
      {"Self", "Self_v"},
      {"super", "super_v"},
      {"crate", "crate_v"},
      {"data", "data_field"},
      {"offset", "offset_field"},
      {"true", "r#true"},
      {"false", "r#false"},
      {"become", "r#become"},
      {"abstract", "r#abstract"},
      {"await", "r#await"},
      {"Type", "Type"},
      {"union", "union"},
      {"mut", "r#mut"},
      {"macro", "r#macro"},
      {"try", "r#try"},
      {"unsized", "r#unsized"},
      {"macro_rules", "macro_rules"},
      {"gen", "gen"},
      {"types", "types"},
      {"", ""},
      {"r#type", "r#type"},
      {"Data", "Data"},
      {"self_v", "self_v"},
  };
  for (const auto& c : cases) EXPECT_EQ(sanitize_rust_keyword(c.in), c.want) << c.in;
}

TEST(SanitizeConstName, EscapesReservedWordsOnly) {
  const Case cases[] = {
      {"true", "true_alias"},
      {"Self", "Self_alias"},
      {"crate", "crate_alias"},
      {"type", "type_alias"},
      {"virtual", "virtual_alias"},
      {"data", "data"},
      {"offset", "offset"},
      {"union", "union"},
      {"mut", "mut"},
      {"try", "try"},
      {"TRUE", "TRUE"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(sanitize_const_name(c.in), c.want) << c.in;
}

TEST(IsRustIdentifier, AcceptsWhatRustDeclares) {
  struct IdCase {
    std::string_view text;
    bool ok;
  };
  const IdCase cases[] = {
      {"x", true},
      {"_x", true},
      {"__", true},
      {"x1", true},
      {"Self_v", true},
      {"union", true},
      {"\u00e9t\u00e9", true},  // Unicode letters
      {"\u0394\u03b1", true},   // Greek
      {"a\u0301", true},        // a combining mark continues
      {"r#type", true},
      {"r#mut", true},
      {"r#x", true},
      {"", false},
      {"_", false},
      {"1x", false},
      {"a b", false},
      {"a-b", false},
      {"a\nb", false},
      {"\u0301a", false},  // a combining mark cannot start
      {"a\u200d", false},  // nor is a joiner a continuation
      {"\xff", false},     // not UTF-8
      {"type", false},
      {"mut", false},
      {"try", false},
      {"self", false},
      {"r#self", false},
      {"r#Self", false},
      {"r#crate", false},
      {"r#super", false},
      {"r#_", false},
      {"r#", false},
      {"r#1", false},
      {"r#r#x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_rust_identifier(c.text), c.ok) << c.text;
}

// The keyword lists are searched as words of at most eight ASCII letters
// packed into integers: words at the edges of that form must be told apart.
TEST(KeywordLookup, WordsAtTheEdgesOfThePackedForm) {
  struct WordCase {
    std::string_view word;
    std::string_view sanitized;
    std::string_view constant;
    bool identifier;
  };
  const WordCase cases[] = {
      {"continue", "r#continue", "continue_alias", false},  // eight letters
      {"override", "r#override", "override_alias", false},
      {"abstract", "r#abstract", "abstract_alias", false},
      {"continues", "continues", "continues", true},  // nine letters
      {"abstracts", "abstracts", "abstracts", true},
      {"continu", "continu", "continu", true},  // a keyword's prefix
      {"typ", "typ", "typ", true},
      {"types", "types", "types", true},  // a keyword and one letter more
      {"type1", "type1", "type1", true},  // a digit after a keyword
      {"type_", "type_", "type_", true},
      {"tYpe", "tYpe", "tYpe", true},  // case matters
      {"SELF", "SELF", "SELF", true},
      {"selfself", "selfself", "selfself", true},
      {"as", "r#as", "as_alias", false},  // two letters, the shortest
      {"a", "a", "a", true},
      {"unsized", "r#unsized", "unsized", false},
      {"offset", "offset_field", "offset", true},
      {"datas", "datas", "datas", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sanitize_rust_keyword(c.word), c.sanitized) << c.word;
    EXPECT_EQ(sanitize_const_name(c.word), c.constant) << c.word;
    EXPECT_EQ(is_rust_identifier(c.word), c.identifier) << c.word;
  }
  EXPECT_TRUE(is_rust_identifier("r#continue"));
  EXPECT_FALSE(is_rust_identifier("r#Self"));
  EXPECT_TRUE(is_rust_identifier("r#Selfs"));
  EXPECT_EQ(sanitize_rust_keyword(std::string_view("type\0", 5)), std::string_view("type\0", 5));
}

TEST(IdentifierKey, EqualForTheSameDeclaration) {
  EXPECT_EQ(identifier_key("r#type"), identifier_key("type"));
  EXPECT_EQ(identifier_key("Cafe\u0301"), "Caf\u00e9");
  EXPECT_EQ(identifier_key("\u212b"), "\u00c5");  // the Angstrom sign is one with the letter
  EXPECT_NE(identifier_key("x"), identifier_key("X"));
  EXPECT_NE(identifier_key("r#x"), identifier_key("rx"));
  EXPECT_EQ(identifier_key("\U0001D49C"), "\U0001D49C");  // outside the basic plane; NFC keeps it
}

TEST(IdentifierKey, ViewAgreesWithTheKey) {
  for (const std::string_view ident : {"type", "r#type", "r#", "x_1", "Cafe\u0301", "r#Cafe\u0301", "\u212b"}) {
    std::string storage;
    const std::string_view key = identifier_key_view(ident, storage);
    EXPECT_EQ(key, identifier_key(ident)) << ident;
    // An ASCII key is a view of the identifier itself.
    if (storage.empty()) {
      EXPECT_TRUE(key.data() >= ident.data() && key.data() <= ident.data() + ident.size()) << ident;
    }
  }
}

// One byte with its top bit set, at every place of texts up to three words
// long, whatever the byte's neighbours.
TEST(AsciiText, FindsAByteAboveAsciiAnywhere) {
  for (std::size_t size = 0; size <= 24; ++size) {
    const std::string plain(size, '~');
    EXPECT_TRUE(is_ascii(plain)) << size;
    for (std::size_t at = 0; at < size; ++at) {
      for (const char high : {'\x80', '\xC3', '\xFF'}) {
        std::string text = plain;
        text[at] = high;
        EXPECT_FALSE(is_ascii(text)) << size << " " << at;
        // Seen from an offset, so that the words do not start where the text does.
        EXPECT_FALSE(is_ascii(std::string_view(" " + text).substr(1))) << size << " " << at;
      }
    }
  }
}

TEST(AsciiText, AgreesWithTheUnicodeProperties) {
  // Every ASCII character takes a shortcut past the Unicode tables in the
  // identifier check and the documentation escaping; the result must be what
  // the tables give.
  for (int c = 1; c < 0x80; ++c) {
    const std::string ch(1, static_cast<char>(c));
    const bool start = c == '_' || u_hasBinaryProperty(c, UCHAR_XID_START);
    const bool next = u_hasBinaryProperty(c, UCHAR_XID_CONTINUE) != 0;
    EXPECT_EQ(is_rust_identifier("z" + ch), next) << c;
    EXPECT_EQ(is_rust_identifier(ch + "z"), start) << c;
    const bool space = u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) != 0;
    const std::string doc = escape_doc("a" + ch + "b");
    if (space) {
      EXPECT_EQ(doc, "a b") << c;
    } else {
      EXPECT_EQ(doc, one_line_comment_text("a" + ch + "b")) << c;
    }
    EXPECT_EQ(trim_unicode_ws(ch + "x" + ch), space ? "x" : ch + "x" + ch) << c;
    EXPECT_EQ(identifier_key("r#" + ch), ch) << c;
  }
}

TEST(OneLineCommentText, KeepsTextOnOneLine) {
  const Case cases[] = {
      {"plain \\ text \"q\"\t\u00e9", "plain \\ text \"q\"\t\u00e9"},
      {"a\nb\r\nc", "a\\nb\\r\\nc"},
      {"\u2028\u2029", "\\u{2028}\\u{2029}"},
      {"\u202a\u202b\u202c\u202d\u202e", "\\u{202a}\\u{202b}\\u{202c}\\u{202d}\\u{202e}"},
      {"\u2066\u2067\u2068\u2069", "\\u{2066}\\u{2067}\\u{2068}\\u{2069}"},
      {"\u2065\u206a\u2029x", "\u2065\u206a\\u{2029}x"},
      {"\v\f\x1f\x7f\u0085", "\\u{b}\\u{c}\\u{1f}\\u{7f}\\u{85}"},
      {"a\xff"
       "b",
       "a\ufffdb"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(one_line_comment_text(c.in), c.want) << c.in;
  EXPECT_EQ(one_line_comment_text(std::string_view("a\0b", 3)), "a\\u{0}b");
}

TEST(EscapeDoc, CollapsesWhiteSpace) {
  const Case cases[] = {
      {"  two\r\n lines\t here ", "two lines here"},
      {"", ""},
      {" \t\r\n ", ""},
      {"one", "one"},
      {"a\r\rb", "a b"},
      {"a\u00A0\u2003\u3000b", "a b"},             // non-ASCII White_Space
      {"x\u0085y\u2028z", "x y z"},                // next line and line separator
      {"a\u200Bb", "a\u200Bb"},                    // zero width space is not White_Space
      {"/* <a> & \"b\" */", "/* <a> & \"b\" */"},  // nothing else is escaped
      {"a \x01 b", "a \\u{1} b"},                  // a control character between words
      {"ascii only, ends in space ", "ascii only, ends in space"},
      {"caf\u00e9  au lait", "caf\u00e9 au lait"},  // a run of ASCII after other text
      {"\xff  \xfe", "\uFFFD \uFFFD"},              // the comment stays valid UTF-8
      {"a\u202Eb\u2069", "a\\u{202e}b\\u{2069}"},   // bidirectional controls are escaped
  };
  for (const auto& c : cases) EXPECT_EQ(escape_doc(c.in), c.want) << c.in;
}

TEST(EscapeXmlAttrForDoc, ReplacesAngleBrackets) {
  const Case cases[] = {
      {"a < b && c > d", "a &lt; b && c &gt; d"},
      {"<<>>", "&lt;&lt;&gt;&gt;"},
      {"&lt; \"q\"'", "&lt; \"q\"'"},
      {"a\nb\rc\u202Ed", "a\\nb\\rc\\u{202e}d"},  // echoed in a comment: kept on one line
      {"x\u2028y\tz", "x\\u{2028}y\tz"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(escape_xml_attr_for_doc(c.in), c.want) << c.in;
}

TEST(TrimUnicodeWs, TrimsBothEnds) {
  const Case cases[] = {
      {"", ""},
      {"   ", ""},
      {"\u00A0 x y\u3000\n", "x y"},
      {"\u2029\u0085", ""},
      {"é", "é"},
      {"\u200Bx\u200B", "\u200Bx\u200B"},
      {"\xA9 ", "\xA9"},
      {" \xC3\xA9\xA9 ", "\xC3\xA9\xA9"},
      {"\xE3\x80 ", "\xE3\x80"},  // a cut-off ideographic space is not White_Space
  };
  for (const auto& c : cases) EXPECT_EQ(trim_unicode_ws(c.in), c.want) << c.in;
  const std::string_view text = "  ab ";
  EXPECT_EQ(trim_unicode_ws(text).data(), text.data() + 2);
}

TEST(DebugStr, EscapesLikeRust) {
  const Case cases[] = {
      {"", R"("")"},
      {"a\"b\\c\n", R"("a\"b\\c\n")"},
      {"'", R"("'")"},
      {std::string_view("\t\r\0", 3), R"("\t\r\0")"},
      {"\x01\x1f\x7f", R"("\u{1}\u{1f}\u{7f}")"},
      {"\u0085", R"("\u{85}")"},
      {"\u00A0", R"("\u{a0}")"},
      {"a b", R"("a b")"},
      {"\u200B", R"("\u{200b}")"},
      {"e\u0301", R"("e\u{301}")"},
      {"\u2028\u2029", R"("\u{2028}\u{2029}")"},
      {"\uE000", R"("\u{e000}")"},
      {"\U000E0001", R"("\u{e0001}")"},
      {"\uFEFF", R"("\u{feff}")"},
      {"é Ã 中 😀", R"("é Ã 中 😀")"},
      {"\xff", "\"\uFFFD\""},
      {"\xC3", "\"\uFFFD\""},
      {"ab\"cd\\ef", R"("ab\"cd\\ef")"},          // escapes inside runs of plain text
      {"abc\u00e9def\n", "\"abc\u00e9def\\n\""},  // plain text around other characters
      {"~ !", R"("~ !")"},                        // the ends of printable ASCII
  };
  for (const auto& c : cases) EXPECT_EQ(debug_str(c.in), c.want) << c.in;
}

TEST(DebugChar, EscapesLikeRust) {
  const struct {
    char32_t c;
    std::string_view want;
  } cases[] = {
      {U'a', "'a'"},
      {U'\'', R"('\'')"},
      {U'"', R"('"')"},
      {U'\\', R"('\\')"},
      {U'\0', R"('\0')"},
      {U'\n', R"('\n')"},
      {0xC3, "'Ã'"},
      {0x85, R"('\u{85}')"},
      {0x301, R"('\u{301}')"},
      {0x20, "' '"},
      {0x3000, R"('\u{3000}')"},
      {0xD800, R"('\u{d800}')"},
      {0x10FFFF, R"('\u{10ffff}')"},
      {0x1F600, "'😀'"},
      {0x110000, R"('\u{110000}')"},
  };
  for (const auto& c : cases) EXPECT_EQ(debug_char(c.c), c.want) << static_cast<unsigned>(c.c);
}

TEST(DebugOptStr, ShowsPresence) {
  EXPECT_EQ(debug_opt_str(std::nullopt), "None");
  EXPECT_EQ(debug_opt_str(std::string_view("x")), R"(Some("x"))");
  EXPECT_EQ(debug_opt_str(std::string_view("")), R"(Some(""))");
  EXPECT_EQ(debug_opt_str(std::string_view("\"")), R"(Some("\""))");
}

TEST(ToDecimal, FormatsEdgeValues) {
  const i128 min = static_cast<i128>(u128{1} << 127);
  const i128 max = static_cast<i128>((u128{1} << 127) - 1);
  const struct {
    i128 v;
    std::string_view want;
  } signed_cases[] = {
      {0, "0"},
      {-1, "-1"},
      {9, "9"},
      {10, "10"},
      {-10, "-10"},
      {static_cast<i128>(INT64_MIN), "-9223372036854775808"},
      {static_cast<i128>(UINT64_MAX), "18446744073709551615"},
      {max, "170141183460469231731687303715884105727"},
      {min, "-170141183460469231731687303715884105728"},
  };
  for (const auto& c : signed_cases) EXPECT_EQ(to_decimal(c.v), c.want);

  const u128 umax = ~u128{0};
  EXPECT_EQ(to_decimal(umax), "340282366920938463463374607431768211455");
  EXPECT_EQ(to_decimal(u128{0}), "0");
  EXPECT_EQ(to_decimal(u128{1} << 64), "18446744073709551616");
}

TEST(ToHexUpper, PadsAndUpperCases) {
  const struct {
    u128 v;
    std::size_t min_digits;
    std::string_view want;
  } cases[] = {
      {0, 1, "0"},
      {0, 0, "0"},
      {0, 4, "0000"},
      {0xF7B1, 1, "F7B1"},
      {0xF7B1, 4, "F7B1"},
      {0xF7B1, 8, "0000F7B1"},
      {0xabcdef, 2, "ABCDEF"},
      {u128{1} << 64, 1, "10000000000000000"},
      {~u128{0}, 1, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"},
      {~u128{0}, 40, "00000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_hex_upper(c.v, c.min_digits), c.want) << c.want;
  EXPECT_EQ(to_hex_upper(0x1A), "1A");
}

TEST(Emit, SubstitutesPlaceholders) {
  const struct {
    std::string_view tmpl;
    std::string_view want;
  } cases[] = {
      {"", ""},
      {"plain text\n", "plain text\n"},
      {"let $name$ = $ty$::read($name$);", "let count = u32::read(count);"},
      {"$name$$ty$", "countu32"},
      {"$$", "$"},
      {"a$$b$$$$", "a$b$$"},
      {"$$name$$", "$name$"},
      {"$name$$$", "count$"},
      {"$$$name$", "$count"},
      {"$empty$|", "|"},
      {"$inner$", "$name$"},       // values are not scanned again
      {"$na$|$name$", "N|count"},  // a name that begins another one
      {"$name$$na$", "countN"},
      {"$na$$$", "N$"},
  };
  for (const auto& c : cases) {
    std::string out = ">";
    emit(out, c.tmpl, {{"name", "count"}, {"ty", "u32"}, {"empty", ""}, {"inner", "$name$"}, {"na", "N"}});
    std::string want = ">";
    want += c.want;
    EXPECT_EQ(out, want) << c.tmpl;
  }
}

TEST(Emit, AppendsManyTimes) {
  std::string out;
  for (int i = 0; i < 1000; ++i) emit(out, "$a$\n", {{"a", "xy"}});
  EXPECT_EQ(out.size(), 3000u);
  EXPECT_EQ(out.substr(0, 6), "xy\nxy\n");
}

TEST(Printer, IndentsEveryLineThatIsNotBlank) {
  struct {
    std::size_t indent;
    bool flat;
    std::size_t in;  // levels further in
    std::string_view tmpl, want;
  } cases[] = {
      {0, false, 0, "a $x$\n    b\n", "a 1\n    b\n"},
      {8, false, 0, "a $x$\n    b\n", "        a 1\n            b\n"},
      {8, false, 2, "a\n    b\n", "                a\n                    b\n"},
      {8, true, 0, "a\n    b\n        c\n", "        a\n        b\n        c\n"},  // flat: one indent
      {8, true, 3, "  a\n", "        a\n"},                                        // and stays flat inside
      {4, false, 0, "a\n\n   \nb\n", "    a\n\n\n    b\n"},                        // blank lines stay bare
      {4, true, 0, "$x$ $x$\n", "    1 1\n"},
      {4, false, 0, "", ""},
  };
  for (const auto& c : cases) {
    std::string out = "prefix:\n";
    Printer(out, c.indent, c.flat).in(c.in)(c.tmpl, {{"x", "1"}});
    EXPECT_EQ(out, "prefix:\n" + std::string(c.want)) << c.tmpl << " at " << c.indent;
  }
}

TEST(TextPool, KeptTextsStayWhereTheyAre) {
  // Texts from empty to longer than a block, many of them, so that they land
  // at every position of the blocks and in blocks of their own.
  TextPool pool;
  std::vector<std::pair<std::string_view, std::string>> kept;
  for (std::size_t i = 0; i < 3000; ++i) {
    const std::size_t size = (i * 37) % 1500;
    const std::string head(size, static_cast<char>('a' + i % 26));
    const std::string tail = i % 3 == 0 ? std::to_string(i) : std::string();
    kept.emplace_back(pool.keep(head, tail), head + tail);
  }
  for (const auto& [view, want] : kept) ASSERT_EQ(view, want);
  EXPECT_TRUE(pool.keep("").empty());
}

// The flat table against an ordered map over the same operations: keys that
// begin one another, the empty key, and enough of them to grow the table many
// times. A table that copies its keys is given texts that are gone once
// inserted; one that keeps views is given texts that stay.
template <bool kCopiesKeys>
void check_text_table_against_map() {
  TextTable<int, kCopiesKeys> table;
  std::map<std::string, int, std::less<>> want;
  std::deque<std::string> kept;
  const auto key_of = [](std::size_t i) {
    std::string key(i % 7, static_cast<char>('a' + i % 3));
    return key + std::to_string(i % 1500);
  };
  for (std::size_t i = 0; i < 6000; ++i) {
    // Room made at once, with keys already in and with none.
    if (i == (kCopiesKeys ? 2000 : 0)) table.reserve(5000);
    std::string key = key_of(i * 7919 % 4000);
    std::string_view given = key;
    if constexpr (!kCopiesKeys) given = kept.emplace_back(std::move(key));
    const int value = static_cast<int>(i);
    if (i % 3 == 0) {
      table.insert_or_assign(given, value);
      want.insert_or_assign(std::string(given), value);
    } else {
      const auto [held, fresh] = table.try_emplace(given, value);
      const auto [it, want_fresh] = want.try_emplace(std::string(given), value);
      ASSERT_EQ(fresh, want_fresh) << given;
      ASSERT_EQ(held, it->second) << given;
    }
  }
  table[""] = -1;
  want[""] = -1;
  ASSERT_EQ(table.size(), want.size());
  for (std::size_t i = 0; i < 4000; ++i) {
    const std::string key = key_of(i);
    const int* found = table.find(key);
    const auto it = want.find(key);
    ASSERT_EQ(found != nullptr, it != want.end()) << key;
    if (found != nullptr) {
      EXPECT_EQ(*found, it->second) << key;
      EXPECT_EQ(table.at(key), it->second) << key;
    }
    // A view of part of a key finds only the key it shows.
    EXPECT_EQ(table.contains(std::string_view(key).substr(1)), want.contains(std::string_view(key).substr(1))) << key;
  }
  EXPECT_EQ(table.at(""), -1);
  const TextTable<int, kCopiesKeys> moved = std::move(table);
  EXPECT_EQ(moved.size(), want.size());
  EXPECT_EQ(moved.at(want.rbegin()->first), want.rbegin()->second);
}

TEST(TextTable, AgreesWithAMap) {
  check_text_table_against_map<true>();
  check_text_table_against_map<false>();
}

TEST(TextTable, SetsAskedByCountAndInsert) {
  TextTable<NoValue> set{"alpha", "beta"};
  EXPECT_EQ(set.count("alpha"), 1u);
  EXPECT_EQ(set.count("alph"), 0u);
  EXPECT_FALSE(set.insert("beta"));
  EXPECT_TRUE(set.insert("gamma"));
  EXPECT_EQ(set.size(), 3u);
  const TextTable<NoValue> none;
  EXPECT_FALSE(none.contains(""));
  EXPECT_EQ(none.find("alpha"), nullptr);
}

// A built model is returned through a Result by the hundred thousand: it goes
// into place with one move (or one copy), not through a parameter first.
TEST(Result, TakesAValueWithOneMoveOrCopy) {
  struct Counted {
    int moves = 0;
    int copies = 0;
    Counted() = default;
    Counted(const Counted& other) : moves(other.moves), copies(other.copies + 1) {}
    Counted(Counted&& other) noexcept : moves(other.moves + 1), copies(other.copies) {}
    Counted& operator=(const Counted&) = delete;
    Counted& operator=(Counted&&) = delete;
    ~Counted() = default;
  };
  const auto build = [](bool ok) -> Result<Counted> {
    Counted built;
    if (!ok) return fail("no value");
    return built;
  };
  const Result<Counted> moved = build(true);
  ASSERT_TRUE(moved.ok());
  EXPECT_EQ(moved->moves, 1);
  EXPECT_EQ(moved->copies, 0);
  const Counted kept;
  const Result<Counted> copied = kept;
  EXPECT_EQ(copied->moves, 0);
  EXPECT_EQ(copied->copies, 1);
  const Result<Counted> failed = build(false);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.reason(), "no value");
}

TEST(EmitDeathTest, AbortsOnTemplateBugs) {
  std::string out;
  EXPECT_DEATH(emit(out, "let $missing$ = 1;", {{"present", "x"}}), "no value for placeholder.*missing");
  EXPECT_DEATH(emit(out, "price: $5", {}), "unclosed placeholder");
  EXPECT_DEATH(emit(out, "a $b c$ d", {{"b c", "x"}}), "malformed placeholder");
  EXPECT_DEATH(emit(out, "a $b c$ d", {{"b", "x"}}), "malformed placeholder");
  EXPECT_DEATH(emit(out, "$name", {{"name", "x"}}), "unclosed placeholder");
  EXPECT_DEATH(emit(out, "$Name$", {{"name", "x"}}), "no value for placeholder.*Name");
}

}  // namespace
}  // namespace qm
