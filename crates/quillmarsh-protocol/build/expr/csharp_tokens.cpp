// Tokenizer of the extended C# expressions.

#include <string>
#include <string_view>
#include <vector>

#include "expr/chars.hpp"
#include "expr/expr.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

// Two-character operators first, so that `<=` is not read as `<` and `=`.
// `++` and `--` are tokens as in C#, which no expression here accepts: `--x`
// is not a double negation.
constexpr std::string_view kCsharpOperators[] = {"||", "&&", "==", "!=", "<=", ">=", "<<", ">>", "++", "--", "|", "^",
                                                 "&",  "<",  ">",  "+",  "-",  "*",  "/",  "%",  "!",  "~",  "?", ":"};

std::string unexpected_at(std::string_view what, std::string_view text, std::size_t offset) {
  std::string out;
  emit(out, "$what$ at offset $offset$ of $text$",
       {{"what", what}, {"offset", std::to_string(offset)}, {"text", debug_str(text)}});
  return out;
}

// The end of the number starting at `i`, and whether it is a real literal.
std::size_t scan_number(std::string_view text, std::size_t i, bool& real) {
  using chars::is_digit;
  const std::size_t n = text.size();
  const auto at = [&](std::size_t k) { return k < n ? text[k] : '\0'; };
  real = false;
  if (at(i) == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X')) {
    i += 2;
    while (chars::is_hex_digit(at(i))) ++i;
  } else {
    while (is_digit(at(i))) ++i;
    // A point followed by a name is member access, not a fraction.
    if (at(i) == '.' && !chars::is_ident_start(at(i + 1))) {
      real = true;
      ++i;
      while (is_digit(at(i))) ++i;
    }
    const bool sign = at(i + 1) == '+' || at(i + 1) == '-';
    if ((at(i) == 'e' || at(i) == 'E') && is_digit(at(i + (sign ? 2 : 1)))) {
      real = true;
      i += sign ? 2 : 1;
      while (is_digit(at(i))) ++i;
    }
    const char suffix = static_cast<char>(at(i) | 0x20);
    if (suffix == 'f' || suffix == 'd' || suffix == 'm') {
      real = true;
      return i + 1;
    }
  }
  if (!real) {
    while (at(i) == 'u' || at(i) == 'U' || at(i) == 'l' || at(i) == 'L') ++i;
  }
  return i;
}

}  // namespace

std::string debug_csharp_token(const CsharpToken& tok) {
  switch (tok.kind) {
    case CsharpToken::Name:
      return "Name(" + debug_str(tok.text) + ")";
    case CsharpToken::Int:
      return "Int(" + debug_str(tok.text) + ")";
    case CsharpToken::Real:
      return "Real(" + debug_str(tok.text) + ")";
    case CsharpToken::Op:
      return "Op(" + debug_str(tok.text) + ")";
    case CsharpToken::LParen:
      return "LParen";
    case CsharpToken::RParen:
      return "RParen";
  }
  return "?";
}

Result<std::vector<CsharpToken>> tokenize_extended_expr(std::string_view text) {
  std::vector<CsharpToken> toks;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    const std::size_t start = i;
    if (chars::is_ascii_ws(c)) {
      ++i;
      continue;
    }
    if (chars::is_ident_start(c)) {
      // `A.B.C` is one dotted name; a point must join two names.
      while (i < n && chars::is_ident_char(text[i])) {
        ++i;
        if (i + 1 < n && text[i] == '.' && chars::is_ident_start(text[i + 1])) ++i;
      }
      toks.push_back({CsharpToken::Name, std::string(text.substr(start, i - start)), start});
      continue;
    }
    if (chars::is_digit(c) || (c == '.' && i + 1 < n && chars::is_digit(text[i + 1]))) {
      bool real = false;
      i = scan_number(text, i, real);
      if (i < n && (chars::is_ident_char(text[i]) || text[i] == '.')) {
        return fail(unexpected_at("malformed number", text, start));
      }
      toks.push_back({real ? CsharpToken::Real : CsharpToken::Int, std::string(text.substr(start, i - start)), start});
      continue;
    }
    if (c == '(' || c == ')') {
      toks.push_back({c == '(' ? CsharpToken::LParen : CsharpToken::RParen, {}, start});
      ++i;
      continue;
    }
    bool matched = false;
    for (const std::string_view op : kCsharpOperators) {
      if (text.substr(i, op.size()) == op) {
        toks.push_back({CsharpToken::Op, std::string(op), start});
        i += op.size();
        matched = true;
        break;
      }
    }
    if (!matched) {
      return fail(unexpected_at("unexpected character " + debug_char(static_cast<unsigned char>(c)), text, start));
    }
  }
  return toks;
}

}  // namespace qm
