// The extended C# expression translator: tokens, typing by C#'s rules, the
// Rust it writes, every refusal, its bounds, and the decoder's names.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "expr/expr.hpp"

namespace qm {
namespace {

template <class T>
std::string outcome(const Result<T>& r) {
  if (!r) return "ERR " + r.reason();
  return *r;
}

struct Case {
  std::string input;
  std::string want;
};

// One field of every type, named after it, read as a local of its name; a
// branch field read through its option, enum raw bits through a closure, a
// text field, and two constants.
Result<ResolvedName> fake_resolve(std::string_view name) {
  static const std::map<std::string, std::string, std::less<>> kFields = {
      {"sb", "i8"}, {"b", "u8"},   {"s", "i16"}, {"us", "u16"}, {"i", "i32"},     {"u", "u32"},
      {"l", "i64"}, {"ul", "u64"}, {"f", "f32"}, {"d", "f64"},  {"flag", "bool"}, {"Text", "String"},
  };
  if (const auto it = kFields.find(name); it != kFields.end()) {
    return ResolvedName{it->first, it->second, {{it->first, LocalRead::Expression}}, {}};
  }
  if (name == "Opt") return ResolvedName{"opt.unwrap_or_default()", "u32", {{"opt", LocalRead::Value}}, {}};
  if (name == "Bits") return ResolvedName{"kind.map_or(0u8, |v| v as u8)", "u8", {{"kind", LocalRead::Value}}, {}};
  if (name == "Kind.Three") return ResolvedName{"3u8", "u8", {}, 3};
  if (name == "Sign.Minus") return ResolvedName{"(-5i32)", "i32", {}, -5};
  return fail("no field " + debug_str(name));
}

std::string test_of(const std::string& text) { return outcome(translate_extended_test(text, fake_resolve)); }
std::string value_of(const std::string& text, const std::string& ty) {
  return outcome(translate_extended_value(text, fake_resolve, ty));
}

std::string tokens_of(std::string_view text) {
  Result<std::vector<CsharpToken>> toks = tokenize_extended_expr(text);
  if (!toks) return "ERR " + toks.reason();
  std::string out;
  for (const CsharpToken& tok : *toks) {
    if (!out.empty()) out += ' ';
    out += debug_csharp_token(tok) + "@" + std::to_string(tok.offset);
  }
  return out;
}

TEST(ExtendedTokenizer, TokensAndMessages) {
  const std::vector<Case> cases = {
      {"a||b&&!c", R"(Name("a")@0 Op("||")@1 Name("b")@3 Op("&&")@4 Op("!")@6 Name("c")@7)"},
      {"a<=b>>c<d>=e!=f==g<<h", R"(Name("a")@0 Op("<=")@1 Name("b")@3 Op(">>")@4 Name("c")@6 Op("<")@7 )"
                                R"(Name("d")@8 Op(">=")@9 Name("e")@11 Op("!=")@12 Name("f")@14 Op("==")@15 )"
                                R"(Name("g")@17 Op("<<")@18 Name("h")@20)"},
      {"x?~y:z%2", R"(Name("x")@0 Op("?")@1 Op("~")@2 Name("y")@3 Op(":")@4 Name("z")@5 Op("%")@6 Int("2")@7)"},
      {"Kind.Big + A.B.C", R"(Name("Kind.Big")@0 Op("+")@9 Name("A.B.C")@11)"},
      {"( int )x", R"(LParen@0 Name("int")@2 RParen@6 Name("x")@7)"},
      // Integer literals with their suffixes, real literals in every form.
      {"0x1Fu 10UL 7lu 3L 0XaB", R"(Int("0x1Fu")@0 Int("10UL")@6 Int("7lu")@11 Int("3L")@15 Int("0XaB")@18)"},
      {"1.5 5. .5 1e3 2E-2f 1f 3d 1.5m",
       R"(Real("1.5")@0 Real("5.")@4 Real(".5")@7 Real("1e3")@10 Real("2E-2f")@14 Real("1f")@20 Real("3d")@23 )"
       R"(Real("1.5m")@26)"},
      {"1e", R"(ERR malformed number at offset 0 of "1e")"},
      {"10x", R"(ERR malformed number at offset 0 of "10x")"},
      {"1.5.2", R"(ERR malformed number at offset 0 of "1.5.2")"},
      {"5.x", R"(ERR malformed number at offset 0 of "5.x")"},
      {"a = b", R"(ERR unexpected character '=' at offset 2 of "a = b")"},
      {"a.", R"(ERR unexpected character '.' at offset 1 of "a.")"},
      {"a\xC3\x97", R"(ERR unexpected character 'Ã' at offset 1 of "a×")"},
  };
  for (const Case& c : cases) EXPECT_EQ(tokens_of(c.input), c.want) << "input: " << c.input;
}

// Tests: the Rust condition, integers meaning non-zero where a bool stands.
TEST(ExtendedTest, BooleanPositions) {
  const std::vector<Case> cases = {
      {"flag", "flag"},
      {"u", "(u != 0u32)"},
      {"b & 0x4", "(((b as i32) & 0x4i32) != 0i32)"},
      {"u & 0x4", "((u & 0x4u32) != 0u32)"},
      {"!i", "(!(i != 0i32))"},
      {"flag && u > 5", "(flag && (u > 5u32))"},
      {"s || !flag", "((s != 0i16) || (!flag))"},
      {"Opt && Bits", "((opt.unwrap_or_default() != 0u32) && ((kind.map_or(0u8, |v| v as u8)) != 0u8))"},
      {"i ? flag : u > 1", "(if (i != 0i32) { flag } else { (u > 1u32) })"},
      {"true", "true"},
      {"!false || flag", "((!false) || flag)"},
      // `& | ^` on bools are logical and evaluate both sides; they bind
      // looser than comparisons and tighter than `&&`.
      {"flag & i > 0 | flag ^ u < 2", "((flag & (i > 0i32)) | (flag ^ (u < 2u32)))"},
      {"flag && flag | flag", "(flag && (flag | flag))"},
      {"i < 2 == flag", "((i < 2i32) == flag)"},
      {"flag != true", "(flag != true)"},
      // What is not a bool or an integer cannot stand as a test.
      {"f", "ERR float value where a bool is expected"},
      {"d && flag", "ERR left operand of `&&`: double value where a bool is expected"},
      {"flag || 1.5", "ERR right operand of `||`: double value where a bool is expected"},
      {"!f", "ERR operand of `!`: float value where a bool is expected"},
      {"d ? 1 : 2", "ERR condition of `?:`: double value where a bool is expected"},
      {"flag == 1", "ERR operator `==` cannot be applied to operands of type bool and int"},
      {"flag < true", "ERR operator `<` cannot be applied to operands of type bool and bool"},
      {"flag + 1", "ERR operator `+` cannot be applied to operands of type bool and int"},
      {"flag & 1", "ERR operator `&` cannot be applied to operands of type bool and int"},
  };
  for (const Case& c : cases) EXPECT_EQ(test_of(c.input), c.want) << "test: " << c.input;
}

// Promotion by C#'s overload resolution: constants convert to narrower and
// unsigned types that hold them, everything else only widens.
TEST(ExtendedTest, NumericPromotion) {
  const std::vector<Case> cases = {
      {"u + 1 > 0", "((u.wrapping_add(1u32)) > 0u32)"},
      {"u + i > 0", "(((u as i64).wrapping_add((i as i64))) > 0i64)"},
      {"u == -1", "((u as i64) == (-1i64))"},
      {"u == 0xFFFFFFFF", "(u == 0xFFFFFFFFu32)"},
      {"u + 1L != 0", "(((u as i64).wrapping_add(1i64)) != 0i64)"},
      {"b + 1u != 0", "(((b as u32).wrapping_add(1u32)) != 0u32)"},
      {"us * us < 0", "(((us as i32).wrapping_mul((us as i32))) < 0i32)"},
      {"sb == b", "((sb as i32) == (b as i32))"},
      {"sb + u > 0", "(((sb as i64).wrapping_add((u as i64))) > 0i64)"},
      {"ul == 1", "(ul == 1u64)"},
      {"ul > 5L", "(ul > 5u64)"},
      {"ul < u", "(ul < (u as u64))"},
      {"l < 2147483648", "(l < 2147483648i64)"},
      {"i < 4294967296", "((i as i64) < 4294967296i64)"},
      {"i == f", "((i as f32) == f)"},
      {"l > 1.5f", "((l as f32) > 1.5f32)"},
      {"f > 1.5", "((f as f64) > 1.5f64)"},
      {"ul <= d", "((ul as f64) <= d)"},
      {"Kind.Three == b", "(3i32 == (b as i32))"},
      {"u == Kind.Three", "(u == 3u32)"},
      {"u > Sign.Minus", "((u as i64) > (-5i64))"},
      // What C# rejects as ambiguous or inapplicable.
      {"ul + i > 0", "ERR operator `+` is ambiguous on operands of type ulong and int"},
      {"ul == -1", "ERR operator `==` is ambiguous on operands of type ulong and int"},
      {"l == ul", "ERR operator `==` is ambiguous on operands of type long and ulong"},
      {"ul & i", "ERR operator `&` cannot be applied to operands of type ulong and int"},
      {"f & 1", "ERR operator `&` cannot be applied to operands of type float and int"},
      {"u == Sign.Minus + 0u", "((u as i64) == ((-5i64).wrapping_add(0i64)))"},
  };
  for (const Case& c : cases) EXPECT_EQ(test_of(c.input), c.want) << "test: " << c.input;
}

struct ValueCase {
  std::string input;
  std::string ty;
  std::string want;
};

TEST(ExtendedValue, IntegerArithmetic) {
  const std::vector<ValueCase> cases = {
      {"1 + 2 * 3", "i32", "(1i32.wrapping_add((2i32.wrapping_mul(3i32))))"},
      {"(1 + 2) * 3", "i32", "((1i32.wrapping_add(2i32)).wrapping_mul(3i32))"},
      {"u - i - 1", "i64", "(((u as i64).wrapping_sub((i as i64))).wrapping_sub(1i64))"},
      {"u + 1", "u16", "((u.wrapping_add(1u32)) as u16)"},
      {"b + b", "u8", "(((b as i32).wrapping_add((b as i32))) as u8)"},
      {"Opt * 2 + i", "i64", "(((opt.unwrap_or_default().wrapping_mul(2u32)) as i64).wrapping_add((i as i64)))"},
      // Unary operators promote to int at least; minus on uint gives long,
      // on ulong nothing.
      {"-u", "i64", "((u as i64).wrapping_neg())"},
      {"-b", "i32", "((b as i32).wrapping_neg())"},
      {"-i", "i32", "(i.wrapping_neg())"},
      {"~b", "i32", "(!(b as i32))"},
      {"~u", "u32", "(!u)"},
      {"+us", "i32", "(us as i32)"},
      {"-ul", "i64", "ERR operator `-` cannot be applied to an operand of type ulong"},
      {"~f", "i64", "ERR operator `~` cannot be applied to an operand of type float"},
      {"-flag", "i64", "ERR operator `-` cannot be applied to an operand of type bool"},
      {"-d", "f64", "(-d)"},
      // Negative literals, the minimums among them.
      {"-1", "i32", "(-1i32)"},
      {"- -1", "i32", "1i32"},
      {"-2147483648", "i32", "(-2147483648i32)"},
      {"-(2147483648)", "i64", "(-2147483648i64)"},
      {"-9223372036854775808", "i64", "(-9223372036854775808i64)"},
      {"-9223372036854775808L", "i64", "(-9223372036854775808i64)"},
      {"-(-2147483648)", "i32", "((-2147483648i32).wrapping_neg())"},
      {"-2147483648u", "i64", "(-2147483648i64)"},
      // Shifts: an int count, masked by Rust's wrapping shifts as by C#.
      {"b << 9", "i32", "((b as i32).wrapping_shl(9i32 as u32))"},
      {"l >> b", "i64", "(l.wrapping_shr((b as i32) as u32))"},
      {"1 << 40", "i32", "(1i32.wrapping_shl(40i32 as u32))"},
      {"ul << -1", "u64", "(ul.wrapping_shl((-1i32) as u32))"},
      {"i << u", "i32", "ERR shift count of type uint does not convert to int"},
      {"i >> 1L", "i32", "ERR shift count of type long does not convert to int"},
      {"d << 1", "i32", "ERR operator `<<` cannot be applied to operands of type double and int"},
      // Division: by a non-zero integer constant only, wrapping at MIN / -1.
      {"i / 2", "i32", "(i.wrapping_div(2i32))"},
      {"i % -1", "i32", "(i.wrapping_rem((-1i32)))"},
      {"(-2147483648) / -1", "i32", "((-2147483648i32).wrapping_div((-1i32)))"},
      {"u / Kind.Three", "u32", "(u.wrapping_div(3u32))"},
      {"i / (byte)256", "i32", "ERR division by zero"},
      {"i / 0", "i32", "ERR division by zero"},
      {"i % (2 - 2)", "i32", "ERR division by zero"},
      {"i / i", "i32", "ERR divisor is not an integer constant"},
      {"i / (int)2.0", "i32", "ERR divisor is not an integer constant"},
      {"d / 0", "f64", "(d / (0i32 as f64))"},
      {"i / 2.5f", "f32", "((i as f32) / 2.5f32)"},
      {"d % 2", "f64", "(d % (2i32 as f64))"},
  };
  for (const ValueCase& c : cases) EXPECT_EQ(value_of(c.input, c.ty), c.want) << c.input << " as " << c.ty;
}

TEST(ExtendedValue, CastsConditionalsAndLiterals) {
  const std::vector<ValueCase> cases = {
      {"(byte)300", "u8", "(300i32 as u8)"},
      {"(byte)300 == 44", "bool", "(((300i32 as u8) as i32) == 44i32)"},
      {"(int)-x", "i32", "ERR no field \"x\""},
      {"(sbyte)u", "i64", "((u as i8) as i64)"},
      {"(long)f", "i64", "(f as i64)"},
      {"( ushort )i", "u16", "(i as u16)"},
      {"(int)i", "i32", "i"},
      {"(bool)flag", "bool", "flag"},
      {"(bool)i", "bool", "ERR cannot convert int to bool"},
      {"(int)flag", "i32", "ERR cannot convert bool to int"},
      {"(char)i", "i32", "ERR cast to \"char\" is not supported"},
      {"(Kind)1", "i32", "ERR cast to \"Kind\" is not supported"},
      {"(i) + 1", "i32", "(i.wrapping_add(1i32))"},
      // A conditional's type is the branch type the other branch converts to.
      {"flag ? 1 : 2u", "u32", "(if flag { 1u32 } else { 2u32 })"},
      {"i ? b : 1", "i32", "(if (i != 0i32) { (b as i32) } else { 1i32 })"},
      {"flag ? u : 1", "u32", "(if flag { u } else { 1u32 })"},
      {"flag ? f : i", "f32", "(if flag { f } else { (i as f32) })"},
      {"flag ? 1 : flag ? 2 : 3", "i32", "(if flag { 1i32 } else { (if flag { 2i32 } else { 3i32 }) })"},
      {"flag ? u : -1", "i64", "ERR no type for a conditional of uint and int"},
      {"flag ? flag : 1", "i64", "ERR no type for a conditional of bool and int"},
      // Literal types: the first of the suffix's list that holds the value.
      {"2147483647", "i64", "(2147483647i32 as i64)"},
      {"2147483648", "i64", "(2147483648u32 as i64)"},
      {"4294967296", "i64", "4294967296i64"},
      {"9223372036854775808", "u64", "9223372036854775808u64"},
      {"0xFFFFFFFFFFFFFFFF", "u64", "0xFFFFFFFFFFFFFFFFu64"},
      {"0X10", "i32", "0x10i32"},
      {"1u", "u32", "1u32"},
      {"4294967296u", "u64", "4294967296u64"},
      {"1L", "i64", "1i64"},
      {"5lu", "u64", "5u64"},
      {"007", "i32", "007i32"},
      {"18446744073709551616", "u64", R"(ERR integer literal "18446744073709551616" is too large)"},
      {"1uu", "u64", R"(ERR integer literal "1uu" is malformed)"},
      {"0x", "u64", R"(ERR integer literal "0x" is malformed)"},
      {"1.5", "f64", "1.5f64"},
      {"5.", "f64", "5.0f64"},
      {".5f", "f32", "0.5f32"},
      {"1e3", "f64", "1e3f64"},
      {"2.5E-3d", "f64", "2.5E-3f64"},
      {"1f", "f32", "1f32"},
      {"1e39f", "f32", R"(ERR real literal "1e39f" is outside the range of float)"},
      {"1e-50f", "f32", "1e-50f32"},
      {"1.5m", "f64", R"(ERR decimal literal "1.5m" is not supported)"},
      // The result converts as C#'s explicit cast does.
      {"d", "i8", "(d as i8)"},
      {"flag", "u8", "ERR cannot convert bool to byte"},
      {"1", "bool", "ERR cannot convert int to bool"},
      {"1", "u128", R"(ERR result type "u128" is not a scalar type)"},
  };
  for (const ValueCase& c : cases) EXPECT_EQ(value_of(c.input, c.ty), c.want) << c.input << " as " << c.ty;
}

TEST(ExtendedValue, SyntaxAndNames) {
  const std::vector<Case> cases = {
      {"", "ERR empty expression"},
      {"i +", "ERR expected an operand, got end of input"},
      {"i + )", "ERR expected an operand, got RParen at offset 4"},
      {"(i", "ERR expected `)`, got end of input"},
      {"(i i", R"(ERR expected `)`, got Name("i") at offset 3)"},
      {"i )", "ERR unexpected RParen at offset 2 after the expression"},
      {"i 1", R"(ERR unexpected Int("1") at offset 2 after the expression)"},
      {"flag ? 1", "ERR expected `:` of `?:`, got end of input"},
      {"i : 1", R"(ERR unexpected Op(":") at offset 2 after the expression)"},
      {"--i", R"(ERR expected an operand, got Op("--") at offset 0)"},
      {"i--1", R"(ERR unexpected Op("--") at offset 1 after the expression)"},
      {"int", R"(ERR type name "int" where a value is expected)"},
      {"Missing + 1", R"(ERR no field "Missing")"},
      {"Text + 1", R"(ERR name "Text" has type "String", which expressions do not compute with)"},
      {"1 = 2", R"(ERR unexpected character '=' at offset 2 of "1 = 2")"},
  };
  for (const Case& c : cases) EXPECT_EQ(value_of(c.input, "i64"), c.want) << c.input;
}

// Every local a translation reads is reported, and nothing for a refusal.
TEST(ExtendedValue, ReadsOfEveryName) {
  LocalReads reads;
  ASSERT_TRUE(translate_extended_test("u + Opt > i || Kind.Three == Bits", fake_resolve, &reads));
  std::string seen;
  for (const LocalRead& read : reads) seen += read.local + (read.meaning == LocalRead::Value ? "=value " : " ");
  EXPECT_EQ(seen, "u opt=value i kind=value ");

  reads.clear();
  EXPECT_FALSE(translate_extended_test("u + Opt > i || f", fake_resolve, &reads));
  EXPECT_FALSE(translate_extended_value("u + Opt", fake_resolve, "bool", &reads));
  EXPECT_TRUE(reads.empty());
}

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

TEST(ExtendedValue, NestingIsBoundedAndChainsAreFlat) {
  const std::string too_deep = "ERR expression nested deeper than 256 levels";
  EXPECT_EQ(value_of(repeat("(", 256) + "i" + repeat(")", 256), "i32"), "i");
  EXPECT_EQ(value_of(repeat("~", 256) + "i", "i32"), repeat("(!", 256) + "i" + repeat(")", 256));
  const std::vector<std::string> refused = {
      repeat("(", 257) + "i" + repeat(")", 257),
      repeat("(", 100000),
      repeat("!", 100000) + "flag",
      repeat("- ", 100000) + "i",
      repeat("(int)", 100000) + "i",
      repeat("flag ? 1 : ", 300) + "2",
      repeat("flag ? ", 100000),
  };
  for (const std::string& text : refused) EXPECT_EQ(value_of(text, "i32"), too_deep) << "length " << text.size();

  // A flat chain of 100,000 terms is no nesting.
  const std::size_t terms = 100000;
  std::string sum = "i";
  sum += repeat(" + i", terms - 1);
  std::string want = repeat("(", terms - 1);
  want += "i";
  want += repeat(".wrapping_add(i))", terms - 1);
  EXPECT_EQ(value_of(sum, "i32"), want);
  std::string mixed = "b";
  mixed += repeat(" - u", terms - 1);
  want = repeat("(", terms);
  want += "b as u32)";
  want += repeat(".wrapping_sub(u))", terms - 1);
  EXPECT_EQ(value_of(mixed, "u32"), want);
}

// ---- Names in a decoder ----------------------------------------------------------

struct DecoderNames {
  SiblingLookup lookup;
  EnumValueTable enums;
  TypeRegistry registry;

  DecoderNames() {
    lookup.add_field("Count", "count", FieldKind(FieldKind::U32));
    lookup.add_field("Has", "has", FieldKind(FieldKind::Bool));
    lookup.add_field("Kind", "kind", FieldKind::enumeration("Color", false, EnumRepr::U8));
    lookup.add_subfield("Low", "Count", "count", FieldKind(FieldKind::U32), "Count & 0xFF");
    lookup.add_subfield("Cross", "Count", "count", FieldKind(FieldKind::U32), "Other + 1");
    lookup.add_field("Name", "name", FieldKind(FieldKind::String));
    lookup.open_branch = lookup.new_branch();
    lookup.add_field("Opt", "opt", FieldKind(FieldKind::I16));
    lookup.add_field("OptKind", "opt_kind", FieldKind::enumeration("Color", false, EnumRepr::U8));
    lookup.open_branch = 0;
    lookup.add_gated("Extra", "extra", FieldKind(FieldKind::U16));
    register_builtin_types(registry);
    registry.insert_or_assign("Color", TypeKind::enumeration(EnumRepr::U8, false));
    registry.insert_or_assign("Wide", TypeKind::enumeration(EnumRepr::I64, false));
    registry.insert_or_assign("Unsigned", TypeKind::enumeration(EnumRepr::U32, false));
    enums["Color"] = {{"Red", 1}, {"Big", 300}};
    enums["Wide"] = {{"Neg", -1}};
    enums["Unsigned"] = {{"Neg", -1}};
    enums["Count"] = {{"Red", 1}};  // a name that is a field, not an enum
  }
};

TEST(ExtendedDecoderNames, FieldsBranchesAndEnumMembers) {
  DecoderNames names;
  const NameResolver resolve = decoder_name_resolver(names.lookup, names.enums, names.registry);
  struct NameCase {
    std::size_t open_branch;
    std::string input;
    std::string want;
    std::string reads;  // local:meaning, E(xpression), V(alue), R(aw bits)
  };
  const std::vector<NameCase> cases = {
      {0, "Count > 1", "(count > 1u32)", "count:E"},
      {0, "Has && Count", "(has && (count != 0u32))", "has:E count:E"},
      // An enum field is its raw bits: the local, or the option elsewhere.
      {0, "Kind == Color.Red", "((kind_bits as i32) == 1i32)", "kind_bits:R"},
      {0, "OptKind == 2", "(((opt_kind.map_or(0u8, |v| v as u8)) as i32) == 2i32)", "opt_kind:V"},
      {1, "OptKind == 2", "((opt_kind_v_bits as i32) == 2i32)", "opt_kind_v_bits:R"},
      // A branch's field: its value inside the branch, its option (absent:
      // zero) elsewhere.
      {0, "Opt < 0", "((opt.unwrap_or_default() as i32) < 0i32)", "opt:E"},
      {1, "Opt < 0", "((opt_v as i32) < 0i32)", "opt_v:E"},
      {0, "Extra > 1", "((extra.unwrap_or_default() as i32) > 1i32)", "extra:V"},
      {0, "Low == Count", "((((count & (0xFF as u32))) as u32) == count)", "count:E count:E"},
      // Enum members are constants of the representation type, cut to it.
      {0, "Count == Color.Big", "(count == 44u32)", "count:E"},
      {0, "Count != Unsigned.Neg", "(count != 4294967295u32)", "count:E"},
      {0, "Count > Wide.Neg", "((count as i64) > (-1i64))", "count:E"},
      // Refusals name what they could not resolve.
      {0, "Name == 1", R"(ERR name "Name" is not a field declared before it in this body)", ""},
      {0, "count", R"(ERR name "count" is not a field declared before it in this body)", ""},
      {0, "Color.Green", R"(ERR enum "Color" has no member named "Green")", ""},
      {0, "Shape.Round", R"(ERR enum "Shape" of "Shape.Round" is not an enum written before)", ""},
      {0, "Count.Red", R"(ERR enum "Count" of "Count.Red" is not an enum written before)", ""},
      {0, "Color.Red.X", R"(ERR name "Color.Red.X" is not an `Enum.Member` reference)", ""},
      {0, "Cross",
       R"(ERR subfield "Cross": cannot translate "Other + 1": identifier "Other" is not the parent field name )"
       R"(("Count"); cross-field subfield expressions are deferred)",
       ""},
  };
  for (const NameCase& c : cases) {
    names.lookup.open_branch = c.open_branch;
    LocalReads reads;
    EXPECT_EQ(outcome(translate_extended_test(c.input, resolve, &reads)), c.want) << c.input;
    std::string seen;
    for (const LocalRead& read : reads) {
      if (!seen.empty()) seen += ' ';
      seen += read.local + ":" + "EVR"[static_cast<int>(read.meaning)];
    }
    EXPECT_EQ(seen, c.reads) << c.input;
  }
}

}  // namespace
}  // namespace qm
