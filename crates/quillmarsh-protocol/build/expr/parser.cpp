// Tokenizer and recursive-descent parser for the C#-syntax value expressions
// of subfields and lengths. Each parse level returns the Rust text of what it
// parsed, fully parenthesised, so precedence never depends on Rust's rules.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expr/chars.hpp"
#include "expr/expr.hpp"
#include "expr/literals.hpp"
#include "schema/registry.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

using namespace chars;  // NOLINT(google-build-using-namespace)

// The C# names that `(name)` turns into a cast, in the order they are tried.
constexpr std::string_view kCastNames[] = {"byte", "short", "ushort", "int",    "uint",
                                           "long", "ulong", "float",  "double", "bool"};

std::string unexpected_char(std::string_view text, std::size_t offset) {
  return "unexpected character " + debug_char(static_cast<unsigned char>(text[offset])) + " at offset " +
         std::to_string(offset) + " of " + debug_str(text);
}

bool is_binop(const ExprTok* tok, char op) { return tok != nullptr && tok->kind == ExprTok::BinOp && tok->op == op; }

// Builds a left-associative chain `((a op b) op c)` in linear time: the
// opening parentheses are counted and written once at the end, instead of
// re-wrapping an ever longer left operand at every step.
class LeftChain {
 public:
  explicit LeftChain(std::string first) : first_(std::move(first)) {}

  // `piece` is everything after the left operand, closing parenthesis
  // included.
  void add(std::string_view piece) {
    ++steps_;
    tail_ += piece;
  }

  std::string finish() && {
    if (steps_ == 0) return std::move(first_);
    std::string out(steps_, '(');
    out += first_;
    out += tail_;
    return out;
  }

 private:
  std::string first_;
  std::string tail_;
  std::size_t steps_ = 0;
};

std::string nesting_message() { return "expression nested deeper than " + std::to_string(kMaxExprDepth) + " levels"; }

}  // namespace

// ---- Debug forms ---------------------------------------------------------------

std::string debug_tok(const ExprTok& tok) {
  switch (tok.kind) {
    case ExprTok::Ident:
      return "Ident(" + debug_str(tok.text) + ")";
    case ExprTok::IntLit:
      return "IntLit { raw: " + debug_str(tok.text) + " }";
    case ExprTok::Cast:
      return "Cast(" + debug_str(tok.text) + ")";
    case ExprTok::LParen:
      return "LParen";
    case ExprTok::RParen:
      return "RParen";
    case ExprTok::BinOp:
      return "BinOp(" + debug_char(static_cast<unsigned char>(tok.op)) + ")";
    case ExprTok::Shift:
      return tok.left ? "Shift(true)" : "Shift(false)";
  }
  return "?";
}

std::string debug_opt_tok(const ExprTok* tok) { return tok == nullptr ? "None" : "Some(" + debug_tok(*tok) + ")"; }

std::string debug_tok_list(const std::vector<ExprTok>& toks, std::size_t from) {
  std::string out = "[";
  for (std::size_t i = from; i < toks.size(); ++i) {
    if (i != from) out += ", ";
    out += debug_tok(toks[i]);
  }
  out += "]";
  return out;
}

// ---- Tokenizer -------------------------------------------------------------------

Result<std::vector<ExprTok>> tokenize_csharp_expr(std::string_view text) {
  std::vector<ExprTok> toks;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (is_ascii_ws(c)) {
      ++i;
      continue;
    }
    switch (c) {
      case '&':
      case '*':
      case '+':
      case '-':
      case '/':
      case '^':
      case '|': {
        ExprTok tok{ExprTok::BinOp, {}, c, false};
        toks.push_back(tok);
        ++i;
        continue;
      }
      case '(': {
        const std::string_view rest = text.substr(i + 1);
        bool cast = false;
        for (std::string_view name : kCastNames) {
          if (rest.size() > name.size() && rest.substr(0, name.size()) == name && rest[name.size()] == ')') {
            toks.push_back(ExprTok{ExprTok::Cast, std::string(name), 0, false});
            i += 1 + name.size() + 1;
            cast = true;
            break;
          }
        }
        if (!cast) {
          toks.push_back(ExprTok{ExprTok::LParen, {}, 0, false});
          ++i;
        }
        continue;
      }
      case ')':
        toks.push_back(ExprTok{ExprTok::RParen, {}, 0, false});
        ++i;
        continue;
      case '<':
      case '>':
        if (i + 1 < n && text[i + 1] == c) {
          toks.push_back(ExprTok{ExprTok::Shift, {}, 0, c == '<'});
          i += 2;
          continue;
        }
        return fail(unexpected_char(text, i));
      default:
        break;
    }
    if (is_digit(c)) {
      const std::size_t start = i;
      if (c == '0' && i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        i += 2;
        while (i < n && is_hex_digit(text[i])) ++i;
      } else {
        while (i < n && is_digit(text[i])) ++i;
      }
      toks.push_back(ExprTok{ExprTok::IntLit, std::string(text.substr(start, i - start)), 0, false});
      continue;
    }
    if (is_ident_start(c)) {
      const std::size_t start = i;
      while (i < n && is_ident_char(text[i])) ++i;
      toks.push_back(ExprTok{ExprTok::Ident, std::string(text.substr(start, i - start)), 0, false});
      continue;
    }
    return fail(unexpected_char(text, i));
  }
  return toks;
}

// ---- Parser --------------------------------------------------------------------------

namespace {

// The Rust types a sub-expression can have: the parent field's integer type
// and the targets of the casts other than `bool`.
using TyInfo = ScalarType;

// The types expressions compute in; 128-bit integers are not among them.
const TyInfo* ty_info(std::string_view name) {
  const ScalarType* ty = scalar_type(name);
  return ty != nullptr && ty->bits <= 64 ? ty : nullptr;
}

// `a * b` for values of types up to 64 bits; none when the product is far
// beyond every such type (the magnitudes' product always fits u128).
std::optional<i128> multiply(i128 a, i128 b) {
  const bool negative = (a < 0) != (b < 0);
  const u128 magnitude = static_cast<u128>(a < 0 ? -a : a) * static_cast<u128>(b < 0 ? -b : b);
  if (magnitude > (u128{1} << 100)) return std::nullopt;
  const i128 product = static_cast<i128>(magnitude);
  return negative ? -product : product;
}

// Messages are assembled with `emit`, which also keeps GCC's string-overlap
// warnings away from `"..." + std::string(...)` chains.
std::string message(std::string_view tmpl, TemplateVars vars) {
  std::string out;
  emit(out, tmpl, vars);
  return out;
}

std::string op_with_types(std::string_view op, std::string_view ty) {
  return message("`$op$` on $ty$ is not supported", {{"op", op}, {"ty", ty}});
}

std::string overflow_message(std::string_view op, std::string_view ty) {
  return message("constant `$op$` overflows $ty$", {{"op", op}, {"ty", ty}});
}

// The text that follows the left operand in `(left op right)`, or in
// `(left.method(right))` where the operation could overflow at run time.
std::string plain_piece(std::string_view op, std::string_view rhs) {
  std::string out;
  emit(out, " $op$ $rhs$)", {{"op", op}, {"rhs", rhs}});
  return out;
}

std::string method_piece(std::string_view method, std::string_view arg) {
  std::string out;
  emit(out, ".$method$($arg$))", {{"method", method}, {"arg", arg}});
  return out;
}

// Types and evaluates `left op right` and returns the text that follows the
// left operand; `value` holds the left operand's value and receives the
// result's.
Result<std::string> combine(std::string_view op, const TyInfo& left, std::optional<i128>& value,
                            std::string_view right_text, const TyInfo& right, const std::optional<i128>& right_value) {
  if (op == "<<" || op == ">>") {
    if (left.is_float) return fail(op_with_types(op, left.name));
    if (right.is_float) return fail(message("shift amount of type $ty$ is not supported", {{"ty", right.name}}));
    if (!right_value) {
      // Masked like a release build's shift, without the overflow panic.
      value.reset();
      return method_piece(op == "<<" ? "wrapping_shl" : "wrapping_shr", std::string(right_text) + " as u32");
    }
    const i128 amount = *right_value;
    if (amount < 0 || amount >= left.bits) {
      return fail(message("shift by $n$ is out of range for $ty$", {{"n", to_decimal(amount)}, {"ty", left.name}}));
    }
    if (value) {
      value = op == "<<" ? wrap_to(static_cast<i128>(static_cast<u128>(*value) << static_cast<int>(amount)), left)
                         : *value >> static_cast<int>(amount);
    }
    return plain_piece(op, right_text);
  }

  if (left.name != right.name) {
    return fail(message("operands of `$op$` have different types: $left$ and $right$",
                        {{"op", op}, {"left", left.name}, {"right", right.name}}));
  }
  const bool bitwise = op == "&" || op == "|" || op == "^";
  if (left.is_float) {
    if (bitwise) return fail(op_with_types(op, left.name));
    return plain_piece(op, right_text);
  }

  if (bitwise) {
    if (value && right_value) {
      value = op == "&" ? (*value & *right_value) : op == "|" ? (*value | *right_value) : (*value ^ *right_value);
    } else {
      value.reset();
    }
    return plain_piece(op, right_text);
  }

  if (op == "/") {
    // A divisor that may be zero would panic; one known to be zero, or a
    // constant overflow, is refused by rustc.
    if (!right_value) return fail("divisor is not an integer constant");
    if (*right_value == 0) return fail("division by zero");
    if (value) {
      const i128 quotient = *value / *right_value;
      if (!fits(quotient, left)) return fail(overflow_message(op, left.name));
      value = quotient;
      return plain_piece(op, right_text);
    }
    // Only MIN / -1 overflows.
    if (left.is_signed && *right_value == -1) return method_piece("wrapping_div", right_text);
    return plain_piece(op, right_text);
  }

  // `+`, `-`, `*`: exact for constants, wrapping for everything else.
  if (value && right_value) {
    std::optional<i128> result;
    if (op == "+") {
      result = *value + *right_value;
    } else if (op == "-") {
      result = *value - *right_value;
    } else {
      result = multiply(*value, *right_value);
    }
    if (!result || !fits(*result, left)) return fail(overflow_message(op, left.name));
    value = result;
    return plain_piece(op, right_text);
  }
  value.reset();
  const std::string_view method = op == "+" ? "wrapping_add" : op == "-" ? "wrapping_sub" : "wrapping_mul";
  return method_piece(method, right_text);
}

// The operator a token stands for at a binary level, or none.
std::optional<std::string_view> level_operator(const ExprTok* tok, int level) {
  if (tok == nullptr) return std::nullopt;
  if (tok->kind == ExprTok::Shift) {
    if (level == 3) return tok->left ? std::string_view("<<") : std::string_view(">>");
    return std::nullopt;
  }
  if (tok->kind != ExprTok::BinOp) return std::nullopt;
  static constexpr std::string_view kOps[] = {"|", "^", "&", "", "+-", "*/"};
  const std::size_t at = kOps[level].find(tok->op);
  if (at == std::string_view::npos) return std::nullopt;
  return kOps[level].substr(at, 1);
}

constexpr int kUnaryLevel = 6;

}  // namespace

Result<std::string> ExprParser::parse_expr(std::string_view accepted, std::string_view field_path,
                                           std::string_view literal_ty) {
  return parse_over("self." + std::string(field_path), accepted, literal_ty);
}

Result<std::string> ExprParser::parse_expr_with_local_atom(std::string_view accepted, std::string_view local,
                                                           std::string_view literal_ty) {
  return parse_over(std::string(local), accepted, literal_ty);
}

Result<std::string> ExprParser::parse_over(std::string atom, std::string_view accepted, std::string_view literal_ty) {
  const TyInfo* ty = ty_info(literal_ty);
  if (ty == nullptr || ty->is_float) return fail("operand type " + debug_str(literal_ty) + " is not an integer type");
  accepted_ = accepted;
  atom_ = std::move(atom);
  literal_ty_ = ty->name;
  Result<Operand> parsed = parse_level(0);
  if (!parsed) return parsed.fail_with_prefix();
  return std::move(parsed->text);
}

// One binary level: left-associative, its operands parsed one level higher.
// The recursion over levels has a fixed depth; only groups and prefixes nest.
Result<ExprParser::Operand> ExprParser::parse_level(int level) {
  if (level == kUnaryLevel) return parse_cast_or_unary();
  Result<Operand> left = parse_level(level + 1);
  if (!left) return left;
  // An operand without an operator of this level passes through as it is.
  if (!level_operator(peek(), level)) return left;
  const TyInfo& ty = *ty_info(left->ty);
  std::optional<i128> value = left->value;
  LeftChain chain(std::move(left->text));
  for (auto op = level_operator(peek(), level); op; op = level_operator(peek(), level)) {
    ++pos_;
    Result<Operand> rhs = parse_level(level + 1);
    if (!rhs) return rhs;
    Result<std::string> piece = combine(*op, ty, value, rhs->text, *ty_info(rhs->ty), rhs->value);
    if (!piece) return piece.fail_with_prefix();
    chain.add(*piece);
  }
  return Operand{std::move(chain).finish(), ty.name, value};
}

Result<ExprParser::Operand> ExprParser::parse_cast_or_unary() {
  const ExprTok* tok = peek();
  const bool is_cast = tok != nullptr && tok->kind == ExprTok::Cast;
  if (!is_cast && !is_binop(tok, '-')) return parse_atom();

  // Both prefixes recurse, so a long run of them is bounded like parentheses.
  if (depth_ >= kMaxExprDepth) return fail(nesting_message());
  ++pos_;
  ++depth_;
  Result<Operand> operand = parse_cast_or_unary();
  --depth_;
  if (!operand) return operand;
  const TyInfo& from = *ty_info(operand->ty);

  Operand out;
  if (is_cast) {
    Result<std::string_view> rust_ty = csharp_to_rust_primitive(tok->text);
    if (!rust_ty) return rust_ty.fail_with_prefix();
    const TyInfo* to = ty_info(*rust_ty);
    if (to == nullptr)
      return fail(message("cast of $from$ to $to$ is not supported", {{"from", from.name}, {"to", *rust_ty}}));
    emit(out.text, "($operand$ as $ty$)", {{"operand", operand->text}, {"ty", to->name}});
    out.ty = to->name;
    if (operand->value && !to->is_float) out.value = wrap_to(*operand->value, *to);
    return out;
  }

  out.ty = from.name;
  if (!from.is_float && !from.is_signed) {
    // Two's-complement negation: once truncated to an unsigned type, the same
    // bits as negating the value in a wider signed type.
    if (operand->value) out.value = wrap_to(-*operand->value, from);
    emit(out.text, "($operand$.wrapping_neg())", {{"operand", operand->text}});
    return out;
  }
  if (from.is_float || operand->value) {
    if (operand->value) {
      if (!fits(-*operand->value, from)) return fail(message("constant negation overflows $ty$", {{"ty", from.name}}));
      out.value = -*operand->value;
    }
    emit(out.text, "(-($operand$))", {{"operand", operand->text}});
  } else {
    emit(out.text, "($operand$.wrapping_neg())", {{"operand", operand->text}});
  }
  return out;
}

Result<ExprParser::Operand> ExprParser::parse_atom() {
  const ExprTok* tok = peek();
  if (tok == nullptr) return fail("expected atom, got end-of-input");
  Operand out;
  out.ty = literal_ty_;
  switch (tok->kind) {
    case ExprTok::Ident:
      ++pos_;
      if (tok->text != accepted_) {
        return fail("identifier " + debug_str(tok->text) + " is not the parent field name (" + debug_str(accepted_) +
                    "); cross-field subfield expressions are deferred");
      }
      out.text = atom_;
      return out;
    case ExprTok::IntLit: {
      ++pos_;
      Result<i128> value = literals::int_value_in(tok->text, literal_ty_);
      if (!value) return value.fail_with_prefix();
      out.value = *value;
      emit(out.text, "($raw$ as $ty$)", {{"raw", literals::rust_int_spelling(tok->text)}, {"ty", literal_ty_}});
      return out;
    }
    case ExprTok::LParen: {
      if (depth_ >= kMaxExprDepth) return fail(nesting_message());
      ++pos_;
      ++depth_;
      Result<Operand> inner = parse_level(0);
      --depth_;
      if (!inner) return inner;
      const ExprTok* close = peek();
      if (close == nullptr || close->kind != ExprTok::RParen) return fail("expected ')', got " + debug_opt_tok(close));
      ++pos_;
      emit(out.text, "($inner$)", {{"inner", inner->text}});
      out.ty = inner->ty;
      out.value = inner->value;
      return out;
    }
    default:
      return fail("expected atom, got " + debug_tok(*tok));
  }
}

}  // namespace qm
