// Tests of `if` blocks: a single field, or one comparison of a field with a
// literal or another field, over the decoder's locals.

#include <string>
#include <string_view>
#include <vector>

#include "expr/chars.hpp"
#include "expr/expr.hpp"
#include "expr/literals.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

using namespace chars;  // NOLINT(google-build-using-namespace)

std::string_view cmp_name(CmpOp op) {
  switch (op) {
    case CmpOp::Lt:
      return "Lt";
    case CmpOp::Le:
      return "Le";
    case CmpOp::Gt:
      return "Gt";
    case CmpOp::Ge:
      return "Ge";
    case CmpOp::Eq:
      return "Eq";
    case CmpOp::Ne:
      return "Ne";
  }
  return "?";
}

std::string debug_if_tok_list(const std::vector<IfTok>& toks) {
  std::string out = "[";
  for (std::size_t i = 0; i < toks.size(); ++i) {
    if (i != 0) out += ", ";
    out += debug_if_tok(toks[i]);
  }
  out += "]";
  return out;
}

IfTok cmp_tok(CmpOp op) { return IfTok{IfTok::Cmp, {}, op}; }

std::string not_a_sibling(std::string_view prefix, std::string_view name) {
  return std::string(prefix) + debug_str(name) + " is not a sibling field";
}

}  // namespace

std::string_view op_as_rust(CmpOp op) {
  switch (op) {
    case CmpOp::Lt:
      return "<";
    case CmpOp::Le:
      return "<=";
    case CmpOp::Gt:
      return ">";
    case CmpOp::Ge:
      return ">=";
    case CmpOp::Eq:
      return "==";
    case CmpOp::Ne:
      return "!=";
  }
  return "?";
}

std::string debug_if_tok(const IfTok& tok) {
  switch (tok.kind) {
    case IfTok::Ident:
      return "Ident(" + debug_str(tok.text) + ")";
    case IfTok::IntLit:
      return "IntLit { raw: " + debug_str(tok.text) + " }";
    case IfTok::FloatLit:
      return "FloatLit { raw: " + debug_str(tok.text) + " }";
    case IfTok::Cmp:
      return "Cmp(" + std::string(cmp_name(tok.op)) + ")";
  }
  return "?";
}

Result<std::vector<IfTok>> tokenize_if_test_expr(std::string_view text) {
  std::vector<IfTok> toks;
  std::size_t i = 0;
  const std::size_t n = text.size();
  const auto next_is = [&](char c) { return i + 1 < n && text[i + 1] == c; };
  while (i < n) {
    const char c = text[i];
    if (is_ascii_ws(c)) {
      ++i;
    } else if (c == '!' && next_is('=')) {
      toks.push_back(cmp_tok(CmpOp::Ne));
      i += 2;
    } else if (c == '=' && next_is('=')) {
      toks.push_back(cmp_tok(CmpOp::Eq));
      i += 2;
    } else if (c == '<' || c == '>') {
      const bool or_equal = next_is('=');
      toks.push_back(cmp_tok(c == '<' ? (or_equal ? CmpOp::Le : CmpOp::Lt) : (or_equal ? CmpOp::Ge : CmpOp::Gt)));
      i += or_equal ? 2 : 1;
    } else if (is_digit(c) || (c == '-' && i + 1 < n && is_digit(text[i + 1]))) {
      const std::size_t start = i;
      if (c == '-') ++i;
      IfTok::Kind kind = IfTok::IntLit;
      if (text[i] == '0' && i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        i += 2;
        while (i < n && is_hex_digit(text[i])) ++i;
      } else {
        while (i < n && (is_digit(text[i]) || (text[i] == '.' && kind == IfTok::IntLit))) {
          if (text[i] == '.') kind = IfTok::FloatLit;
          ++i;
        }
      }
      toks.push_back(IfTok{kind, std::string(text.substr(start, i - start)), CmpOp::Eq});
    } else if (is_ident_start(c)) {
      const std::size_t start = i;
      while (i < n && is_ident_char(text[i])) ++i;
      toks.push_back(IfTok{IfTok::Ident, std::string(text.substr(start, i - start)), CmpOp::Eq});
    } else {
      return fail("unexpected character " + debug_char(static_cast<unsigned char>(c)) + " at offset " +
                  std::to_string(i) + " of " + debug_str(text));
    }
  }
  return toks;
}

Result<std::string> translate_if_test_expr(std::string_view test, const SiblingLookup& lookup, LocalReads* reads) {
  // Every field the condition names is read as an expression reads it.
  const auto read = [&](const NumericFieldRef& field) {
    if (reads != nullptr) reads->push_back({lookup.value_read(field.ident, field.branch).local, LocalRead::Expression});
    return lookup.value_of(field.ident, field.branch);
  };
  Result<std::vector<IfTok>> tokenized = tokenize_if_test_expr(test);
  if (!tokenized) return tokenized.fail_with_prefix("tokenize failed: ");
  const std::vector<IfTok>& toks = *tokenized;
  std::string out;

  if (toks.size() == 1) {
    const IfTok& tok = toks[0];
    if (tok.kind != IfTok::Ident) return fail("expected identifier, got " + debug_if_tok(tok));
    auto field = lookup.numeric_fields.find(tok.text);
    if (field == lookup.numeric_fields.end()) return fail(not_a_sibling("identifier ", tok.text));
    const std::string local = read(field->second);
    // A name once bound to a bool may since name a field of another type.
    if (lookup.bool_fields.count(tok.text) != 0 && field->second.ty == "bool") return local;
    emit(out, "($local$ as u64) != 0", {{"local", local}});
    return out;
  }
  if (toks.size() != 3) return fail("unsupported test shape: " + debug_if_tok_list(toks));

  const IfTok& lhs = toks[0];
  const IfTok& cmp = toks[1];
  const IfTok& rhs = toks[2];
  if (lhs.kind != IfTok::Ident) return fail("expected identifier LHS, got " + debug_if_tok(lhs));
  if (cmp.kind != IfTok::Cmp) return fail("expected comparison operator, got " + debug_if_tok(cmp));
  auto left = lookup.numeric_fields.find(lhs.text);
  if (left == lookup.numeric_fields.end()) return fail(not_a_sibling("identifier ", lhs.text));
  const std::string local = read(left->second);
  const std::string& ty = left->second.ty;
  const std::string_view op = op_as_rust(cmp.op);

  switch (rhs.kind) {
    case IfTok::IntLit: {
      Result<i128> value = literals::int_value_in(rhs.text, "i128");
      if (!value) return value.fail_with_prefix();
      emit(out, "($local$ as i128) $op$ $raw$i128",
           {{"local", local}, {"op", op}, {"raw", literals::rust_int_spelling(rhs.text)}});
      return out;
    }
    case IfTok::FloatLit: {
      // Rust has no conversion from bool to a float.
      if (ty == "bool") {
        return fail("bool identifier " + debug_str(lhs.text) + " cannot be compared with float literal " +
                    debug_str(rhs.text));
      }
      const bool float_field = ty == "f32" || ty == "f64";
      std::string lhs_text;
      if (float_field) {
        lhs_text = local;
      } else {
        emit(lhs_text, "($local$ as f64)", {{"local", local}});
      }
      Result<std::string> literal = literals::rust_float_spelling(rhs.text, ty == "f32" ? "f32" : "f64");
      if (!literal) return literal.fail_with_prefix();
      emit(out, "$lhs$ $op$ $literal$", {{"lhs", lhs_text}, {"op", op}, {"literal", *literal}});
      return out;
    }
    case IfTok::Ident: {
      auto right = lookup.numeric_fields.find(rhs.text);
      if (right == lookup.numeric_fields.end()) return fail(not_a_sibling("RHS identifier ", rhs.text));
      emit(out, "($local$ as i128) $op$ ($right$ as i128)",
           {{"local", local}, {"op", op}, {"right", read(right->second)}});
      return out;
    }
    case IfTok::Cmp:
      break;
  }
  return fail("expected literal or identifier RHS, got " + debug_if_tok(rhs));
}

}  // namespace qm
