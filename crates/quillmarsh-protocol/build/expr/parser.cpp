// Tokenizer and recursive-descent parser for the C#-syntax value expressions
// of subfields and lengths. Each parse level returns the Rust text of what it
// parsed, fully parenthesised, so precedence never depends on Rust's rules.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expr/expr.hpp"
#include "schema/registry.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

bool is_ascii_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex_digit(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_ident_char(char c) { return is_ident_start(c) || is_digit(c); }

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

  void add(std::string_view op, std::string_view rhs) {
    ++steps_;
    emit(tail_, " $op$ $rhs$)", {{"op", op}, {"rhs", rhs}});
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

Result<std::string> ExprParser::parse_expr(std::string_view accepted, std::string_view field_path,
                                           std::string_view literal_ty) {
  return parse_or(accepted, field_path, literal_ty);
}

Result<std::string> ExprParser::parse_expr_with_local_atom(std::string_view accepted, std::string_view local,
                                                           std::string_view literal_ty) {
  Result<std::string> parsed = parse_expr(accepted, local, literal_ty);
  if (!parsed) return parsed;
  const std::string from = "self." + std::string(local);
  const std::string& text = parsed.value();
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  for (std::size_t hit = text.find(from); hit != std::string::npos; hit = text.find(from, at)) {
    out.append(text, at, hit - at);
    out += local;
    at = hit + from.size();
  }
  out.append(text, at, std::string::npos);
  return out;
}

Result<std::string> ExprParser::parse_or(std::string_view accepted, std::string_view field_path,
                                         std::string_view literal_ty) {
  Result<std::string> left = parse_xor(accepted, field_path, literal_ty);
  if (!left) return left;
  LeftChain chain(std::move(left.value()));
  while (is_binop(peek(), '|')) {
    ++pos_;
    Result<std::string> rhs = parse_xor(accepted, field_path, literal_ty);
    if (!rhs) return rhs;
    chain.add("|", *rhs);
  }
  return std::move(chain).finish();
}

Result<std::string> ExprParser::parse_xor(std::string_view accepted, std::string_view field_path,
                                          std::string_view literal_ty) {
  Result<std::string> left = parse_and(accepted, field_path, literal_ty);
  if (!left) return left;
  LeftChain chain(std::move(left.value()));
  while (is_binop(peek(), '^')) {
    ++pos_;
    Result<std::string> rhs = parse_and(accepted, field_path, literal_ty);
    if (!rhs) return rhs;
    chain.add("^", *rhs);
  }
  return std::move(chain).finish();
}

Result<std::string> ExprParser::parse_and(std::string_view accepted, std::string_view field_path,
                                          std::string_view literal_ty) {
  Result<std::string> left = parse_shift(accepted, field_path, literal_ty);
  if (!left) return left;
  LeftChain chain(std::move(left.value()));
  while (is_binop(peek(), '&')) {
    ++pos_;
    Result<std::string> rhs = parse_shift(accepted, field_path, literal_ty);
    if (!rhs) return rhs;
    chain.add("&", *rhs);
  }
  return std::move(chain).finish();
}

Result<std::string> ExprParser::parse_shift(std::string_view accepted, std::string_view field_path,
                                            std::string_view literal_ty) {
  Result<std::string> left = parse_addsub(accepted, field_path, literal_ty);
  if (!left) return left;
  LeftChain chain(std::move(left.value()));
  for (const ExprTok* tok = peek(); tok != nullptr && tok->kind == ExprTok::Shift; tok = peek()) {
    const bool shift_left = tok->left;
    ++pos_;
    Result<std::string> rhs = parse_addsub(accepted, field_path, literal_ty);
    if (!rhs) return rhs;
    chain.add(shift_left ? "<<" : ">>", *rhs);
  }
  return std::move(chain).finish();
}

Result<std::string> ExprParser::parse_addsub(std::string_view accepted, std::string_view field_path,
                                             std::string_view literal_ty) {
  Result<std::string> left = parse_muldiv(accepted, field_path, literal_ty);
  if (!left) return left;
  LeftChain chain(std::move(left.value()));
  for (const ExprTok* tok = peek(); is_binop(tok, '+') || is_binop(tok, '-'); tok = peek()) {
    const char op = tok->op;
    ++pos_;
    Result<std::string> rhs = parse_muldiv(accepted, field_path, literal_ty);
    if (!rhs) return rhs;
    chain.add(std::string_view(&op, 1), *rhs);
  }
  return std::move(chain).finish();
}

Result<std::string> ExprParser::parse_muldiv(std::string_view accepted, std::string_view field_path,
                                             std::string_view literal_ty) {
  Result<std::string> left = parse_cast_or_unary(accepted, field_path, literal_ty);
  if (!left) return left;
  LeftChain chain(std::move(left.value()));
  for (const ExprTok* tok = peek(); is_binop(tok, '*') || is_binop(tok, '/'); tok = peek()) {
    const char op = tok->op;
    ++pos_;
    Result<std::string> rhs = parse_cast_or_unary(accepted, field_path, literal_ty);
    if (!rhs) return rhs;
    chain.add(std::string_view(&op, 1), *rhs);
  }
  return std::move(chain).finish();
}

Result<std::string> ExprParser::parse_cast_or_unary(std::string_view accepted, std::string_view field_path,
                                                    std::string_view literal_ty) {
  const ExprTok* tok = peek();
  const bool is_cast = tok != nullptr && tok->kind == ExprTok::Cast;
  if (!is_cast && !is_binop(tok, '-')) return parse_atom(accepted, field_path, literal_ty);

  // Both prefixes recurse, so a long run of them is bounded like parentheses.
  if (depth_ >= kMaxExprDepth) return fail(nesting_message());
  ++pos_;
  ++depth_;
  Result<std::string> operand = parse_cast_or_unary(accepted, field_path, literal_ty);
  --depth_;
  if (!operand) return operand;

  std::string out;
  if (is_cast) {
    Result<std::string_view> rust_ty = csharp_to_rust_primitive(tok->text);
    if (!rust_ty) return rust_ty.fail_with_prefix();
    emit(out, "($operand$ as $ty$)", {{"operand", *operand}, {"ty", *rust_ty}});
  } else {
    emit(out, "(-($operand$))", {{"operand", *operand}});
  }
  return out;
}

Result<std::string> ExprParser::parse_atom(std::string_view accepted, std::string_view field_path,
                                           std::string_view literal_ty) {
  const ExprTok* tok = peek();
  if (tok == nullptr) return fail("expected atom, got end-of-input");
  std::string out;
  switch (tok->kind) {
    case ExprTok::Ident:
      ++pos_;
      if (tok->text != accepted) {
        return fail("identifier " + debug_str(tok->text) + " is not the parent field name (" + debug_str(accepted) +
                    "); cross-field subfield expressions are deferred");
      }
      emit(out, "self.$field$", {{"field", field_path}});
      return out;
    case ExprTok::IntLit:
      ++pos_;
      emit(out, "($raw$ as $ty$)", {{"raw", tok->text}, {"ty", literal_ty}});
      return out;
    case ExprTok::LParen: {
      if (depth_ >= kMaxExprDepth) return fail(nesting_message());
      ++pos_;
      ++depth_;
      Result<std::string> inner = parse_or(accepted, field_path, literal_ty);
      --depth_;
      if (!inner) return inner;
      const ExprTok* close = peek();
      if (close == nullptr || close->kind != ExprTok::RParen) return fail("expected ')', got " + debug_opt_tok(close));
      ++pos_;
      emit(out, "($inner$)", {{"inner", *inner}});
      return out;
    }
    default:
      return fail("expected atom, got " + debug_tok(*tok));
  }
}

}  // namespace qm
