// The extended C# expression translator: a recursive-descent parse straight
// to Rust text, typing every sub-expression as C# types it.
//
// Every text a parse step returns is parenthesised or a name, literal or
// method call, so that it can take a method call or an operator without
// regard to Rust's precedence. A chain of one binary level grows in place:
// its opening parentheses are counted and written once at the end, so that a
// long chain costs time linear in its length.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expr/csharp_types.hpp"
#include "expr/expr.hpp"
#include "text/text.hpp"

namespace qm {

namespace csharp {

namespace {

// A sub-expression: its Rust text, C# type and constant value, and for an
// integer literal standing alone its digits, so that a conversion can write
// the literal in its new type instead of converting it.
struct Value {
  std::string text;
  Type type = Type::Int;
  std::optional<i128> constant;
  std::string literal;

  Typed typed() const { return {type, constant}; }
};

// A value being extended on the left: `opens` parentheses to write before
// the head's text, and the text that follows it.
struct Growing {
  explicit Growing(Value v) : head(std::move(v)) {}

  Value head;
  std::size_t opens = 0;
  std::string tail;

  bool fresh() const { return opens == 0; }
  // Encloses the whole in one more parenthesis, `piece` closing it.
  void wrap(std::string_view piece) {
    ++opens;
    tail += piece;
    head.literal.clear();
  }
  Value finish() && {
    if (opens != 0) {
      std::string text(opens, '(');
      text += head.text;
      text += tail;
      head.text = std::move(text);
    }
    return std::move(head);
  }
};

// Converts implicitly (or by a cast's `as`) to `to`: a literal is written
// anew when the value stays, everything else gets an `as`.
void convert(Growing& g, Type to) {
  Value& v = g.head;
  if (v.type == to) return;
  if (g.fresh() && !v.literal.empty() && is_integer(to) && v.constant && wrap(*v.constant, to) == *v.constant) {
    v.text = int_literal_text(v.literal, *v.constant < 0, to);
  } else {
    std::string piece;
    emit(piece, " as $ty$)", {{"ty", info(to).rust}});
    g.wrap(piece);
    if (v.constant && is_integer(to)) v.constant = wrap(*v.constant, to);
  }
  if (!is_integer(to)) v.constant.reset();
  v.type = to;
}

std::string converted(Value v, Type to) {
  Growing g{std::move(v)};
  convert(g, to);
  return std::move(g).finish().text;
}

// A value where a bool is expected: an integer means non-zero.
Result<bool> to_condition(Growing& g) {
  Value& v = g.head;
  if (v.type == Type::Bool) return true;
  if (!is_integer(v.type)) return fail(std::string(info(v.type).csharp) + " value where a bool is expected");
  std::string piece;
  emit(piece, " != 0$ty$)", {{"ty", info(v.type).rust}});
  g.wrap(piece);
  if (v.constant) v.constant = *v.constant != 0 ? 1 : 0;
  v.type = Type::Bool;
  return true;
}

// Binary levels from `||` (0) to `*` (9); the unary level is above them.
constexpr int kUnaryLevel = 10;
constexpr std::string_view kLevels[kUnaryLevel][4] = {
    {"||"},       {"&&"},     {"|"},           {"^"}, {"&"}, {"==", "!="}, {"<", ">", "<=", ">="},
    {"<<", ">>"}, {"+", "-"}, {"*", "/", "%"},
};

// The operator class of each binary level; `||` and `&&` take conditions instead.
constexpr OpClass kLevelClass[kUnaryLevel] = {
    OpClass::Arithmetic, OpClass::Arithmetic, OpClass::Bitwise, OpClass::Bitwise,    OpClass::Bitwise,
    OpClass::Equality,   OpClass::Relational, OpClass::Shift,   OpClass::Arithmetic, OpClass::Arithmetic,
};

std::string depth_message() { return "expression nested deeper than " + std::to_string(kMaxExprDepth) + " levels"; }

// Whether a resolved text can take a method call as it is: a path of names,
// each perhaps called without arguments (`opt.unwrap_or_default()`).
bool takes_method_call(std::string_view text) {
  if (text.empty()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '(' && i + 1 < text.size() && text[i + 1] == ')') {
      ++i;
    } else if (!(c == '.' || c == '_' || c == '#' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                 (c >= 'A' && c <= 'Z'))) {
      return false;
    }
  }
  return true;
}

class Parser {
 public:
  Parser(const std::vector<CsharpToken>& toks, const NameResolver& resolve) : toks_(toks), resolve_(resolve) {}

  LocalReads reads;

  // The whole expression; what follows it is an error.
  Result<Value> parse_all() {
    Result<Value> v = parse_conditional();
    if (!v) return v;
    if (const CsharpToken* extra = peek()) return fail("unexpected " + describe(extra) + " after the expression");
    return v;
  }

 private:
  const std::vector<CsharpToken>& toks_;
  const NameResolver& resolve_;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;

  const CsharpToken* peek(std::size_t ahead = 0) const {
    return pos_ + ahead < toks_.size() ? &toks_[pos_ + ahead] : nullptr;
  }
  bool at_op(std::string_view op, std::size_t ahead = 0) const {
    const CsharpToken* tok = peek(ahead);
    return tok != nullptr && tok->kind == CsharpToken::Op && tok->text == op;
  }
  static std::string describe(const CsharpToken* tok) {
    if (tok == nullptr) return "end of input";
    return debug_csharp_token(*tok) + " at offset " + std::to_string(tok->offset);
  }
  // Enters one level of nesting: groups, prefixes and conditionals.
  bool enter() {
    if (depth_ >= kMaxExprDepth) return false;
    ++depth_;
    return true;
  }

  Result<Value> parse_conditional();
  Result<Value> parse_binary(int level);
  Result<bool> apply_binary(std::string_view op, int level, Growing& acc, Value rhs);
  Result<Value> parse_unary();
  Result<Value> apply_unary(const CsharpToken& prefix, std::optional<Type> cast, Value operand);
  Result<Value> parse_primary();
  Result<Value> parse_name(const CsharpToken& tok);
};

Result<Value> Parser::parse_conditional() {
  Result<Value> cond = parse_binary(0);
  if (!cond || !at_op("?")) return cond;
  if (!enter()) return fail(depth_message());
  ++pos_;
  Growing c{std::move(*cond)};
  if (Result<bool> ok = to_condition(c); !ok) return ok.fail_with_prefix("condition of `?:`: ");
  Result<Value> a = parse_conditional();
  if (!a) return a;
  if (!at_op(":")) return fail("expected `:` of `?:`, got " + describe(peek()));
  ++pos_;
  Result<Value> b = parse_conditional();
  if (!b) return b;
  --depth_;
  Result<Type> type = conditional_type(a->typed(), b->typed());
  if (!type) return type.fail_with_prefix();
  Value out;
  out.type = *type;
  const Value condition = std::move(c).finish();
  if (condition.constant && a->constant && b->constant)
    out.constant = *condition.constant != 0 ? a->constant : b->constant;
  if (out.constant && is_integer(out.type)) out.constant = wrap(*out.constant, out.type);
  emit(out.text, "(if $c$ { $a$ } else { $b$ })",
       {{"c", condition.text}, {"a", converted(std::move(*a), *type)}, {"b", converted(std::move(*b), *type)}});
  return out;
}

// One binary level: left-associative, its operands parsed one level higher.
Result<Value> Parser::parse_binary(int level) {
  if (level == kUnaryLevel) return parse_unary();
  Result<Value> first = parse_binary(level + 1);
  if (!first) return first;
  const auto level_op = [&]() -> std::optional<std::string_view> {
    const CsharpToken* tok = peek();
    if (tok == nullptr || tok->kind != CsharpToken::Op) return std::nullopt;
    for (const std::string_view op : kLevels[level]) {
      if (!op.empty() && tok->text == op) return op;
    }
    return std::nullopt;
  };
  std::optional<std::string_view> op = level_op();
  if (!op) return first;
  Growing acc{std::move(*first)};
  while (op) {
    ++pos_;
    Result<Value> rhs = parse_binary(level + 1);
    if (!rhs) return rhs;
    if (Result<bool> ok = apply_binary(*op, level, acc, std::move(*rhs)); !ok) return ok.fail_with_prefix();
    op = level_op();
  }
  return std::move(acc).finish();
}

Result<bool> Parser::apply_binary(std::string_view op, int level, Growing& acc, Value rhs) {
  std::string piece;
  if (level <= 1) {  // `||`, `&&`: both operands are conditions
    Growing right{std::move(rhs)};
    if (Result<bool> ok = to_condition(acc); !ok)
      return ok.fail_with_prefix("left operand of `" + std::string(op) + "`: ");
    if (Result<bool> ok = to_condition(right); !ok) {
      return ok.fail_with_prefix("right operand of `" + std::string(op) + "`: ");
    }
    const Value r = std::move(right).finish();
    std::optional<i128>& constant = acc.head.constant;
    if (constant && r.constant) {
      constant = level == 0 ? (*constant | *r.constant) : (*constant & *r.constant);
    } else {
      constant.reset();
    }
    emit(piece, " $op$ $rhs$)", {{"op", op}, {"rhs", r.text}});
    acc.wrap(piece);
    return true;
  }

  const OpClass cls = kLevelClass[level];
  Result<Overload> overload = resolve_binary(op, cls, acc.head.typed(), rhs.typed());
  if (!overload) return overload.fail_with_prefix();
  convert(acc, overload->left);
  Growing right_growing{std::move(rhs)};
  convert(right_growing, overload->right);
  const Value right = std::move(right_growing).finish();
  const Type ty = overload->left;
  const bool integer = is_integer(ty);
  const bool divides = op == "/" || op == "%";

  // A divisor that may be zero would panic.
  if (integer && divides) {
    if (!right.constant) return fail("divisor is not an integer constant");
    if (*right.constant == 0) return fail("division by zero");
  }
  std::optional<i128>& constant = acc.head.constant;
  if (constant && right.constant && (integer || ty == Type::Bool)) {
    constant = fold_binary(op, ty, *constant, *right.constant);
  } else {
    constant.reset();
  }

  std::string_view method;
  if (integer) {
    if (op == "+") method = "wrapping_add";
    if (op == "-") method = "wrapping_sub";
    if (op == "*") method = "wrapping_mul";
    if (op == "/") method = "wrapping_div";
    if (op == "%") method = "wrapping_rem";
  }
  if (cls == OpClass::Shift) {
    // Rust masks the count to the width as C# does.
    emit(piece, ".$method$($rhs$ as u32))",
         {{"method", op == "<<" ? "wrapping_shl" : "wrapping_shr"}, {"rhs", right.text}});
  } else if (!method.empty()) {
    emit(piece, ".$method$($rhs$))", {{"method", method}, {"rhs", right.text}});
  } else {
    emit(piece, " $op$ $rhs$)", {{"op", op}, {"rhs", right.text}});
  }
  acc.wrap(piece);
  acc.head.type = overload->result;
  return true;
}

Result<Value> Parser::parse_unary() {
  const CsharpToken* tok = peek();
  if (tok == nullptr) return fail("expected an operand, got end of input");
  std::optional<Type> cast;
  std::size_t taken = 1;
  if (tok->kind == CsharpToken::LParen && peek(1) != nullptr && peek(1)->kind == CsharpToken::Name &&
      peek(2) != nullptr && peek(2)->kind == CsharpToken::RParen) {
    const std::string& name = peek(1)->text;
    cast = type_of_keyword(name);
    // `(T)` before an operand is a cast in C#, to a type known or not.
    const CsharpToken* next = peek(3);
    const bool operand_follows =
        next != nullptr && (next->kind == CsharpToken::Name || next->kind == CsharpToken::Int ||
                            next->kind == CsharpToken::Real || next->kind == CsharpToken::LParen ||
                            (next->kind == CsharpToken::Op && (next->text == "!" || next->text == "~")));
    if (!cast && operand_follows && name != "true" && name != "false") {
      return fail("cast to " + debug_str(name) + " is not supported");
    }
    taken = 3;
  }
  const bool prefix =
      tok->kind == CsharpToken::Op && (tok->text == "+" || tok->text == "-" || tok->text == "!" || tok->text == "~");
  if (!cast && !prefix) return parse_primary();
  if (!enter()) return fail(depth_message());
  pos_ += taken;

  // `-2147483648` is int.MinValue and `-9223372036854775808` long.MinValue,
  // though the literals alone are uint and ulong.
  const CsharpToken* lit = peek();
  if (prefix && tok->text == "-" && lit != nullptr && lit->kind == CsharpToken::Int) {
    Result<IntLiteral> parsed = parse_int_literal_token(lit->text);
    if (parsed && ((parsed->value == i128{1} << 31 && parsed->suffix.empty()) ||
                   (parsed->value == i128{1} << 63 && (parsed->suffix.empty() || parsed->suffix == "l")))) {
      ++pos_;
      --depth_;
      const Type type = parsed->value == i128{1} << 31 ? Type::Int : Type::Long;
      return Value{int_literal_text(parsed->digits, true, type), type, -parsed->value, parsed->digits};
    }
  }
  Result<Value> operand = parse_unary();
  --depth_;
  if (!operand) return operand;
  return apply_unary(*tok, cast, std::move(*operand));
}

Result<Value> Parser::apply_unary(const CsharpToken& prefix, std::optional<Type> cast, Value operand) {
  Growing g{std::move(operand)};
  Value& v = g.head;
  if (cast) {
    // Every numeric type converts to every other (`as`: the low bits of an
    // integer, sign-extended or not; a float to an integer saturates, where
    // C# leaves an out-of-range result unspecified); bool to nothing else.
    if ((v.type == Type::Bool) != (*cast == Type::Bool)) {
      return fail("cannot convert " + std::string(info(v.type).csharp) + " to " + std::string(info(*cast).csharp));
    }
    if (v.type != *cast) {
      g.wrap(" as " + std::string(info(*cast).rust) + ")");
      if (v.constant && is_integer(*cast) && is_integer(v.type)) {
        v.constant = wrap(*v.constant, *cast);
      } else {
        v.constant.reset();
      }
      v.type = *cast;
    }
    return std::move(g).finish();
  }
  const std::string_view op = prefix.text;
  if (op == "!") {
    if (Result<bool> ok = to_condition(g); !ok) return ok.fail_with_prefix("operand of `!`: ");
  } else {
    Result<Type> type = resolve_unary(op, v.typed());
    if (!type) return type.fail_with_prefix();
    convert(g, *type);
  }
  if (op == "+") return std::move(g).finish();
  if (op == "-" && is_integer(v.type)) {
    if (v.constant) {
      const i128 negated = wrap(-*v.constant, v.type);
      // A literal stays one, unless its negation wraps (the minimum).
      if (g.fresh() && !v.literal.empty() && negated == -*v.constant) {
        return Value{int_literal_text(v.literal, negated < 0, v.type), v.type, negated, v.literal};
      }
      v.constant = negated;
    }
    g.wrap(".wrapping_neg())");
    return std::move(g).finish();
  }
  Value out = std::move(g).finish();
  if (out.constant) out.constant = op == "!" ? (*out.constant == 0 ? 1 : 0) : wrap(~*out.constant, out.type);
  if (op == "-") out.constant.reset();  // a float
  out.text = (op == "-" ? "(-" : "(!") + out.text + ")";
  out.literal.clear();
  return out;
}

Result<Value> Parser::parse_primary() {
  const CsharpToken* tok = peek();
  if (tok == nullptr) return fail("expected an operand, got end of input");
  switch (tok->kind) {
    case CsharpToken::Name:
      ++pos_;
      return parse_name(*tok);
    case CsharpToken::Int: {
      ++pos_;
      Result<IntLiteral> lit = parse_int_literal_token(tok->text);
      if (!lit) return lit.fail_with_prefix();
      return Value{int_literal_text(lit->digits, false, lit->type), lit->type, lit->value, lit->digits};
    }
    case CsharpToken::Real: {
      ++pos_;
      Result<RealLiteral> lit = parse_real_literal_token(tok->text);
      if (!lit) return lit.fail_with_prefix();
      return Value{std::move(lit->rust), lit->type, std::nullopt, {}};
    }
    case CsharpToken::LParen: {
      if (!enter()) return fail(depth_message());
      ++pos_;
      Result<Value> inner = parse_conditional();
      --depth_;
      if (!inner) return inner;
      if (peek() == nullptr || peek()->kind != CsharpToken::RParen)
        return fail("expected `)`, got " + describe(peek()));
      ++pos_;
      return inner;
    }
    default:
      return fail("expected an operand, got " + describe(tok));
  }
}

Result<Value> Parser::parse_name(const CsharpToken& tok) {
  if (tok.text == "true" || tok.text == "false") {
    return Value{tok.text, Type::Bool, tok.text == "true" ? 1 : 0, {}};
  }
  if (type_of_keyword(tok.text)) return fail("type name " + debug_str(tok.text) + " where a value is expected");
  Result<ResolvedName> name = resolve_(tok.text);
  if (!name) return name.fail_with_prefix();
  const std::optional<Type> type = type_of_rust(name->rust_ty);
  if (!type) {
    return fail("name " + debug_str(tok.text) + " has type " + debug_str(name->rust_ty) +
                ", which expressions do not compute with");
  }
  reads.insert(reads.end(), name->reads.begin(), name->reads.end());
  if (name->constant) {
    if (!is_integer(*type) || wrap(*name->constant, *type) != *name->constant) {
      return fail("constant " + debug_str(tok.text) + " is not a value of " + std::string(name->rust_ty));
    }
    const i128 value = *name->constant;
    std::string digits = to_decimal(static_cast<u128>(value < 0 ? -value : value));
    return Value{int_literal_text(digits, value < 0, *type), *type, value, digits};
  }
  if (takes_method_call(name->rust)) return Value{std::move(name->rust), *type, std::nullopt, {}};
  return Value{"(" + name->rust + ")", *type, std::nullopt, {}};
}

// Tokenizes and parses a whole expression; the locals it reads go to `reads`.
Result<Value> parse_text(std::string_view text, const NameResolver& resolve, LocalReads* reads) {
  Result<std::vector<CsharpToken>> toks = tokenize_extended_expr(text);
  if (!toks) return toks.fail_with_prefix();
  if (toks->empty()) return fail("empty expression");
  Parser parser(*toks, resolve);
  Result<Value> value = parser.parse_all();
  if (value) *reads = std::move(parser.reads);
  return value;
}

}  // namespace

}  // namespace csharp

Result<std::string> translate_extended_test(std::string_view text, const NameResolver& resolve, LocalReads* reads) {
  LocalReads read;
  Result<csharp::Value> value = csharp::parse_text(text, resolve, &read);
  if (!value) return value.fail_with_prefix();
  csharp::Growing g{std::move(*value)};
  if (Result<bool> ok = csharp::to_condition(g); !ok) return ok.fail_with_prefix();
  if (reads != nullptr) reads->insert(reads->end(), read.begin(), read.end());
  return std::move(g).finish().text;
}

Result<std::string> translate_extended_value(std::string_view text, const NameResolver& resolve,
                                             std::string_view result_rust_ty, LocalReads* reads) {
  const std::optional<csharp::Type> to = csharp::type_of_rust(result_rust_ty);
  if (!to) return fail("result type " + debug_str(result_rust_ty) + " is not a scalar type");
  LocalReads read;
  Result<csharp::Value> value = csharp::parse_text(text, resolve, &read);
  if (!value) return value.fail_with_prefix();
  const csharp::Type from = value->type;
  if ((from == csharp::Type::Bool) != (*to == csharp::Type::Bool)) {
    return fail("cannot convert " + std::string(csharp::info(from).csharp) + " to " +
                std::string(csharp::info(*to).csharp));
  }
  if (reads != nullptr) reads->insert(reads->end(), read.begin(), read.end());
  if (from == *to) return std::move(value->text);
  std::string out;
  emit(out, "($value$ as $ty$)", {{"value", value->text}, {"ty", result_rust_ty}});
  return out;
}

}  // namespace qm
