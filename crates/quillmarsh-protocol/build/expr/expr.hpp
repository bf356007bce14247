#pragma once
// Expression translation: C#-syntax subfield values, vector/table lengths and
// if tests over earlier sibling fields, turned into fully parenthesised Rust.
// Every function returns the Rust text or a message (never throws).

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schema/body.hpp"
#include "schema/registry.hpp"
#include "text/result.hpp"
#include "text/text.hpp"

namespace qm {

// ---- C# expression tokens and parser -----------------------------------------

struct ExprTok {
  enum Kind { Ident, IntLit, Cast, LParen, RParen, BinOp, Shift };
  Kind kind = Ident;
  std::string text;   // Ident: name; IntLit: raw literal; Cast: C# type name
  char op = 0;        // BinOp: one of & * + - / ^ |
  bool left = false;  // Shift: true for <<, false for >>
};

// `Ident("Flags")`, `IntLit { raw: "5" }`, `Cast("int")`, `LParen`,
// `BinOp('*')`, `Shift(true)`.
std::string debug_tok(const ExprTok& tok);
// `None` or `Some(...)`.
std::string debug_opt_tok(const ExprTok* tok);
// `[a, b]`.
std::string debug_tok_list(const std::vector<ExprTok>& toks, std::size_t from = 0);

Result<std::vector<ExprTok>> tokenize_csharp_expr(std::string_view text);

// Recursive descent straight to Rust text. Nesting deeper than
// `kMaxExprDepth` fails with a reason instead of exhausting the stack.
//
// Every sub-expression carries its Rust type (the parent field's type for the
// name and for literals, a cast's target type) and, for an integer constant,
// its value. The parse refuses what Rust would not compile (operands of
// different types, `as bool`, bit operations on floats, minus on unsigned
// types, literals that do not fit, constant shifts and divisions that rustc
// rejects, constant overflow) and writes the integer operations that can
// overflow on some value of the field as wrapping method calls, so that an
// accessor never panics and computes what a release build would.
inline constexpr std::size_t kMaxExprDepth = 256;

class ExprParser {
 public:
  explicit ExprParser(const std::vector<ExprTok>& toks) : toks_(toks) {}

  std::size_t pos() const { return pos_; }
  const ExprTok* peek() const { return pos_ < toks_.size() ? &toks_[pos_] : nullptr; }

  // The expression over the parent field named `accepted`, read as
  // `self.{field_path}`, or as the decoder expression `local`; `literal_ty`
  // is the parent field's integer type ("u8" ... "i64").
  Result<std::string> parse_expr(std::string_view accepted, std::string_view field_path, std::string_view literal_ty);
  Result<std::string> parse_expr_with_local_atom(std::string_view accepted, std::string_view local,
                                                 std::string_view literal_ty);

 private:
  // The Rust text of a sub-expression, its type name, and its value when it
  // is an integer constant.
  struct Operand {
    std::string text;
    std::string_view ty;
    std::optional<i128> value;
  };

  Result<std::string> parse_over(std::string atom, std::string_view accepted, std::string_view literal_ty);

  // Binary levels from `|` (0) to `*` `/` (5).
  Result<Operand> parse_level(int level);
  Result<Operand> parse_cast_or_unary();
  Result<Operand> parse_atom();

  const std::vector<ExprTok>& toks_;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;
  std::string_view accepted_;
  std::string atom_;  // the Rust text of the parent field's value
  std::string_view literal_ty_;
};

// ---- Length and subfield translation ------------------------------------------

// Over `self.{field_path}`: "({parsed}) as {result_ty}".
Result<std::string> translate_subfield_expr(std::string_view expr, std::string_view accepted,
                                            std::string_view field_path, std::string_view literal_ty,
                                            std::string_view result_ty);
// Over the bare local `{local}`.
Result<std::string> translate_subfield_expr_for_local(std::string_view expr, std::string_view accepted,
                                                      std::string_view local, std::string_view literal_ty,
                                                      std::string_view result_ty);

struct LengthSource {
  std::string expr;  // Rust expression
  std::string ty;    // its Rust type name
  LocalRead read;    // the local it reads
};
Result<LengthSource> resolve_length_source(std::string_view name, const SiblingLookup& lookup);

// A `usize` expression for a vector/table `length` attribute; what it reads
// is added to `reads` when given.
Result<std::string> translate_vector_length_expr(std::string_view length, const SiblingLookup& lookup,
                                                 LocalReads* reads = nullptr);

// ---- If tests ------------------------------------------------------------------

enum class CmpOp { Lt, Le, Gt, Ge, Eq, Ne };
std::string_view op_as_rust(CmpOp op);

struct IfTok {
  enum Kind { Ident, IntLit, FloatLit, Cmp };
  Kind kind = Ident;
  std::string text;  // Ident: name; IntLit/FloatLit: raw literal
  CmpOp op = CmpOp::Eq;
};
// `Ident("Flags")`, `IntLit { raw: "-0x10" }`, `FloatLit { raw: "1.5" }`, `Cmp(Eq)`.
std::string debug_if_tok(const IfTok& tok);

Result<std::vector<IfTok>> tokenize_if_test_expr(std::string_view text);
// The condition of an `<if test=...>`; what it reads is added to `reads` when given.
Result<std::string> translate_if_test_expr(std::string_view test, const SiblingLookup& lookup,
                                           LocalReads* reads = nullptr);

// ---- Extended C# expressions -------------------------------------------------------

// The extended translator takes any C# boolean or integer expression over
// earlier fields, with C#'s meaning: precedence, literal types, numeric
// promotion by overload resolution over the predefined operators (constant
// conversions included, so `uintField + 1` is uint arithmetic and
// `uintField + intField` long), unchecked wrapping arithmetic, masked shift
// counts. The Rust it writes is fully parenthesised, types every literal
// (`5u32`, `(-1i64)`, `1.5f64`), converts operands with `as` where C#
// converts them implicitly, and never panics: `+ - *`, negation, shifts and
// integer division are wrapping method calls, and an integer divisor must be
// a non-zero constant. Names are resolved by the caller.

struct CsharpToken {
  enum Kind { Name, Int, Real, Op, LParen, RParen };
  Kind kind = Name;
  std::string text;        // Name: the name, dotted for `Enum.Member`; Int, Real: as written; Op: the operator
  std::size_t offset = 0;  // of its first byte in the expression
};
// `Name("Flags")`, `Int("0x10u")`, `Real("1.5f")`, `Op("&&")`, `LParen`, `RParen`.
std::string debug_csharp_token(const CsharpToken& tok);

// Identifiers and dotted names, integer literals (decimal or `0x`, suffixes
// `u`, `l`, `ul`, `lu` in either case), real literals (`1.5`, `5.`, `.5`,
// `1e-3`, suffixes `f` and `d`), the operators `|| && | ^ & == != < > <= >= <<
// >> + - * / % ! ~ ? :` and parentheses.
Result<std::vector<CsharpToken>> tokenize_extended_expr(std::string_view text);

// What a name of an expression stands for: the Rust text of its value (an
// expression that can take a method call, or is parenthesised by the
// translator), its Rust scalar type ("i8" ... "u64", "f32", "f64", "bool"),
// and the decoder locals it reads. A constant (an enum member) has its value
// in `constant` and is written as a literal of its type.
struct ResolvedName {
  std::string rust;
  std::string rust_ty;
  LocalReads reads;
  std::optional<i128> constant;
};
using NameResolver = std::function<Result<ResolvedName>(std::string_view name)>;

// A Rust `bool` expression for a C# test. An integer where a bool is
// expected (the whole test, an operand of `&&`, `||`, `!`, a condition of
// `?:`) means non-zero. The locals read are added to `reads` when given.
Result<std::string> translate_extended_test(std::string_view text, const NameResolver& resolve,
                                            LocalReads* reads = nullptr);
// A Rust expression of `result_rust_ty` for a C# value, converted at the
// end as C#'s explicit cast converts it.
Result<std::string> translate_extended_value(std::string_view text, const NameResolver& resolve,
                                             std::string_view result_rust_ty, LocalReads* reads = nullptr);

// A name as a decoder statement reads it at the point `lookup` describes: a
// numeric or bool field (branch fields as `SiblingLookup::value_of` reads
// them), an enum field as its raw bits in the enum's representation type, a
// field of a mask group (absent: zero), a subfield as its own expression over
// its parent, or `Enum.Member` of an enum already written, as a constant of
// the enum's representation type.
Result<ResolvedName> resolve_decoder_name(std::string_view name, const SiblingLookup& lookup,
                                          const EnumValueTable& enum_values, const TypeRegistry& registry);
// `resolve_decoder_name` over these tables, which must outlive the resolver.
NameResolver decoder_name_resolver(const SiblingLookup& lookup, const EnumValueTable& enum_values,
                                   const TypeRegistry& registry);

}  // namespace qm
