// Expression translation: C# tokens and parser, subfield and length
// translation over sibling fields, and if-test translation.

#include "expr/expr.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

// A result as one comparable text: the Rust text, or "ERR " and the reason.
template <class T>
std::string outcome(const Result<T>& r) {
  if (!r) return "ERR " + r.reason();
  return *r;
}

std::string tokens_of(std::string_view text) {
  Result<std::vector<ExprTok>> toks = tokenize_csharp_expr(text);
  if (!toks) return "ERR " + toks.reason();
  return debug_tok_list(*toks);
}

struct Case {
  std::string input;
  std::string want;
};

// ---- C# tokenizer ------------------------------------------------------------

TEST(ExprTokenizer, TokenListsAndMessages) {
  const std::vector<Case> cases = {
      {"", "[]"},
      {" \t\n\r\f", "[]"},
      {"(Flags >> 8) & 0xFF",
       R"([LParen, Ident("Flags"), Shift(false), IntLit { raw: "8" }, RParen, BinOp('&'), IntLit { raw: "0xFF" }])"},
      {"a<<b", R"([Ident("a"), Shift(true), Ident("b")])"},
      {"_x1*b/c^d|e-f+g",
       R"([Ident("_x1"), BinOp('*'), Ident("b"), BinOp('/'), Ident("c"), BinOp('^'), Ident("d"), BinOp('|'), )"
       R"(Ident("e"), BinOp('-'), Ident("f"), BinOp('+'), Ident("g")])"},
      // Casts: exactly `(` name `)`, case-sensitive, no spaces.
      {"(int)Flags", R"([Cast("int"), Ident("Flags")])"},
      {"(byte)(short)(ushort)(uint)(long)(ulong)(float)(double)(bool)",
       R"([Cast("byte"), Cast("short"), Cast("ushort"), Cast("uint"), Cast("long"), Cast("ulong"), )"
       R"(Cast("float"), Cast("double"), Cast("bool")])"},
      {"( int)x", R"([LParen, Ident("int"), RParen, Ident("x")])"},
      {"(int )x", R"([LParen, Ident("int"), RParen, Ident("x")])"},
      {"(Int)", R"([LParen, Ident("Int"), RParen])"},
      {"(intx)", R"([LParen, Ident("intx"), RParen])"},
      {"(sbyte)", R"([LParen, Ident("sbyte"), RParen])"},
      {"(int", R"([LParen, Ident("int")])"},
      // Literals keep their text; what follows is scanned afresh.
      {"10u", R"([IntLit { raw: "10" }, Ident("u")])"},
      {"0b1", R"([IntLit { raw: "0" }, Ident("b1")])"},
      {"0x", R"([IntLit { raw: "0x" }])"},
      {"0XaBg", R"([IntLit { raw: "0XaB" }, Ident("g")])"},
      {"007", R"([IntLit { raw: "007" }])"},
      {"1x2", R"([IntLit { raw: "1" }, Ident("x2")])"},
      // Everything else stops the tokenizer.
      {"Flags < 2", R"(ERR unexpected character '<' at offset 6 of "Flags < 2")"},
      {"a>b", R"(ERR unexpected character '>' at offset 1 of "a>b")"},
      {"a.b", R"(ERR unexpected character '.' at offset 1 of "a.b")"},
      {"~a", R"(ERR unexpected character '~' at offset 0 of "~a")"},
      {"a\vb", R"(ERR unexpected character '\u{b}' at offset 1 of "a\u{b}b")"},
      {"x '", R"(ERR unexpected character '\'' at offset 2 of "x '")"},
      {"\"", R"(ERR unexpected character '"' at offset 0 of "\"")"},
      {"a\\", R"(ERR unexpected character '\\' at offset 1 of "a\\")"},
      {"2\xC3\x97"
       "3",
       R"(ERR unexpected character 'Ã' at offset 1 of "2×3")"},
      {"\xE2\x80\xA6", R"(ERR unexpected character 'â' at offset 0 of "…")"},
  };
  for (const Case& c : cases) EXPECT_EQ(tokens_of(c.input), c.want) << "input: " << c.input;
}

// ---- C# parser -----------------------------------------------------------------

struct ParseCase {
  std::string input;
  std::string accepted;
  std::string path;
  std::string want;
  std::size_t want_pos;  // position after the parse (ignored for failures)
};

TEST(ExprParser, RustTextAndMessages) {
  const std::vector<ParseCase> cases = {
      {"(Flags >> 8) & 0xFF", "Flags", "flags", "(((self.flags >> (8 as u32))) & (0xFF as u32))", 7},
      {"(ushort)-(int)Flags", "Flags", "flags", "(((self.flags as i32).wrapping_neg()) as u16)", 4},
      {"Flags + 1 - 2", "Flags", "flags", "((self.flags.wrapping_add((1 as u32))).wrapping_sub((2 as u32)))", 5},
      {"1 + 2 * 3", "x", "x", "((1 as u32) + ((2 as u32) * (3 as u32)))", 5},
      // One operator of every level, lowest first and highest first.
      {"1 | 2 ^ 3 & 4 << 5 - 6 / 3", "x", "x",
       "((1 as u32) | ((2 as u32) ^ ((3 as u32) & ((4 as u32) << ((5 as u32) - ((6 as u32) / (3 as u32)))))))", 13},
      {"1 * 2 + 3 << 4 & 5 ^ 6 | 7", "x", "x",
       "(((((((1 as u32) * (2 as u32)) + (3 as u32)) << (4 as u32)) & (5 as u32)) ^ (6 as u32)) | (7 as u32))", 13},
      // Every binary level associates to the left.
      {"8 / 4 / 2", "x", "x", "(((8 as u32) / (4 as u32)) / (2 as u32))", 5},
      {"8 - 4 + 2", "x", "x", "(((8 as u32) - (4 as u32)) + (2 as u32))", 5},
      {"x >> 1 << 2", "x", "v", "((self.v >> (1 as u32)) << (2 as u32))", 5},
      {"x & 1 & 2", "x", "v", "((self.v & (1 as u32)) & (2 as u32))", 5},
      {"x | 1 | 2", "x", "v", "((self.v | (1 as u32)) | (2 as u32))", 5},
      // Casts and minus bind tighter than `*` and nest.
      {"(byte)(int)Flags", "Flags", "flags", "((self.flags as i32) as u8)", 3},
      {"-(int)1", "x", "x", "(-(((1 as u32) as i32)))", 3},
      {"(long)(Flags + 1)", "Flags", "f", "(((self.f.wrapping_add((1 as u32)))) as i64)", 6},
      {"(short)x", "x", "x", "(self.x as i16)", 2},
      // Literals are copied as written, but for the case of the hex prefix.
      {"0X1f", "x", "x", "(0x1f as u32)", 1},
      {"007", "x", "x", "(007 as u32)", 1},
      // The parse stops where the expression ends; the caller checks the rest.
      {"Flags Flags", "Flags", "flags", "self.flags", 1},
      {"1 + 2 ) 3", "x", "x", "((1 as u32) + (2 as u32))", 3},
      // Messages.
      {"", "Flags", "flags", "ERR expected atom, got end-of-input", 0},
      {"Flags &", "Flags", "flags", "ERR expected atom, got end-of-input", 0},
      {"& Flags", "Flags", "flags", "ERR expected atom, got BinOp('&')", 0},
      {"+1", "x", "x", "ERR expected atom, got BinOp('+')", 0},
      {")", "x", "x", "ERR expected atom, got RParen", 0},
      {"<< 1", "x", "x", "ERR expected atom, got Shift(true)", 0},
      {"1 >> >> 1", "x", "x", "ERR expected atom, got Shift(false)", 0},
      {"()", "x", "x", "ERR expected atom, got RParen", 0},
      {"(int)", "x", "x", "ERR expected atom, got end-of-input", 0},
      {"x * (int)", "x", "x", "ERR expected atom, got end-of-input", 0},
      {"(Flags", "Flags", "flags", "ERR expected ')', got None", 0},
      {"(Flags 2", "Flags", "flags", R"(ERR expected ')', got Some(IntLit { raw: "2" }))", 0},
      {"((1) (int)", "x", "x", R"(ERR expected ')', got Some(Cast("int")))", 0},
      {"flags", "Flags", "flags",
       R"(ERR identifier "flags" is not the parent field name ("Flags"); cross-field subfield expressions are deferred)",
       0},
      {"( int)Flags", "Flags", "flags",
       R"(ERR identifier "int" is not the parent field name ("Flags"); cross-field subfield expressions are deferred)",
       0},
      // A message deep inside is returned unchanged.
      {"Flags | (1 + -(int)(Other * 2))", "Flags", "flags",
       R"(ERR identifier "Other" is not the parent field name ("Flags"); cross-field subfield expressions are deferred)",
       0},
  };
  for (const ParseCase& c : cases) {
    Result<std::vector<ExprTok>> toks = tokenize_csharp_expr(c.input);
    ASSERT_TRUE(toks) << c.input << ": " << toks.reason();
    ExprParser parser(*toks);
    Result<std::string> r = parser.parse_expr(c.accepted, c.path, "u32");
    EXPECT_EQ(outcome(r), c.want) << "input: " << c.input;
    if (r) {
      EXPECT_EQ(parser.pos(), c.want_pos) << "input: " << c.input;
    }
  }
}

TEST(ExprParser, LocalAtomReadsTheBareLocal) {
  const std::vector<ParseCase> cases = {
      {"(Flags >> 8) & 0xFF", "Flags", "flags", "(((flags >> (8 as u32))) & (0xFF as u32))", 7},
      {"F + F * F", "F", "f", "(f.wrapping_add((f.wrapping_mul(f))))", 5},
      {"-(int)x", "x", "self_v", "((self_v as i32).wrapping_neg())", 3},
      {"7", "x", "x", "(7 as u32)", 1},
      {"y", "x", "x",
       R"(ERR identifier "y" is not the parent field name ("x"); cross-field subfield expressions are deferred)", 0},
  };
  for (const ParseCase& c : cases) {
    Result<std::vector<ExprTok>> toks = tokenize_csharp_expr(c.input);
    ASSERT_TRUE(toks) << c.input;
    ExprParser parser(*toks);
    Result<std::string> r = parser.parse_expr_with_local_atom(c.accepted, c.path, "u32");
    EXPECT_EQ(outcome(r), c.want) << "input: " << c.input;
    if (r) {
      EXPECT_EQ(parser.pos(), c.want_pos) << "input: " << c.input;
    }
  }
}

// What Rust would refuse to compile, or what would panic on some value of the
// field, is refused or spelled as a wrapping operation; constants are
// evaluated in their Rust type to decide.
TEST(ExprParser, TypesAndConstantsDecideTheRustSpelling) {
  struct TypedCase {
    std::string input;
    std::string literal_ty;
    std::string want;
  };
  const std::vector<TypedCase> cases = {
      // Literals must fit the parent's type; the cast types them as it.
      {"x & 0xFFFFFFFF", "u32", "(self.x & (0xFFFFFFFF as u32))"},
      {"x & 18446744073709551615", "u64", "(self.x & (18446744073709551615 as u64))"},
      {"x & 0x7FFF", "i16", "(self.x & (0x7FFF as i16))"},
      {"x & 255", "u8", "(self.x & (255 as u8))"},
      {"x & 256", "u8", R"(ERR literal "256" does not fit u8)"},
      {"x & 0xFFFF", "i16", R"(ERR literal "0xFFFF" does not fit i16)"},
      {"x & 0x100000000", "u32", R"(ERR literal "0x100000000" does not fit u32)"},
      {"x | 999999999999999999999999999999999999999999", "u64",
       R"(ERR literal "999999999999999999999999999999999999999999" does not fit u64)"},
      {"x & 0x", "u32", R"(ERR literal "0x" has no digits)"},
      {"x & 0X", "u32", R"(ERR literal "0X" has no digits)"},
      // Operands of one operation share a type.
      {"(int)x * 2", "u32", "ERR operands of `*` have different types: i32 and u32"},
      {"(int)x + (int)1", "u32", "((self.x as i32).wrapping_add(((1 as u32) as i32)))"},
      {"(float)x & 1", "u32", "ERR operands of `&` have different types: f32 and u32"},
      {"(double)x - (float)x", "u32", "ERR operands of `-` have different types: f64 and f32"},
      {"(bool)x", "u32", "ERR cast of u32 to bool is not supported"},
      {"(byte)(bool)x", "u32", "ERR cast of u32 to bool is not supported"},
      // Floats: arithmetic only, never wrapped (it cannot panic).
      {"(float)x & (float)1", "u32", "ERR `&` on f32 is not supported"},
      {"(double)x ^ (double)x", "u32", "ERR `^` on f64 is not supported"},
      {"(float)x << 1", "u32", "ERR `<<` on f32 is not supported"},
      {"x >> (float)1", "u32", "ERR shift amount of type f32 is not supported"},
      {"(float)x * (float)2 / (float)0", "u32", "(((self.x as f32) * ((2 as u32) as f32)) / ((0 as u32) as f32))"},
      {"-(double)x", "u32", "(-((self.x as f64)))"},
      // Unary minus wraps on the field, and on every unsigned operand: two's
      // complement, the value a wider signed negation truncates to.
      {"-x", "u8", "(self.x.wrapping_neg())"},
      {"-x", "u32", "(self.x.wrapping_neg())"},
      {"-1", "u32", "((1 as u32).wrapping_neg())"},
      {"x - - 1", "u32", "(self.x.wrapping_sub(((1 as u32).wrapping_neg())))"},
      {"(ushort)-x", "u32", "((self.x.wrapping_neg()) as u16)"},
      {"-0 | x", "u64", "(((0 as u64).wrapping_neg()) | self.x)"},
      // ... a negated constant keeps its wrapped value, so what it cannot mean is refused.
      {"x << -1", "u32", "ERR shift by 4294967295 is out of range for u32"},
      {"x / -0", "u16", "ERR division by zero"},
      {"-1 + 1", "u8", "ERR constant `+` overflows u8"},
      {"x / -(1 - 2)", "u32", "ERR constant `-` overflows u32"},
      {"(ulong)-(long)x", "u16", "(((self.x as i64).wrapping_neg()) as u64)"},
      {"-x", "i64", "(self.x.wrapping_neg())"},
      {"a - - 1", "i32",
       "ERR identifier \"a\" is not the parent field name (\"x\"); cross-field subfield expressions "
       "are deferred"},
      {"x - - 1", "i32", "(self.x.wrapping_sub((-((1 as i32)))))"},
      {"-(int)0x80000000", "u32", "ERR constant negation overflows i32"},
      {"-(int)0x7FFFFFFF", "u32", "(-(((0x7FFFFFFF as u32) as i32)))"},
      // Shifts: a constant amount must be below the width of the left side.
      {"x << 31", "u32", "(self.x << (31 as u32))"},
      {"x >> 32", "u32", "ERR shift by 32 is out of range for u32"},
      {"x << 8", "u8", "ERR shift by 8 is out of range for u8"},
      {"(long)x << 32", "u32", "((self.x as i64) << (32 as u32))"},
      {"x << -1", "i32", "ERR shift by -1 is out of range for i32"},
      {"x << (byte)264", "u32", "(self.x << ((264 as u32) as u8))"},
      {"x << (byte)288", "u32", "ERR shift by 32 is out of range for u32"},
      {"x >> (short)0xFFFF", "u32", "ERR shift by -1 is out of range for u32"},
      {"x >> (1 << 5)", "u32", "ERR shift by 32 is out of range for u32"},
      {"x >> (64 >> 2)", "u32", "(self.x >> (((64 as u32) >> (2 as u32))))"},
      // ... an amount that is not a known integer wraps like a release build.
      {"1 << x", "u32", "((1 as u32).wrapping_shl(self.x as u32))"},
      {"x >> x", "i16", "(self.x.wrapping_shr(self.x as u32))"},
      {"x << (int)(float)40", "u32", "(self.x.wrapping_shl((((40 as u32) as f32) as i32) as u32))"},
      // Division: by a known non-zero integer only.
      {"x / 2", "u32", "(self.x / (2 as u32))"},
      {"x / 0", "u32", "ERR division by zero"},
      {"x / (1 - 1)", "u32", "ERR division by zero"},
      {"x / (0xF0 & 0x0F)", "u32", "ERR division by zero"},
      {"x / (3 ^ 3)", "u32", "ERR division by zero"},
      {"x / (256 >> 9)", "u32", "ERR division by zero"},
      {"x / (0xF0 | 0x0F)", "u32", "(self.x / (((0xF0 as u32) | (0x0F as u32))))"},
      {"x / x", "u32", "ERR divisor is not an integer constant"},
      {"1 / (x & 1)", "u32", "ERR divisor is not an integer constant"},
      {"x / (int)(float)2", "i32", "ERR divisor is not an integer constant"},
      {"x / -1", "i32", "(self.x.wrapping_div((-((1 as i32)))))"},
      {"x / (-8 >> 3)", "i64", "(self.x.wrapping_div((((-((8 as i64))) >> (3 as i64)))))"},
      {"x / -2", "i32", "(self.x / (-((2 as i32))))"},
      {"(int)0x80000000 / -(int)1", "u32", "ERR constant `/` overflows i32"},
      {"-7 / 2 / -3", "i32", "(((-((7 as i32))) / (2 as i32)) / (-((3 as i32))))"},
      // Constant arithmetic is exact; rustc refuses what overflows.
      {"255 + 1", "u8", "ERR constant `+` overflows u8"},
      {"254 + 1", "u8", "((254 as u8) + (1 as u8))"},
      {"0 - 1", "u32", "ERR constant `-` overflows u32"},
      {"x & (0 - 1)", "i16", "(self.x & (((0 as i16) - (1 as i16))))"},
      {"0x7FFFFFFFFFFFFFFF * 2", "i64", "ERR constant `*` overflows i64"},
      {"0xFFFFFFFFFFFFFFFF * 0xFFFFFFFFFFFFFFFF", "u64", "ERR constant `*` overflows u64"},
      {"-0x4000 * 2", "i16", "((-((0x4000 as i16))) * (2 as i16))"},
      {"0x4000 * 2", "i16", "ERR constant `*` overflows i16"},
      {"(byte)300 + 255", "u32", "ERR operands of `+` have different types: u8 and u32"},
      {"(byte)(300 + 255)", "u32", "((((300 as u32) + (255 as u32))) as u8)"},
      {"(byte)300 * (byte)1", "u32", "(((300 as u32) as u8) * ((1 as u32) as u8))"},
      {"(byte)0x1FF + (byte)1", "u32", "ERR constant `+` overflows u8"},
      // ... while anything involving the field wraps.
      {"x * 3 + 1", "u64", "((self.x.wrapping_mul((3 as u64))).wrapping_add((1 as u64)))"},
      {"2 - x", "u8", "((2 as u8).wrapping_sub(self.x))"},
      {"(255 + 1) & x", "u8", "ERR constant `+` overflows u8"},
      // Only integer types are accepted for the parent.
      {"x", "f32", R"(ERR operand type "f32" is not an integer type)"},
      {"x", "bool", R"(ERR operand type "bool" is not an integer type)"},
  };
  for (const TypedCase& c : cases) {
    Result<std::vector<ExprTok>> toks = tokenize_csharp_expr(c.input);
    ASSERT_TRUE(toks) << c.input << ": " << toks.reason();
    ExprParser parser(*toks);
    EXPECT_EQ(outcome(parser.parse_expr("x", "x", c.literal_ty)), c.want) << c.input << " over " << c.literal_ty;
  }
}

std::string parse_all(const std::string& text) {
  Result<std::vector<ExprTok>> toks = tokenize_csharp_expr(text);
  if (!toks) return "ERR " + toks.reason();
  ExprParser parser(*toks);
  return outcome(parser.parse_expr("x", "x", "i64"));
}

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

TEST(ExprParser, NestingIsBounded) {
  const std::string too_deep = "ERR expression nested deeper than 256 levels";
  ASSERT_EQ(kMaxExprDepth, 256u);

  // At the limit everything still parses.
  EXPECT_EQ(parse_all(repeat("(", 256) + "x" + repeat(")", 256)), repeat("(", 256) + "self.x" + repeat(")", 256));
  EXPECT_EQ(parse_all(repeat("-", 256) + "x"), repeat("(", 256) + "self.x" + repeat(".wrapping_neg())", 256));
  EXPECT_EQ(parse_all(repeat("(int)", 256) + "x"), repeat("(", 256) + "self.x" + repeat(" as i32)", 256));
  EXPECT_EQ(parse_all(repeat("(-", 128) + "x" + repeat(")", 128)),
            repeat("((", 128) + "self.x" + repeat(".wrapping_neg()))", 128));

  // One more level, or very many, is refused without exhausting the stack.
  const std::vector<std::string> refused = {
      repeat("(", 257) + "x" + repeat(")", 257),
      repeat("-", 257) + "x",
      repeat("(-", 129) + "x" + repeat(")", 129),
      repeat("(", 100000),
      repeat("-", 100000),
      repeat("(byte)", 100000) + "x",
      repeat("(-", 50000),
  };
  for (const std::string& text : refused) EXPECT_EQ(parse_all(text), too_deep) << "length " << text.size();

  // Depth is nesting, not count: groups and minus signs side by side are fine.
  const std::string groups = "(x)" + repeat(" + (x)", 999);
  Result<std::vector<ExprTok>> toks = tokenize_csharp_expr(groups);
  ASSERT_TRUE(toks);
  ExprParser parser(*toks);
  Result<std::string> r = parser.parse_expr("x", "x", "i64");
  ASSERT_TRUE(r) << r.reason();
  EXPECT_EQ(*r, repeat("(", 999) + "(self.x)" + repeat(".wrapping_add((self.x)))", 999));
  EXPECT_EQ(parse_all("-x" + repeat(" * -x", 999)),
            repeat("(", 999) + "(self.x.wrapping_neg())" + repeat(".wrapping_mul((self.x.wrapping_neg())))", 999));

  // An unclosed group below the limit reports the missing parenthesis.
  EXPECT_EQ(parse_all(repeat("(", 256) + "x"), "ERR expected ')', got None");
}

TEST(ExprParser, LongFlatChainsKeepEveryOperand) {
  const std::size_t terms = 100000;
  std::string text = "x";
  for (std::size_t i = 1; i < terms; ++i) text += i % 2 ? " + 1" : " - 2";
  const std::string out = parse_all(text);
  ASSERT_EQ(out.substr(0, terms), repeat("(", terms - 1) + "s");
  EXPECT_EQ(out.substr(terms - 1, 58), "self.x.wrapping_add((1 as i64))).wrapping_sub((2 as i64)))");
  EXPECT_EQ(out.size(), (terms - 1) + 6 + (terms - 1) * std::string(".wrapping_add((1 as i64)))").size());
}

// ---- Subfield expressions ----------------------------------------------------------

TEST(SubfieldExpr, OverSelfAndOverLocal) {
  struct SubCase {
    std::string expr;
    std::string on_self;
    std::string on_local;
  };
  const std::vector<SubCase> cases = {
      {"(Flags >> 8) & 0xFF", "((((self.flags >> (8 as u32))) & (0xFF as u32))) as u8",
       "((((flags >> (8 as u32))) & (0xFF as u32))) as u8"},
      {"Flags", "(self.flags) as u8", "(flags) as u8"},
      {"Flags Flags", R"(ERR trailing tokens after position 1: [Ident("Flags")])",
       R"(ERR trailing tokens after position 1: [Ident("Flags")])"},
      {"(Flags) ) 1 <<", R"(ERR trailing tokens after position 3: [RParen, IntLit { raw: "1" }, Shift(true)])",
       R"(ERR trailing tokens after position 3: [RParen, IntLit { raw: "1" }, Shift(true)])"},
      {"Flags % 2", R"(ERR unexpected character '%' at offset 6 of "Flags % 2")",
       R"(ERR unexpected character '%' at offset 6 of "Flags % 2")"},
      {"", "ERR expected atom, got end-of-input", "ERR expected atom, got end-of-input"},
      {"Mask & 1",
       R"(ERR identifier "Mask" is not the parent field name ("Flags"); cross-field subfield expressions are deferred)",
       R"(ERR identifier "Mask" is not the parent field name ("Flags"); cross-field subfield expressions are deferred)"},
  };
  for (const SubCase& c : cases) {
    EXPECT_EQ(outcome(translate_subfield_expr(c.expr, "Flags", "flags", "u32", "u8")), c.on_self) << c.expr;
    EXPECT_EQ(outcome(translate_subfield_expr_for_local(c.expr, "Flags", "flags", "u32", "u8")), c.on_local) << c.expr;
  }
}

// ---- Lengths ---------------------------------------------------------------------------

SiblingLookup length_lookup() {
  SiblingLookup lookup;
  lookup.numeric_fields["Count"] = {"count", "u32"};
  lookup.numeric_fields["Packed"] = {"packed", "u32"};
  lookup.numeric_fields["Small"] = {"small", "u16"};
  lookup.numeric_fields["Both"] = {"both", "u16"};
  lookup.subfields["Both"] = {"Packed", "packed", "u32", "Packed & 1"};
  lookup.subfields["Low"] = {"Packed", "packed", "u32", "Packed & 0xFFFF"};
  lookup.subfields["High"] = {"Small", "small", "u16", "(Small >> 8) & 0xFF"};
  lookup.subfields["Cross"] = {"Packed", "packed", "u32", "Other + 1"};
  lookup.subfields["Trail"] = {"Packed", "packed", "u32", "Packed Packed"};
  lookup.subfields["Odd"] = {"Packed", "packed", "u32", "Packed % 2"};
  lookup.enum_fields["Kind"] = {"kind", "u8"};
  return lookup;
}

TEST(LengthSource, NumericFieldsThenSubfields) {
  const SiblingLookup lookup = length_lookup();
  struct SourceCase {
    std::string name;
    std::string want_expr;
    std::string want_ty;
  };
  const std::vector<SourceCase> cases = {
      {"Count", "count", "u32"},
      {"Small", "small", "u16"},
      {"Both", "both", "u16"},  // a numeric field wins over a subfield of the same name
      {"Low", "((packed & (0xFFFF as u32))) as u32", "u32"},
      {"High", "((((small >> (8 as u16))) & (0xFF as u16))) as u16", "u16"},
      {"Cross",
       R"(ERR subfield Cross: cannot translate "Other + 1": identifier "Other" is not the parent field name )"
       R"(("Packed"); cross-field subfield expressions are deferred)",
       ""},
      {"Trail",
       R"(ERR subfield Trail: cannot translate "Packed Packed": trailing tokens after position 1: )"
       R"([Ident("Packed")])",
       ""},
      {"Odd",
       R"(ERR subfield Odd: cannot translate "Packed % 2": unexpected character '%' at offset 7 of "Packed % 2")", ""},
      {"Kind", R"(ERR identifier "Kind" is not a sibling field nor a sibling's subfield)", ""},
      {"count", R"(ERR identifier "count" is not a sibling field nor a sibling's subfield)", ""},
  };
  for (const SourceCase& c : cases) {
    Result<LengthSource> r = resolve_length_source(c.name, lookup);
    if (!r) {
      EXPECT_EQ("ERR " + r.reason(), c.want_expr) << c.name;
      continue;
    }
    EXPECT_EQ(r->expr, c.want_expr) << c.name;
    EXPECT_EQ(r->ty, c.want_ty) << c.name;
  }
}

TEST(VectorLength, ShapesAndMessages) {
  const SiblingLookup lookup = length_lookup();
  const std::vector<Case> cases = {
      {"Count", "(count) as usize"},
      {"  Count\t", "(count) as usize"},
      {"\xE3\x80\x80"
       "Count"
       "\xC2\xA0",
       "(count) as usize"},  // U+3000 and U+00A0 are trimmed
      {"Count - 1", "((count as i32).wrapping_sub(1)) as usize"},
      {"Count+0x10", "((count as i32).wrapping_add(0x10)) as usize"},
      {"Count+0X7fffFFFF", "((count as i32).wrapping_add(0x7fffFFFF)) as usize"},
      {"Count - 2147483647", "((count as i32).wrapping_sub(2147483647)) as usize"},
      {"Small + 007", "((small as i32).wrapping_add(007)) as usize"},
      {"Low", "(((packed & (0xFFFF as u32))) as u32) as usize"},
      {"Low - 2", "((((packed & (0xFFFF as u32))) as u32 as i32).wrapping_sub(2)) as usize"},
      // The literal is an i32 operand.
      {"Count + 2147483648", R"(ERR literal "2147483648" does not fit i32)"},
      {"Count - 0x80000000", R"(ERR literal "0x80000000" does not fit i32)"},
      {"Count + 0x", R"(ERR literal "0x" has no digits)"},
      {"Both", "(both) as usize"},
      {"Count * 2", "ERR expected `+` or `-`, got BinOp('*')"},
      {"Count << 2", "ERR expected `+` or `-`, got Shift(true)"},
      {"Count + Count", R"(ERR expected integer literal, got Ident("Count"))"},
      {"Count - (", "ERR expected integer literal, got LParen"},
      {"Count + 1 + 2",
       R"(ERR only single-literal arithmetic supported, got 4 trailing tokens: [BinOp('+'), IntLit { raw: "1" }, )"
       R"(BinOp('+'), IntLit { raw: "2" }])"},
      {"Count 1", R"(ERR only single-literal arithmetic supported, got 1 trailing tokens: [IntLit { raw: "1" }])"},
      {"Count - - 1",
       R"(ERR only single-literal arithmetic supported, got 3 trailing tokens: [BinOp('-'), BinOp('-'), )"
       R"(IntLit { raw: "1" }])"},
      {"Header.Count",
       R"(ERR dotted-path length-source "Header.Count" not supported (no sites in current protocol.xml; add when one )"
       R"(appears))"},
      {"  a.b  ",
       R"(ERR dotted-path length-source "a.b" not supported (no sites in current protocol.xml; add when one appears))"},
      {"Count * 1.5",
       R"(ERR dotted-path length-source "Count * 1.5" not supported (no sites in current protocol.xml; add when one )"
       R"(appears))"},
      {"", "ERR empty length expression"},
      {" \t ", "ERR empty length expression"},
      {"5", R"(ERR expected identifier, got Some(IntLit { raw: "5" }))"},
      {"(Count)", "ERR expected identifier, got Some(LParen)"},
      {"(int)Count", R"(ERR expected identifier, got Some(Cast("int")))"},
      {"Count % 2", R"(ERR tokenize failed: unexpected character '%' at offset 6 of "Count % 2")"},
      // Offsets count from the trimmed text.
      {"   Count % 2 ", R"(ERR tokenize failed: unexpected character '%' at offset 6 of "Count % 2")"},
      {"Count\xC3\x97"
       "2",
       R"(ERR tokenize failed: unexpected character 'Ã' at offset 5 of "Count×2")"},
      {"Missing", R"(ERR identifier "Missing" is not a sibling field nor a sibling's subfield)"},
      {"Kind", R"(ERR identifier "Kind" is not a sibling field nor a sibling's subfield)"},
      // The name is resolved before the rest is checked.
      {"Missing * 2", R"(ERR identifier "Missing" is not a sibling field nor a sibling's subfield)"},
      {"Cross + 1 + 1",
       R"(ERR subfield Cross: cannot translate "Other + 1": identifier "Other" is not the parent field name )"
       R"(("Packed"); cross-field subfield expressions are deferred)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(translate_vector_length_expr(c.input, lookup)), c.want) << "length: " << c.input;
  }
}

// ---- If tests ------------------------------------------------------------------------------

std::string if_tokens_of(std::string_view text) {
  Result<std::vector<IfTok>> toks = tokenize_if_test_expr(text);
  if (!toks) return "ERR " + toks.reason();
  std::string out;
  for (const IfTok& tok : *toks) {
    if (!out.empty()) out += ' ';
    out += debug_if_tok(tok);
  }
  return out;
}

TEST(IfTokenizer, TokensAndMessages) {
  const std::vector<Case> cases = {
      {"", ""},
      {"a<b<=c>d>=e==f!=g",
       R"(Ident("a") Cmp(Lt) Ident("b") Cmp(Le) Ident("c") Cmp(Gt) Ident("d") Cmp(Ge) Ident("e") Cmp(Eq) )"
       R"(Ident("f") Cmp(Ne) Ident("g"))"},
      {"-0x1F 0X 0x -12 007 1.5 5. -0.25", R"(IntLit { raw: "-0x1F" } IntLit { raw: "0X" } IntLit { raw: "0x" } )"
                                           R"(IntLit { raw: "-12" } IntLit { raw: "007" } FloatLit { raw: "1.5" } )"
                                           R"(FloatLit { raw: "5." } FloatLit { raw: "-0.25" })"},
      {"5-3", R"(IntLit { raw: "5" } IntLit { raw: "-3" })"},
      {"1e5 0b1", R"(IntLit { raw: "1" } Ident("e5") IntLit { raw: "0" } Ident("b1"))"},
      {"0", R"(IntLit { raw: "0" })"},
      {"Flags && Count", R"(ERR unexpected character '&' at offset 6 of "Flags && Count")"},
      {"Flags = 1", R"(ERR unexpected character '=' at offset 6 of "Flags = 1")"},
      {"a=", R"(ERR unexpected character '=' at offset 1 of "a=")"},
      {"!Flags", R"(ERR unexpected character '!' at offset 0 of "!Flags")"},
      {"Flags == -", R"(ERR unexpected character '-' at offset 9 of "Flags == -")"},
      {"Flags == - 1", R"(ERR unexpected character '-' at offset 9 of "Flags == - 1")"},
      {"Flags == 1.2.3", R"(ERR unexpected character '.' at offset 12 of "Flags == 1.2.3")"},
      {"0x1.5", R"(ERR unexpected character '.' at offset 3 of "0x1.5")"},
      {".5", R"(ERR unexpected character '.' at offset 0 of ".5")"},
      {"(Flags)", R"x(ERR unexpected character '(' at offset 0 of "(Flags)")x"},
      {"a | b", R"(ERR unexpected character '|' at offset 2 of "a | b")"},
      {"a+1", R"(ERR unexpected character '+' at offset 1 of "a+1")"},
      {"a\x0B", R"(ERR unexpected character '\u{b}' at offset 1 of "a\u{b}")"},
      {"a \xC3\x97 b", R"(ERR unexpected character 'Ã' at offset 2 of "a × b")"},
  };
  for (const Case& c : cases) EXPECT_EQ(if_tokens_of(c.input), c.want) << "test: " << c.input;
  // A lone `<` is a comparison; the `=` after a space is a stray character.
  EXPECT_EQ(if_tokens_of("<"), "Cmp(Lt)");
  EXPECT_EQ(if_tokens_of(">"), "Cmp(Gt)");
  EXPECT_EQ(if_tokens_of("< ="), R"(ERR unexpected character '=' at offset 2 of "< =")");
}

TEST(IfTest, RustSpellingOfOperators) {
  const std::vector<std::pair<CmpOp, std::string>> cases = {
      {CmpOp::Lt, "<"}, {CmpOp::Le, "<="}, {CmpOp::Gt, ">"}, {CmpOp::Ge, ">="}, {CmpOp::Eq, "=="}, {CmpOp::Ne, "!="},
  };
  for (const auto& [op, want] : cases) EXPECT_EQ(op_as_rust(op), want);
}

SiblingLookup if_lookup() {
  SiblingLookup lookup;
  lookup.numeric_fields["Flags"] = {"flags", "u32"};
  lookup.numeric_fields["Count"] = {"count", "u16"};
  lookup.numeric_fields["Scale"] = {"scale", "f32"};
  lookup.numeric_fields["Wide"] = {"wide", "f64"};
  lookup.numeric_fields["Ratio"] = {"ratio", "u8"};
  lookup.numeric_fields["Delta"] = {"delta", "i64"};
  lookup.numeric_fields["HasName"] = {"has_name", "bool"};
  lookup.bool_fields.insert("HasName");
  lookup.subfields["Low"] = {"Flags", "flags", "u32", "Flags & 0xFF"};
  lookup.enum_fields["Kind"] = {"kind", "u8"};
  return lookup;
}

TEST(IfTest, ConditionsAndMessages) {
  const SiblingLookup lookup = if_lookup();
  const std::vector<Case> cases = {
      {"Flags", "(flags as u64) != 0"},
      {"  Delta\t", "(delta as u64) != 0"},
      {"Scale", "(scale as u64) != 0"},
      {"HasName", "has_name"},
      {"Flags == 0x10", "(flags as i128) == 0x10i128"},
      {"Count >= -1", "(count as i128) >= -1i128"},
      {"Count>=2", "(count as i128) >= 2i128"},
      {"Flags==-5", "(flags as i128) == -5i128"},
      {"Flags != -0X1f", "(flags as i128) != -0x1fi128"},
      {"Flags <= 1", "(flags as i128) <= 1i128"},
      {"HasName == 1", "(has_name as i128) == 1i128"},
      {"Scale > 1", "(scale as i128) > 1i128"},
      {"Scale < 1.5", "scale < 1.5f32"},
      {"Wide <= 2.25", "wide <= 2.25f64"},
      {"Ratio != 0.5", "(ratio as f64) != 0.5f64"},
      {"Delta > -0.5", "(delta as f64) > -0.5f64"},
      {"Flags > 5.", "(flags as f64) > 5.0f64"},
      {"Scale == -5.", "scale == -5.0f32"},
      {"Count > Flags", "(count as i128) > (flags as i128)"},
      {"Count < Scale", "(count as i128) < (scale as i128)"},
      {"Scale == Wide", "(scale as i128) == (wide as i128)"},
      // Messages.
      {"Flags && Count", R"(ERR tokenize failed: unexpected character '&' at offset 6 of "Flags && Count")"},
      {"!Flags", R"(ERR tokenize failed: unexpected character '!' at offset 0 of "!Flags")"},
      {"", "ERR unsupported test shape: []"},
      {"Flags ==", R"(ERR unsupported test shape: [Ident("Flags"), Cmp(Eq)])"},
      {"Flags == == 1", R"(ERR unsupported test shape: [Ident("Flags"), Cmp(Eq), Cmp(Eq), IntLit { raw: "1" }])"},
      {"1", R"(ERR expected identifier, got IntLit { raw: "1" })"},
      {"1.5", R"(ERR expected identifier, got FloatLit { raw: "1.5" })"},
      {"!=", "ERR expected identifier, got Cmp(Ne)"},
      {"Kind", R"(ERR identifier "Kind" is not a sibling field)"},
      {"Low", R"(ERR identifier "Low" is not a sibling field)"},
      {"flags", R"(ERR identifier "flags" is not a sibling field)"},
      {"1 == Flags", R"(ERR expected identifier LHS, got IntLit { raw: "1" })"},
      {"< < <", "ERR expected identifier LHS, got Cmp(Lt)"},
      {"Flags 1 2", R"(ERR expected comparison operator, got IntLit { raw: "1" })"},
      {"Missing 1 2", R"(ERR expected comparison operator, got IntLit { raw: "1" })"},
      {"Missing == Other", R"(ERR identifier "Missing" is not a sibling field)"},
      {"Kind == 1", R"(ERR identifier "Kind" is not a sibling field)"},
      {"Flags == None", R"(ERR RHS identifier "None" is not a sibling field)"},
      {"Flags == Kind", R"(ERR RHS identifier "Kind" is not a sibling field)"},
      {"Flags == <", "ERR expected literal or identifier RHS, got Cmp(Lt)"},
      {"Flags >= >=", "ERR expected literal or identifier RHS, got Cmp(Ge)"},
      // Literals Rust would refuse.
      {"HasName > 0.5", R"(ERR bool identifier "HasName" cannot be compared with float literal "0.5")"},
      {"Flags == 0x", R"(ERR literal "0x" has no digits)"},
      {"Flags == -0X", R"(ERR literal "-0X" has no digits)"},
      {"Flags == 170141183460469231731687303715884105727",
       "(flags as i128) == 170141183460469231731687303715884105727i128"},
      {"Flags == -170141183460469231731687303715884105728",
       "(flags as i128) == -170141183460469231731687303715884105728i128"},
      {"Flags == 170141183460469231731687303715884105728",
       R"(ERR literal "170141183460469231731687303715884105728" does not fit i128)"},
      {"Flags == -170141183460469231731687303715884105729",
       R"(ERR literal "-170141183460469231731687303715884105729" does not fit i128)"},
      {"Flags != -0x80000000000000000000000000000000", "(flags as i128) != -0x80000000000000000000000000000000i128"},
      {"Flags != 0x80000000000000000000000000000000",
       R"(ERR literal "0x80000000000000000000000000000000" does not fit i128)"},
      {"Flags != 0x1" + std::string(40, '0'), "ERR literal \"0x1" + std::string(40, '0') + "\" does not fit i128"},
      // The largest decimal that still rounds to a finite f32, and the next.
      {"Scale < 340282356779733661637539395458142568447.0", "scale < 340282356779733661637539395458142568447.0f32"},
      {"Scale < 340282356779733661637539395458142568448.",
       R"(ERR literal "340282356779733661637539395458142568448." does not fit f32)"},
      {"Ratio < 340282356779733661637539395458142568448.",
       "(ratio as f64) < 340282356779733661637539395458142568448.0f64"},
      {"Wide > 1" + std::string(309, '0') + ".", "ERR literal \"1" + std::string(309, '0') + ".\" does not fit f64"},
      {"Wide > 1" + std::string(308, '0') + ".", "wide > 1" + std::string(308, '0') + ".0f64"},
      {"Wide > 0." + std::string(400, '0') + "1", "wide > 0." + std::string(400, '0') + "1f64"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome(translate_if_test_expr(c.input, lookup)), c.want) << "test: " << c.input;
}

// Later declarations of a name replace earlier ones. A field of an <if>
// branch reads as the branch's `_v` local inside that branch and as the
// block's option (absent: zero) anywhere else.
TEST(SiblingReferences, RebindingAndBranchFields) {
  SiblingLookup lookup;
  lookup.add_field("Count", "count", FieldKind(FieldKind::U32));
  lookup.add_field("Was", "was", FieldKind(FieldKind::Bool));
  lookup.add_field("Was", "was_2", FieldKind(FieldKind::U16));
  // The two branches of one block in the body.
  ASSERT_EQ(lookup.new_branch(), 1U);
  ASSERT_EQ(lookup.new_branch(), 2U);
  lookup.open_branch = 1;
  lookup.add_field("Opt", "opt", FieldKind(FieldKind::U32));
  lookup.add_subfield("OptLow", "Opt", "opt", FieldKind(FieldKind::U32), "Opt & 1");
  lookup.add_field("Flag", "flag", FieldKind(FieldKind::Bool));
  lookup.add_field("Again", "again", FieldKind(FieldKind::U8));
  lookup.open_branch = 0;
  lookup.add_field("Again", "again_2", FieldKind(FieldKind::I16));
  // A string in a branch registers nothing: the name still means the number.
  lookup.open_branch = 2;
  lookup.add_field("Count", "count_2", FieldKind(FieldKind::String));
  lookup.open_branch = 0;

  struct BranchCase {
    std::size_t open_branch;  // 0: after the block; 1: the fields' own branch; 2: the other branch
    std::string input;
    std::string want;
  };
  const std::vector<BranchCase> tests = {
      {0, "Was", "(was_2 as u64) != 0"},
      {0, "Count", "(count as u64) != 0"},
      {2, "Count", "(count as u64) != 0"},
      {0, "Again", "(again_2 as u64) != 0"},
      {0, "Opt", "(opt.unwrap_or_default() as u64) != 0"},
      {2, "Opt", "(opt.unwrap_or_default() as u64) != 0"},
      {1, "Opt", "(opt_v as u64) != 0"},
      {0, "Flag", "flag.unwrap_or_default()"},
      {1, "Flag", "flag_v"},
      {0, "Opt > 1", "(opt.unwrap_or_default() as i128) > 1i128"},
      {0, "Flag == 1.5", R"(ERR bool identifier "Flag" cannot be compared with float literal "1.5")"},
      {0, "Count == Flag", "(count as i128) == (flag.unwrap_or_default() as i128)"},
      {1, "Count == Flag", "(count as i128) == (flag_v as i128)"},
      {0, "Count == Again", "(count as i128) == (again_2 as i128)"},
  };
  for (const BranchCase& c : tests) {
    lookup.open_branch = c.open_branch;
    EXPECT_EQ(outcome(translate_if_test_expr(c.input, lookup)), c.want) << c.input << " in branch " << c.open_branch;
  }

  const std::vector<BranchCase> lengths = {
      {0, "Count", "(count) as usize"},
      {0, "Again - 1", "((again_2 as i32).wrapping_sub(1)) as usize"},
      {0, "Opt", "(opt.unwrap_or_default()) as usize"},
      {1, "Opt", "(opt_v) as usize"},
      {2, "Opt", "(opt.unwrap_or_default()) as usize"},
      {0, "OptLow + 1", "((((opt.unwrap_or_default() & (1 as u32))) as u32 as i32).wrapping_add(1)) as usize"},
      {1, "OptLow", "(((opt_v & (1 as u32))) as u32) as usize"},
  };
  for (const BranchCase& c : lengths) {
    lookup.open_branch = c.open_branch;
    EXPECT_EQ(outcome(translate_vector_length_expr(c.input, lookup)), c.want)
        << c.input << " in branch " << c.open_branch;
  }
}

}  // namespace
}  // namespace qm
